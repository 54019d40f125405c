// TrayIcon: the one notification-area icon of quickdock, its tooltip, its
// hidden "TrayIconClass" window, its animation and its owner-drawn popup menu.
//
// The class is split over four files by concern, behind this one header:
//   tray_icon.cpp        the icon object: install, change, remove, re-add,
//                        the hidden window procedure
//   tray_animation.cpp   frames played on the hidden window's timer
//   tray_menu.cpp        mouse notifications and the context menu
//   tray_owner_draw.cpp  preparing, measuring and drawing the menu items
//
// Every shell and clock call goes through `platformCalls` (platform_calls.h),
// so tests can make the shell refuse and watch what is sent to it.
//
// The tray knows no program's commands: which icon the menu shows beside a
// command is asked of the function the program hands over in `commandIcons`.
// The library defines everything it declares; a program links it as it is.
//
// One GUI thread runs every operation, the hidden window procedure and the
// destructor; there are no locks.
#ifndef TRAY_TRAY_ICON_H
#define TRAY_TRAY_ICON_H

#include <windows.h>

#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// The notify record handed to the shell is always the first-generation one:
// the fields up to a 64-byte tip, no balloon or version fields, on every
// system version (88 bytes on i686; the handles make it larger on x86_64).
// The header's NOTIFYICONDATAA is a later, larger generation; the shell reads
// only the first cbSize bytes of it.
constexpr DWORD NOTIFYICONDATAA_FIRST_SIZE =
    static_cast<DWORD>(offsetof(NOTIFYICONDATAA, szTip) + 64);
#ifdef __i386__
static_assert(NOTIFYICONDATAA_FIRST_SIZE == 88, "first-generation notify record on i686");
static_assert(sizeof(WNDCLASSEXA) == 48, "the hidden window's class record on i686");
#endif

// Icon resource shown beside a menu command, 0 for none.
using CommandIconLookup = UINT (*)(UINT commandId);

class TrayIcon {
  public:
    // Event id of the animation timer on the hidden window.
    static constexpr UINT AnimationTimerId = 4567;
    // Size of the first-generation szTip, terminator included: tips are cut to 63.
    static constexpr std::size_t TipCapacity = 64;
    // Flags of the add: NIF_MESSAGE | NIF_ICON | NIF_TIP.
    static constexpr UINT InstallFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

    // The object that HiddenWindowProc serves: set by ResetState to the object
    // being constructed, never cleared. One instance per process.
    static TrayIcon* currentTrayIcon;
    // Number that RegisterWindowMessageA gives "TaskbarCreated"; 0 until the
    // first object is constructed. The hidden window answers it, and so can
    // the window that receives the icon's notifications (HandleTaskbarRestart).
    static UINT taskbarRestartMessage;

