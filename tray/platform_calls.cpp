#include "tray/platform_calls.h"

#include <ctime>

namespace {

int32_t CalendarSeconds() {
    return static_cast<int32_t>(std::time(nullptr));
}

} // namespace

// The addresses of imported functions are read from the import table, so this
// table is filled during dynamic initialisation: no static initialiser of
// another translation unit may call through it.
PlatformCalls platformCalls = {
    ::Shell_NotifyIconA, ::GetVersion,    ::LoadMenuA,     ::TrackPopupMenu, ::SetTimer,
    ::KillTimer,         ::ShellExecuteA, CalendarSeconds, ::GetProcAddress,
};
