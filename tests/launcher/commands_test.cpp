// The tool table and the WM_COMMAND handler: every tool id launches
// quillon.exe with its own switch, exactly as the shell is to be called, and
// has its own icon for the menu; other ids go to default processing; About,
// Quit and re-activation do their one thing each.
#include "launcher/commands.h"
#include "launcher/launcher.h"
#include "launcher/resource.h"
#include "tray/platform_calls.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct Launch {
    HWND owner;
    std::string verb, file, parameters;
    bool noDirectory;
    INT show;
};
std::vector<Launch> launches;
HINSTANCE WINAPI RecordLaunch(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                              LPCSTR directory, INT show) {
    launches.push_back({owner, verb ? verb : "(null)", file ? file : "(null)",
                        parameters ? parameters : "(null)", directory == nullptr, show});
    return reinterpret_cast<HINSTANCE>(42);
}
std::vector<UINT> timerPeriods;
UINT_PTR WINAPI RecordSetTimer(HWND, UINT_PTR eventId, UINT periodMs, TIMERPROC) {
    timerPeriods.push_back(periodMs);
    return eventId;
}
BOOL WINAPI NoKillTimer(HWND, UINT_PTR) {
    return TRUE;
}

// The menu's tool rows as the product documents them, kept apart from the
// code's own table so that a wrong row there is caught here.
// clang-format off
const struct { UINT id; const char *toolSwitch; UINT icon; } EXPECTED[] = {
    {40008, "/HOME", 112},    {32773, "/WATCH", 101},   {40001, "/COMPARE", 109},
    {40002, "/KEYS", 106},    {40003, "/ADVISE", 105},  {40029, "/STORAGE", 125},
    {40031, "/RANK", 128},    {40034, "/PRIVS", 129},   {40009, "/STATS", 108},
    {40004, "/REDO", 107},    {40022, "/NOTIFY", 114},  {40006, "/TRACK", 102},
    {40035, "/FIXES", 130},   {40023, "/TASKS", 119},   {40026, "/MODULES", 118},
    {40007, "/SCRIPT", 110},  {40024, "/TIMER", 116},   {40025, "/CLASSES", 113},
    {40005, "/STRESS", 103},  {40021, "/PACK", 115},    {40030, "/MOVE", 126},
    {40027, "/IMPORT", 122},  {40028, "/BLOB", 124},    {40033, "/SAMPLES", 127},
};
// clang-format on

class CommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = platformCalls;
        platformCalls.ShellExecuteA = RecordLaunch;
        platformCalls.SetTimer = RecordSetTimer;
        platformCalls.KillTimer = NoKillTimer;
        launches.clear();
        timerPeriods.clear();
        window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window)) DestroyWindow(window);
        platformCalls = saved;
    }
    PlatformCalls saved;
    HWND window = nullptr;
};

TEST_F(CommandTest, EveryToolIdStartsQuillonWithItsOwnSwitch) {
    for (const auto& row : EXPECTED) {
        // The high word (1: from an accelerator) is never looked at.
        for (WPARAM high : {0u, 1u, 0xFFFFu}) {
            launches.clear();
            EXPECT_EQ(HandleCommand(window, MAKEWPARAM(row.id, high), 12345), 0);
            ASSERT_EQ(launches.size(), 1u) << row.id;
            const Launch& launch = launches[0];
            EXPECT_EQ(launch.owner, nullptr);
            EXPECT_EQ(launch.verb, "open");
            EXPECT_EQ(launch.file, "quillon.exe");
            EXPECT_EQ(launch.parameters, row.toolSwitch) << row.id;
            EXPECT_TRUE(launch.noDirectory);
            EXPECT_EQ(launch.show, SW_SHOW);
        }
    }
}

TEST_F(CommandTest, TableHasTwentyFourRowsWithDistinctIdsAndSwitches) {
    std::set<UINT> ids;
    std::set<std::string> switches;
    for (const ToolCommand& row : TOOL_COMMANDS) {
        ids.insert(row.commandId);
        switches.insert(row.toolSwitch);
        EXPECT_EQ(FindToolCommand(row.commandId), &row);
    }
    EXPECT_EQ(ids.size(), TOOL_COMMAND_COUNT);
    EXPECT_EQ(switches.size(), TOOL_COMMAND_COUNT);
    EXPECT_EQ(TOOL_COMMAND_COUNT, std::size(EXPECTED));
}

