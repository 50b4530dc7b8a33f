// Answers the launcher's message boxes for the end-to-end tests, the way a user would: it waits
// for a dialog box with a given caption, writes down what the box shows, and presses a button.
//
//   e2e_answer.exe OUT TIMEOUT_MS STEP...
//   STEP = CAPTION_HEX:BUTTON[:GATE]
//
// Steps run in order, one box each. CAPTION_HEX is the caption's code page 932 bytes in hex
// (so that no command-line conversion can touch them), BUTTON the control id to press
// (IDOK 1, IDABORT 3, IDRETRY 4, IDIGNORE 5). With GATE the button is pressed only once that
// file exists in the current directory, so the test can change the game directory while the
// box is up. After each box OUT is rewritten with one block per box answered so far:
//
//   box=<n>
//   caption=<hex>          text=<hex>
//   buttons=<visible button ids, ascending, comma-separated>
//   icon=none|hand|question|exclamation|asterisk|unknown
//   topmost=0|1            owner=0|1
//   pressed=<id>
//
// A message box does not tell its style to other processes, so the style is read back from
// what it shows: its buttons, its extended style and the icon drawn on the screen, which is
// matched against the system's standard icons drawn here.
//
// Exit code 0 when every step was done, 2 when a box did not appear in time, 3 when a box did
// not close after its button was pressed, 1 on bad arguments.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Step {
    std::string caption;
    int button = 0;
    std::string gate;
};

struct BoxView {
    std::string text;
    std::vector<int> buttons;
    HWND icon = nullptr;
};

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool unhex(const std::string& text, std::string& out) {
    if (text.size() % 2) return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        std::string pair = text.substr(i, 2);
        long value = std::strtol(pair.c_str(), &end, 16);
        if (*end) return false;
        out += static_cast<char>(value);
    }
    return true;
}

bool parseStep(const std::string& arg, Step& step) {
    std::size_t first = arg.find(':');
    if (first == std::string::npos) return false;
    std::size_t second = arg.find(':', first + 1);
    if (!unhex(arg.substr(0, first), step.caption)) return false;
    step.button = std::atoi(arg.substr(first + 1, second - first - 1).c_str());
    if (second != std::string::npos) step.gate = arg.substr(second + 1);
    return step.button > 0;
}

