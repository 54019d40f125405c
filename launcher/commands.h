// WM_COMMAND handling of the launcher's main window: the tool table, About,
// Quit and the re-activation command of a second copy.
#ifndef LAUNCHER_COMMANDS_H
#define LAUNCHER_COMMANDS_H

#include <windows.h>

#include <cstddef>

// One tool of the suite: the menu command that chooses it, the switch that
// quillon.exe receives as its whole parameter string, and the icon the menu
// shows beside it.
struct ToolCommand {
    WORD commandId;         // menu command id (resource.h, IDM_*)
    const char* toolSwitch; // for example "/WATCH"; static text
    WORD iconId;            // icon resource (resource.h, IDI_*)
};

// The tool rows, keyed by command id (in menu order, but looked up by id: the
// ids are not contiguous). The one list of the tools: the command handler
// reads the switches, the tray's menu the icons (through ToolIconForCommand).
constexpr std::size_t TOOL_COMMAND_COUNT = 24;
extern const ToolCommand TOOL_COMMANDS[TOOL_COMMAND_COUNT];

// Program that every tool command starts: a bare name, so the shell's usual
// search for a program applies.
extern const char QUILLON_PROGRAM[];

// The row of a tool command id, or null when the id starts no tool.
const ToolCommand* FindToolCommand(UINT commandId);

// The icon of a tool command id, 0 for any other id (About and Quit have
// none). The launcher hands it to the tray icon as its CommandIconLookup.
UINT ToolIconForCommand(UINT commandId);

// Carries out the command in the low word of wParam (the high word and lParam
// are not looked at) and returns 0; an id that is not a command goes to
// DefWindowProcA(window, WM_COMMAND, wParam, lParam), whose result is returned.
LRESULT HandleCommand(HWND window, WPARAM wParam, LPARAM lParam);

#endif
