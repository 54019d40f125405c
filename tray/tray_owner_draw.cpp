// The popup menu drawn by the program: every entry has its 16x16 icon in a
// tinted strip along the left edge, the background is near-white, the
// selected entry is filled with the highlight colour across its full width
// and separators are etched lines. On shells older than 4.71 the menu is left
// to the system as plain text.
//
// Item layout (pixels, relative to the item rectangle):
//
//   left  +2      +22 +25                           right-16  right
//   |  [icon 16x16] |  |  caption, vertically centred  |        |
//   |<-- strip 22 ->|                                           |
//
// measured width = caption width + 28; height = caption height + 1, at least
// SM_CYMENU; a separator (command id 0) is 3 x 5 with its line at mid-height.
#include "tray/tray_icon.h"

#include "tray/platform_calls.h"

#include <shlwapi.h>

#include <cstddef>
#include <cstring>

// The menu item record of this header generation ends with hbmpItem.
static_assert(offsetof(MENUITEMINFOA, hbmpItem) + sizeof(HBITMAP) == sizeof(MENUITEMINFOA),
              "menu item record of this header generation");
#ifdef __i386__
static_assert(sizeof(MENUITEMINFOA) == 48, "menu item record on i686");
#endif
static_assert(sizeof(NONCLIENTMETRICSA) == 340, "non-client metrics without padded border");
static_assert(sizeof(DLLVERSIONINFO) == 20, "first-generation shell version record");

namespace {

constexpr COLORREF MENU_BACKGROUND = RGB(251, 250, 251);
constexpr COLORREF ICON_STRIP = RGB(229, 228, 232);
constexpr LONG STRIP_WIDTH = 22;
constexpr int ICON_SIZE = 16;
constexpr LONG ICON_LEFT = 2;
constexpr LONG ICON_TOP = 1;
constexpr LONG TEXT_LEFT = 25;
constexpr LONG TEXT_RIGHT_MARGIN = 16;
constexpr UINT TEXT_WIDTH_EXTRA = 28;
constexpr UINT SEPARATOR_HEIGHT = 5;
constexpr UINT SEPARATOR_WIDTH = 3;
// Characters read for one caption; menuText keeps room for the terminator.
constexpr int CAPTION_LIMIT = 254;

// Owner-drawn menus need shell version 4.71 or later. The version function
// is looked up at run time in the already loaded shell library, so the
// program also starts on shells that do not export it.
BOOL ShellDrawsOwnerMenus() {
    HMODULE shell = GetModuleHandleA("shell32");
    if (shell == nullptr) return FALSE;
    FARPROC found = platformCalls.GetProcAddress(shell, "DllGetVersion");
    if (found == nullptr) return FALSE;
    // Through void(*)(): the one function type GCC converts without warning.
    auto dllGetVersion = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void (*)()>(found));
    DLLVERSIONINFO version = {};
    version.cbSize = sizeof version;
    if (dllGetVersion(&version) < 0) return FALSE;
    return version.dwMajorVersion > 4 || version.dwMinorVersion >= 71;
}

void FillSolid(HDC dc, const RECT& area, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

} // namespace

UINT TrayIcon::MenuIconForCommand(UINT commandId) const {
    return commandIcons != nullptr ? commandIcons(commandId) : 0;
}

void TrayIcon::PrepareMenu(HMENU popup) {
    // 1. Remember the menu: measuring and drawing read captions from it.
    menu = popup;
    // 2. Owner drawing only on a shell that supports it.
    const BOOL ownerDraw = ShellDrawsOwnerMenus();
    // 3. No items (or no menu): nothing to change.
    const int count = GetMenuItemCount(menu);
    menuItemCount = static_cast<UINT>(count);
    if (count <= 0) return;
    // 4. Rewrite every item by position.
    for (UINT position = 0; position < menuItemCount; ++position) {
        // 4.1 The record, with menuText as the caption buffer.
        MENUITEMINFOA item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STATE | MIIM_ID | MIIM_TYPE | MIIM_DATA;
        item.dwTypeData = menuText;
        item.cch = sizeof menuText;
        // 4.2 Read it.
        GetMenuItemInfoA(menu, position, TRUE, &item);
        // 4.3 A separator must not be choosable.
        const bool separator = (item.fType & MFT_SEPARATOR) != 0;
        if (separator) item.fState |= MFS_GRAYED;
        // 4.4 The whole type is replaced: an owner-drawn separator is known
        //     by its command id 0 from here on. In the plain-text menu a
        //     separator stays one: as a text item it would show whatever
        //     caption menuText still held from the item before it.
        if (ownerDraw)
            item.fType = MFT_OWNERDRAW;
        else
            item.fType = separator ? MFT_SEPARATOR : MFT_STRING;
        // 4.5 The item data carries the command id.
        if (ownerDraw) item.dwItemData = item.wID;
        // 4.6 Write it back, caption included.
        SetMenuItemInfoA(menu, position, TRUE, &item);
    }
}

