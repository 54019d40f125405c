// Process-wide state, fixed numbers, start-up and the main window of the
// quickdock launcher (launcher.cpp). The library defines all of it; the
// entry file (main.cpp) only calls RunLauncher, so a test program links the
// library as it is.
#ifndef LAUNCHER_LAUNCHER_H
#define LAUNCHER_LAUNCHER_H

#include <windows.h>

#include "tray/tray_icon.h"

// Message the shell sends to the main window for mouse events on the icon.
constexpr UINT TRAY_CALLBACK_MESSAGE = WM_APP + 10;
static_assert(TRAY_CALLBACK_MESSAGE == 0x800A, "part of the running program's contract");

// Command id that a second copy posts (inside WM_COMMAND) to the running copy.
constexpr UINT CMD_REACTIVATE = 0x8004;

// Texts of the main window, loaded from string table entries 103 and 109. The
// pair is what a second copy passes to FindWindowA: both must match.
constexpr int LAUNCHER_TEXT_CAPACITY = 100;
extern char windowTitle[LAUNCHER_TEXT_CAPACITY];
extern char windowClassName[LAUNCHER_TEXT_CAPACITY];

// Module instance, saved just before the main window is created; the About
// command opens its dialog with it.
extern HINSTANCE appInstance;

// The one tray icon object: constructed before WinMain, destroyed at process
// exit, which removes the icon.
extern TrayIcon trayIcon;

// Window procedure of the hidden main window (class QUILLON_SYSTRAY).
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Everything WinMain does: start-up, the single-instance check, the hidden
// main window, the tray icon and the message loop. Returns the process exit
// code, which is 0 in every case.
int RunLauncher(HINSTANCE instance);

// Registers the About box's link control class "CustCtrl345" for the
// program's own module; called once at start-up, after the tray icon exists.
// Defined with the About box (about.cpp).
ATOM RegisterHyperlinkClass();

#endif
