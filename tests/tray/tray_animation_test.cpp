// The animation state machine, driven tick by tick with a fake clock and a
// recording timer; the icons sent to the shell are the observable output.
// Icons come from the resources linked into this test program.
#include "tray/platform_calls.h"
#include "tray/tray_icon.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct ShellLog {
    std::vector<HICON> shown; // hIcon of every NIM_MODIFY, in order
    int32_t now = 1000;
    BOOL setTimerResult = TRUE;
    std::vector<UINT> timerPeriods;
    std::vector<UINT_PTR> killed;
};
ShellLog* shellLog;

BOOL WINAPI RecordNotify(DWORD command, PNOTIFYICONDATAA data) {
    if (command == NIM_MODIFY) shellLog->shown.push_back(data->hIcon);
    return TRUE;
}
UINT_PTR WINAPI RecordSetTimer(HWND, UINT_PTR eventId, UINT periodMs, TIMERPROC) {
    shellLog->timerPeriods.push_back(periodMs);
    return shellLog->setTimerResult ? eventId : 0;
}
BOOL WINAPI RecordKillTimer(HWND, UINT_PTR eventId) {
    shellLog->killed.push_back(eventId);
    return TRUE;
}
int32_t FakeTime() {
    return shellLog->now;
}
DWORD WINAPI VersionFive() {
    return 5;
}

HICON ResourceIcon(UINT id) {
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(static_cast<WORD>(id)));
}

class AnimationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = platformCalls;
        shellLog = &log;
        platformCalls.Shell_NotifyIconA = RecordNotify;
        platformCalls.SetTimer = RecordSetTimer;
        platformCalls.KillTimer = RecordKillTimer;
        platformCalls.time = FakeTime;
        platformCalls.GetVersion = VersionFive;
        installed = ResourceIcon(112);
        ASSERT_TRUE(
            tray.Install(GetModuleHandleA(nullptr), nullptr, WM_APP + 10, "tip", installed, 300));
    }
    void TearDown() override {
        tray.RemoveFromTray();
        platformCalls = saved;
    }
    // One tick as the hidden window receives it.
    void Tick() { SendMessageA(tray.hiddenWindow, WM_TIMER, TrayIcon::AnimationTimerId, 0); }

    PlatformCalls saved;
    ShellLog log;
    TrayIcon tray;
    HICON installed = nullptr;
};

TEST_F(AnimationTest, LoadsFramesInIdOrderAndKeepsThemOnAnEmptyRange) {
    ASSERT_TRUE(tray.LoadAnimationIcons(100, 119));
    ASSERT_EQ(tray.animationIcons.size(), 20u);
    for (UINT i = 0; i < 20; ++i) {
        EXPECT_NE(tray.animationIcons[i], nullptr) << "icon " << 100 + i;
        EXPECT_EQ(tray.animationIcons[i], ResourceIcon(100 + i)) << "frame " << i;
    }
    EXPECT_FALSE(tray.LoadAnimationIcons(120, 100));
    EXPECT_EQ(tray.animationIcons.size(), 20u);

    // Missing resources (120, 121) become null frames, kept in place.
    ASSERT_TRUE(tray.LoadAnimationIcons(119, 122));
    ASSERT_EQ(tray.animationIcons.size(), 4u);
    EXPECT_NE(tray.animationIcons[0], nullptr);
    EXPECT_EQ(tray.animationIcons[1], nullptr);
    EXPECT_EQ(tray.animationIcons[2], nullptr);
    EXPECT_NE(tray.animationIcons[3], nullptr);
}

TEST_F(AnimationTest, TicksStepFromTheSecondFrameAndWrapToTheFirst) {
    ASSERT_TRUE(tray.LoadAnimationIcons(100, 119));
    ASSERT_TRUE(tray.BeginAnimation(300, 5));
    EXPECT_EQ(log.timerPeriods, std::vector<UINT>{300});
    EXPECT_EQ(tray.animationTimer, TrayIcon::AnimationTimerId);
    EXPECT_EQ(tray.iconBeforeAnimation, installed);
    EXPECT_TRUE(log.shown.empty()) << "starting shows no frame yet";

    for (int i = 0; i < 21; ++i) Tick();
    ASSERT_EQ(log.shown.size(), 21u);
    for (UINT i = 0; i < 19; ++i) EXPECT_EQ(log.shown[i], ResourceIcon(101 + i)) << "tick " << i;
    EXPECT_EQ(log.shown[19], ResourceIcon(100)) << "after icon 119 comes icon 100";
    EXPECT_EQ(log.shown[20], ResourceIcon(101));
}