bool exists(const std::string& name) {
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeWhole(const std::string& name, const std::string& text) {
    std::string temporary = name + ".part";
    if (std::FILE* f = std::fopen(temporary.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        MoveFileExA(temporary.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
}

std::string windowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::string text(length + 1, '\0');
    text.resize(GetWindowTextA(window, &text[0], length + 1));
    return text;
}

BOOL CALLBACK collectControl(HWND child, LPARAM parameter) {
    BoxView& view = *reinterpret_cast<BoxView*>(parameter);
    char className[64] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Button") == 0) {
        if (IsWindowVisible(child)) view.buttons.push_back(GetDlgCtrlID(child));
    } else if (lstrcmpiA(className, "Static") == 0) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            view.icon = child;
        else if (view.text.empty())
            view.text = windowText(child);
    }
    return TRUE;
}

// The pixels of a rectangle of the screen, or of an icon drawn here, as 0x00RRGGBB values.
using Pixels = std::vector<unsigned>;

template <typename Draw> Pixels paint(int width, int height, Draw draw) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    Pixels pixels;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        draw(memory, screen);
        GdiFlush();
        const unsigned* p = static_cast<const unsigned*>(bits);
        pixels.assign(p, p + width * height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

double likeness(const Pixels& a, const Pixels& b) {
    if (a.empty() || a.size() != b.size()) return 0;
    std::size_t close = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        bool similar = true;
        for (int shift = 0; shift < 24; shift += 8) {
            int d = int((a[i] >> shift) & 255) - int((b[i] >> shift) & 255);
            if (d < -24 || d > 24) similar = false;
        }
        close += similar;
    }
    return double(close) / a.size();
}

// Which standard icon the box shows. The icon's handle belongs to the box's process and means
// nothing here, so the control's pixels on the screen are compared with each standard icon
// drawn the same size on the dialog colour. Painting may lag behind the box's appearance, so
// the screen is read again for a while before giving up.
std::string identifyIcon(HWND control) {
    if (!control || !IsWindowVisible(control) || !SendMessageA(control, STM_GETICON, 0, 0))
        return "none";
    struct Candidate {
        const char* name;
        LPCSTR id;
    };
    const Candidate candidates[] = {{"hand", IDI_HAND},
                                    {"question", IDI_QUESTION},
                                    {"exclamation", IDI_EXCLAMATION},
                                    {"asterisk", IDI_ASTERISK}};
    for (int attempt = 0; attempt < 20; ++attempt) {
        RECT r;
        GetWindowRect(control, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        if (w <= 0 || h <= 0) return "none";
        Pixels shown = paint(w, h, [&](HDC memory, HDC screen) {
            BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        });
        const char* best = nullptr;
        double bestScore = 0;
        for (const Candidate& c : candidates) {
            Pixels drawn = paint(w, h, [&](HDC memory, HDC) {
                RECT all = {0, 0, w, h};
                FillRect(memory, &all, GetSysColorBrush(COLOR_3DFACE));
                DrawIconEx(memory, 0, 0, LoadIconA(nullptr, c.id), w, h, 0, nullptr, DI_NORMAL);
            });
            double score = likeness(shown, drawn);
            if (score > bestScore) bestScore = score, best = c.name;
        }
        if (bestScore >= 0.9) return best;
        Sleep(100);
    }
    return "unknown";
}

HWND waitForBox(const std::string& caption, DWORD deadline) {
    while (GetTickCount() < deadline) {
        HWND box = FindWindowA("#32770", caption.c_str());
        if (box && IsWindowVisible(box)) return box;
        Sleep(50);
    }
    return nullptr;
}

std::string describe(HWND box, int number) {
    BoxView view;
    EnumChildWindows(box, collectControl, reinterpret_cast<LPARAM>(&view));
    std::sort(view.buttons.begin(), view.buttons.end());
    std::string buttons;
    for (int id : view.buttons)
        buttons += (buttons.empty() ? "" : ",") + std::to_string(id);
    std::string out = "box=" + std::to_string(number) + "\n";
    out += "caption=" + hex(windowText(box)) + "\n";
    out += "text=" + hex(view.text) + "\n";
    out += "buttons=" + buttons + "\n";
    out += "icon=" + identifyIcon(view.icon) + "\n";
    out += std::string("topmost=") +
           ((GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "1" : "0") + "\n";
    out += std::string("owner=") + (GetWindow(box, GW_OWNER) ? "1" : "0") + "\n";
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: e2e_answer OUT TIMEOUT_MS CAPTION_HEX:BUTTON[:GATE]...\n");
        return 1;
    }
    const std::string out = argv[1];
    const DWORD timeout = std::strtoul(argv[2], nullptr, 10);
    std::vector<Step> steps;
    for (int i = 3; i < argc; ++i) {
        Step step;
        if (!parseStep(argv[i], step)) {
            std::fprintf(stderr, "e2e_answer: bad step %s\n", argv[i]);
            return 1;
        }
        steps.push_back(step);
    }

    std::string report;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const DWORD deadline = GetTickCount() + timeout;
        HWND box = waitForBox(step.caption, deadline);
        if (!box) {
            report += "timeout=" + std::to_string(i + 1) + "\n";
            writeWhole(out, report);
            return 2;
        }
        report += describe(box, int(i + 1));
        writeWhole(out, report);
        while (!step.gate.empty() && !exists(step.gate) && GetTickCount() < deadline)
            Sleep(50);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(step.button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, step.button)));
        // The next box may carry the same caption: wait for this one to go first.
        while (IsWindow(box) && GetTickCount() < deadline)
            Sleep(20);
        if (IsWindow(box)) {
            report += "stuck=" + std::to_string(i + 1) + "\n";
            writeWhole(out, report);
            return 3;
        }
        report += "pressed=" + std::to_string(step.button) + "\n\n";
        writeWhole(out, report);
    }
    return 0;
}
