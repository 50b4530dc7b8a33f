// The engine the end-to-end tests put beside launcher.exe as system.dll.
//
// run() writes down what the launcher handed it, in run-<process id>.txt in the current
// directory (one file per process, so two copies running side by side do not overwrite each
// other), and then holds the launcher inside run() until the test creates engine-release. The
// record is key=value lines:
//
//   pid=<process id>
//   instance=own|other     the instance handle against GetModuleHandleA(NULL)
//   show=<show command>
//   title=null|hex:<bytes> the title pointer, null or the bytes it points to in hex
//   event=none|missing|set-manual|set-auto|unset   the game's named event, when a name is known
//
// The test steers the engine with files in the current directory:
//   engine-name.txt  the game's Name (code page 932). With it the engine looks at the named
//                    event and opens a window whose class is the Name and caption the title,
//                    as a real engine does, so that a second launcher can find it.
//   engine-decoy     also opens a second window of the same class, captioned "decoy", and puts
//                    that one in front, so that a test can see the launcher bring back the
//                    window with the right class and caption.
//   engine-release   run() returns.
// Which window is in front is logged to front-<process id>.txt, one line per change: main,
// decoy or other.
//
// Built twice: once exporting run under the launcher's decorated name, once under the plain
// name "run" only, which the launcher must not accept.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const char kClassFallback[] = "ZkE2EEngine";
// The engine never outlives a forgotten test: it returns on its own after this long.
const DWORD kLongestRun = 90000;

bool exists(const char* name) {
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

std::string readAll(const char* name) {
    std::string bytes;
    if (std::FILE* f = std::fopen(name, "rb")) {
        char chunk[256];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

// Written under a temporary name and renamed, so the test never reads half a record.
void writeWhole(const std::string& name, const std::string& text) {
    std::string temporary = name + ".part";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    MoveFileExA(temporary.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void appendLine(const std::string& name, const std::string& line) {
    if (std::FILE* f = std::fopen(name.c_str(), "ab")) {
        std::string whole = line + "\n";
        std::fwrite(whole.data(), 1, whole.size(), f);
        std::fclose(f);
    }
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The state of the launcher's event, seen from inside its process. Waiting on a signalled
// auto-reset event resets it, so a second wait tells the two kinds apart.
std::string eventState(const std::string& name) {
    if (name.empty()) return "none";
    HANDLE event = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (!event) return "missing";
    std::string state = "unset";
    if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
        state = WaitForSingleObject(event, 0) == WAIT_OBJECT_0 ? "set-manual" : "set-auto";
    CloseHandle(event);
    return state;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

void registerClass(HINSTANCE module, const char* className) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
}

HWND openWindow(HINSTANCE module, const char* className, const char* caption, int x) {
    HWND window = CreateWindowExA(0, className, caption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, 40,
                                  320, 200, nullptr, nullptr, module, nullptr);
    if (window) UpdateWindow(window);
    return window;
}

void pumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

HMODULE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const char*>(&pumpMessages), &module);
    return module;
}

} // namespace

extern "C" int __stdcall run(HINSTANCE instance, int showCommand, const char* title) {
    const std::string pid = std::to_string(GetCurrentProcessId());
    const bool named = exists("engine-name.txt");
    const std::string name = readAll("engine-name.txt");

    std::string record = "pid=" + pid + "\n";
    record +=
        std::string("instance=") + (instance == GetModuleHandleA(nullptr) ? "own" : "other") + "\n";
    record += "show=" + std::to_string(showCommand) + "\n";
    record += "title=" + (title ? "hex:" + hex(title) : std::string("null")) + "\n";
    record += "event=" + (named ? eventState(name) : std::string("none")) + "\n";
    writeWhole("run-" + pid + ".txt", record);

    HMODULE module = thisModule();
    HWND main = nullptr, decoy = nullptr;
    if (named) {
        const char* className = name.empty() ? kClassFallback : name.c_str();
        registerClass(module, className);
        main = openWindow(module, className, title ? title : "", 40);
        if (main && exists("engine-decoy")) {
            decoy = openWindow(module, className, "decoy", 400);
            SetForegroundWindow(decoy);
        }
    }

    const std::string frontLog = "front-" + pid + ".txt";
    std::string front;
    DWORD start = GetTickCount();
    while (!exists("engine-release") && GetTickCount() - start < kLongestRun) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        pumpMessages();
        if (!main) continue;
        HWND foreground = GetForegroundWindow();
        std::string now = foreground == main ? "main" : foreground == decoy ? "decoy" : "other";
        if (now != front) appendLine(frontLog, now);
        front = now;
    }
    if (decoy) DestroyWindow(decoy);
    if (main) DestroyWindow(main);
    pumpMessages();
    // Not 0, so that a launcher which passed run's result on as its exit code is caught.
    return 7;
}
