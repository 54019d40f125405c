// Menu preparation, measuring and drawing against the real menu 300 of the
// resources linked into this program. Drawing goes into a 32-bit DIB section
// whose pixels are read back directly.
#include "launcher/resource.h"
#include "tray/platform_calls.h"
#include "tray/tray_icon.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

constexpr COLORREF MENU_BACKGROUND = RGB(251, 250, 251);
constexpr COLORREF ICON_STRIP = RGB(229, 228, 232);

// ---- Shell version injection ------------------------------------------------

DWORD fakeMajor, fakeMinor;
HRESULT fakeResult;
HRESULT CALLBACK FakeDllGetVersion(DLLVERSIONINFO* info) {
    if (info->cbSize != 20) return E_INVALIDARG;
    info->dwMajorVersion = fakeMajor;
    info->dwMinorVersion = fakeMinor;
    return fakeResult;
}
bool versionFunctionExists;
FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (module != GetModuleHandleA("shell32") || std::strcmp(name, "DllGetVersion") != 0)
        return nullptr;
    if (!versionFunctionExists) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(FakeDllGetVersion));
}

// What a program hands over as its command-to-icon table: two tools here.
UINT TestIcons(UINT commandId) {
    switch (commandId) {
    case IDM_HOME_BOARD:
        return IDI_HOME_BOARD;
    case IDM_SESSION_WATCH:
        return IDI_SESSION_WATCH;
    default:
        return 0;
    }
}

class MenuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = platformCalls;
        tray.commandIcons = TestIcons;
        tray.instance = GetModuleHandleA(nullptr);
        bar = LoadMenuA(tray.instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
        ASSERT_NE(bar, nullptr);
        popup = GetSubMenu(bar, 0);
        ASSERT_NE(popup, nullptr);
    }
    void TearDown() override {
        DestroyMenu(bar);
        platformCalls = saved;
    }
    MENUITEMINFOA ItemAt(UINT position) {
        MENUITEMINFOA item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STATE | MIIM_ID | MIIM_FTYPE | MIIM_DATA;
        GetMenuItemInfoA(popup, position, TRUE, &item);
        return item;
    }

    PlatformCalls saved;
    TrayIcon tray;
    HMENU bar = nullptr;
    HMENU popup = nullptr;
};

// ---- PrepareMenu -------------------------------------------------------------

TEST_F(MenuTest, OwnerDrawnOnlyFromShellVersion471) {
    struct Row {
        bool exists;
        HRESULT result;
        DWORD major, minor;
        bool ownerDrawn;
    };
    const Row rows[] = {
        {true, S_OK, 4, 70, false},   {true, S_OK, 4, 71, true},   {true, S_OK, 5, 0, true},
        {true, S_OK, 6, 1, true},     {true, E_FAIL, 6, 0, false}, {false, S_OK, 6, 0, false},
        {true, S_FALSE, 4, 72, true}, // a non-negative result counts as success
    };
    platformCalls.GetProcAddress = FakeGetProcAddress;
    for (const Row& row : rows) {
        DestroyMenu(bar);
        bar = LoadMenuA(tray.instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
        popup = GetSubMenu(bar, 0);
        versionFunctionExists = row.exists;
        fakeResult = row.result;
        fakeMajor = row.major;
        fakeMinor = row.minor;
        tray.PrepareMenu(popup);
        SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor));
        EXPECT_EQ(tray.menu, popup);
        ASSERT_EQ(tray.menuItemCount, 29u);
        for (UINT position = 0; position < 29; ++position) {
            const MENUITEMINFOA item = ItemAt(position);
            const bool separator = item.wID == 0;
            EXPECT_EQ((item.fType & MFT_OWNERDRAW) != 0, row.ownerDrawn) << position;
            EXPECT_EQ((item.fState & MFS_GRAYED) == MFS_GRAYED, separator) << position;
            if (!row.ownerDrawn) {
                // Plain text: separators stay separators, entries keep captions.
                EXPECT_EQ((item.fType & MFT_SEPARATOR) != 0, separator) << position;
                char caption[255] = "";
                GetMenuStringA(popup, position, caption, 254, MF_BYPOSITION);
                EXPECT_EQ(caption[0] == '\0', separator) << position;
            }
            if (row.ownerDrawn) {
                EXPECT_EQ(item.dwItemData, item.wID) << position;
            }
        }
    }
}

