// The sample game's engine: the least a game's system.dll does for the launcher.
//
// The launcher calls run() with its own instance, the show command it was started with and the
// game's Title. The engine opens the game's window, whose class is the game's Name (read from
// GAME.INI, loose or in the game's archives, like the launcher does) so that a second start of
// the launcher finds it, and whose caption is the Title. The window shows the title and closes
// by itself after a few seconds, or when the user closes it; then run() returns.
//
// What happened goes to sample-engine.log in the current directory, one line at a time as it
// happens, in code page 932 like everything else; scripts/demo reads it back:
//   title: <the Title's bytes>, or (none) when the launcher passed none
//   name: <the Name's bytes>, or (none)
//   show command: <n>
//   font: <face name>, or (default)
//   window: <left> <top> <width> <height>   once the window is on the screen
//   closed: after <n> seconds | by the user
#include "settings/ini_reader.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// 設定 (settings): the section of GAME.INI that holds Name and Title.
constexpr char kSection[] = "\x90\xDD\x92\xE8";
// "このウィンドウは あと %d 秒で閉じます（Esc キーでも閉じます）" (this window closes in %d
// seconds; Esc closes it too).
constexpr char kClosingNote[] =
    "\x82\xB1\x82\xCC\x83\x45\x83\x42\x83\x93\x83h\x83\x45\x82\xCD \x82\xA0\x82\xC6 %d "
    "\x95\x62\x82\xC5\x95\xC2\x82\xB6\x82\xDC\x82\xB7\x81iEsc \x83L\x81[\x82\xC5\x82\xE0\x95\xC2"
    "\x82\xB6\x82\xDC\x82\xB7\x81j";
// "ゴシック" (Gothic), part of the Japanese names of sans-serif faces.
constexpr char kGothic[] = "\x83S\x83V\x83\x62\x83N";
// The window's class when GAME.INI has no Name.
constexpr char kClassFallback[] = "ZkSampleGame";
constexpr char kLogName[] = "sample-engine.log";
constexpr int kSecondsOpen = 6;
constexpr UINT_PTR kTickTimer = 1;

struct GameWindow {
    std::string title;
    int secondsLeft = kSecondsOpen;
    bool closedByUser = false;
    HFONT titleFont = nullptr;
    HFONT noteFont = nullptr;
};

void logLine(const std::string& line) {
    if (std::FILE* log = std::fopen(kLogName, "ab")) {
        std::fprintf(log, "%s\r\n", line.c_str());
        std::fclose(log);
    }
}

int CALLBACK collectFace(const LOGFONTA* font, const TEXTMETRICA*, DWORD, LPARAM faces) {
    // '@' marks the vertical-writing twin of a face.
    if (font->lfFaceName[0] != '@')
        reinterpret_cast<std::vector<std::string>*>(faces)->push_back(font->lfFaceName);
    return 1;
}

// A face that has the Japanese characters, preferring a sans-serif (Gothic) one. Wine offers
// whatever fonts the system has; scripts/setup --demo installs IPA Gothic for this.
std::string japaneseFace() {
    std::vector<std::string> faces;
    LOGFONTA query = {};
    query.lfCharSet = SHIFTJIS_CHARSET;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExA(screen, &query, collectFace, reinterpret_cast<LPARAM>(&faces), 0);
    ReleaseDC(nullptr, screen);
    for (const std::string& face : faces)
        if (face.find("Gothic") != std::string::npos || face.find(kGothic) != std::string::npos)
            return face;
    return faces.empty() ? std::string() : faces.front();
}

HFONT makeFont(const std::string& face, int pixels, int weight) {
    return CreateFontA(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

void paint(HWND window, GameWindow& game) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH background = CreateSolidBrush(RGB(24, 40, 72));
    FillRect(dc, &client, background);
    DeleteObject(background);
    SetBkMode(dc, TRANSPARENT);

    RECT titleArea = client;
    titleArea.left += 24;
    titleArea.right -= 24;
    titleArea.top += client.bottom / 4;
    HGDIOBJ old = SelectObject(dc, game.titleFont);
    SetTextColor(dc, RGB(255, 255, 255));
    DrawTextA(dc, game.title.c_str(), -1, &titleArea, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);

    char note[160];
    std::snprintf(note, sizeof note, kClosingNote, game.secondsLeft);
    RECT noteArea = client;
    noteArea.top = client.bottom - 64;
    SelectObject(dc, game.noteFont);
    SetTextColor(dc, RGB(200, 210, 230));
    DrawTextA(dc, note, -1, &noteArea, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(window, &ps);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* game = reinterpret_cast<GameWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_PAINT:
        if (game) {
            paint(window, *game);
            return 0;
        }
        break;
    case WM_TIMER:
        if (game && wParam == kTickTimer) {
            if (--game->secondsLeft <= 0)
                DestroyWindow(window);
            else
                InvalidateRect(window, nullptr, FALSE);
            return 0;
        }
        break;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (game) game->closedByUser = true;
        break;
    case WM_DESTROY:
        KillTimer(window, kTickTimer);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

extern "C" int __stdcall run(HINSTANCE instance, int showCommand, const char* title) {
    std::FILE* fresh = std::fopen(kLogName, "wb");
    if (fresh) std::fclose(fresh);

    // The Name again, as the launcher read it; a missing file has already been reported to
    // the user by the launcher, so a failure here only costs the window its proper class.
    String name;
    try {
        readIniValue(kSection, "Name", name, "GAME.INI");
    } catch (...) {
    }
    const std::string className = name.isEmpty() ? kClassFallback : name.data;

    GameWindow game;
    game.title = title ? title : "";
    const std::string face = japaneseFace();
    game.titleFont = makeFont(face, 36, FW_BOLD);
    game.noteFont = makeFont(face, 16, FW_NORMAL);
    logLine(std::string("title: ") + (title ? title : "(none)"));
    logLine("name: " + (name.isEmpty() ? std::string("(none)") : className));
    logLine("show command: " + std::to_string(showCommand));
    logLine("font: " + (face.empty() ? std::string("(default)") : face));

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className.c_str();
    RegisterClassA(&windowClass);

    const int width = 760, height = 360;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    HWND window = CreateWindowExA(0, className.c_str(), game.title.c_str(),
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, left,
                                  top, width, height, nullptr, nullptr, instance, &game);
    if (!window) {
        logLine("window: failed, error " + std::to_string(GetLastError()));
    } else {
        ShowWindow(window, showCommand);
        UpdateWindow(window);
        SetForegroundWindow(window);
        SetTimer(window, kTickTimer, 1000, nullptr);
        RECT r;
        GetWindowRect(window, &r);
        logLine("window: " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        logLine(game.closedByUser ? std::string("closed: by the user")
                                  : "closed: after " + std::to_string(kSecondsOpen) + " seconds");
    }
    UnregisterClassA(className.c_str(), instance);
    DeleteObject(game.titleFont);
    DeleteObject(game.noteFont);
    return 0;
}