TEST_F(AnimationTest, EndsAtTheFirstTickPastTheDurationAndShowsTheSavedIcon) {
    ASSERT_TRUE(tray.LoadAnimationIcons(100, 119));
    ASSERT_TRUE(tray.BeginAnimation(300, 5));
    log.now = 1005; // exactly the duration: still running
    Tick();
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_TRUE(log.killed.empty());

    log.now = 1006;
    Tick();
    ASSERT_EQ(log.shown.size(), 2u);
    EXPECT_EQ(log.shown.back(), installed);
    EXPECT_EQ(log.killed, std::vector<UINT_PTR>{TrayIcon::AnimationTimerId});
    EXPECT_EQ(tray.animationTimer, 0u);
    EXPECT_EQ(tray.iconBeforeAnimation, nullptr);
    EXPECT_EQ(tray.notifyData.hIcon, installed);

    // A tick still queued after the end changes nothing.
    Tick();
    EXPECT_EQ(log.shown.size(), 2u);
    EXPECT_EQ(log.killed.size(), 1u);
    EXPECT_FALSE(tray.EndAnimation()) << "no timer runs any more";
}

TEST_F(AnimationTest, AClockSetBackEndsTheAnimationAtTheNextTick) {
    ASSERT_TRUE(tray.LoadAnimationIcons(100, 119));
    ASSERT_TRUE(tray.BeginAnimation(300, 5));
    log.now = 999;
    Tick();
    EXPECT_EQ(tray.animationTimer, 0u);
    EXPECT_EQ(log.shown, std::vector<HICON>{installed});
}

TEST_F(AnimationTest, ZeroOrNegativeDurationRunsUntilStopped) {
    for (int32_t seconds : {0, -3}) {
        ASSERT_TRUE(tray.LoadAnimationIcons(100, 102));
        ASSERT_TRUE(tray.BeginAnimation(300, seconds));
        log.now += 100000;
        Tick();
        EXPECT_NE(tray.animationTimer, 0u) << seconds;
        EXPECT_TRUE(tray.EndAnimation()) << seconds;
        EXPECT_EQ(log.shown.back(), installed) << seconds;
    }
}

TEST_F(AnimationTest, RestartDuringAnimationRestoresSavesAgainAndStartsOver) {
    ASSERT_TRUE(tray.LoadAnimationIcons(100, 119));
    ASSERT_TRUE(tray.BeginAnimation(300, 5));
    for (int i = 0; i < 4; ++i) Tick();
    ASSERT_EQ(tray.frameIndex, 4u);
    ASSERT_EQ(tray.notifyData.hIcon, ResourceIcon(104));

    log.now = 1003;
    ASSERT_TRUE(tray.LoadAnimationIcons(100, 119));
    ASSERT_TRUE(tray.BeginAnimation(300, 5));
    EXPECT_EQ(log.killed.size(), 1u) << "the running timer is stopped first";
    EXPECT_EQ(log.shown.back(), installed) << "and the installed icon shown again";
    EXPECT_EQ(tray.iconBeforeAnimation, installed) << "not the frame that was showing";
    EXPECT_EQ(tray.frameIndex, 0u);
    EXPECT_EQ(tray.animationStart, 1003);

    log.now = 1008; // 5 seconds after the restart: still running
    Tick();
    EXPECT_EQ(log.shown.back(), ResourceIcon(101));
}

TEST_F(AnimationTest, EmptyFrameListKeepsTheTimerAndRestoresAtTheEnd) {
    tray.animationIcons.clear();
    ASSERT_TRUE(tray.BeginAnimation(300, 5));
    Tick();
    EXPECT_TRUE(log.shown.empty());
    EXPECT_NE(tray.animationTimer, 0u);
    log.now = 1010;
    Tick();
    EXPECT_EQ(log.shown, std::vector<HICON>{installed});
    EXPECT_EQ(log.killed.size(), 1u);
}

TEST_F(AnimationTest, FailedTimerShowsNoFrameAndKeepsTheIconSaved) {
    ASSERT_TRUE(tray.LoadAnimationIcons(100, 119));
    log.setTimerResult = FALSE;
    EXPECT_FALSE(tray.BeginAnimation(300, 5));
    Tick();
    EXPECT_TRUE(log.shown.empty());
    EXPECT_EQ(tray.iconBeforeAnimation, installed);
    EXPECT_FALSE(tray.EndAnimation());
    EXPECT_TRUE(log.killed.empty());
    EXPECT_EQ(log.shown, std::vector<HICON>{installed});
}

TEST_F(AnimationTest, WithoutAShellNothingIsSavedOrShown) {
    tray.shellReady = FALSE;
    ASSERT_TRUE(tray.LoadAnimationIcons(100, 119));
    ASSERT_TRUE(tray.BeginAnimation(300, 5));
    EXPECT_EQ(tray.iconBeforeAnimation, nullptr);
    Tick();
    log.now = 1010;
    Tick();
    EXPECT_TRUE(log.shown.empty());
}

} // namespace
