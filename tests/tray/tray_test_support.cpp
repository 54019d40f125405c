// What quickdock's entry file provides to the tray library, for test programs
// that link the library without it.
#include "tray/tray_icon.h"

UINT TrayIcon::taskbarRestartMessage = RegisterWindowMessageA("TaskbarCreated");
