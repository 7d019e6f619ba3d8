// Resource ids of nddeagent.exe.
#ifndef AGENTRES_H
#define AGENTRES_H

// Dialogs
#define IDD_PASSWORD            100

// Controls of the password dialog
#define IDC_PASSWORD_PROMPT     1001
#define IDC_PASSWORD            1002

// Strings
#define IDS_PASSWORD_PROMPT     2001

#endif
