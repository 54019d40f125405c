// End-to-end driver for what quickdock does for its user, run inside the same
// Wine virtual desktop as the copy of quickdock it starts:
//
//   quickdock_tools_driver.exe BIN_DIR RESULTS.TXT
//
// BIN_DIR holds quickdock.exe and the stand-in quillon.exe, which appends the
// parameter string of every start to BIN_DIR\quillon-launches.txt. quickdock
// is started with BIN_DIR as its current directory, so the bare name
// "quillon.exe" finds the stand-in.
//
// Checks, one "PASS name" or "FAIL name: why" line each in RESULTS.TXT, then
// "DONE": a double-click on the icon starts "/HOME"; every tool command starts
// its switch; a right-button release opens the owner-drawn menu (checked on a
// capture of the desktop: near-white background, tinted strip, icons) and a
// mouse click chooses from it; "About Quillon..." opens the box with its link
// and OK closes it; Quit ends the program. The menu opened at the icon and
// the About box are also saved as BIN_DIR\..\menu.bmp and about.bmp for the
// documentation.
//
// The mouse events are delivered as the shell delivers them: the callback
// message with the icon id and the mouse message.
#include "tests/wine/driver_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char MAIN_CLASS[] = "QUILLON_SYSTRAY";
const char MAIN_TITLE[] = "Quillon for Oracle";
const UINT TRAY_CALLBACK = 0x800A;
const WPARAM ICON_ID = 300;
const char HOME_URL[] = "https://quillon-tools.com/";
const COLORREF MENU_BACKGROUND = RGB(251, 250, 251);
const COLORREF ICON_STRIP = RGB(229, 228, 232);

// clang-format off
const struct { WORD id; const char *toolSwitch; } TOOLS[] = {
    {40008, "/HOME"},    {32773, "/WATCH"},  {40001, "/COMPARE"}, {40002, "/KEYS"},
    {40003, "/ADVISE"},  {40029, "/STORAGE"},{40031, "/RANK"},    {40034, "/PRIVS"},
    {40009, "/STATS"},   {40004, "/REDO"},   {40022, "/NOTIFY"},  {40006, "/TRACK"},
    {40035, "/FIXES"},   {40023, "/TASKS"},  {40026, "/MODULES"}, {40007, "/SCRIPT"},
    {40024, "/TIMER"},   {40025, "/CLASSES"},{40005, "/STRESS"},  {40021, "/PACK"},
    {40030, "/MOVE"},    {40027, "/IMPORT"}, {40028, "/BLOB"},    {40033, "/SAMPLES"},
};
// clang-format on

std::string binDir;

// ---- Launch log of the stand-in ----------------------------------------------

