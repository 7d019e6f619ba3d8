// Resource ids of nddeagent.exe.
#ifndef AGENTRES_H
#define AGENTRES_H

// Icons: the program's, and the notification icon's three states
#define IDI_AGENT               10
#define IDI_AGENT_IDLE          10
#define IDI_AGENT_CARRYING      11
#define IDI_AGENT_ATTENTION     12

// Menus
#define IDR_AGENT_MENU          20
#define IDR_NOTIFY_MENU         21

// Dialogs
#define IDD_PASSWORD            100
#define IDD_NODE                101

// Controls of the password dialog
#define IDC_PASSWORD_PROMPT     1001
#define IDC_PASSWORD            1002

// Controls of the node dialog
#define IDC_NODE_NAME           1101
#define IDC_NODE_NAME_RULE      1102
#define IDC_NODE_HOST           1103
#define IDC_NODE_PORT           1104
#define IDC_NODE_FINGERPRINT    1105
#define IDC_NODE_GRACE          1106
#define IDC_NODE_FAST_ADVISE    1107

// Menu commands (the window's buttons carry the same ids)
#define IDM_OPEN                200
#define IDM_COPY_FINGERPRINT    201
#define IDM_EXIT                202
#define IDM_ADD_NODE            203
#define IDM_EDIT_NODE           204
#define IDM_REMOVE_NODE         205
#define IDM_FORGET_KEY          206
#define IDM_COPY_PAGE           207
#define IDM_HELP_CONTENTS       208
// The This node page's check box and button for remote administration
#define IDM_ALLOW_ADMINISTRATION 209
#define IDM_ADMINISTRATION_PASSWORD 210

// Strings
#define IDS_PASSWORD_PROMPT     2001
#define IDS_TIP                 2002
#define IDS_EXIT_QUESTION       2003
#define IDS_REMOVE_QUESTION     2004
#define IDS_FORGET_QUESTION     2005
#define IDS_NO_PIN              2006
#define IDS_BAD_NODE_NAME       2007
#define IDS_BAD_HOST            2008
#define IDS_BAD_PORT            2009
#define IDS_BAD_FINGERPRINT     2010
#define IDS_BAD_GRACE           2011
#define IDS_NODE_EXISTS         2012
#define IDS_NOT_WRITTEN         2013
#define IDS_NODE_NAME_RULE      2014
#define IDS_HELP_FILE           2015
#define IDS_ADD_NODE_CAPTION    2016
#define IDS_EDIT_NODE_CAPTION   2017
#define IDS_PINNED_FIRST        2018
#define IDS_PINNED_SET          2019
#define IDS_NO_NODE_CHOSEN      2020
#define IDS_PAGE_TITLES         2021
#define IDS_SESSION_COLUMNS     2022
#define IDS_CONVERSATION_COLUMNS 2023
#define IDS_NODE_COLUMNS        2024
#define IDS_EVENT_COLUMNS       2025
#define IDS_THIS_NODE_COLUMNS   2026
#define IDS_NODE_BUTTONS        2027
#define IDS_COPY_BUTTON         2028
#define IDS_EVENT_KINDS         2029
#define IDS_THIS_NODE_LINES     2030
#define IDS_NOT_SEEN            2031
#define IDS_YES_NO              2032
#define IDS_ADMIN_PASSWORD_PROMPT 2033
#define IDS_ADMIN_PASSWORD_CAPTION 2034
#define IDS_NEW_ADMIN_PASSWORD_PROMPT 2035
#define IDS_NEW_ADMIN_PASSWORD_CAPTION 2036
#define IDS_THIS_NODE_BUTTONS   2037
#define IDS_ALLOW_ADMINISTRATION 2038
#define IDS_KEY_REFUSED         2039

#endif