TEST_F(MenuTest, PreparedMenuKeepsCaptionsIdsAndOrder) {
    tray.PrepareMenu(popup); // the real shell of the system: owner-drawn
    ASSERT_EQ(tray.menuItemCount, 29u);
    EXPECT_NE(ItemAt(0).fType & MFT_OWNERDRAW, 0u);
    const std::set<UINT> separators = {1, 16, 26};
    char caption[255];
    for (UINT position = 0; position < 29; ++position) {
        const MENUITEMINFOA item = ItemAt(position);
        EXPECT_EQ(item.wID == 0, separators.count(position) == 1) << position;
    }
    ASSERT_GT(GetMenuStringA(popup, IDM_SCRIPT_WRITER, caption, 254, MF_BYCOMMAND), 0);
    EXPECT_STREQ(caption, "Script Writer && Stepper");
    ASSERT_GT(GetMenuStringA(popup, 0, caption, 254, MF_BYPOSITION), 0);
    EXPECT_STREQ(caption, "Home Board");
    EXPECT_EQ(GetMenuItemID(popup, 28), static_cast<UINT>(IDM_QUIT));
}

// ---- MenuIconForCommand -----------------------------------------------------

TEST(MenuIconTest, TheProgramsLookupAnswersAndWithoutOneNoCommandHasAnIcon) {
    TrayIcon tray;
    for (UINT command : {0u, static_cast<UINT>(IDM_HOME_BOARD), 65535u})
        EXPECT_EQ(tray.MenuIconForCommand(command), 0u) << command;
    tray.commandIcons = TestIcons;
    EXPECT_EQ(tray.MenuIconForCommand(IDM_HOME_BOARD), static_cast<UINT>(IDI_HOME_BOARD));
    EXPECT_EQ(tray.MenuIconForCommand(IDM_SESSION_WATCH), static_cast<UINT>(IDI_SESSION_WATCH));
    EXPECT_EQ(tray.MenuIconForCommand(IDM_QUIT), 0u);
}

// ---- OnMeasureItem ----------------------------------------------------------

class MeasureTest : public MenuTest {
  protected:
    MEASUREITEMSTRUCT Measure(UINT id, UINT type = ODT_MENU) {
        MEASUREITEMSTRUCT item = {};
        item.CtlType = type;
        item.itemID = id;
        item.itemWidth = 7777;
        item.itemHeight = 7777;
        result = tray.OnMeasureItem(0, &item);
        return item;
    }
    // Width and height of `text` in the system's menu font, prefixes processed.
    SIZE TextSize(const char* text) {
        NONCLIENTMETRICSA metrics = {};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        HFONT font = CreateFontIndirectA(&metrics.lfMenuFont);
        HDC dc = GetDC(nullptr);
        HGDIOBJ previous = SelectObject(dc, font);
        SIZE size;
        GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
        SelectObject(dc, previous);
        ReleaseDC(nullptr, dc);
        DeleteObject(font);
        return size;
    }
    BOOL result = FALSE;
};

TEST_F(MeasureTest, ItemsAreTextPlus28WideAndAtLeastAMenuBarHigh) {
    tray.PrepareMenu(popup);
    const UINT minimum = static_cast<UINT>(GetSystemMetrics(SM_CYMENU));
    const struct {
        UINT id;
        const char* shown; // the text as it appears: "&&" drawn as "&"
    } rows[] = {
        {IDM_HOME_BOARD, "Home Board"},
        {IDM_SCRIPT_WRITER, "Script Writer & Stepper"},
        {IDM_BLOB_BROWSER, "Blob Browser & Importer"},
        {IDM_QUIT, "Quit"},
        {39999, ""}, // not in the menu: an empty caption
    };
    for (const auto& row : rows) {
        const MEASUREITEMSTRUCT item = Measure(row.id);
        EXPECT_TRUE(result) << row.id;
        const SIZE text = TextSize(row.shown);
        EXPECT_EQ(item.itemWidth, static_cast<UINT>(text.cx) + 28) << row.shown;
        EXPECT_GE(item.itemHeight, minimum) << row.shown;
        EXPECT_GE(item.itemHeight, static_cast<UINT>(text.cy)) << row.shown;
    }
    EXPECT_NE(tray.menuFont, nullptr);
    const HFONT font = tray.menuFont;
    Measure(IDM_QUIT);
    EXPECT_EQ(tray.menuFont, font) << "the menu font is made once";
}