    // ResetState, then registers "TaskbarCreated": a program's one static
    // instance has it registered, after the object, before the entry point.
    TrayIcon();
    // Removes the icon, then destroys the hidden window (in that order: the
    // shell is told with the stored window handle and id).
    virtual ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // ---- Icon object (tray_icon.cpp) --------------------------------------
    void ResetState();
    // Creates the hidden window and adds the icon. notifyWindow receives the
    // shell's notifications and the menu's commands; when null, the hidden
    // window takes its place. iconId is also the resource id of the popup
    // menu. FALSE when the system is older than version 4 (nothing created)
    // or the shell refuses the icon.
    BOOL Install(HINSTANCE instance, HWND notifyWindow, UINT callbackMessage, const char* tip,
                 HICON icon, UINT iconId);
    // Registers "TrayIconClass"; a class already registered is simply used.
    static ATOM RegisterHiddenClass(HINSTANCE instance);
    // TRUE when the icon is out of the notification area afterwards.
    BOOL RemoveFromTray();
    // Shows another icon; while the icon is hidden only notifyData changes.
    BOOL ChangeIcon(HICON icon);
    // Adds the icon again when an add is owed (addRetryPending) and the icon
    // is not hidden.
    BOOL RetryPendingAdd();
    // The taskbar was re-created ("TaskbarCreated"): puts back an icon that
    // was in the notification area, then runs RetryPendingAdd. Returns 0.
    LRESULT HandleTaskbarRestart(WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

    // ---- Animation (tray_animation.cpp) -----------------------------------
    // Replaces the frames with icon resources firstId..lastId (16-bit ids,
    // both included). FALSE when firstId > lastId (frames kept) or memory
    // runs out (frames emptied).
    BOOL LoadAnimationIcons(UINT firstId, UINT lastId);
    // One frame every periodMs milliseconds for `seconds` seconds (0 or less:
    // until stopped). TRUE when the timer was created.
    BOOL BeginAnimation(UINT periodMs, int32_t seconds);
    // One tick of the animation timer; returns 0.
    LRESULT HandleTimer(WPARAM timerId);
    BOOL AdvanceAnimation();
    // Stops the timer and shows the saved icon; KillTimer's result, or FALSE
    // when no timer ran.
    BOOL EndAnimation();

    // ---- Notifications and context menu (tray_menu.cpp) -------------------
    // A mouse event on the icon (iconId, low word of mouseMessage). 0 when it
    // is not for this icon, no window takes commands or the menu cannot be
    // loaded; 1 otherwise.
    virtual LRESULT HandleNotification(WPARAM iconId, LPARAM mouseMessage);

    // ---- Owner-drawn menu (tray_owner_draw.cpp) ---------------------------
    // Records `popup` and makes its items owner-drawn (plain text on shells
    // older than 4.71).
    void PrepareMenu(HMENU popup);
    // TRUE when the request was for a menu item; wParam is not used.
    BOOL OnMeasureItem(WPARAM wParam, MEASUREITEMSTRUCT* item);
    BOOL OnDrawItem(WPARAM wParam, const DRAWITEMSTRUCT* item);
    // Icon resource shown beside a menu command: commandIcons' answer, 0
    // when no lookup was handed over.
    UINT MenuIconForCommand(UINT commandId) const;

    // Every field is a 32-bit number or a handle except notifyData,
    // animationIcons and menuText. Fields that ResetState leaves alone start as zero (as the
    // program's one static instance would anyway, and as a test's instance on
    // the stack must); each is set before it is read.

    // The one record passed to every Shell_NotifyIconA call.
    NOTIFYICONDATAA notifyData{};
    // Module from which icons and the popup menu are loaded (set by Install).
    HINSTANCE instance{};
    // The hidden "TrayIconClass" window (set by Install; may stay null).
    HWND hiddenWindow{};
    // Owner of the popup menu and receiver of the icon's commands.
    HWND commandWindow{};
    // The system can show notification icons; while FALSE no operation calls
    // the shell.
    BOOL shellReady{};
    // The icon is not being shown: icon changes stay in notifyData.
    BOOL iconHidden{};
    // The icon is not in the notification area: removal has nothing to do.
    BOOL iconRemoved{};
    // An add of the icon is owed: it failed, or the taskbar was re-created
    // while the icon was shown.
    BOOL addRetryPending{};
    // Animation frames in load order; shared LoadIconA handles, never
    // destroyed. Emptying keeps the storage; the destructor releases it.
    std::vector<HICON> animationIcons{};
    // Id that SetTimer returned for the running animation; 0 when idle.
    UINT animationTimer{};
    // Index into animationIcons of the frame last shown.
    UINT frameIndex{};
    // Calendar time in whole seconds at which the animation began.
    int32_t animationStart{};
    // Animation duration in seconds; 0 or less runs until stopped.
    int32_t animationSeconds{};
    // Icon shown again when the animation ends; 0 when none is saved.
    HICON iconBeforeAnimation{};
    // Default item of the popup: a position (defaultIsPosition TRUE) or a
    // command id.
    UINT defaultItem{};
    BOOL defaultIsPosition{};
    // The uFlags that Install used; a re-add uses it again.
    UINT addFlags{};
    // Popup last given to PrepareMenu (not owned; destroyed by its loader).
    HMENU menu{};
    // Number of items of `menu`.
    UINT menuItemCount{};
    // Menu font for measuring captions: made on first use, kept until the
    // process ends (never deleted).
    HFONT menuFont{};
    // The program's table of which icon goes beside which command, handed
    // over before the menu is shown; null: no entry has an icon.
    CommandIconLookup commandIcons{};
    // One menu caption being prepared, measured or drawn.
    char menuText[255]{};
};

#endif
