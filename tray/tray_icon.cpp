// The icon object: adding the icon to the notification area, changing it,
// taking it out again, re-adding it after a failed add or a re-created
// taskbar, and the hidden "TrayIconClass" window.
//
// The three flags move as follows (iconHidden, iconRemoved, addRetryPending;
// "=" means unchanged):
//
//   event                                          hidden removed pending
//   ResetState                                       T      T       F
//   Install, add succeeded                           F      F       F
//   Install, add failed                              T      T       T
//   RemoveFromTray, delete succeeded                 T      T       F
//   RemoveFromTray, nothing to do or delete failed   =      =       F
//   RetryPendingAdd runs, add succeeded              F      =       T
//   RetryPendingAdd runs, add failed                 T      =       F
//   taskbar re-created while the icon is shown:
//     the shell still has the icon                   =      =       =
//     icon added again                               F      F       F
//     adding it again failed                         T      F       F
//   taskbar re-created otherwise: as RetryPendingAdd
//
// "Shown" means in the notification area and not hidden (both flags FALSE).
#include "tray/tray_icon.h"

#include "tray/platform_calls.h"

TrayIcon* TrayIcon::currentTrayIcon = nullptr;
UINT TrayIcon::taskbarRestartMessage = 0;

namespace {

const char HIDDEN_CLASS_NAME[] = "TrayIconClass";

// Copies `tip` into a tip field of TipCapacity bytes: at most TipCapacity - 1
// characters, always terminated. A null tip is an empty one.
void CopyTip(char* field, const char* tip) {
    std::size_t length = 0;
    if (tip != nullptr) {
        while (length < TrayIcon::TipCapacity - 1 && tip[length] != '\0') {
            field[length] = tip[length];
            ++length;
        }
    }
    field[length] = '\0';
}

BOOL Notify(DWORD command, NOTIFYICONDATAA& data) {
    return platformCalls.Shell_NotifyIconA(command, &data);
}

} // namespace

TrayIcon::TrayIcon() : animationIcons() {
    ResetState();
    // Registering a name again gives the same number, so every object may.
    taskbarRestartMessage = RegisterWindowMessageA("TaskbarCreated");
}

void TrayIcon::ResetState() {
    notifyData = NOTIFYICONDATAA{};
    commandWindow = nullptr;
    shellReady = FALSE;
    iconHidden = TRUE;
    iconRemoved = TRUE;
    addRetryPending = FALSE;
    animationTimer = 0;
    iconBeforeAnimation = nullptr;
    defaultItem = 0;
    defaultIsPosition = TRUE;
    addFlags = 0;
    currentTrayIcon = this;
}

// Install:
//   1. shellReady := major system version (low byte of GetVersion) >= 4;
//      older systems get nothing created and FALSE.
//   2. Store the instance; register the hidden class (result ignored).
//   3. Create the hidden window (never shown; may fail, which is ignored).
//   4. Fill notifyData; the tip is cut to 63 characters.
//   5. commandWindow := the notified window; addFlags := the add's flags.
//   6. NIM_ADD; all three flags := add failed.
BOOL TrayIcon::Install(HINSTANCE moduleInstance, HWND notifyWindow, UINT callbackMessage,
                       const char* tip, HICON icon, UINT iconId) {
    // 1.
    shellReady = LOBYTE(LOWORD(platformCalls.GetVersion())) >= 4 ? TRUE : FALSE;
    if (!shellReady) {
        return FALSE;
    }
    // 2.
    instance = moduleInstance;
    RegisterHiddenClass(moduleInstance);
    // 3.
    hiddenWindow =
        CreateWindowExA(0, HIDDEN_CLASS_NAME, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, moduleInstance, nullptr);
    // 4.
    notifyData.cbSize = NOTIFYICONDATAA_FIRST_SIZE;
    notifyData.hWnd = notifyWindow != nullptr ? notifyWindow : hiddenWindow;
    notifyData.uID = iconId;
    notifyData.hIcon = icon;
    notifyData.uFlags = InstallFlags;
    notifyData.uCallbackMessage = callbackMessage;
    CopyTip(notifyData.szTip, tip);
    // 5.
    commandWindow = notifyData.hWnd;
    addFlags = InstallFlags;
    // 6.
    const BOOL added = Notify(NIM_ADD, notifyData);
    iconHidden = iconRemoved = addRetryPending = added ? FALSE : TRUE;
    return added;
}

