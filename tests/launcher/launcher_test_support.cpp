// What quickdock's entry file (main.cpp) defines, for test programs that link
// the launcher library without it. Same order of static initialisation:
// the tray object first, then "TaskbarCreated".
#include "launcher/launcher.h"

TrayIcon trayIcon;
UINT TrayIcon::taskbarRestartMessage = RegisterWindowMessageA("TaskbarCreated");

char windowTitle[LAUNCHER_TEXT_CAPACITY];
char windowClassName[LAUNCHER_TEXT_CAPACITY];
HINSTANCE appInstance = GetModuleHandleA(nullptr);
