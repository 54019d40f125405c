// Stress driver for quickdock.exe, run inside the same Wine virtual desktop
// as the copy it starts (quickdock_stress_e2e.sh sets the desktop up):
//
//   quickdock_stress_driver.exe BIN_DIR RESULTS.TXT
//
// BIN_DIR holds quickdock.exe and the stand-in quillon.exe, which appends one
// line per start to BIN_DIR\quillon-launches.txt. One "PASS name" or "FAIL
// name: why" line per check goes to RESULTS.TXT, then "DONE".
//
// What a desktop can throw at the program, each followed by the same three
// checks (the process is alive, it answers a message within 5 s, nothing was
// started that should not have been):
//  1. a storm of 20000 tray notifications that open nothing (moves, presses,
//     releases of the left and middle buttons, unknown mouse messages);
//  2. WM_COMMAND with every id of the 16-bit range except the 24 tools,
//     About and Quit (CMD_REACTIVATE among them);
//  3. 20 second starts in a row: each ends with exit code 0 and exactly one
//     copy keeps running;
//  4. the menu opened and closed 100 times, the About box 50 times.
// Resources: GetGuiResources' GDI and USER counts of the process, its window
// count and its kernel handle count are taken after one warm-up round of menu
// and About box (the menu font and shared icons are made once and kept on
// purpose) and again at the end; none may have grown. Under Wine
// GetGuiResources and the handle count report 0; the results then say so, and
// the window count is the measure that remains. The private memory is noted
// after every phase.
#include "tests/wine/driver_support.h"

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char MAIN_CLASS[] = "QUILLON_SYSTRAY";
const char MAIN_TITLE[] = "Quillon for Oracle";
const UINT TRAY_CALLBACK = 0x800A;
const WPARAM ICON_ID = 300;
const WORD CMD_ABOUT = 104;
const WORD CMD_QUIT = 105;
const WORD TOOL_IDS[] = {40008, 32773, 40001, 40002, 40003, 40029, 40031, 40034,
                         40009, 40004, 40022, 40006, 40035, 40023, 40026, 40007,
                         40024, 40025, 40005, 40021, 40030, 40027, 40028, 40033};
const char ABOUT_TITLE[] = " About Quillon";

std::string binDir;

std::size_t LaunchCount() {
    std::ifstream file(binDir + "\\quillon-launches.txt", std::ios::binary);
    std::size_t lines = 0;
    std::string line;
    while (std::getline(file, line)) ++lines;
    return lines;
}

// The program answers: a sent WM_NULL comes back within 5 s. Sending waits
// until every message posted before it has been handled.
bool Answers(HWND window) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored) != 0;
}

struct Search {
    const char* className;
    DWORD processId;
    int count;
    HWND found;
};
BOOL CALLBACK CountWindow(HWND window, LPARAM param) {
    Search& search = *reinterpret_cast<Search*>(param);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search.processId == 0 || owner == search.processId) &&
        (search.className == nullptr || std::strcmp(name, search.className) == 0) &&
        (search.className == nullptr || IsWindowVisible(window))) {
        ++search.count;
        search.found = window;
    }
    return TRUE;
}
// Visible top-level windows of a class (any process), or all top-level
// windows of a process (className null).
Search FindWindows(const char* className, DWORD processId) {
    Search search = {className, processId, 0, nullptr};
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&search));
    return search;
}

struct Resources {
    DWORD gdi, user, windows, handles;
    SIZE_T privateBytes;
};
Resources Measure(HANDLE process, DWORD processId) {
    Resources r = {};
    r.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    r.user = GetGuiResources(process, GR_USEROBJECTS);
    r.windows = static_cast<DWORD>(FindWindows(nullptr, processId).count);
    GetProcessHandleCount(process, &r.handles);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, &memory, sizeof memory))
        r.privateBytes = memory.PagefileUsage;
    return r;
}
std::string Text(const Resources& r) {
    return "GDI " + std::to_string(r.gdi) + ", USER " + std::to_string(r.user) + ", windows " +
           std::to_string(r.windows) + ", handles " + std::to_string(r.handles) +
           ", private bytes " + std::to_string(r.privateBytes);
}

bool OpenAndCloseMenu(HWND mainWindow) {
    PostMessageA(mainWindow, TRAY_CALLBACK, ICON_ID, WM_RBUTTONUP);
    HWND menu = nullptr;
    if (!WaitFor(5000, [&] { return (menu = FindWindows("#32768", 0).found) != nullptr; }))
        return false;
    // The menu's modal loop reads the keyboard messages of its thread.
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(menu, WM_KEYUP, VK_ESCAPE, 0);
    return WaitFor(5000, [&] { return FindWindows("#32768", 0).found == nullptr; });
}

bool OpenAndCloseAbout(HWND mainWindow) {
    PostMessageA(mainWindow, WM_COMMAND, CMD_ABOUT, 0);
    HWND box = nullptr;
    if (!WaitFor(5000, [&] {
            box = FindWindowA("#32770", ABOUT_TITLE);
            return box != nullptr && IsWindowVisible(box);
        }))
        return false;
    SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    return WaitFor(5000, [&] { return !IsWindow(box); });
}

bool IsTool(unsigned id) {
    for (WORD tool : TOOL_IDS)
        if (tool == id) return true;
    return false;
}

void StillWell(const std::string& after, HANDLE process, HWND mainWindow, std::size_t launches) {
    Note("after " + after + ": " + Text(Measure(process, GetProcessId(process))));
    Check("alive after " + after, WaitForSingleObject(process, 0) == WAIT_TIMEOUT);
    Check("answers after " + after, Answers(mainWindow));
    Check("nothing started by " + after, LaunchCount() == launches,
          std::to_string(LaunchCount() - launches) + " starts");
    Check("no menu left open after " + after, FindWindows("#32768", 0).found == nullptr);
}

