// Links against the launcher library alone (and the tray library it is
// built on), every object of it included (see CMakeLists.txt): any symbol
// the library leaves for the entry file or a support file to define fails
// this link. Run, it checks the state the library defines for itself.
#include "launcher/commands.h"
#include "launcher/launcher.h"

#include <cstdio>
#include <cstring>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    }
}

} // namespace

int main() {
    // Static initialisation constructed the one tray object.
    Check(TrayIcon::currentTrayIcon == &trayIcon, "trayIcon is the served object");
    Check(TrayIcon::taskbarRestartMessage == RegisterWindowMessageA("TaskbarCreated"),
          "\"TaskbarCreated\" is registered before main");
    Check(trayIcon.commandIcons == nullptr, "the menu's icons are handed over at start-up");
    Check(appInstance == nullptr && windowTitle[0] == '\0', "start-up has not run");
    const ToolCommand* watch = FindToolCommand(32773);
    Check(watch != nullptr && std::strcmp(watch->toolSwitch, "/WATCH") == 0,
          "Session Watch starts /WATCH");
    Check(ToolIconForCommand(32773) == 101, "Session Watch has icon 101");
    return failures == 0 ? 0 : 1;
}
