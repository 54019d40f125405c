// What every quickdock end-to-end driver shares: the results file the
// harness reads ("PASS name", "FAIL name: why", "NOTE text"), polling, and
// starting quickdock with a given current directory.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

inline FILE* results; // opened by the driver's main
inline int failures;

inline void Check(const std::string& name, bool ok, const std::string& why = "") {
    if (ok) {
        std::fprintf(results, "PASS %s\n", name.c_str());
    } else {
        std::fprintf(results, "FAIL %s: %s\n", name.c_str(), why.c_str());
        ++failures;
    }
    std::fflush(results);
}

inline void Note(const std::string& text) {
    std::fprintf(results, "NOTE %s\n", text.c_str());
    std::fflush(results);
}

// Polls `condition` every 50 ms for at most limitMs.
template <typename Condition> bool WaitFor(DWORD limitMs, Condition condition) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= limitMs) return false;
        Sleep(50);
    }
}

// Starts quickdock.exe in `directory` and waits up to 30 s for its main
// window (class and title). Checks "quickdock starts" (only on failure) and
// "quickdock is running"; on success `process` and `mainWindow` are set.
inline bool StartQuickdock(const std::string& quickdock, const std::string& directory,
                           PROCESS_INFORMATION* process, HWND* mainWindow) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + quickdock + "\"";
    if (!CreateProcessA(quickdock.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, process)) {
        Check("quickdock starts", false, "CreateProcess error " + std::to_string(GetLastError()));
        return false;
    }
    const bool found = WaitFor(30000, [&] {
        *mainWindow = FindWindowA("QUILLON_SYSTRAY", "Quillon for Oracle");
        return *mainWindow != nullptr;
    });
    Check("quickdock is running", found);
    return found;
}