ATOM TrayIcon::RegisterHiddenClass(HINSTANCE moduleInstance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = HiddenWindowProc;
    windowClass.hInstance = moduleInstance;
    windowClass.lpszClassName = HIDDEN_CLASS_NAME;
    return RegisterClassExA(&windowClass);
}

BOOL TrayIcon::RemoveFromTray() {
    // A failed add is no longer owed once the icon is meant to be gone.
    addRetryPending = FALSE;
    if (!shellReady || iconRemoved) {
        return TRUE;
    }
    notifyData.uFlags = 0;
    if (Notify(NIM_DELETE, notifyData)) {
        iconHidden = iconRemoved = TRUE;
    }
    return iconRemoved;
}

BOOL TrayIcon::ChangeIcon(HICON icon) {
    if (!shellReady) {
        return FALSE;
    }
    notifyData.uFlags = NIF_ICON;
    notifyData.hIcon = icon;
    if (iconHidden) {
        return TRUE;
    }
    return Notify(NIM_MODIFY, notifyData);
}

BOOL TrayIcon::RetryPendingAdd() {
    if (!addRetryPending || iconHidden) {
        return FALSE;
    }
    notifyData.uFlags = addFlags;
    const BOOL added = Notify(NIM_ADD, notifyData);
    iconHidden = added ? FALSE : TRUE;
    addRetryPending = added ? TRUE : FALSE;
    return added;
}

// A re-created taskbar starts with an empty notification area, so an icon that
// was shown has to be added again. The notice reaches both the main window and
// the hidden window, and the second notice of one re-creation must leave the
// restored icon alone: a second NIM_ADD of the same icon fails and would mark
// it hidden. NIM_MODIFY without flags changes nothing and succeeds only for an
// icon the shell has, so it tells the two cases apart.
//   1. Icon shown and still known to the shell: nothing to do.
//   2. Icon shown but lost: owe an add and make it; once it is back nothing
//      is owed any more (as after a successful Install).
//   3. Icon not shown: RetryPendingAdd, as for a work-area change.
LRESULT TrayIcon::HandleTaskbarRestart(WPARAM, LPARAM) {
    if (shellReady && !iconRemoved && !iconHidden) {
        // 1.
        notifyData.uFlags = 0;
        if (Notify(NIM_MODIFY, notifyData)) {
            return 0;
        }
        // 2.
        addRetryPending = TRUE;
        if (RetryPendingAdd()) {
            addRetryPending = FALSE;
        }
        return 0;
    }
    // 3.
    RetryPendingAdd();
    return 0;
}

// Tests in this order:
//   1. Not the served object's hidden window (also every message that arrives
//      while the window is being created, before Install stores its handle):
//      default processing.
//   2. "TaskbarCreated": HandleTaskbarRestart.
//   3. The animation timer (other timer ids fall through to 6).
//   4. A work-area change re-adds an icon whose add is owed; every setting
//      change answers 0.
//   5. The callback message (an object installed without a notify window).
//   6. Default processing.
LRESULT CALLBACK TrayIcon::HiddenWindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    TrayIcon* const self = currentTrayIcon;
    // 1.
    if (self == nullptr || window != self->hiddenWindow) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    // 2.
    if (message == taskbarRestartMessage) {
        return self->HandleTaskbarRestart(wParam, lParam);
    }
    // 3.
    if (message == WM_TIMER && wParam == AnimationTimerId) {
        return self->HandleTimer(wParam);
    }
    // 4.
    if (message == WM_SETTINGCHANGE) {
        if (wParam == SPI_SETWORKAREA) {
            self->RetryPendingAdd();
        }
        return 0;
    }
    // 5.
    if (message == self->notifyData.uCallbackMessage) {
        return self->HandleNotification(wParam, lParam);
    }
    // 6.
    return DefWindowProcA(window, message, wParam, lParam);
}

TrayIcon::~TrayIcon() {
    RemoveFromTray();
    animationIcons.clear();
    if (hiddenWindow != nullptr) {
        DestroyWindow(hiddenWindow);
    }
    // The frame list's storage is released by its own destructor, after this.
}