std::vector<std::string> Launches() {
    std::ifstream file(binDir + "\\quillon-launches.txt", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Waits for launch number `count` (1-based) and returns its parameter string
// without the recording brackets, or "(none)".
std::string WaitForLaunch(std::size_t count) {
    std::vector<std::string> lines;
    WaitFor(10000, [&] {
        lines = Launches();
        return lines.size() >= count;
    });
    if (lines.size() < count) return "(none)";
    const std::string& line = lines[count - 1];
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return "(malformed) " + line;
    return line.substr(1, line.size() - 2);
}

// ---- Screen captures ------------------------------------------------------------

struct Capture {
    int width = 0, height = 0;
    std::vector<DWORD> pixels; // 0x00RRGGBB, top row first
    COLORREF At(int x, int y) const {
        const DWORD p = pixels[static_cast<std::size_t>(y * width + x)];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
};

Capture CaptureScreen(const RECT& area) {
    Capture capture;
    capture.width = area.right - area.left;
    capture.height = area.bottom - area.top;
    if (capture.width <= 0 || capture.height <= 0) return capture;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, capture.width, capture.height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        const DWORD* first = static_cast<const DWORD*>(bits);
        capture.pixels.assign(first, first + capture.width * capture.height);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return capture;
}

// A 24-bit bottom-up .bmp of the capture.
void SaveBitmap(const Capture& capture, const std::string& path) {
    if (capture.pixels.empty()) return;
    const int stride = (capture.width * 3 + 3) & ~3;
    const DWORD imageSize = static_cast<DWORD>(stride * capture.height);
    BITMAPFILEHEADER fileHeader = {};
    BITMAPINFOHEADER header = {};
    fileHeader.bfType = 0x4D42; // "BM"
    fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
    fileHeader.bfSize = fileHeader.bfOffBits + imageSize;
    header.biSize = sizeof header;
    header.biWidth = capture.width;
    header.biHeight = capture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = imageSize;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(&fileHeader), sizeof fileHeader);
    file.write(reinterpret_cast<const char*>(&header), sizeof header);
    std::vector<char> row(static_cast<std::size_t>(stride), 0);
    for (int y = capture.height - 1; y >= 0; --y) {
        for (int x = 0; x < capture.width; ++x) {
            const COLORREF c = capture.At(x, y);
            row[static_cast<std::size_t>(x * 3)] = static_cast<char>(GetBValue(c));
            row[static_cast<std::size_t>(x * 3 + 1)] = static_cast<char>(GetGValue(c));
            row[static_cast<std::size_t>(x * 3 + 2)] = static_cast<char>(GetRValue(c));
        }
        file.write(row.data(), stride);
    }
}

// ---- Windows of the started copy -------------------------------------------------

struct Search {
    const char* className;
    DWORD processId;
    HWND found;
};
BOOL CALLBACK FindVisible(HWND window, LPARAM param) {
    Search& search = *reinterpret_cast<Search*>(param);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (std::strcmp(name, search.className) == 0 && IsWindowVisible(window) &&
        (search.processId == 0 || processId == search.processId)) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}
HWND VisibleWindow(const char* className, DWORD processId) {
    Search search = {className, processId, nullptr};
    EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A left click at a desktop position, as real input.
void Click(int x, int y) {
    SetCursorPos(x, y);
    Sleep(200);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &input[0], sizeof input[0]);
    Sleep(100);
    SendInput(1, &input[1], sizeof input[1]);
    Sleep(100);
}

// ---- The checks ------------------------------------------------------------------------

void CheckMenu(HWND mainWindow, std::size_t& launchCount) {
    // A press alone opens nothing; the release does.
    PostMessageA(mainWindow, TRAY_CALLBACK, ICON_ID, WM_RBUTTONDOWN);
    Sleep(500);
    Check("right-button press opens no menu", VisibleWindow("#32768", 0) == nullptr);

    SetCursorPos(600, 40);
    PostMessageA(mainWindow, TRAY_CALLBACK, ICON_ID, WM_RBUTTONUP);
    HWND menu = nullptr;
    const bool opened = WaitFor(5000, [&] {
        menu = VisibleWindow("#32768", 0);
        return menu != nullptr;
    });
    Check("right-button release opens the menu", opened);
    if (!opened) return;
    Sleep(500); // let it paint
    RECT area;
    GetWindowRect(menu, &area);
    Check("menu opens at the cursor", area.left == 600 && area.top == 40,
          std::to_string(area.left) + "," + std::to_string(area.top));
    const Capture shot = CaptureScreen(area);

    // Near-white background over most of it; the tinted strip down the left
    // side; coloured icon pixels inside the strip.
    long background = 0, strip = 0, iconPixels = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const COLORREF c = shot.At(x, y);
            if (c == MENU_BACKGROUND) {
                ++background;
            } else if (c == ICON_STRIP) {
                ++strip;
            } else if (x < 30) {
                const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
                const int spread = std::max(r, std::max(g, b)) - std::min(r, std::min(g, b));
                iconPixels += spread > 60;
            }
        }
    }
    const long total = static_cast<long>(shot.width) * shot.height;
    Check("menu is tall enough for 29 entries", shot.height > 26 * 15,
          std::to_string(shot.height) + " pixels");
    Check("menu background is near-white", background * 2 > total,
          std::to_string(background) + " of " + std::to_string(total));
    Check("menu has the tinted icon strip", strip > 20L * shot.height / 4,
          std::to_string(strip) + " strip pixels");
    Check("menu shows the tool icons", iconPixels > 24L * 40,
          std::to_string(iconPixels) + " coloured pixels in the strip");

    // Click Session Watch, the entry below the first separator. The
    // separator's etched line (shadow colour) is found on the capture; the
    // first entry lies between the menu's top edge and that line.
    int separatorY = -1;
    for (int y = 2; y < shot.height && separatorY < 0; ++y) {
        int shadow = 0;
        for (int x = 30; x < shot.width - 10; ++x)
            shadow += shot.At(x, y) == GetSysColor(COLOR_BTNSHADOW);
        if (shadow == shot.width - 40) separatorY = y;
    }
    const int clickY = area.top + separatorY + 4 + (separatorY - 2) / 2;
    Click(area.left + shot.width / 2, clickY);
    const std::string chosen = WaitForLaunch(++launchCount);
    Check("choosing Session Watch from the menu starts /WATCH", chosen == "/WATCH", chosen);
    Check("menu closes after the choice",
          WaitFor(3000, [&] { return VisibleWindow("#32768", 0) == nullptr; }));

    // Once more where a user opens it: at the icon, at the taskbar's right
    // end. The system moves the menu up to keep it on the screen. The capture
    // of menu and taskbar end is the documentation's picture; a click beside
    // the menu closes it without a command.
    HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    RECT bar = {0, 0, 0, 0};
    if (taskbar == nullptr || !GetWindowRect(taskbar, &bar)) {
        Check("taskbar found", false);
        return;
    }
    // Beside the icon rather than on it, so that its tooltip stays away.
    SetCursorPos(bar.right - 40, bar.top + (bar.bottom - bar.top) / 2);
    PostMessageA(mainWindow, TRAY_CALLBACK, ICON_ID, WM_RBUTTONUP);
    menu = nullptr;
    Check("menu opens at the icon", WaitFor(5000, [&] {
              menu = VisibleWindow("#32768", 0);
              return menu != nullptr;
          }));
    if (menu == nullptr) return;
    GetWindowRect(menu, &area);
    Check("menu stays above the taskbar", area.bottom <= bar.top + 1,
          std::to_string(area.bottom) + " > " + std::to_string(bar.top));
    // The pointer on Session Watch: the picture shows a highlighted entry.
    SetCursorPos(area.left + shot.width / 2, area.top + separatorY + 4 + (separatorY - 2) / 2);
    Sleep(1000);
    RECT picture = {std::min(area.left, bar.right - 200L) - 8, area.top - 8, bar.right, bar.bottom};
    SaveBitmap(CaptureScreen(picture), binDir + "\\..\\menu.bmp");
    Click(100, 100);
    Check("a click beside the menu closes it",
          WaitFor(3000, [&] { return VisibleWindow("#32768", 0) == nullptr; }));
    Sleep(500);
    Check("closing without a choice starts nothing", Launches().size() == launchCount,
          std::to_string(Launches().size()) + " launches");
}

