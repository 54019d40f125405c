// The icon object against a model shell: the shell keeps the set of icons it
// shows, refuses a second add of the same icon, and modifies or deletes only
// icons it has, as the real one does. Windows, classes and messages are real.
#include "tray/platform_calls.h"
#include "tray/tray_icon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct ShellCall {
    DWORD command;
    DWORD size;
    HWND window;
    UINT id;
    UINT flags;
    HICON icon;
    BOOL windowAlive; // IsWindow(window) at the moment of the call
};

struct ModelShell {
    std::set<std::pair<HWND, UINT>> icons;
    std::vector<ShellCall> calls;
    bool refuse = false; // every call fails
    DWORD version = 0x0A00000A;

    std::vector<DWORD> Commands() const {
        std::vector<DWORD> commands;
        for (const ShellCall& call : calls) commands.push_back(call.command);
        return commands;
    }
};
ModelShell* shell;

BOOL WINAPI ModelNotify(DWORD command, PNOTIFYICONDATAA data) {
    shell->calls.push_back({command, data->cbSize, data->hWnd, data->uID, data->uFlags, data->hIcon,
                            IsWindow(data->hWnd)});
    const std::pair<HWND, UINT> key(data->hWnd, data->uID);
    const bool known = shell->icons.count(key) != 0;
    if (shell->refuse) return FALSE;
    switch (command) {
    case NIM_ADD:
        return known ? FALSE : (shell->icons.insert(key), TRUE);
    case NIM_MODIFY:
        return known ? TRUE : FALSE;
    case NIM_DELETE:
        return shell->icons.erase(key) != 0 ? TRUE : FALSE;
    default:
        return FALSE;
    }
}
DWORD WINAPI ModelVersion() {
    return shell->version;
}

const char LAUNCHER_TIP[] = "Right-click this icon to display\nQuillon shortcuts menu.";
const UINT CALLBACK_MESSAGE = WM_APP + 10;
const UINT ICON_ID = 300;

HICON ResourceIcon(WORD id) {
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

BOOL CALLBACK CollectHiddenClassWindow(HWND window, LPARAM list) {
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "TrayIconClass") == 0)
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// "TrayIconClass" windows of this thread.
std::vector<HWND> HiddenClassWindows() {
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectHiddenClassWindow,
                      reinterpret_cast<LPARAM>(&found));
    return found;
}

struct Flags {
    BOOL hidden, removed, pending;
    bool operator==(const Flags& other) const {
        return hidden == other.hidden && removed == other.removed && pending == other.pending;
    }
};
std::ostream& operator<<(std::ostream& out, const Flags& flags) {
    return out << "{hidden " << flags.hidden << ", removed " << flags.removed << ", pending "
               << flags.pending << "}";
}
Flags FlagsOf(const TrayIcon& tray) {
    return {tray.iconHidden, tray.iconRemoved, tray.addRetryPending};
}

class TrayIconTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = platformCalls;
        shell = &model;
        platformCalls.Shell_NotifyIconA = ModelNotify;
        platformCalls.GetVersion = ModelVersion;
        notifyWindow = CreateWindowExA(0, "STATIC", "notified", WS_POPUP, 0, 0, 0, 0, nullptr,
                                       nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(notifyWindow, nullptr);
        icon = ResourceIcon(112);
        ASSERT_NE(icon, nullptr);
    }
    void TearDown() override {
        DestroyWindow(notifyWindow);
        platformCalls = saved;
    }
    BOOL InstallLauncherIcon(TrayIcon& tray) {
        return tray.Install(GetModuleHandleA(nullptr), notifyWindow, CALLBACK_MESSAGE, LAUNCHER_TIP,
                            icon, ICON_ID);
    }

    PlatformCalls saved;
    ModelShell model;
    HWND notifyWindow = nullptr;
    HICON icon = nullptr;
};

