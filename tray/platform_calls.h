// The platform calls of quickdock whose effects tests must observe or make fail.
//
// Product code calls these through `platformCalls` instead of by name; every
// entry defaults to the real system call (or, for `time`, to the C runtime).
// A test swaps single entries to record calls or inject failures and puts the
// saved table back afterwards. Nothing else is faked: windows, classes,
// messages, icons and resources stay real, so a test runs against the real
// user-interface services (under Wine on Linux).
//
// Add an entry here only for a call whose outcome a test cannot arrange with
// the real system (the shell refusing an icon, an old system version, a menu
// that cannot be loaded, a timer that cannot be created, a launch, the clock).
#ifndef TRAY_PLATFORM_CALLS_H
#define TRAY_PLATFORM_CALLS_H

#include <windows.h>

#include <shellapi.h>

#include <cstdint>

struct PlatformCalls {
    // Notification-area icons: NIM_ADD, NIM_MODIFY, NIM_DELETE.
    BOOL(WINAPI* Shell_NotifyIconA)(DWORD message, PNOTIFYICONDATAA data);
    // Low byte: major system version; the tray needs 4 or more.
    DWORD(WINAPI* GetVersion)();
    // The popup menu: loading resource 300 and tracking it.
    HMENU(WINAPI* LoadMenuA)(HINSTANCE instance, LPCSTR name);
    BOOL(WINAPI* TrackPopupMenu)
    (HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* excluded);
    // The animation timer of the tray object's hidden window.
    UINT_PTR(WINAPI* SetTimer)(HWND window, UINT_PTR eventId, UINT periodMs, TIMERPROC proc);
    BOOL(WINAPI* KillTimer)(HWND window, UINT_PTR eventId);
    // Starting quillon.exe (and the About box's web address).
    HINSTANCE(WINAPI* ShellExecuteA)
    (HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show);
    // Calendar time in whole seconds, truncated to the signed 32 bits that the
    // animation keeps (the C runtime's time_t is 64 bits wide here).
    int32_t (*time)();
    // Finding the shell library's DllGetVersion at run time: the owner-drawn
    // menu needs shell version 4.71 or later.
    FARPROC(WINAPI* GetProcAddress)(HMODULE module, LPCSTR name);
};

// The one table, holding the real calls once static initialisation is done.
extern PlatformCalls platformCalls;

#endif
