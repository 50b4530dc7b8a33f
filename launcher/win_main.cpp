// The launcher's process entry: reads the game's Name and Title from GAME.INI, lets only one
// copy run, insists on DirectX 8.1, loads the engine library and hands control to its `run`.
//
// It creates no window of its own; its message boxes (and the file prompt of the settings
// reader) are its whole user interface. Every orderly path ends with exit code 0. A failure
// that the file system throws (Abort at the file prompt, an archive that cannot be inflated)
// ends the launcher with exit code 1 after telling the user, instead of crashing it.
#include "launcher/directx_probe.h"
#include "launcher/engine_entry.h"
#include "settings/ini_reader.h"
#include "text/error_exceptions.h"

#include <windows.h>

#include <cstdio>
#include <exception>

namespace {

// 設定 (settings): the section that holds Name and Title.
constexpr char kSection[] = "\x90\xDD\x92\xE8";
// "DirectX8.1以降がインストールされていません。" LF "DirectXをインストール後、実行してください"
// (DirectX 8.1 or later is not installed; install DirectX, then run the game).
constexpr char kDirectXMissing[] =
    "DirectX8.1\x88\xC8\x8D~\x82\xAA\x83\x43\x83\x93\x83X\x83g\x81[\x83\x8B\x82\xB3\x82\xEA"
    "\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\x81\x42"
    "\n"
    "DirectX\x82\xF0\x83\x43\x83\x93\x83X\x83g\x81[\x83\x8B\x8C\xE3\x81\x41\x8E\xC0\x8Ds\x82\xB5"
    "\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2";
// "DLLの読み込みに失敗しました。" (loading the DLL failed).
constexpr char kEngineMissing[] =
    "DLL\x82\xCC\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5"
    "\x82\xBD\x81\x42";
// "エラーメッセージ" (error message), the caption of the launcher's error boxes.
constexpr char kErrorCaption[] = "\x83G\x83\x89\x81[\x83\x81\x83\x62\x83Z\x81[\x83W";

// The named event whose existence marks a running copy, closed when the launcher ends.
class InstanceEvent {
  public:
    explicit InstanceEvent(const char* name) : handle_(CreateEventA(nullptr, TRUE, TRUE, name)) {
        alreadyExists_ = GetLastError() == ERROR_ALREADY_EXISTS;
    }
    ~InstanceEvent() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    InstanceEvent(const InstanceEvent&) = delete;
    InstanceEvent& operator=(const InstanceEvent&) = delete;

    // Another copy holds the name, or the event could not be created at all.
    bool anotherCopyRuns() const { return handle_ == nullptr || alreadyExists_; }

  private:
    HANDLE handle_;
    bool alreadyExists_;
};

void startGame(HINSTANCE instance, int showCommand) {
    String name;
    String title;
    readIniValue(kSection, "Name", name, "GAME.INI");
    readIniValue(kSection, "Title", title, "GAME.INI");

    InstanceEvent event(name.data);
    if (event.anotherCopyRuns()) {
        if (HWND running = FindWindowA(name.data, title.data)) SetForegroundWindow(running);
        return;
    }
    if (probeDirectXVersion() < kDirectX81) {
        MessageBoxA(nullptr, kDirectXMissing, "information", MB_TASKMODAL);
        return;
    }
    HMODULE engine = GetModuleHandleA("system.dll");
    if (engine == nullptr) engine = LoadLibraryExA("system.dll", nullptr, 0);
    if (engine == nullptr) {
        MessageBoxA(nullptr, kEngineMissing, kErrorCaption, MB_TOPMOST | MB_ICONERROR);
        return;
    }
    // The engine stays loaded until the process ends.
    auto run = reinterpret_cast<EngineEntry>(
        reinterpret_cast<void*>(GetProcAddress(engine, kEngineEntry)));
    if (run == nullptr) return;
    run(instance, showCommand, title.data);
}

void reportToDebugger(const char* what) {
    char line[160];
    std::snprintf(line, sizeof line, "launcher: %s\r\n", what);
    OutputDebugStringA(line);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
    try {
        startGame(instance, showCommand);
        return 0;
    } catch (const ZKErrorException& failure) {
        MessageBoxA(nullptr, failure.message.data, kErrorCaption, MB_TOPMOST | MB_ICONERROR);
    } catch (const ZKException& failure) {
        char what[64];
        std::snprintf(what, sizeof what, "failed with system error 0x%08lX",
                      static_cast<unsigned long>(failure.code));
        reportToDebugger(what);
    } catch (uint32_t status) {
        char what[64];
        std::snprintf(what, sizeof what, "failed with status 0x%08lX",
                      static_cast<unsigned long>(status));
        reportToDebugger(what);
    } catch (const std::exception& failure) {
        reportToDebugger(failure.what());
    } catch (...) {
        reportToDebugger("failed with an unknown exception");
    }
    return 1;
}