TEST(ToolIconTest, EveryToolHasItsOwnLoadableIcon) {
    std::set<UINT> icons;
    for (const auto& row : EXPECTED) {
        EXPECT_EQ(ToolIconForCommand(row.id), row.icon) << row.id;
        icons.insert(row.icon);
        HANDLE image = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(row.icon), IMAGE_ICON,
                                  16, 16, LR_DEFAULTCOLOR);
        EXPECT_NE(image, nullptr) << "icon " << row.icon;
        DestroyIcon(static_cast<HICON>(image));
    }
    EXPECT_EQ(icons.size(), TOOL_COMMAND_COUNT);
    // About, Quit, unassigned ids and non-commands have no icon.
    for (UINT none : {104u, 105u, 0u, 40010u, 40020u, 40032u, 100u, 300u, 0x8004u})
        EXPECT_EQ(ToolIconForCommand(none), 0u) << none;
}

TEST_F(CommandTest, UnassignedIdsGoToDefaultProcessing) {
    std::vector<UINT> ids = {0, 1, 2, 103, 106, 300, 32771, 40000, 40032, 40036, 65535};
    for (UINT id = 40010; id <= 40020; ++id) ids.push_back(id);
    for (UINT id : ids) {
        EXPECT_EQ(FindToolCommand(id), nullptr) << id;
        EXPECT_EQ(HandleCommand(window, id, 0), 0) << id; // DefWindowProcA's answer
    }
    EXPECT_TRUE(launches.empty());
    EXPECT_TRUE(timerPeriods.empty());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(CommandTest, QuitDestroysTheWindow) {
    EXPECT_EQ(HandleCommand(window, MAKEWPARAM(IDM_QUIT, 1), 0), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(launches.empty());
}

TEST_F(CommandTest, ReactivationLoadsTwentyFramesAndAnimatesForFiveSeconds) {
    trayIcon.instance = GetModuleHandleA(nullptr);
    trayIcon.animationIcons.clear();
    EXPECT_EQ(HandleCommand(window, CMD_REACTIVATE, 0), 0);
    ASSERT_EQ(trayIcon.animationIcons.size(), 20u);
    EXPECT_EQ(trayIcon.animationIcons.front(),
              LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PROGRAM)));
    EXPECT_EQ(trayIcon.animationIcons.back(),
              LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TASK_SCHEDULER)));
    EXPECT_EQ(timerPeriods, std::vector<UINT>{300});
    EXPECT_EQ(trayIcon.animationSeconds, 5);
    trayIcon.EndAnimation();
    EXPECT_TRUE(launches.empty());
}

// About runs a modal loop; a thread timer inside that loop inspects the box
// and closes it, so the command returns.
HWND aboutBox, aboutOwner;
std::string aboutLink;
void CALLBACK CloseAbout(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    aboutBox = FindWindowA("#32770", " About Quillon");
    aboutOwner = GetWindow(aboutBox, GW_OWNER);
    char text[256] = "";
    GetDlgItemTextA(aboutBox, IDC_ABOUT_LINK, text, sizeof text);
    aboutLink = text;
    SendMessageA(aboutBox, WM_COMMAND, IDOK, 0);
}

TEST_F(CommandTest, AboutOpensTheModalBoxOwnedByTheWindow) {
    // As start-up does: the dialog comes from the program's module.
    appInstance = GetModuleHandleA(nullptr);
    ASSERT_NE(RegisterHyperlinkClass(), 0);
    SetTimer(nullptr, 0, 50, CloseAbout);
    EXPECT_EQ(HandleCommand(window, IDM_ABOUT, 0), 0);
    ASSERT_NE(aboutBox, nullptr);
    EXPECT_EQ(aboutOwner, window);
    EXPECT_EQ(aboutLink, QUILLON_HOME_URL);
    EXPECT_FALSE(IsWindow(aboutBox)) << "closed when the command returned";
}

} // namespace
