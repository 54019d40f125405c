// Resource and command ids of quickdock: the one list that both the resource
// script (launcher/quickdock.rc, read by windres) and the C++ code include.
// Plain #defines only, so that the resource compiler can read it too.
#ifndef QUICKDOCK_RESOURCE_H
#define QUICKDOCK_RESOURCE_H

// ---- Strings ---------------------------------------------------------------
// The class and title of the main window are what a second copy passes to
// FindWindowA to find the running copy; changing either breaks single-instance.
#define IDS_APP_TITLE 103    // "Quillon for Oracle"
#define IDS_WINDOW_CLASS 109 // "QUILLON_SYSTRAY"

// ---- Icons -----------------------------------------------------------------
// 100-119 are also the animation frames played on re-activation, in id order.
// There are no icons 120, 121 and 123.
#define IDI_PROGRAM 100 // program icon, first animation frame
#define IDI_SESSION_WATCH 101
#define IDI_CHANGE_TRACKER 102
#define IDI_LOAD_TESTER 103
#define IDI_FRAME_SPARK 104 // animation frame only
#define IDI_QUERY_ADVISOR 105
#define IDI_KEY_ADVISOR 106
#define IDI_REDO_READER 107
#define IDI_STATISTICS_ARCHIVE 108
#define IDI_SCHEMA_COMPARE 109
#define IDI_SCRIPT_WRITER 110
#define IDI_FRAME_RING 111 // animation frame only
#define IDI_HOME_BOARD 112 // also the tray icon and the small class icon
#define IDI_CLASS_WORKBENCH 113
#define IDI_EVENT_NOTIFIER 114
#define IDI_ARCHIVE_PACKER 115
#define IDI_STATEMENT_TIMER 116
#define IDI_FRAME_DISC 117 // animation frame only
#define IDI_MODULE_INSPECTOR 118
#define IDI_TASK_SCHEDULER 119
#define IDI_FLAT_FILE_IMPORTER 122
#define IDI_BLOB_BROWSER 124
#define IDI_STORAGE_PLANNER 125
#define IDI_DATA_MOVER 126
#define IDI_SAMPLE_ROW_MAKER 127
#define IDI_RESOURCE_RANKER 128
#define IDI_PRIVILEGE_REVIEW 129
#define IDI_FIX_INSTALLER 130

#define IDI_TRAY IDI_HOME_BOARD
#define IDI_ANIMATION_FIRST 100
#define IDI_ANIMATION_LAST 119

// ---- Popup menu ------------------------------------------------------------
// Menu 300 is also the id of the tray icon: the icon id names its own menu.
#define IDR_TRAY_MENU 300

// Tool commands. The ids are not contiguous: 40010-40020 and 40032 are unused
// and must stay unassigned (they go to default processing).
#define IDM_HOME_BOARD 40008
#define IDM_SESSION_WATCH 32773
#define IDM_SCHEMA_COMPARE 40001
#define IDM_KEY_ADVISOR 40002
#define IDM_QUERY_ADVISOR 40003
#define IDM_STORAGE_PLANNER 40029
#define IDM_RESOURCE_RANKER 40031
#define IDM_PRIVILEGE_REVIEW 40034
#define IDM_STATISTICS_ARCHIVE 40009
#define IDM_REDO_READER 40004
#define IDM_EVENT_NOTIFIER 40022
#define IDM_CHANGE_TRACKER 40006
#define IDM_FIX_INSTALLER 40035
#define IDM_TASK_SCHEDULER 40023
#define IDM_MODULE_INSPECTOR 40026
#define IDM_SCRIPT_WRITER 40007
#define IDM_STATEMENT_TIMER 40024
#define IDM_CLASS_WORKBENCH 40025
#define IDM_LOAD_TESTER 40005
#define IDM_ARCHIVE_PACKER 40021
#define IDM_DATA_MOVER 40030
#define IDM_FLAT_FILE_IMPORTER 40027
#define IDM_BLOB_BROWSER 40028
#define IDM_SAMPLE_ROW_MAKER 40033

// Commands that do not start a tool.
#define IDM_ABOUT 104
#define IDM_QUIT 105

// ---- About box -------------------------------------------------------------
#define IDD_ABOUT 103
#define IDC_ABOUT_ICON 100
#define IDC_ABOUT_LINK 1002
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// The maker's home page: the link's text in the template and the address the
// dialog procedure sets and the link opens.
#define QUILLON_HOME_URL "https://quillon-tools.com/"

// ---- Cursor ----------------------------------------------------------------
#define IDCUR_LINK_HAND 400 // pointing hand, hot spot at the index fingertip

// ---- Version information ---------------------------------------------------
#define QUICKDOCK_FILE_VERSION 2, 0, 0, 28
#define QUICKDOCK_FILE_VERSION_TEXT "2.0.0.28"
#define QUICKDOCK_PRODUCT_VERSION 6, 1, 0, 3
#define QUICKDOCK_PRODUCT_VERSION_TEXT "6.1.0.3"

#endif