TEST_F(TrayIconTest, InstallAddsTheFirstGenerationRecordForTheNotifiedWindow) {
    TrayIcon tray;
    ASSERT_TRUE(InstallLauncherIcon(tray));

    ASSERT_EQ(model.calls.size(), 1u);
    const ShellCall& add = model.calls[0];
    EXPECT_EQ(add.command, static_cast<DWORD>(NIM_ADD));
#ifdef __i386__
    EXPECT_EQ(add.size, 88u);
#else
    // x86_64: hWnd and hIcon are 8 bytes wide and 8-aligned, so the tip
    // starts at 40.
    EXPECT_EQ(add.size, 104u);
#endif
    EXPECT_EQ(add.window, notifyWindow);
    EXPECT_EQ(add.id, ICON_ID);
    EXPECT_EQ(add.flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(add.icon, icon);
    EXPECT_EQ(tray.notifyData.uCallbackMessage, CALLBACK_MESSAGE);
    EXPECT_EQ(tray.commandWindow, notifyWindow);
    EXPECT_EQ(tray.addFlags, 7u);
    EXPECT_EQ(tray.instance, GetModuleHandleA(nullptr));
    EXPECT_EQ(FlagsOf(tray), (Flags{FALSE, FALSE, FALSE}));

    // The hidden window: of its own class, on this thread, never shown.
    ASSERT_EQ(HiddenClassWindows(), std::vector<HWND>{tray.hiddenWindow});
    EXPECT_FALSE(IsWindowVisible(tray.hiddenWindow));
}

TEST_F(TrayIconTest, WithoutANotifyWindowTheHiddenWindowIsNotified) {
    TrayIcon tray;
    ASSERT_TRUE(
        tray.Install(GetModuleHandleA(nullptr), nullptr, CALLBACK_MESSAGE, "tip", icon, ICON_ID));
    ASSERT_NE(tray.hiddenWindow, nullptr);
    EXPECT_EQ(tray.notifyData.hWnd, tray.hiddenWindow);
    EXPECT_EQ(tray.commandWindow, tray.hiddenWindow);
    EXPECT_EQ(model.calls.at(0).window, tray.hiddenWindow);
}

TEST_F(TrayIconTest, TooltipIsCutTo63CharactersAndTerminated) {
    const std::string sixtyThree(63, 'a');
    const struct {
        std::string tip;
        std::string stored;
    } rows[] = {
        {"", ""},
        {LAUNCHER_TIP, LAUNCHER_TIP}, // 56 characters, line break kept
        {sixtyThree, sixtyThree},
        {sixtyThree + "b", sixtyThree},
        {std::string(200, 'c'), std::string(63, 'c')},
    };
    for (const auto& row : rows) {
        TrayIcon tray;
        // A tip field holding leftovers shows whether the terminator is written.
        std::memset(tray.notifyData.szTip, 'x', sizeof tray.notifyData.szTip);
        tray.Install(GetModuleHandleA(nullptr), notifyWindow, CALLBACK_MESSAGE, row.tip.c_str(),
                     icon, ICON_ID);
        EXPECT_EQ(std::string(tray.notifyData.szTip), row.stored) << "tip of " << row.tip.size();
    }
    EXPECT_EQ(std::strlen(LAUNCHER_TIP), 56u);
}

TEST_F(TrayIconTest, SystemVersionBelowFourCreatesNothingAndNeverCallsTheShell) {
    const struct {
        DWORD version; // GetVersion: major in the low byte, minor in the next
        BOOL ready;
    } rows[] = {
        {0x00000003, FALSE}, {0x00005F03, FALSE}, {0x80000A03, FALSE},
        {0x00000004, TRUE},  {0x0A280105, TRUE},  {0x23F00206, TRUE},
    };
    for (const auto& row : rows) {
        model = ModelShell{};
        model.version = row.version;
        {
            TrayIcon tray;
            EXPECT_EQ(InstallLauncherIcon(tray), row.ready) << std::hex << row.version;
            EXPECT_EQ(tray.shellReady, row.ready);
            if (row.ready) continue;
            EXPECT_TRUE(HiddenClassWindows().empty());
            EXPECT_EQ(tray.hiddenWindow, nullptr);
            EXPECT_EQ(tray.instance, nullptr);
            EXPECT_EQ(tray.notifyData.cbSize, 0u);
            EXPECT_FALSE(tray.ChangeIcon(icon));
            EXPECT_TRUE(tray.RemoveFromTray());
            EXPECT_EQ(tray.HandleTaskbarRestart(0, 0), 0);
        }
        if (!row.ready) {
            EXPECT_TRUE(model.calls.empty()) << std::hex << row.version;
        }
    }
}

// Every row starts from an installed icon, puts the flags and the model
// shell into a state, runs one event and checks flags, result and calls.
enum class Event { Remove, Retry, WorkAreaChange, OtherSettingChange };

TEST_F(TrayIconTest, FlagsMoveAsTheTransitionTableSays) {
    const BOOL T = TRUE, F = FALSE;
    const struct {
        const char* name;
        Flags before;
        bool shellHasIcon;
        bool shellRefuses;
        Event event;
        Flags after;
        BOOL result; // not checked for the setting changes
        std::vector<DWORD> calls;
    } rows[] = {
        {"delete succeeds", {F, F, F}, true, false, Event::Remove, {T, T, F}, T, {NIM_DELETE}},
        {"delete fails", {F, F, T}, true, true, Event::Remove, {F, F, F}, F, {NIM_DELETE}},
        {"nothing to delete", {T, T, T}, false, false, Event::Remove, {T, T, F}, T, {}},
        {"re-add succeeds", {F, F, T}, false, false, Event::Retry, {F, F, T}, T, {NIM_ADD}},
        {"re-add succeeds, removed kept",
         {F, T, T},
         false,
         false,
         Event::Retry,
         {F, T, T},
         T,
         {NIM_ADD}},
        {"re-add fails", {F, T, T}, false, true, Event::Retry, {T, T, F}, F, {NIM_ADD}},
        {"no add owed", {F, F, F}, true, false, Event::Retry, {F, F, F}, F, {}},
        {"owed but hidden", {T, F, T}, false, false, Event::Retry, {T, F, T}, F, {}},
        {"work area changes",
         {F, F, T},
         false,
         false,
         Event::WorkAreaChange,
         {F, F, T},
         T,
         {NIM_ADD}},
        {"work area, add fails",
         {F, F, T},
         false,
         true,
         Event::WorkAreaChange,
         {T, F, F},
         T,
         {NIM_ADD}},
        {"other setting changes",
         {F, F, T},
         false,
         false,
         Event::OtherSettingChange,
         {F, F, T},
         T,
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        model = ModelShell{};
        TrayIcon tray;
        ASSERT_TRUE(InstallLauncherIcon(tray));
        tray.iconHidden = row.before.hidden;
        tray.iconRemoved = row.before.removed;
        tray.addRetryPending = row.before.pending;
        if (!row.shellHasIcon) model.icons.clear();
        model.refuse = row.shellRefuses;
        model.calls.clear();

        BOOL result = TRUE;
        switch (row.event) {
        case Event::Remove:
            result = tray.RemoveFromTray();
            break;
        case Event::Retry:
            result = tray.RetryPendingAdd();
            break;
        case Event::WorkAreaChange:
            EXPECT_EQ(SendMessageA(tray.hiddenWindow, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0), 0);
            break;
        case Event::OtherSettingChange:
            EXPECT_EQ(SendMessageA(tray.hiddenWindow, WM_SETTINGCHANGE, 0, 0), 0);
            break;
        }
        EXPECT_EQ(FlagsOf(tray), row.after);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(model.Commands(), row.calls);
        for (const ShellCall& call : model.calls) {
            EXPECT_EQ(call.flags, call.command == NIM_ADD ? 7u : 0u) << "command " << call.command;
        }
        model.refuse = false;
    }
}

TEST_F(TrayIconTest, InstallRefusedByTheShellSetsEveryFlag) {
    model.refuse = true;
    TrayIcon tray;
    EXPECT_FALSE(InstallLauncherIcon(tray));
    EXPECT_EQ(FlagsOf(tray), (Flags{TRUE, TRUE, TRUE}));
    // An owed add is not made while the icon is hidden, whatever notice comes.
    model.refuse = false;
    SendMessageA(tray.hiddenWindow, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    SendMessageA(tray.hiddenWindow, TrayIcon::taskbarRestartMessage, 0, 0);
    EXPECT_EQ(model.Commands(), std::vector<DWORD>{NIM_ADD});
}

TEST_F(TrayIconTest, ResetStateForgetsTheIconButKeepsModuleAndWindow) {
    TrayIcon tray;
    ASSERT_TRUE(InstallLauncherIcon(tray));
    const HWND hidden = tray.hiddenWindow;
    tray.ResetState();
    EXPECT_EQ(FlagsOf(tray), (Flags{TRUE, TRUE, FALSE}));
    EXPECT_FALSE(tray.shellReady);
    EXPECT_EQ(tray.notifyData.cbSize, 0u);
    EXPECT_EQ(tray.notifyData.hIcon, nullptr);
    EXPECT_EQ(tray.commandWindow, nullptr);
    EXPECT_EQ(tray.addFlags, 0u);
    EXPECT_TRUE(tray.defaultIsPosition);
    EXPECT_EQ(tray.hiddenWindow, hidden);
    EXPECT_EQ(tray.instance, GetModuleHandleA(nullptr));
    EXPECT_EQ(TrayIcon::currentTrayIcon, &tray);
}

TEST_F(TrayIconTest, ChangeIconWhileHiddenOnlyUpdatesTheRecord) {
    TrayIcon tray;
    ASSERT_TRUE(InstallLauncherIcon(tray));
    const HICON other = ResourceIcon(101);
    model.calls.clear();

    tray.iconHidden = TRUE;
    EXPECT_TRUE(tray.ChangeIcon(other));
    EXPECT_TRUE(model.calls.empty());
    EXPECT_EQ(tray.notifyData.hIcon, other);
    EXPECT_EQ(tray.notifyData.uFlags, static_cast<UINT>(NIF_ICON));

    tray.iconHidden = FALSE;
    EXPECT_TRUE(tray.ChangeIcon(icon));
    ASSERT_EQ(model.calls.size(), 1u);
    EXPECT_EQ(model.calls[0].command, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(model.calls[0].flags, static_cast<UINT>(NIF_ICON));
    EXPECT_EQ(model.calls[0].icon, icon);

    model.refuse = true;
    EXPECT_FALSE(tray.ChangeIcon(other));
}

TEST_F(TrayIconTest, SecondRemovalMakesNoShellCall) {
    TrayIcon tray;
    ASSERT_TRUE(InstallLauncherIcon(tray));
    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_EQ(model.Commands(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    EXPECT_TRUE(model.icons.empty());
}

// Regression: a re-created taskbar used to leave the notification area
// empty, because only a failed add was ever re-added.
TEST_F(TrayIconTest, ReCreatedTaskbarGetsTheShownIconBackOnce) {
    TrayIcon tray;
    ASSERT_TRUE(InstallLauncherIcon(tray));
    const std::pair<HWND, UINT> key(notifyWindow, ICON_ID);

    for (int restart = 1; restart <= 3; ++restart) {
        SCOPED_TRACE(restart);
        model.icons.clear(); // the new taskbar starts empty
        model.calls.clear();
        // The notice reaches the main window (which hands it on) and the
        // hidden window; the second must not disturb the restored icon.
        EXPECT_EQ(tray.HandleTaskbarRestart(0, 0), 0);
        EXPECT_EQ(SendMessageA(tray.hiddenWindow, TrayIcon::taskbarRestartMessage, 0, 0), 0);

        EXPECT_EQ(model.icons, (std::set<std::pair<HWND, UINT>>{key}));
        EXPECT_EQ(FlagsOf(tray), (Flags{FALSE, FALSE, FALSE}));
        EXPECT_EQ(model.Commands(), (std::vector<DWORD>{NIM_MODIFY, NIM_ADD, NIM_MODIFY}));
        EXPECT_EQ(model.calls.at(0).flags, 0u) << "the presence probe changes nothing";
        EXPECT_EQ(model.calls.at(1).flags, 7u);
        EXPECT_EQ(model.calls.at(1).icon, icon);
    }

    // Still shown: an animation frame reaches the shell.
    model.calls.clear();
    EXPECT_TRUE(tray.ChangeIcon(ResourceIcon(101)));
    EXPECT_EQ(model.Commands(), std::vector<DWORD>{NIM_MODIFY});
}

TEST_F(TrayIconTest, ReCreatedTaskbarLeavesAnIconThatIsNotShownAlone) {
    const struct {
        const char* name;
        bool removeFirst;
        bool refuseReAdd;
        Flags after;
        std::vector<DWORD> calls;
    } rows[] = {
        {"removed icon", true, false, {TRUE, TRUE, FALSE}, {}},
        {"re-add refused", false, true, {TRUE, FALSE, FALSE}, {NIM_MODIFY, NIM_ADD}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        model = ModelShell{};
        TrayIcon tray;
        ASSERT_TRUE(InstallLauncherIcon(tray));
        if (row.removeFirst) {
            ASSERT_TRUE(tray.RemoveFromTray());
        }
        model.icons.clear();
        model.refuse = row.refuseReAdd;
        model.calls.clear();
        tray.HandleTaskbarRestart(0, 0);
        EXPECT_EQ(FlagsOf(tray), row.after);
        EXPECT_EQ(model.Commands(), row.calls);

        // A later notice does not resurrect it.
        model.refuse = false;
        model.calls.clear();
        SendMessageA(tray.hiddenWindow, TrayIcon::taskbarRestartMessage, 0, 0);
        EXPECT_TRUE(model.calls.empty());
        EXPECT_TRUE(model.icons.empty());
    }
}

// Records the virtual notification handler's arguments.
class RecordingTrayIcon : public TrayIcon {
  public:
    LRESULT HandleNotification(WPARAM iconId, LPARAM mouseMessage) override {
        notifications.emplace_back(iconId, mouseMessage);
        return 42;
    }
    std::vector<std::pair<WPARAM, LPARAM>> notifications;
};

TEST_F(TrayIconTest, HiddenWindowServesOnlyItsOwnHandle) {
    RecordingTrayIcon tray;
    // Before Install stores the handle, a window of the class gets defaults.
    TrayIcon::RegisterHiddenClass(GetModuleHandleA(nullptr));
    HWND early = CreateWindowExA(0, "TrayIconClass", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(early, nullptr);
    SendMessageA(early, CALLBACK_MESSAGE, ICON_ID, WM_RBUTTONUP);

    ASSERT_TRUE(
        tray.Install(GetModuleHandleA(nullptr), nullptr, CALLBACK_MESSAGE, "tip", icon, ICON_ID));
    ASSERT_NE(tray.hiddenWindow, early);
    model.icons.clear();
    tray.addRetryPending = TRUE;
    model.calls.clear();
    SendMessageA(early, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    SendMessageA(early, TrayIcon::taskbarRestartMessage, 0, 0);
    SendMessageA(early, CALLBACK_MESSAGE, ICON_ID, WM_RBUTTONUP);
    EXPECT_TRUE(model.calls.empty());
    EXPECT_TRUE(tray.notifications.empty());

    // The callback message reaches the handler through the virtual table.
    EXPECT_EQ(SendMessageA(tray.hiddenWindow, CALLBACK_MESSAGE, ICON_ID, 0x12340205), 42);
    ASSERT_EQ(tray.notifications.size(), 1u);
    EXPECT_EQ(tray.notifications[0], (std::pair<WPARAM, LPARAM>(ICON_ID, 0x12340205)));
    DestroyWindow(early);
}

TEST_F(TrayIconTest, DestructorDeletesTheIconBeforeDestroyingTheHiddenWindow) {
    HWND hidden = nullptr;
    {
        TrayIcon tray;
        ASSERT_TRUE(tray.Install(GetModuleHandleA(nullptr), nullptr, CALLBACK_MESSAGE, "tip", icon,
                                 ICON_ID));
        hidden = tray.hiddenWindow;
        model.calls.clear();
    }
    ASSERT_EQ(model.Commands(), std::vector<DWORD>{NIM_DELETE});
    EXPECT_EQ(model.calls[0].window, hidden);
    EXPECT_EQ(model.calls[0].id, ICON_ID);
    EXPECT_TRUE(model.calls[0].windowAlive);
    EXPECT_FALSE(IsWindow(hidden));
    EXPECT_TRUE(model.icons.empty());
}

TEST_F(TrayIconTest, AtExitTheIconIsDeletedWithTheStoredHandleOfADestroyedWindow) {
    HWND launcherWindow = CreateWindowExA(0, "STATIC", "main", WS_POPUP, 0, 0, 0, 0, nullptr,
                                          nullptr, GetModuleHandleA(nullptr), nullptr);
    {
        TrayIcon tray;
        ASSERT_TRUE(tray.Install(GetModuleHandleA(nullptr), launcherWindow, CALLBACK_MESSAGE,
                                 LAUNCHER_TIP, icon, ICON_ID));
        DestroyWindow(launcherWindow); // Quit, before the process exits
        model.calls.clear();
    }
    ASSERT_EQ(model.Commands(), std::vector<DWORD>{NIM_DELETE});
    EXPECT_EQ(model.calls[0].window, launcherWindow);
    EXPECT_EQ(model.calls[0].id, ICON_ID);
    EXPECT_TRUE(HiddenClassWindows().empty());
}

} // namespace
