// quickdock's start-up, single instance and the hidden main window.
//
// The main window is never shown. It owns the tray icon's notifications, is
// the owner of the popup menu (so the menu's measure, draw and command
// messages arrive here) and routes everything either to the command table or
// to the one TrayIcon object.
#include "launcher/launcher.h"

#include "launcher/commands.h"
#include "launcher/resource.h"

// ---- Static initialisation --------------------------------------------------
// trayIcon is constructed, which registers "TaskbarCreated" after the object
// (TrayIcon::TrayIcon), and its destructor is registered for process exit.
TrayIcon trayIcon;

char windowTitle[LAUNCHER_TEXT_CAPACITY];
char windowClassName[LAUNCHER_TEXT_CAPACITY];
HINSTANCE appInstance;

namespace {

const char TRAY_TOOLTIP[] = "Right-click this icon to display\nQuillon shortcuts menu.";

void RegisterMainClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TRAY));
    RegisterClassExA(&windowClass);
}

} // namespace

// Routing, tested in this order: the fixed message numbers, then the
// registered "TaskbarCreated" number, then default processing. The owner-draw
// handlers' results are not used: the window answers 0.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_DRAWITEM:
        trayIcon.OnDrawItem(wParam, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return 0;
    case WM_MEASUREITEM:
        trayIcon.OnMeasureItem(wParam, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return 0;
    case WM_COMMAND:
        return HandleCommand(window, wParam, lParam);
    case TRAY_CALLBACK_MESSAGE:
        return trayIcon.HandleNotification(wParam, lParam);
    default:
        break;
    }
    if (message == TrayIcon::taskbarRestartMessage) {
        return trayIcon.HandleTaskbarRestart(wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Start-up. Every failure ends the process silently with exit code 0; the
// command line and the show command are not used (the window is never shown).
int RunLauncher(HINSTANCE instance) {
    // 1. Texts: the title and the class name are also the single-instance key.
    LoadStringA(instance, IDS_APP_TITLE, windowTitle, LAUNCHER_TEXT_CAPACITY);
    LoadStringA(instance, IDS_WINDOW_CLASS, windowClassName, LAUNCHER_TEXT_CAPACITY);

    // 2. Main window class (result not examined).
    RegisterMainClass(instance);

    // 3. One copy per desktop: a running copy is told to re-activate and this
    //    copy ends without a window, an icon or a message loop.
    HWND running = FindWindowA(windowClassName, windowTitle);
    if (running != nullptr) {
        PostMessageA(running, WM_COMMAND, CMD_REACTIVATE, 0);
        return 0;
    }

    // 4. The hidden main window: no WS_VISIBLE and no ShowWindow.
    appInstance = instance;
    HWND mainWindow =
        CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                        CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) {
        return 0;
    }

    // 5. The tray icon, notifying the main window, with the tool table's
    //    icons for its menu. On failure the main window is left to process
    //    exit.
    trayIcon.commandIcons = ToolIconForCommand;
    if (!trayIcon.Install(instance, mainWindow, TRAY_CALLBACK_MESSAGE, TRAY_TOOLTIP,
                          LoadIconA(instance, MAKEINTRESOURCEA(IDI_TRAY)), IDR_TRAY_MENU)) {
        return 0;
    }

    // 6. The About box's link control (result not examined).
    RegisterHyperlinkClass();

    // 7. Message loop: no accelerators, no dialog filtering (the About box
    //    runs its own modal loop).
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // 8. WM_QUIT's wParam, which is 0; the tray icon is removed at process
    //    exit by trayIcon's destructor.
    return static_cast<int>(msg.wParam);
}
