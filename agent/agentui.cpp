// Helpers every part of the agent's window shares (agentui.h).
#include "agentui.h"
#include <commctrl.h>
#include <stdarg.h>

HINSTANCE AgentInstance;

void LoadText(UINT id, char *text, int size)
{
    text[0] = 0;
    LoadStringA(AgentInstance, id, text, size);
}

static int showFormatted(HWND owner, UINT formatId, UINT style, va_list arguments)
{
    char format[512], text[1025];
    LoadText(formatId, format, sizeof format);
    wvsprintfA(text, format, arguments);
    return MessageBoxA(owner, text, AgentWindowTitle, style);
}

void ShowNotice(HWND owner, UINT formatId, ...)
{
    va_list arguments;
    va_start(arguments, formatId);
    showFormatted(owner, formatId, MB_OK | MB_ICONEXCLAMATION, arguments);
    va_end(arguments);
}

bool AskQuestion(HWND owner, UINT formatId, ...)
{
    va_list arguments;
    va_start(arguments, formatId);
    int answer = showFormatted(owner, formatId, MB_YESNO | MB_ICONQUESTION, arguments);
    va_end(arguments);
    return answer == IDYES;
}

bool CopyToClipboard(HWND owner, const char *text)
{
    int size = lstrlenA(text) + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
    if (!block)
        return false;
    void *data = GlobalLock(block);
    if (data)
        memcpy(data, text, size);
    GlobalUnlock(block);
    bool copied = data && OpenClipboard(owner);
    if (copied) {
        EmptyClipboard();
        copied = SetClipboardData(CF_TEXT, block) != 0;
        CloseClipboard();
    }
    if (!copied)
        GlobalFree(block);
    return copied;
}

void OwnFingerprintText(char *text)
{
    FormatFingerprint(OwnFingerprint(), text);
}

bool IsShownSession(const Session *session)
{
    return !session->endReason && (!session->incoming || session->state == SessionReady);
}

void AddListRow(HWND list, const char *cells)
{
    char text[1024];
    lstrcpynA(text, cells, sizeof text);
    LVITEMA item;
    ZeroMemory(&item, sizeof item);
    item.mask = LVIF_TEXT;
    item.iItem = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    char *cell = text;
    for (int column = 0; cell; column++) {
        char *next = cell;
        while (*next && *next != '\t')
            next++;
        char *following = *next ? next + 1 : 0;
        *next = 0;
        item.iSubItem = column;
        item.pszText = cell;
        if (column == 0)
            item.iItem = (int)SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
        else
            SendMessageA(list, LVM_SETITEMTEXTA, item.iItem, (LPARAM)&item);
        cell = following;
    }
}

void FitListColumns(HWND list)
{
    const int TitleMargin = 16;         // the header's padding around a title
    HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
    int columns = header ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 0;
    for (int i = 0; i < columns; i++) {
        char title[64] = "";
        LVCOLUMNA column;
        ZeroMemory(&column, sizeof column);
        column.mask = LVCF_TEXT;
        column.pszText = title;
        column.cchTextMax = sizeof title;
        SendMessageA(list, LVM_GETCOLUMNA, i, (LPARAM)&column);
        int titleWidth = (int)SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, (LPARAM)title) + TitleMargin;
        SendMessageA(list, LVM_SETCOLUMNWIDTH, i, LVSCW_AUTOSIZE);
        if (SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0) < titleWidth)
            SendMessageA(list, LVM_SETCOLUMNWIDTH, i, titleWidth);
    }
}