BOOL TrayIcon::OnMeasureItem(WPARAM, MEASUREITEMSTRUCT* item) {
    if (item->CtlType != ODT_MENU) return FALSE;
    if (item->itemID == 0) {
        item->itemHeight = SEPARATOR_HEIGHT;
        item->itemWidth = SEPARATOR_WIDTH;
        return TRUE;
    }

    // A caption that cannot be read (id not in the menu) measures as empty.
    std::memset(menuText, 0, sizeof menuText);
    GetMenuStringA(menu, item->itemID, menuText, CAPTION_LIMIT, MF_BYCOMMAND);

    HWND desktop = GetDesktopWindow();
    HDC dc = GetWindowDC(desktop);
    if (menuFont == nullptr) {
        // Made once from the system's menu font and kept for the life of the
        // process; later metric changes are not followed.
        NONCLIENTMETRICSA metrics = {};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        menuFont = CreateFontIndirectA(&metrics.lfMenuFont);
    }
    HGDIOBJ previousFont = SelectObject(dc, menuFont);
    RECT extent = {0, 0, 0, 0};
    DrawTextA(dc, menuText, static_cast<int>(std::strlen(menuText)), &extent,
              DT_CALCRECT | DT_SINGLELINE | DT_VCENTER);
    SelectObject(dc, previousFont);

    const UINT textHeight = static_cast<UINT>(extent.bottom - extent.top) + 1;
    const UINT minimumHeight = static_cast<UINT>(GetSystemMetrics(SM_CYMENU));
    item->itemHeight = textHeight > minimumHeight ? textHeight : minimumHeight;
    item->itemWidth = static_cast<UINT>(extent.right - extent.left) + TEXT_WIDTH_EXTRA;

    ReleaseDC(desktop, dc);
    return TRUE;
}

BOOL TrayIcon::OnDrawItem(WPARAM, const DRAWITEMSTRUCT* item) {
    // 1. Menu items only.
    if (item->CtlType != ODT_MENU) return FALSE;

    // 2. Rectangle, context and caption.
    const RECT area = item->rcItem;
    HDC dc = item->hDC;
    std::memset(menuText, 0, sizeof menuText);
    GetMenuStringA(menu, item->itemID, menuText, CAPTION_LIMIT, MF_BYCOMMAND);

    // 3. State.
    const bool grayed = (item->itemState & ODS_GRAYED) != 0;
    const bool selected = (item->itemState & ODS_SELECTED) != 0;
    const bool separator = item->itemID == 0;

    // 4., 5. Background: a separator never takes the highlight.
    const COLORREF background =
        selected && !separator ? GetSysColor(COLOR_HIGHLIGHT) : MENU_BACKGROUND;
    FillSolid(dc, area, background);

    // 6. Icon strip: tinted, or part of the selection fill.
    RECT strip = area;
    strip.right = area.left + STRIP_WIDTH;
    FillSolid(dc, strip, selected ? background : ICON_STRIP);

    // 7. Separator: an etched line across the full width, strip included, at
    //    the middle of the item.
    if (separator) {
        RECT line = area;
        line.top = area.top + (area.bottom - area.top) / 2;
        DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
        return TRUE;
    }

    // 8. Icon, loaded and destroyed at every paint so no handles pile up. An
    //    entry without an icon (id 0 as resource) loads nothing.
    const UINT iconId = MenuIconForCommand(item->itemID);
    HANDLE icon = LoadImageA(instance, MAKEINTRESOURCEA(static_cast<WORD>(iconId)), IMAGE_ICON,
                             ICON_SIZE, ICON_SIZE, LR_DEFAULTCOLOR);
    if (icon != nullptr) {
        DrawIconEx(dc, area.left + ICON_LEFT, area.top + ICON_TOP, static_cast<HICON>(icon),
                   ICON_SIZE, ICON_SIZE, 0, nullptr, DI_NORMAL);
        DestroyIcon(static_cast<HICON>(icon));
    }

    // 9.-12. Caption, left-aligned and vertically centred, "&&" shown as "&".
    //        The context's own font is used: menuFont serves measuring only.
    RECT textArea = area;
    textArea.left = area.left + TEXT_LEFT;
    textArea.right = area.right - TEXT_RIGHT_MARGIN;
    const int previousMode = SetBkMode(dc, TRANSPARENT);
    const int textColourIndex = grayed     ? COLOR_GRAYTEXT
                                : selected ? COLOR_HIGHLIGHTTEXT
                                           : COLOR_MENUTEXT;
    const COLORREF previousColour = SetTextColor(dc, GetSysColor(textColourIndex));
    DrawTextA(dc, menuText, static_cast<int>(std::strlen(menuText)), &textArea,
              DT_SINGLELINE | DT_VCENTER);
    SetTextColor(dc, previousColour);
    SetBkMode(dc, previousMode);

    // 13.
    return TRUE;
}