void Run(const std::string& quickdock) {
    DeleteFileA((binDir + "\\quillon-launches.txt").c_str());
    PROCESS_INFORMATION process = {};
    HWND mainWindow = nullptr;
    if (!StartQuickdock(quickdock, binDir, &process, &mainWindow)) {
        if (process.hProcess != nullptr) TerminateProcess(process.hProcess, 1);
        return;
    }
    const std::size_t launches = 0;

    // Warm-up: what is made once and kept exists from here on.
    Check("warm-up menu opens and closes", OpenAndCloseMenu(mainWindow));
    Check("warm-up About box opens and closes", OpenAndCloseAbout(mainWindow));
    Answers(mainWindow);
    const Resources before = Measure(process.hProcess, process.dwProcessId);
    Note("after warm-up: " + Text(before));
    if (before.gdi == 0 && before.user == 0)
        Note("GetGuiResources reports 0 here (Wine): the window count is the measure");

    // 1. Notification storm.
    const UINT quiet[] = {WM_MOUSEMOVE,   WM_LBUTTONDOWN, WM_LBUTTONUP,
                          WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_MBUTTONUP,
                          WM_MOUSEWHEEL,  0x0000,         0xFFFF};
    for (unsigned i = 0; i < 20000; ++i) {
        PostMessageA(mainWindow, TRAY_CALLBACK, ICON_ID,
                     static_cast<LPARAM>(quiet[i % (sizeof quiet / sizeof *quiet)]));
        if (i % 500 == 499 && !Answers(mainWindow)) break;
    }
    StillWell("20000 tray notifications", process.hProcess, mainWindow, launches);

    // 2. Every command id but the tools, About and Quit.
    for (unsigned id = 0; id <= 0xFFFF; ++id) {
        if (IsTool(id) || id == CMD_ABOUT || id == CMD_QUIT) continue;
        PostMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        if (id % 500 == 499 && !Answers(mainWindow)) break;
    }
    StillWell("65510 WM_COMMAND ids", process.hProcess, mainWindow, launches);
    Check("no About box opened by them", FindWindowA("#32770", ABOUT_TITLE) == nullptr);

    // 3. Second starts.
    int cleanEnds = 0;
    for (int i = 0; i < 20; ++i) {
        PROCESS_INFORMATION second = {};
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string line = "\"" + quickdock + "\"";
        if (!CreateProcessA(quickdock.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                            binDir.c_str(), &startup, &second))
            continue;
        DWORD code = 1;
        if (WaitForSingleObject(second.hProcess, 15000) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(second.hProcess, &code) && code == 0)
            ++cleanEnds;
        else
            TerminateProcess(second.hProcess, 1);
        CloseHandle(second.hThread);
        CloseHandle(second.hProcess);
    }
    Check("20 second copies each end with exit code 0", cleanEnds == 20,
          std::to_string(cleanEnds) + " did");
    int copies = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, MAIN_CLASS, MAIN_TITLE)) != nullptr;)
        ++copies;
    Check("exactly one copy runs after 20 second starts", copies == 1,
          std::to_string(copies) + " main windows");
    StillWell("20 second starts", process.hProcess, mainWindow, launches);

    // 4. Menu and About box, over and over.
    int menus = 0;
    for (int i = 0; i < 100 && OpenAndCloseMenu(mainWindow); ++i) ++menus;
    Check("the menu opens and closes 100 times", menus == 100, std::to_string(menus) + " times");
    Note("after the menu rounds: " + Text(Measure(process.hProcess, process.dwProcessId)));
    int boxes = 0;
    for (int i = 0; i < 50 && OpenAndCloseAbout(mainWindow); ++i) ++boxes;
    Check("the About box opens and closes 50 times", boxes == 50, std::to_string(boxes) + " times");
    StillWell("menu and About box rounds", process.hProcess, mainWindow, launches);

    // The animation started by the second copies is over by now (5 s).
    Sleep(1000);
    Answers(mainWindow);
    const Resources after = Measure(process.hProcess, process.dwProcessId);
    Note("at the end: " + Text(after));
    Check("GDI objects did not grow", after.gdi <= before.gdi, Text(before) + " -> " + Text(after));
    Check("USER objects did not grow", after.user <= before.user,
          Text(before) + " -> " + Text(after));
    Check("windows did not grow", after.windows <= before.windows,
          Text(before) + " -> " + Text(after));
    Check("kernel handles did not grow", after.handles <= before.handles,
          Text(before) + " -> " + Text(after));
    // Reported, not judged: under Wine the private memory grows with every
    // menu opened (2 to 4 KiB each, varying from run to run), although the
    // menu and its icons are destroyed each time and the same calls in a
    // small program do not grow it. Until that is explained, it is a
    // measurement.
    Note("private memory grew by " +
         std::to_string(static_cast<long long>(after.privateBytes) -
                        static_cast<long long>(before.privateBytes)) +
         " bytes");

    PostMessageA(mainWindow, WM_COMMAND, CMD_QUIT, 0);
    DWORD code = 1;
    const bool ended = WaitForSingleObject(process.hProcess, 15000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code) && code == 0;
    Check("Quit still ends quickdock with exit code 0", ended, "exit code " + std::to_string(code));
    if (!ended) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quickdock_stress_driver BIN_DIR RESULTS.TXT\n");
        return 2;
    }
    binDir = argv[1];
    results = std::fopen(argv[2], "wb"); // LF line ends for the harness
    if (results == nullptr) return 2;
    Run(binDir + "\\quickdock.exe");
    std::fprintf(results, "DONE\n");
    std::fclose(results);
    return failures == 0 ? 0 : 1;
}
