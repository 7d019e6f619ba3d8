// The computer the program manages (dialog 21, Select Computer, and
// /computer:NODE on the command line): this machine, or another node whose
// agent takes remote administration. Every library call that takes a server
// is given managedServer(), and the main window's caption names a node that
// is not this machine.
#include "quorvstat.h"
#include "agentlink.h"

// "\\NODE" while another node is managed, else empty.
static char managedServerName[2 + MaxNodeNameLength + 1];

LPSTR managedServer()
{
    return managedServerName[0] ? managedServerName : NULL;
}

// The main window's caption: the template's own for this machine (read
// before the first change), string 23 with the node otherwise.
static void showManagedComputer()
{
    static char localCaption[TitleBufferSize * 2];
    if (!localCaption[0])
        GetWindowTextA(mainWindow, localCaption, sizeof localCaption);
    char caption[FormattedTextSize];
    if (managedServer())
        formatResourceString(caption, IDS_COMPUTER_CAPTION, managedServerName);
    else
        lstrcpyA(caption, localCaption);
    SetWindowTextA(mainWindow, caption);
}

// The node a typed name names: leading backslashes are the user's way of
// writing a server ("\\NODE") and are dropped.
static LPCSTR nodeOfTypedName(LPCSTR name)
{
    if (name[0] == '\\' && name[1] == '\\')
        return name + 2;
    return name;
}

BOOL selectComputer(LPCSTR name)
{
    LPCSTR node = nodeOfTypedName(name);
    if (!IsValidNodeName(node))
        return FALSE;
    char ownName[MaxNodeNameLength + 1] = "";
    UINT code = NDdeGetNodeName(ownName, sizeof ownName);
    ownName[MaxNodeNameLength] = '\0';
    if (code == NDDE_NO_ERROR && isSameNodeName(node, ownName)) {
        managedServerName[0] = '\0';
    } else {
        lstrcpyA(managedServerName, "\\\\");
        lstrcatA(managedServerName, node);
    }
    showManagedComputer();
    return TRUE;
}

void selectComputerFromCommandLine(LPCSTR commandLine)
{
    const char option[] = "/computer:";
    const int optionLength = sizeof option - 1;
    while (*commandLine == ' ')
        commandLine++;
    if (!startsWith(commandLine, option))
        return;
    // Room for "\\", a node name and one character more, so that a name too
    // long is refused rather than cut to another node's name.
    char name[2 + MaxNodeNameLength + 2];
    lstrcpynA(name, commandLine + optionLength, sizeof name);
    // The name ends at the first blank.
    for (char *end = name; *end; end++)
        if (*end == ' ') {
            *end = '\0';
            break;
        }
    if (!selectComputer(name))
        showDialogNotice(mainWindow, IDS_INVALID_COMPUTER, name);
}

// ---- Select Computer ---------------------------------------------------------------

static void fillComputerName(HWND dialog)
{
    char ownName[MaxNodeNameLength + 1] = "";
    LPCSTR shown = managedServer();
    if (!shown && NDdeGetNodeName(ownName, sizeof ownName) == NDDE_NO_ERROR) {
        ownName[MaxNodeNameLength] = '\0';
        shown = ownName;
    }
    SendDlgItemMessageA(dialog, IDC_COMPUTER_NAME, EM_LIMITTEXT, 2 + MaxNodeNameLength, 0);
    SetDlgItemTextA(dialog, IDC_COMPUTER_NAME, shown ? shown : "");
}

// OK: a name that is no node's keeps the dialog open with a notice.
static void takeComputerName(HWND dialog)
{
    char name[2 + MaxNodeNameLength + 2] = "";
    GetDlgItemTextA(dialog, IDC_COMPUTER_NAME, name, sizeof name);
    if (!selectComputer(name)) {
        showDialogNotice(dialog, IDS_INVALID_COMPUTER, name);
        SetFocus(GetDlgItem(dialog, IDC_COMPUTER_NAME));
        return;
    }
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK selectComputerDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        captionFromTitle(dialog);
        fillComputerName(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: takeComputerName(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}
