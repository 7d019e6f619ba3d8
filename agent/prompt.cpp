// Passwords for shares on other nodes (prompt.h).
#include "prompt.h"
#include "agentlink.h"
#include "agentres.h"
#include "netdde_wire.h"
#include "agentwindow.h"

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

void ForgetPassword(const char *node, const char *share)
{
    RememberedEntry *entry = findRemembered(node, share);
    if (!entry)
        return;
    SecureZeroMemory(entry->password, sizeof entry->password);
    *entry = remembered[--rememberedCount];
}

// ---- The dialog ------------------------------------------------------------

struct PasswordQuestion {
    const char *prompt;
    const char *caption;        // null: the dialog's own
    char *password;
};

static INT_PTR CALLBACK passwordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongA(dialog, DWL_USER, lParam);
        const PasswordQuestion *question = (const PasswordQuestion *)lParam;
        SetDlgItemTextA(dialog, IDC_PASSWORD_PROMPT, question->prompt);
        if (question->caption)
            SetWindowTextA(dialog, question->caption);
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

// Asks with prompt `promptId` and caption `captionId` (0: the dialog's),
// both filled with `first` and `second`; the answer upper-cased.
static bool askWithDialog(HWND owner, UINT promptId, UINT captionId, const char *first,
                          const char *second, char password[MaxPasswordLength + 1])
{
    char format[128], prompt[256], caption[128];
    LoadStringA(GetModuleHandleA(0), promptId, format, sizeof format);
    wsprintfA(prompt, format, first, second);
    if (captionId) {
        LoadStringA(GetModuleHandleA(0), captionId, format, sizeof format);
        wsprintfA(caption, format, first, second);
    }
    password[0] = 0;
    PasswordQuestion question = {prompt, captionId ? caption : 0, password};
    if (DialogBoxParamA(GetModuleHandleA(0), MAKEINTRESOURCEA(IDD_PASSWORD), owner,
                        passwordDialogProc, (LPARAM)&question) != IDOK)
        return false;
    CharUpperBuffA(password, lstrlenA(password));
    return true;
}

bool AskPassword(HWND owner, const char *node, const char *share,
                 char password[MaxPasswordLength + 1])
{
    return askWithDialog(owner, IDS_PASSWORD_PROMPT, 0, share, node, password);
}

bool AskAdministrationPassword(HWND owner, const char *node, char password[MaxPasswordLength + 1])
{
    return askWithDialog(owner, IDS_ADMIN_PASSWORD_PROMPT, IDS_ADMIN_PASSWORD_CAPTION, node, "",
                         password);
}

bool AskNewAdministrationPassword(HWND owner, char password[MaxPasswordLength + 1])
{
    return askWithDialog(owner, IDS_NEW_ADMIN_PASSWORD_PROMPT, IDS_NEW_ADMIN_PASSWORD_CAPTION,
                         OwnNodeName, "", password);
}