void CheckAbout(HWND mainWindow, DWORD processId) {
    PostMessageA(mainWindow, WM_COMMAND, 104, 0);
    HWND box = nullptr;
    const bool opened = WaitFor(5000, [&] {
        box = FindWindowA("#32770", " About Quillon");
        return box != nullptr && IsWindowVisible(box);
    });
    Check("About Quillon... opens the box", opened);
    if (!opened) return;
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    Check("the box belongs to quickdock", owner == processId);
    char text[256] = "";
    GetDlgItemTextA(box, 1002, text, sizeof text);
    Check("the box shows the link", std::strcmp(text, HOME_URL) == 0, text);
    Sleep(500);
    RECT area;
    GetWindowRect(box, &area);
    const Capture shot = CaptureScreen(area);
    SaveBitmap(shot, binDir + "\\..\\about.bmp");
    long blue = 0;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) blue += shot.At(x, y) == RGB(0, 0, 255);
    Check("the link is drawn in blue", blue > 50, std::to_string(blue) + " blue pixels");

    PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    Sleep(500);
    Check("Esc leaves the box open", IsWindow(box) && IsWindowVisible(box));
    SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    Check("OK closes the box", WaitFor(5000, [&] { return !IsWindow(box); }));
}

void Run(const std::string& quickdock) {
    DeleteFileA((binDir + "\\quillon-launches.txt").c_str());
    PROCESS_INFORMATION process = {};
    HWND mainWindow = nullptr;
    const bool found = StartQuickdock(quickdock, binDir, &process, &mainWindow);
    if (process.hProcess == nullptr) return; // it did not even start
    if (found) {
        std::size_t launchCount = 0;

        // Double-click: the default entry, Home Board, without a menu.
        PostMessageA(mainWindow, TRAY_CALLBACK, ICON_ID, WM_LBUTTONDBLCLK);
        const std::string home = WaitForLaunch(++launchCount);
        Check("double-click starts quillon.exe with /HOME", home == "/HOME", home);
        Check("double-click shows no menu", VisibleWindow("#32768", 0) == nullptr);

        // Every tool command, as the menu delivers it.
        for (const auto& tool : TOOLS) {
            PostMessageA(mainWindow, WM_COMMAND, tool.id, 0);
            const std::string got = WaitForLaunch(++launchCount);
            Check("command " + std::to_string(tool.id) + " starts " + tool.toolSwitch,
                  got == tool.toolSwitch, got);
        }
        // Not a command: nothing starts.
        PostMessageA(mainWindow, WM_COMMAND, 40015, 0);
        Sleep(1000);
        Check("unassigned command 40015 starts nothing", Launches().size() == launchCount,
              std::to_string(Launches().size()) + " launches");

        CheckMenu(mainWindow, launchCount);
        CheckAbout(mainWindow, process.dwProcessId);

        PostMessageA(mainWindow, WM_COMMAND, 105, 0);
    }
    DWORD code = 1;
    const bool ended = WaitForSingleObject(process.hProcess, 15000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code) && code == 0;
    Check("Quit ends quickdock with exit code 0", ended, "exit code " + std::to_string(code));
    if (!ended) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quickdock_tools_driver BIN_DIR RESULTS.TXT\n");
        return 2;
    }
    binDir = argv[1];
    results = std::fopen(argv[2], "wb"); // LF line ends, as the harness greps them
    if (results == nullptr) return 2;
    Run(binDir + "\\quickdock.exe");
    std::fprintf(results, "DONE\n");
    std::fclose(results);
    return failures == 0 ? 0 : 1;
}
