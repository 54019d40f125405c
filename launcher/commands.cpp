#include "launcher/commands.h"

#include "launcher/about.h"
#include "launcher/launcher.h"
#include "launcher/resource.h"
#include "tray/platform_calls.h"

// clang-format off
const ToolCommand TOOL_COMMANDS[TOOL_COMMAND_COUNT] = {
    {IDM_HOME_BOARD,         "/HOME",     IDI_HOME_BOARD},
    {IDM_SESSION_WATCH,      "/WATCH",    IDI_SESSION_WATCH},
    {IDM_SCHEMA_COMPARE,     "/COMPARE",  IDI_SCHEMA_COMPARE},
    {IDM_KEY_ADVISOR,        "/KEYS",     IDI_KEY_ADVISOR},
    {IDM_QUERY_ADVISOR,      "/ADVISE",   IDI_QUERY_ADVISOR},
    {IDM_STORAGE_PLANNER,    "/STORAGE",  IDI_STORAGE_PLANNER},
    {IDM_RESOURCE_RANKER,    "/RANK",     IDI_RESOURCE_RANKER},
    {IDM_PRIVILEGE_REVIEW,   "/PRIVS",    IDI_PRIVILEGE_REVIEW},
    {IDM_STATISTICS_ARCHIVE, "/STATS",    IDI_STATISTICS_ARCHIVE},
    {IDM_REDO_READER,        "/REDO",     IDI_REDO_READER},
    {IDM_EVENT_NOTIFIER,     "/NOTIFY",   IDI_EVENT_NOTIFIER},
    {IDM_CHANGE_TRACKER,     "/TRACK",    IDI_CHANGE_TRACKER},
    {IDM_FIX_INSTALLER,      "/FIXES",    IDI_FIX_INSTALLER},
    {IDM_TASK_SCHEDULER,     "/TASKS",    IDI_TASK_SCHEDULER},
    {IDM_MODULE_INSPECTOR,   "/MODULES",  IDI_MODULE_INSPECTOR},
    {IDM_SCRIPT_WRITER,      "/SCRIPT",   IDI_SCRIPT_WRITER},
    {IDM_STATEMENT_TIMER,    "/TIMER",    IDI_STATEMENT_TIMER},
    {IDM_CLASS_WORKBENCH,    "/CLASSES",  IDI_CLASS_WORKBENCH},
    {IDM_LOAD_TESTER,        "/STRESS",   IDI_LOAD_TESTER},
    {IDM_ARCHIVE_PACKER,     "/PACK",     IDI_ARCHIVE_PACKER},
    {IDM_DATA_MOVER,         "/MOVE",     IDI_DATA_MOVER},
    {IDM_FLAT_FILE_IMPORTER, "/IMPORT",   IDI_FLAT_FILE_IMPORTER},
    {IDM_BLOB_BROWSER,       "/BLOB",     IDI_BLOB_BROWSER},
    {IDM_SAMPLE_ROW_MAKER,   "/SAMPLES",  IDI_SAMPLE_ROW_MAKER},
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

UINT ToolIconForCommand(UINT commandId) {
    const ToolCommand* tool = FindToolCommand(commandId);
    return tool != nullptr ? tool->iconId : 0;
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
