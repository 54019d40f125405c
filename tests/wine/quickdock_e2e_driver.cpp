// End-to-end driver for quickdock.exe, run inside the same Wine virtual
// desktop as the program it starts (windows of other desktops are invisible).
//
//   quickdock_e2e_driver.exe QUICKDOCK.EXE RESULTS.TXT
//
// Writes one line per check to RESULTS.TXT, "PASS name" or "FAIL name: why",
// and "DONE" at the end; the harness script reads the file (the driver's
// standard output is inherited by the programs it starts, so capturing it
// could wait for them). Every copy of quickdock it started is gone when it
// returns.
//
// The icon's presence is asked of the shell itself: NIM_MODIFY without flags
// changes nothing and succeeds only for an icon the notification area has.
#include "tests/wine/driver_support.h"

#include <windows.h>

#include <shellapi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

const char MAIN_CLASS[] = "QUILLON_SYSTRAY";
const char MAIN_TITLE[] = "Quillon for Oracle";
const UINT ICON_ID = 300;
const WORD CMD_QUIT = 105;
const DWORD STARTUP_LIMIT_MS = 30000;
const DWORD EXIT_LIMIT_MS = 15000;

BOOL IconCall(DWORD command, HWND window, UINT id) {
    NOTIFYICONDATAA data = {};
    // The first-generation record: up to the end of a 64-byte tip.
    data.cbSize = static_cast<DWORD>(offsetof(NOTIFYICONDATAA, szTip) + 64);
    data.hWnd = window;
    data.uID = id;
    return Shell_NotifyIconA(command, &data);
}
bool IconPresent(HWND window, UINT id = ICON_ID) {
    return IconCall(NIM_MODIFY, window, id) != 0;
}

struct WindowSearch {
    const char* className;
    const char* title; // null: any title
    DWORD processId;   // 0: any process
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(param);
    char name[64] = {};
    char title[128] = {};
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, title, sizeof title);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (std::strcmp(name, search.className) == 0 &&
        (search.title == nullptr || std::strcmp(title, search.title) == 0) &&
        (search.processId == 0 || processId == search.processId))
        search.found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(const char* className, const char* title, DWORD processId) {
    WindowSearch search = {className, title, processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Start(const std::string& program, PROCESS_INFORMATION& process) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + program + "\"";
    return CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process) != 0;
}

std::string ExitCodeText(HANDLE process) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return "exit code " + std::to_string(code);
}

bool EndedWithZero(HANDLE process) {
    DWORD code = 1;
    return WaitForSingleObject(process, EXIT_LIMIT_MS) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(process, &code) && code == 0;
}

// The taskbar's right end, where the notification area is drawn, as pixels.
std::vector<DWORD> NotificationAreaPixels() {
    std::vector<DWORD> pixels;
    HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    RECT bar;
    if (taskbar == nullptr || !GetWindowRect(taskbar, &bar)) return pixels;
    const int width = 160;
    const int height = bar.bottom - bar.top;
    if (height <= 0 || bar.right - bar.left < width) return pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, bar.right - width, bar.top, SRCCOPY);
        GdiFlush();
        const DWORD* first = static_cast<const DWORD*>(bits);
        pixels.assign(first, first + width * height);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

