// Links against the tray library alone, every object of it included (see
// CMakeLists.txt): any symbol the library leaves for its users to define
// fails this link. Run, it checks what the library sets up by itself.
#include "tray/platform_calls.h"
#include "tray/tray_icon.h"

#include <cstdio>

namespace {

UINT OneIcon(UINT commandId) {
    return commandId == 7 ? 70 : 0;
}

int failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    }
}

} // namespace

int main() {
    Check(TrayIcon::taskbarRestartMessage == 0, "\"TaskbarCreated\" waits for an object");
    TrayIcon tray;
    Check(TrayIcon::taskbarRestartMessage != 0, "the object registers \"TaskbarCreated\"");
    Check(TrayIcon::taskbarRestartMessage == RegisterWindowMessageA("TaskbarCreated"),
          "and the number is the system's");
    Check(TrayIcon::currentTrayIcon == &tray, "the hidden window serves the object");
    Check(tray.MenuIconForCommand(7) == 0, "no icons before a lookup is handed over");
    tray.commandIcons = OneIcon;
    Check(tray.MenuIconForCommand(7) == 70 && tray.MenuIconForCommand(8) == 0,
          "the lookup answers for the menu");
    Check(platformCalls.Shell_NotifyIconA != nullptr && platformCalls.time != nullptr,
          "the platform calls are filled in");
    return failures == 0 ? 0 : 1;
}
