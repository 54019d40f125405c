#include "launcher/commands.h"

#include "launcher/about.h"
#include "launcher/launcher.h"
#include "launcher/resource.h"
#include "tray/platform_calls.h"

// clang-format off
const ToolCommand TOOL_COMMANDS[TOOL_COMMAND_COUNT] = {
    {IDM_HOME_BOARD,         "/HOME"},
    {IDM_SESSION_WATCH,      "/WATCH"},
    {IDM_SCHEMA_COMPARE,     "/COMPARE"},
    {IDM_KEY_ADVISOR,        "/KEYS"},
    {IDM_QUERY_ADVISOR,      "/ADVISE"},
    {IDM_STORAGE_PLANNER,    "/STORAGE"},
    {IDM_RESOURCE_RANKER,    "/RANK"},
    {IDM_PRIVILEGE_REVIEW,   "/PRIVS"},
    {IDM_STATISTICS_ARCHIVE, "/STATS"},
    {IDM_REDO_READER,        "/REDO"},
    {IDM_EVENT_NOTIFIER,     "/NOTIFY"},
    {IDM_CHANGE_TRACKER,     "/TRACK"},
    {IDM_FIX_INSTALLER,      "/FIXES"},
    {IDM_TASK_SCHEDULER,     "/TASKS"},
    {IDM_MODULE_INSPECTOR,   "/MODULES"},
    {IDM_SCRIPT_WRITER,      "/SCRIPT"},
    {IDM_STATEMENT_TIMER,    "/TIMER"},
    {IDM_CLASS_WORKBENCH,    "/CLASSES"},
    {IDM_LOAD_TESTER,        "/STRESS"},
    {IDM_ARCHIVE_PACKER,     "/PACK"},
    {IDM_DATA_MOVER,         "/MOVE"},
    {IDM_FLAT_FILE_IMPORTER, "/IMPORT"},
    {IDM_BLOB_BROWSER,       "/BLOB"},
    {IDM_SAMPLE_ROW_MAKER,   "/SAMPLES"},
};
// clang-format on

const char QUILLON_PROGRAM[] = "quillon.exe";

// Frames and timing of the answer to a second start: icons 100..119, one frame
// every 300 ms, for 5 seconds.
constexpr UINT REACTIVATE_FRAME_MS = 300;
constexpr int32_t REACTIVATE_SECONDS = 5;

const ToolCommand* FindToolCommand(UINT commandId) {
    for (const ToolCommand& row : TOOL_COMMANDS) {
        if (row.commandId == commandId) return &row;
    }
    return nullptr;
}

LRESULT HandleCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    const UINT command = LOWORD(wParam);

    // The launch result is not examined: a missing or refused quillon.exe
    // shows nothing, and the launched process is neither awaited nor tracked.
    if (const ToolCommand* tool = FindToolCommand(command)) {
        platformCalls.ShellExecuteA(nullptr, "open", QUILLON_PROGRAM, tool->toolSwitch, nullptr,
                                    SW_SHOW);
        return 0;
    }

    switch (command) {
    case IDM_ABOUT:
        // Modal: returns when the box closes; this window's messages are served
        // by the dialog's own loop meanwhile.
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialogProc, 0);
        return 0;
    case IDM_QUIT:
        DestroyWindow(window);
        return 0;
    case CMD_REACTIVATE:
        trayIcon.LoadAnimationIcons(IDI_ANIMATION_FIRST, IDI_ANIMATION_LAST);
        trayIcon.BeginAnimation(REACTIVATE_FRAME_MS, REACTIVATE_SECONDS);
        return 0;
    default:
        return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
    }
}