void BroadcastTaskbarCreated() {
    const UINT message = RegisterWindowMessageA("TaskbarCreated");
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

LRESULT CALLBACK DecoyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// A window of quickdock's class under another title: it must not count as a
// running copy.
HWND CreateDecoy() {
    WNDCLASSEXA decoyClass = {};
    decoyClass.cbSize = sizeof decoyClass;
    decoyClass.lpfnWndProc = DecoyProc;
    decoyClass.hInstance = GetModuleHandleA(nullptr);
    decoyClass.lpszClassName = MAIN_CLASS;
    RegisterClassExA(&decoyClass);
    return CreateWindowExA(0, MAIN_CLASS, "Some other program", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void Run(const std::string& quickdock) {
    HWND decoy = CreateDecoy();
    Check("decoy window of the same class exists", decoy != nullptr);

    // ---- Start-up -----------------------------------------------------------
    PROCESS_INFORMATION first = {};
    if (!Start(quickdock, first)) {
        Check("quickdock starts", false, "CreateProcess error " + std::to_string(GetLastError()));
        return;
    }
    HWND mainWindow = nullptr;
    const bool found = WaitFor(STARTUP_LIMIT_MS, [&] {
        mainWindow = FindWindowA(MAIN_CLASS, MAIN_TITLE);
        return mainWindow != nullptr;
    });
    Check("main window found by class and title despite the decoy", found,
          WaitForSingleObject(first.hProcess, 0) == WAIT_OBJECT_0
              ? "quickdock ended, " + ExitCodeText(first.hProcess)
              : "no window");
    if (!found) {
        TerminateProcess(first.hProcess, 1);
        return;
    }
    DWORD owner = 0;
    GetWindowThreadProcessId(mainWindow, &owner);
    Check("main window belongs to the started copy", owner == first.dwProcessId);
    Check("main window is not visible", !IsWindowVisible(mainWindow));

    Check("tray icon is in the notification area",
          WaitFor(STARTUP_LIMIT_MS, [&] { return IconPresent(mainWindow); }));
    Check("no icon under another id", !IconPresent(mainWindow, ICON_ID + 1));
    const std::vector<HWND> hidden = TopLevelWindows("TrayIconClass", "", first.dwProcessId);
    Check("one hidden TrayIconClass window", hidden.size() == 1,
          std::to_string(hidden.size()) + " found");
    Check("TrayIconClass window is not visible", !hidden.empty() && !IsWindowVisible(hidden[0]));

    // The main window answers the tray callback with the notification
    // handler's result: 0 for another icon, 1 for a mouse event that does
    // nothing (a move).
    const UINT trayCallback = WM_APP + 10;
    Check("tray callback for another icon answers 0",
          SendMessageA(mainWindow, trayCallback, ICON_ID + 1, WM_MOUSEMOVE) == 0);
    Check("tray callback for a mouse move answers 1",
          SendMessageA(mainWindow, trayCallback, ICON_ID, WM_MOUSEMOVE) == 1);

    // ---- Second copy ----------------------------------------------------------
    // The area as it rests: two captures a quarter second apart that agree
    // (a capture taken while the taskbar still repaints would never come
    // back).
    std::vector<DWORD> before = NotificationAreaPixels();
    WaitFor(3000, [&] {
        Sleep(250);
        std::vector<DWORD> again = NotificationAreaPixels();
        bool resting = again == before;
        before = std::move(again);
        return resting;
    });
    Check("notification area can be captured", !before.empty());
    PROCESS_INFORMATION second = {};
    if (Start(quickdock, second)) {
        Check("second copy ends with exit code 0", EndedWithZero(second.hProcess),
              ExitCodeText(second.hProcess));
        if (WaitForSingleObject(second.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(second.hProcess, 1);
        CloseHandle(second.hThread);
        CloseHandle(second.hProcess);
    } else {
        Check("second copy starts", false);
    }
    Check("first copy keeps running", WaitForSingleObject(first.hProcess, 0) == WAIT_TIMEOUT);
    Check("still exactly one main window", TopLevelWindows(MAIN_CLASS, MAIN_TITLE, 0).size() == 1);
    // The running copy received the re-activation command when its icon
    // animates: the notification area changes within a few frames and shows
    // the installed icon again once the 5-second animation is over.
    bool changed = false;
    WaitFor(3000, [&] {
        changed = NotificationAreaPixels() != before;
        return changed;
    });
    Check("re-activation animates the running copy's icon", changed);
    std::vector<DWORD> after;
    bool returned = WaitFor(12000, [&] {
        after = NotificationAreaPixels();
        return after == before;
    });
    std::size_t differing = 0;
    for (std::size_t i = 0; i < after.size() && i < before.size(); ++i) {
        if (after[i] != before[i]) ++differing;
    }
    Check("the installed icon returns after the animation", returned,
          std::to_string(differing) + " of " + std::to_string(before.size()) +
              " pixels still differ");
    Check("icon still in the notification area", IconPresent(mainWindow));

    // ---- Taskbar re-creation ---------------------------------------------------
    // The icon is taken out as a restarted taskbar would lose it; the
    // broadcast reaches the main window and the hidden window.
    for (int round = 1; round <= 2; ++round) {
        const std::string suffix = " (round " + std::to_string(round) + ")";
        Check(("icon deleted from outside" + suffix).c_str(),
              IconCall(NIM_DELETE, mainWindow, ICON_ID) && !IconPresent(mainWindow));
        BroadcastTaskbarCreated();
        Check(("TaskbarCreated brings the icon back" + suffix).c_str(),
              WaitFor(5000, [&] { return IconPresent(mainWindow); }));
    }
    BroadcastTaskbarCreated();
    Check("a notice without a lost icon keeps it", IconPresent(mainWindow));

    // ---- Quit ---------------------------------------------------------------------
    PostMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(CMD_QUIT, 0), 0);
    Check("Quit ends the process with exit code 0", EndedWithZero(first.hProcess),
          ExitCodeText(first.hProcess));
    Check("main window is gone", FindWindowA(MAIN_CLASS, MAIN_TITLE) == nullptr);
    Check("icon removed from the notification area", !IconPresent(mainWindow));

    if (WaitForSingleObject(first.hProcess, 0) != WAIT_OBJECT_0)
        TerminateProcess(first.hProcess, 1);
    CloseHandle(first.hThread);
    CloseHandle(first.hProcess);
    DestroyWindow(decoy);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quickdock_e2e_driver QUICKDOCK.EXE RESULTS.TXT\n");
        return 2;
    }
    results = std::fopen(argv[2], "wb"); // LF line ends for the harness
    if (results == nullptr) return 2;
    Run(argv[1]);
    std::fprintf(results, "DONE\n");
    std::fclose(results);
    return failures == 0 ? 0 : 1;
}