TEST_F(MeasureTest, SeparatorsAreThreeByFiveAndOtherControlsAreLeftAlone) {
    tray.PrepareMenu(popup);
    MEASUREITEMSTRUCT item = Measure(0);
    EXPECT_TRUE(result);
    EXPECT_EQ(item.itemWidth, 3u);
    EXPECT_EQ(item.itemHeight, 5u);

    item = Measure(IDM_HOME_BOARD, ODT_LISTBOX);
    EXPECT_FALSE(result);
    EXPECT_EQ(item.itemWidth, 7777u);
}

// ---- OnDrawItem ---------------------------------------------------------------

constexpr int CANVAS_WIDTH = 200;
constexpr int CANVAS_HEIGHT = 24;

class DrawTest : public MenuTest {
  protected:
    void SetUp() override {
        MenuTest::SetUp();
        tray.PrepareMenu(popup);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = CANVAS_WIDTH;
        info.bmiHeader.biHeight = -CANVAS_HEIGHT; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        pixels = static_cast<DWORD*>(bits);
        previous = SelectObject(dc, bitmap);
        Clear(RGB(1, 2, 3));
    }
    void TearDown() override {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
        MenuTest::TearDown();
    }
    void Clear(COLORREF colour) {
        GdiFlush();
        for (int i = 0; i < CANVAS_WIDTH * CANVAS_HEIGHT; ++i)
            pixels[i] = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    }
    COLORREF At(int x, int y) {
        GdiFlush();
        const DWORD p = pixels[y * CANVAS_WIDTH + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    int Count(int left, int top, int right, int bottom, COLORREF colour) {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) n += At(x, y) == colour;
        return n;
    }
    BOOL Draw(UINT id, UINT state, int height = CANVAS_HEIGHT, UINT type = ODT_MENU) {
        DRAWITEMSTRUCT item = {};
        item.CtlType = type;
        item.itemID = id;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = state;
        item.hwndItem = reinterpret_cast<HWND>(popup);
        item.hDC = dc;
        item.rcItem = {0, 0, CANVAS_WIDTH, height};
        item.itemData = id;
        return tray.OnDrawItem(0, &item);
    }

    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    DWORD* pixels = nullptr;
};

TEST_F(DrawTest, PlainEntryHasBackgroundStripIconAndMenuText) {
    ASSERT_TRUE(Draw(IDM_HOME_BOARD, 0));
    EXPECT_EQ(At(CANVAS_WIDTH - 1, 0), MENU_BACKGROUND);
    EXPECT_EQ(At(CANVAS_WIDTH - 10, CANVAS_HEIGHT - 1), MENU_BACKGROUND);
    EXPECT_EQ(At(0, 0), ICON_STRIP);
    EXPECT_EQ(At(21, CANVAS_HEIGHT - 1), ICON_STRIP);
    EXPECT_EQ(At(22, CANVAS_HEIGHT - 1), MENU_BACKGROUND) << "the strip is 22 wide";
    // The icon covers 16x16 at (2, 1): its tile is not the strip colour, and
    // nothing of it leaks out of that square.
    EXPECT_GT(16 * 16 - Count(2, 1, 18, 17, ICON_STRIP), 200);
    EXPECT_EQ(Count(0, 17, 22, CANVAS_HEIGHT, ICON_STRIP), 22 * (CANVAS_HEIGHT - 17));
    // Text only between left + 25 and right - 16.
    EXPECT_GT(Count(25, 0, CANVAS_WIDTH - 16, CANVAS_HEIGHT, GetSysColor(COLOR_MENUTEXT)), 10);
    EXPECT_EQ(Count(22, 0, 25, CANVAS_HEIGHT, MENU_BACKGROUND), 3 * CANVAS_HEIGHT);
    EXPECT_EQ(Count(CANVAS_WIDTH - 16, 0, CANVAS_WIDTH, CANVAS_HEIGHT, MENU_BACKGROUND),
              16 * CANVAS_HEIGHT);
}

TEST_F(DrawTest, SelectedEntryIsHighlightedAcrossTheFullWidth) {
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    ASSERT_TRUE(Draw(IDM_SESSION_WATCH, ODS_SELECTED));
    EXPECT_EQ(At(0, 0), highlight) << "the strip takes the highlight too";
    EXPECT_EQ(At(20, CANVAS_HEIGHT - 1), highlight);
    EXPECT_EQ(At(CANVAS_WIDTH - 1, CANVAS_HEIGHT - 1), highlight);
    EXPECT_GT(Count(25, 0, CANVAS_WIDTH - 16, CANVAS_HEIGHT, GetSysColor(COLOR_HIGHLIGHTTEXT)), 10);
}

TEST_F(DrawTest, GrayedEntryUsesTheGrayTextColour) {
    ASSERT_TRUE(Draw(IDM_QUIT, ODS_GRAYED));
    EXPECT_GT(Count(25, 0, CANVAS_WIDTH - 16, CANVAS_HEIGHT, GetSysColor(COLOR_GRAYTEXT)), 5);
    EXPECT_EQ(Count(25, 0, CANVAS_WIDTH, CANVAS_HEIGHT, GetSysColor(COLOR_MENUTEXT)), 0);
}

TEST_F(DrawTest, EntriesWithoutAnIconShowAnEmptyStrip) {
    // About and Quit: the program's lookup gives 0.
    for (UINT id : {static_cast<UINT>(IDM_ABOUT), static_cast<UINT>(IDM_QUIT)}) {
        Clear(RGB(1, 2, 3));
        ASSERT_TRUE(Draw(id, 0));
        EXPECT_EQ(Count(0, 0, 22, CANVAS_HEIGHT, ICON_STRIP), 22 * CANVAS_HEIGHT) << id;
    }
    // A tool, when no lookup was handed over.
    tray.commandIcons = nullptr;
    Clear(RGB(1, 2, 3));
    ASSERT_TRUE(Draw(IDM_HOME_BOARD, 0));
    EXPECT_EQ(Count(0, 0, 22, CANVAS_HEIGHT, ICON_STRIP), 22 * CANVAS_HEIGHT);
}

TEST_F(DrawTest, SeparatorIsAnEtchedLineAtMidHeightThatIsNeverHighlighted) {
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    for (UINT state : {0u, static_cast<UINT>(ODS_SELECTED)}) {
        Clear(RGB(1, 2, 3));
        ASSERT_TRUE(Draw(0, state, 5));
        const COLORREF strip = state == 0 ? ICON_STRIP : MENU_BACKGROUND;
        EXPECT_EQ(At(0, 0), strip) << state;
        EXPECT_EQ(At(100, 0), MENU_BACKGROUND) << state;
        EXPECT_EQ(At(100, 4), MENU_BACKGROUND) << state;
        // Top line of the etched edge at top + 5 / 2 = 2, strip included.
        EXPECT_EQ(Count(0, 2, CANVAS_WIDTH, 3, shadow), CANVAS_WIDTH) << state;
        EXPECT_EQ(Count(0, 0, CANVAS_WIDTH, 5, GetSysColor(COLOR_HIGHLIGHT)), 0) << state;
    }
}

TEST_F(DrawTest, OtherControlsAreNotDrawn) {
    EXPECT_FALSE(Draw(IDM_HOME_BOARD, 0, CANVAS_HEIGHT, ODT_BUTTON));
    EXPECT_EQ(Count(0, 0, CANVAS_WIDTH, CANVAS_HEIGHT, RGB(1, 2, 3)), CANVAS_WIDTH * CANVAS_HEIGHT);
}

} // namespace
