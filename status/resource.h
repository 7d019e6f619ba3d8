// Resource ids of quorvstat: shared by the resource script and the sources.
// Plain #defines only, so that windres can read this file too.
#ifndef QUORVSTAT_RESOURCE_H
#define QUORVSTAT_RESOURCE_H

// Menu, accelerator table, icon and banner bitmap: one of each, all id 1.
#define IDR_MAIN_MENU 1
#define IDR_ACCELERATORS 1
#define IDI_PROGRAM 1
#define IDB_BANNER 1

// Dialog templates.
#define IDD_MAIN_WINDOW 1
#define IDD_SHARE_LIST 10
#define IDD_SHARE_EDITOR 11
#define IDD_ITEM_EDITOR 12
#define IDD_SESSION_LIST 13
#define IDD_CONNECTION_LIST 14
#define IDD_TASK_LIST 15
#define IDD_TASK_PROPERTIES 16
#define IDD_ABOUT 20
#define IDD_SELECT_COMPUTER 21

// Menu commands of the main window (also the accelerator's command).
#define IDM_LIST_SHARES 10
#define IDM_LIST_SESSIONS 11
#define IDM_SHOW_NAME 12
#define IDM_LIST_TASKS 13
#define IDM_CHECK_NETDDE 14
#define IDM_EXIT 15
#define IDM_SELECT_COMPUTER 16
#define IDM_HELP_CONTENTS 20
#define IDM_HELP_ON_HELP 21
#define IDM_ABOUT 22

// Controls. Labels and group boxes have no id of their own.
#define IDC_STATIC (-1)

// Main window: the hidden static that carries the running command's title.
#define IDC_TITLE_SLOT 100

// Share list (dialog 10); the share editor reuses the three buttons for its
// additional items.
#define IDC_SHARE_LIST 110
#define IDC_ADD_BUTTON 111
#define IDC_EDIT_BUTTON 112
#define IDC_DELETE_BUTTON 113

// Share editor (dialog 11).
#define IDC_SHARE_NAME 120
#define IDC_APPLICATION 121
#define IDC_TOPIC 122
#define IDC_FIRST_ITEM 123
#define IDC_ADDITIONAL_ITEMS 124
#define IDC_PASSWORD1 125
#define IDC_PASSWORD2 126
// Permission check boxes: access #1 and #2 alternate, so the box of access
// group g (0 or 1) for permission bit number b is IDC_ACCESS1_REQUEST + 2*b + g.
#define IDC_ACCESS1_REQUEST 127
#define IDC_ACCESS2_REQUEST 128
#define IDC_ACCESS1_ADVISE 129
#define IDC_ACCESS2_ADVISE 130
#define IDC_ACCESS1_POKE 131
#define IDC_ACCESS2_POKE 132
#define IDC_ACCESS1_EXECUTE 133
#define IDC_ACCESS2_EXECUTE 134
#define IDC_ACCESS1_START_APP 135
#define IDC_ACCESS2_START_APP 136

// Item editor (dialog 12): the name field shares its id with the share
// editor's first item.
#define IDC_ITEM_NAME 123
#define IDC_INSERT_BEFORE 140
// Item permission check boxes: bit number b has id IDC_ITEM_REQUEST + b.
#define IDC_ITEM_REQUEST 141
#define IDC_ITEM_ADVISE 142
#define IDC_ITEM_POKE 143

// Session list (dialog 13).
#define IDC_SESSION_LIST 150
#define IDC_CLIENTS_BUTTON 1
#define IDC_CLOSE_SESSION_BUTTON 3

// Connection list (dialog 14).
#define IDC_CONNECTION_LIST 160

// Task list (dialog 15).
#define IDC_TASK_LIST 170
#define IDC_PROPERTIES_BUTTON 1

// Task properties (dialog 16).
#define IDC_TASK_RUNNING 180
#define IDC_WINDOW_HANDLE 181
#define IDC_WINDOW_CLASS 182
#define IDC_WINDOW_TITLE 183

// Select Computer (dialog 21).
#define IDC_COMPUTER_NAME 190

// String table.
#define IDS_CLASS_NAME 1            // "Quorvane": window class and banner text
#define IDS_BUTTON_CLASS 2          // "button"
#define IDS_HELP_FILE 3             // "quorvhelp.hlp"
#define IDS_HELP_ON_HELP_FILE 4     // "winhelp.hlp"
#define IDS_BANNER_FONT 5           // "Britannic Bold"
#define IDS_END_OF_LIST 6           // "(end of list)"
#define IDS_WINDOW_HANDLE_FORMAT 7  // "%#08lx"
#define IDS_TASK_GONE 8             // "%s is no longer running !"
#define IDS_SESSION_TITLE 9         // "Session %s"
#define IDS_CLOSE_SESSION_QUESTION 10 // "Close session '%s' ?"
#define IDS_DELETE_SHARE_QUESTION 11  // "Delete share '%s' ?"
#define IDS_ITEM_EXISTS 12          // "Item '%s' already exists !"
#define IDS_DELETE_ITEM_QUESTION 13 // "Delete item '%s' ?"
#define IDS_ITEM_BEFORE_ITSELF 14   // "Cannot insert item before itself !"
#define IDS_NODE_NAME 15            // "My node name is '%s'."
#define IDS_API_ERROR 16            // "NDDEAPI.DLL reports error #%u.\r\n%s."
#define IDS_NAME_SHARE 17           // "Share name"
#define IDS_NAME_TOPIC 18           // "Topic"
#define IDS_NAME_PASSWORD1 19       // "Password #1"
#define IDS_NAME_PASSWORD2 20       // "Password #2"
#define IDS_INVALID_VALUE 21        // " '%s' is invalid !"
// The text of an error code the library cannot name.
#define IDS_NO_ERROR_TEXT 22
// The main window's caption while it manages another computer, and the
// notice for a name that is no computer's.
#define IDS_COMPUTER_CAPTION 23     // "32-bit Network DDE Status - %s"
#define IDS_INVALID_COMPUTER 24     // "Computer name '%s' is invalid !"

#endif
