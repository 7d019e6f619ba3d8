// The node dialog (agentui.h): a node's name, where it listens, a
// fingerprint to pin ahead of first contact, its grace period and
// FastAdvise. The name is checked as it is typed; OK checks every field and
// names the first that is not sound, leaving the dialog open on it.
#include "agentui.h"
#include <stdlib.h>

const int MaxPortTextLength = 5;

static void setUpDialog(HWND dialog, const NodeSettings *settings, bool adding)
{
    char caption[64];
    LoadText(adding ? IDS_ADD_NODE_CAPTION : IDS_EDIT_NODE_CAPTION, caption, sizeof caption);
    SetWindowTextA(dialog, caption);
    SendDlgItemMessageA(dialog, IDC_NODE_NAME, EM_LIMITTEXT, MaxNodeNameLength, 0);
    SendDlgItemMessageA(dialog, IDC_NODE_HOST, EM_LIMITTEXT, MaxNodeAddressLength - 6, 0);
    SendDlgItemMessageA(dialog, IDC_NODE_PORT, EM_LIMITTEXT, MaxPortTextLength, 0);
    SendDlgItemMessageA(dialog, IDC_NODE_FINGERPRINT, EM_LIMITTEXT, FingerprintTextSize - 1, 0);
    SetDlgItemTextA(dialog, IDC_NODE_NAME, settings->name);
    SendDlgItemMessageA(dialog, IDC_NODE_NAME, EM_SETREADONLY, !adding, 0);
    SetDlgItemTextA(dialog, IDC_NODE_HOST, settings->host);
    SetDlgItemInt(dialog, IDC_NODE_PORT, settings->port, FALSE);
    SetDlgItemTextA(dialog, IDC_NODE_FINGERPRINT, settings->fingerprint);
    SetDlgItemInt(dialog, IDC_NODE_GRACE, settings->gracePeriod, FALSE);
    CheckDlgButton(dialog, IDC_NODE_FAST_ADVISE, settings->fastAdvise ? BST_CHECKED : BST_UNCHECKED);
    SetFocus(GetDlgItem(dialog, adding ? IDC_NODE_NAME : IDC_NODE_HOST));
}

// Below the name: the rule while the name keeps it, what is wrong otherwise.
static void checkNameAsTyped(HWND dialog)
{
    char name[MaxNodeNameLength + 1], text[256];
    GetDlgItemTextA(dialog, IDC_NODE_NAME, name, sizeof name);
    if (!name[0] || IsValidNodeName(name)) {
        LoadText(IDS_NODE_NAME_RULE, text, sizeof text);
    } else {
        char format[256];
        LoadText(IDS_BAD_NODE_NAME, format, sizeof format);
        wsprintfA(text, format, name);
    }
    SetDlgItemTextA(dialog, IDC_NODE_NAME_RULE, text);
}

// Shows what is wrong with field `controlId`, and puts the user back in it.
static bool refuseField(HWND dialog, int controlId, UINT formatId, const char *value)
{
    ShowNotice(dialog, formatId, value);
    HWND field = GetDlgItem(dialog, controlId);
    SetFocus(field);
    SendMessageA(field, EM_SETSEL, 0, -1);
    return false;
}

static bool isSoundHost(const char *host)
{
    if (!host[0])
        return false;
    for (const char *c = host; *c; c++)
        if (*c == ':' || *c == ' ' || *c == '\\')
            return false;
    return true;
}

// Reads every field into `settings`; false (with the reason shown) for the
// first that is not sound.
static bool readFields(HWND dialog, NodeSettings *settings)
{
    char name[MaxNodeNameLength + 1], port[MaxPortTextLength + 1], grace[16];
    GetDlgItemTextA(dialog, IDC_NODE_NAME, name, sizeof name);
    if (!IsValidNodeName(name))
        return refuseField(dialog, IDC_NODE_NAME, IDS_BAD_NODE_NAME, name);
    CopyNodeName(settings->name, name);
    GetDlgItemTextA(dialog, IDC_NODE_HOST, settings->host, sizeof settings->host);
    if (!isSoundHost(settings->host))
        return refuseField(dialog, IDC_NODE_HOST, IDS_BAD_HOST, settings->host);
    GetDlgItemTextA(dialog, IDC_NODE_PORT, port, sizeof port);
    char *end;
    unsigned long portNumber = strtoul(port, &end, 10);
    if (!port[0] || *end || portNumber < 1 || portNumber > 65535)
        return refuseField(dialog, IDC_NODE_PORT, IDS_BAD_PORT, port);
    settings->port = (unsigned short)portNumber;
    GetDlgItemTextA(dialog, IDC_NODE_FINGERPRINT, settings->fingerprint,
                    sizeof settings->fingerprint);
    BYTE fingerprint[FingerprintLength];
    if (settings->fingerprint[0]) {
        if (!ParseFingerprint(settings->fingerprint, fingerprint))
            return refuseField(dialog, IDC_NODE_FINGERPRINT, IDS_BAD_FINGERPRINT,
                               settings->fingerprint);
        FormatFingerprint(fingerprint, settings->fingerprint);
    }
    GetDlgItemTextA(dialog, IDC_NODE_GRACE, grace, sizeof grace);
    unsigned long seconds = strtoul(grace, &end, 10);
    if (!grace[0] || *end || seconds > MaxGracePeriod)
        return refuseField(dialog, IDC_NODE_GRACE, IDS_BAD_GRACE, grace);
    settings->gracePeriod = seconds;
    settings->fastAdvise = IsDlgButtonChecked(dialog, IDC_NODE_FAST_ADVISE) == BST_CHECKED;
    return true;
}

static INT_PTR CALLBACK nodeDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    NodeSettings *settings = (NodeSettings *)GetWindowLongPtrA(dialog, DWLP_USER);
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        settings = (NodeSettings *)lParam;
        // The name is editable only while adding: its caption says which.
        setUpDialog(dialog, settings, settings->name[0] == 0);
        checkNameAsTyped(dialog);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_NODE_NAME:
            if (HIWORD(wParam) == EN_CHANGE)
                checkNameAsTyped(dialog);
            return TRUE;
        case IDOK:
            if (readFields(dialog, settings))
                EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

bool RunNodeDialog(HWND owner, NodeSettings *settings, bool adding)
{
    NodeSettings edited = *settings;
    if (adding)
        edited.name[0] = 0;
    if (DialogBoxParamA(AgentInstance, MAKEINTRESOURCEA(IDD_NODE), owner, nodeDialog,
                        (LPARAM)&edited) != IDOK)
        return false;
    *settings = edited;
    return true;
}
