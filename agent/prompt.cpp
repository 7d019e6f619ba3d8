// Passwords for shares on other nodes (prompt.h).
#include "prompt.h"
#include "agentlink.h"
#include "agentres.h"
#include "netdde_wire.h"

const int MaxRemembered = 64;

struct RememberedEntry {
    char node[MaxNodeNameLength + 1];
    char share[ShareNameSize];
    char password[MaxPasswordLength + 1];
};

static RememberedEntry remembered[MaxRemembered];
static int rememberedCount;

static RememberedEntry *findRemembered(const char *node, const char *share)
{
    for (int i = 0; i < rememberedCount; i++)
        if (isSameNodeName(remembered[i].node, node) && isSameDdeName(remembered[i].share, share))
            return &remembered[i];
    return 0;
}

const char *RememberedPassword(const char *node, const char *share)
{
    RememberedEntry *entry = findRemembered(node, share);
    return entry ? entry->password : 0;
}

void RememberPassword(const char *node, const char *share, const char *password)
{
    RememberedEntry *entry = findRemembered(node, share);
    if (!entry && rememberedCount == MaxRemembered)
        return;
    if (!entry)
        entry = &remembered[rememberedCount++];
    lstrcpynA(entry->node, node, sizeof entry->node);
    lstrcpynA(entry->share, share, sizeof entry->share);
    lstrcpynA(entry->password, password, sizeof entry->password);
}

// ---- The dialog ------------------------------------------------------------

struct PasswordQuestion {
    const char *node, *share;
    char *password;
};

static INT_PTR CALLBACK passwordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongA(dialog, DWL_USER, lParam);
        const PasswordQuestion *question = (const PasswordQuestion *)lParam;
        char format[128], text[256];
        LoadStringA(GetModuleHandleA(0), IDS_PASSWORD_PROMPT, format, sizeof format);
        wsprintfA(text, format, question->share, question->node);
        SetDlgItemTextA(dialog, IDC_PASSWORD_PROMPT, text);
        SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_LIMITTEXT, MaxPasswordLength, 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            PasswordQuestion *question = (PasswordQuestion *)GetWindowLongA(dialog, DWL_USER);
            GetDlgItemTextA(dialog, IDC_PASSWORD, question->password, MaxPasswordLength + 1);
            EndDialog(dialog, IDOK);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    }
    return FALSE;
}

bool AskPassword(HWND owner, const char *node, const char *share,
                 char password[MaxPasswordLength + 1])
{
    password[0] = 0;
    PasswordQuestion question = {node, share, password};
    if (DialogBoxParamA(GetModuleHandleA(0), MAKEINTRESOURCEA(IDD_PASSWORD), owner,
                        passwordDialogProc, (LPARAM)&question) != IDOK)
        return false;
    CharUpperBuffA(password, lstrlenA(password));
    return true;
}
