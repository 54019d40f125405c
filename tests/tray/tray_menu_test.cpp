// HandleNotification against a real window that records the commands it is
// sent; loading and tracking the menu go through the platform table, so the
// test sees what would be shown without a modal menu loop.
#include "launcher/resource.h"
#include "tray/platform_calls.h"
#include "tray/tray_icon.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Observed {
    std::vector<std::pair<WPARAM, LPARAM>> commands; // WM_COMMAND received
    int loads = 0;
    bool failLoad = false;
    struct Track {
        UINT flags;
        int x, y;
        HWND owner;
        bool ownerDrawn; // position 0 owner-drawn while tracked
        UINT defaultId;  // GetMenuDefaultItem by command while tracked
        UINT count;
    };
    std::vector<Track> tracks;
};
Observed* observed;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        observed->commands.emplace_back(wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
HMENU WINAPI CountingLoadMenu(HINSTANCE instance, LPCSTR name) {
    ++observed->loads;
    return observed->failLoad ? nullptr : LoadMenuA(instance, name);
}
BOOL WINAPI RecordingTrack(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE;
    GetMenuItemInfoA(menu, 0, TRUE, &item);
    observed->tracks.push_back({flags, x, y, owner, (item.fType & MFT_OWNERDRAW) != 0,
                                GetMenuDefaultItem(menu, FALSE, 0),
                                static_cast<UINT>(GetMenuItemCount(menu))});
    return FALSE; // closed without a choice
}

class NotificationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = platformCalls;
        observed = &seen;
        platformCalls.LoadMenuA = CountingLoadMenu;
        platformCalls.TrackPopupMenu = RecordingTrack;
        WNDCLASSA recordingClass = {};
        recordingClass.lpfnWndProc = RecordingProc;
        recordingClass.hInstance = GetModuleHandleA(nullptr);
        recordingClass.lpszClassName = "NotificationTestWindow";
        RegisterClassA(&recordingClass);
        window = CreateWindowExA(0, "NotificationTestWindow", "", WS_POPUP, 0, 0, 10, 10, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        // As Install leaves the object for the launcher.
        tray.instance = GetModuleHandleA(nullptr);
        tray.notifyData.uID = IDR_TRAY_MENU;
        tray.notifyData.hWnd = window;
        tray.commandWindow = window;
        MSG drain;
        while (PeekMessageA(&drain, window, 0, 0, PM_REMOVE)) {
        }
    }
    void TearDown() override {
        DestroyWindow(window);
        platformCalls = saved;
    }
    bool NullPosted() {
        MSG msg;
        return PeekMessageA(&msg, window, WM_NULL, WM_NULL, PM_REMOVE) != 0;
    }

    PlatformCalls saved;
    Observed seen;
    TrayIcon tray;
    HWND window = nullptr;
};

TEST_F(NotificationTest, MouseEventsByLowWordAndIconId) {
    const struct {
        WPARAM iconId;
        LPARAM mouse;
        LRESULT result;
        bool menuShown;
        bool commandSent;
    } rows[] = {
        {300, WM_RBUTTONUP, 1, true, false},
        {300, 0x7FFF0000 | WM_RBUTTONUP, 1, true, false}, // high bits ignored
        {300, WM_RBUTTONDOWN, 1, false, false},
        {300, WM_LBUTTONUP, 1, false, false},
        {300, WM_MOUSEMOVE, 1, false, false},
        {300, 0x1000 | WM_RBUTTONUP, 1, false, false}, // another low word
        {300, WM_LBUTTONDBLCLK, 1, false, true},
        {300, 0x00010000 | WM_LBUTTONDBLCLK, 1, false, true},
        {301, WM_RBUTTONUP, 0, false, false},
        {0, WM_LBUTTONDBLCLK, 0, false, false},
    };
    for (const auto& row : rows) {
        seen = Observed{};
        EXPECT_EQ(tray.HandleNotification(row.iconId, row.mouse), row.result) << row.mouse;
        EXPECT_EQ(seen.tracks.size(), row.menuShown ? 1u : 0u) << row.mouse;
        EXPECT_EQ(seen.commands.size(), row.commandSent ? 1u : 0u) << row.mouse;
        EXPECT_EQ(NullPosted(), row.menuShown) << row.mouse;
    }
}

TEST_F(NotificationTest, RightButtonReleaseTracksThePreparedMenuAtTheCursor) {
    POINT cursor;
    ASSERT_TRUE(GetCursorPos(&cursor));
    ASSERT_EQ(tray.HandleNotification(300, WM_RBUTTONUP), 1);
    ASSERT_EQ(seen.tracks.size(), 1u);
    const Observed::Track& track = seen.tracks[0];
    EXPECT_EQ(track.flags, 0u);
    EXPECT_EQ(track.x, cursor.x);
    EXPECT_EQ(track.y, cursor.y);
    EXPECT_EQ(track.owner, window);
    EXPECT_TRUE(track.ownerDrawn) << "PrepareMenu ran before tracking";
    EXPECT_EQ(track.defaultId, static_cast<UINT>(IDM_HOME_BOARD));
    EXPECT_EQ(track.count, 29u);
    EXPECT_EQ(tray.menuItemCount, 29u);
    EXPECT_FALSE(IsMenu(tray.menu)) << "the loaded menu is destroyed afterwards";
}

TEST_F(NotificationTest, DoubleClickSendsTheDefaultCommandWithoutAMenu) {
    ASSERT_EQ(tray.HandleNotification(300, WM_LBUTTONDBLCLK), 1);
    ASSERT_EQ(seen.commands.size(), 1u) << "sent, not posted: already carried out";
    EXPECT_EQ(seen.commands[0].first, static_cast<WPARAM>(IDM_HOME_BOARD));
    EXPECT_EQ(seen.commands[0].second, 0);
    EXPECT_EQ(seen.loads, 1);
    EXPECT_TRUE(seen.tracks.empty());
    EXPECT_EQ(tray.menu, nullptr) << "PrepareMenu is not called on this path";

    // A default given as a command id needs no menu at all.
    seen = Observed{};
    tray.defaultItem = IDM_SESSION_WATCH;
    tray.defaultIsPosition = FALSE;
    ASSERT_EQ(tray.HandleNotification(300, WM_LBUTTONDBLCLK), 1);
    EXPECT_EQ(seen.loads, 0);
    ASSERT_EQ(seen.commands.size(), 1u);
    EXPECT_EQ(seen.commands[0].first, static_cast<WPARAM>(IDM_SESSION_WATCH));
}

TEST_F(NotificationTest, NoMenuOrNoWindowMeansZeroAndNothingShown) {
    seen.failLoad = true;
    EXPECT_EQ(tray.HandleNotification(300, WM_RBUTTONUP), 0);
    EXPECT_EQ(tray.HandleNotification(300, WM_LBUTTONDBLCLK), 0);
    EXPECT_TRUE(seen.tracks.empty());
    EXPECT_TRUE(seen.commands.empty());
    EXPECT_FALSE(NullPosted());

    seen.failLoad = false;
    tray.commandWindow = nullptr; // the notified window takes the commands
    EXPECT_EQ(tray.HandleNotification(300, WM_LBUTTONDBLCLK), 1);
    EXPECT_EQ(seen.commands.size(), 1u);

    tray.notifyData.hWnd = nullptr;
    EXPECT_EQ(tray.HandleNotification(300, WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(seen.commands.size(), 1u);
}

} // namespace
