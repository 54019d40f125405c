// Mouse notifications on the tray icon: the right-button release opens the
// icon's popup menu at the cursor, a left double-click runs the menu's default
// command without showing the menu. Commands are carried out by the window
// that receives them (the program's main window).
#include "tray/tray_icon.h"

#include "tray/platform_calls.h"

namespace {

// The menu bar of resource `menuId` and its popup at position 0; false (with
// nothing left loaded) when either is missing. The caller destroys `bar`,
// which destroys the popup with it.
bool LoadPopup(HINSTANCE instance, UINT menuId, HMENU& bar, HMENU& popup) {
    bar = platformCalls.LoadMenuA(instance, MAKEINTRESOURCEA(static_cast<WORD>(menuId)));
    if (bar == nullptr) return false;
    popup = GetSubMenu(bar, 0);
    if (popup == nullptr) {
        DestroyMenu(bar);
        return false;
    }
    return true;
}

} // namespace

LRESULT TrayIcon::HandleNotification(WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != notifyData.uID) return 0;
    HWND target = commandWindow != nullptr ? commandWindow : notifyData.hWnd;
    if (target == nullptr) return 0;

    // Only the low 16 bits carry the mouse message.
    switch (LOWORD(mouseMessage)) {
    case WM_RBUTTONUP: {
        HMENU bar;
        HMENU popup;
        if (!LoadPopup(instance, notifyData.uID, bar, popup)) return 0;
        PrepareMenu(popup);
        SetMenuDefaultItem(popup, defaultItem, static_cast<UINT>(defaultIsPosition));
        POINT cursor = {0, 0};
        GetCursorPos(&cursor);
        // The window must be in front while the menu is tracked, or the menu
        // does not close when the user clicks elsewhere.
        SetForegroundWindow(notifyData.hWnd);
        // Flags 0: top-left corner at the cursor, chosen with the left button.
        // Returns when the menu closes; the chosen command reaches `target`
        // as WM_COMMAND.
        platformCalls.TrackPopupMenu(popup, 0, cursor.x, cursor.y, 0, target, nullptr);
        // Lets the system finish the menu's focus change before the next
        // click on the icon.
        PostMessageA(notifyData.hWnd, WM_NULL, 0, 0);
        DestroyMenu(bar);
        break;
    }
    case WM_LBUTTONDBLCLK: {
        SetForegroundWindow(notifyData.hWnd);
        UINT command = defaultItem;
        if (defaultIsPosition) {
            // The menu is loaded only to read the id at that position.
            HMENU bar;
            HMENU popup;
            if (!LoadPopup(instance, notifyData.uID, bar, popup)) return 0;
            command = GetMenuItemID(popup, static_cast<int>(defaultItem));
            DestroyMenu(bar);
        }
        // Synchronous: the command has run when this returns.
        SendMessageA(target, WM_COMMAND, command, 0);
        break;
    }
    default:
        break; // presses, single clicks and movement do nothing
    }
    return 1;
}
