// quorvstat: the routines every dialog shares: the title slot, the wait
// cursor, default-button hand-over, list widths, caption modes, the list
// notifications, messages and error reports, and the growing buffers of the
// library's enumeration calls.
#include "quorvstat.h"

// The cursor that the wait cursor replaced; null outside a wait.
static HCURSOR savedCursor;

// The longest chain of codes reportApiError follows when the library cannot
// name a code.
const int MaxErrorChain = 4;
// Enumeration buffers: tries, and the largest block the program offers.
const int MaxEnumerationTries = 8;
const ULONGLONG MaxEnumerationBufferSize = 16 * 1024 * 1024;
// A dialog has far fewer controls than this; it bounds the tab-order walk.
const int MaxTabStops = 256;

static void loadText(UINT id, LPSTR text, int size)
{
    text[0] = '\0';
    LoadStringA(programInstance, id, text, size);
}

// ---- Title slot -----------------------------------------------------------------

void removeAmpersands(LPSTR text)
{
    LPSTR kept = text;
    for (LPCSTR scan = text; *scan; ++scan) {
        if (*scan != '&')
            *kept++ = *scan;
    }
    *kept = '\0';
}

void setTitleFromMenu(HWND window, UINT commandId)
{
    char title[TitleBufferSize] = "";
    HMENU menu = GetMenu(window);
    if (!IsMenu(menu))
        return;
    if (GetMenuStringA(menu, commandId, title, sizeof title, MF_BYCOMMAND) == 0 || title[0] == '\0')
        return;
    removeAmpersands(title);
    SetDlgItemTextA(window, IDC_TITLE_SLOT, title);
}

void setTitleFromControl(HWND window)
{
    char title[TitleBufferSize] = "";
    GetWindowTextA(window, title, sizeof title);
    removeAmpersands(title);
    setTitleText(title);
}

void setTitleText(LPCSTR text)
{
    SetDlgItemTextA(mainWindow, IDC_TITLE_SLOT, text);
}

void runNestedDialog(HWND dialog, int buttonId, int templateId, DLGPROC procedure)
{
    setTitleFromControl(GetDlgItem(dialog, buttonId));
    DialogBoxParamA(programInstance, MAKEINTRESOURCEA(templateId), dialog, procedure, 0);
    setTitleFromControl(dialog);
}

void captionFromTitle(HWND dialog)
{
    char title[TitleBufferSize] = "";
    GetDlgItemTextA(mainWindow, IDC_TITLE_SLOT, title, sizeof title);
    SetWindowTextA(dialog, title);
}

// ---- Wait cursor ------------------------------------------------------------------

void beginWaitCursor()
{
    savedCursor = SetCursor(LoadCursorA(NULL, IDC_WAIT));
}

void endWaitCursor()
{
    SetCursor(savedCursor ? savedCursor : LoadCursorA(NULL, IDC_ARROW));
    savedCursor = NULL;
}

// ---- Buttons, lists and modes -------------------------------------------------------

static LONG buttonKind(HWND control)
{
    return GetWindowLongA(control, GWL_STYLE) & 0xFFFF;
}

static void setButtonKind(HWND control, LONG kind)
{
    LONG style = GetWindowLongA(control, GWL_STYLE);
    SetWindowLongA(control, GWL_STYLE, (style & 0xFFFF0000) | kind);
}

static BOOL isEnabledPlainPushButton(HWND control, LPCSTR buttonClass)
{
    char className[16] = "";
    GetClassNameA(control, className, sizeof className);
    return IsWindowEnabled(control) && lstrcmpiA(className, buttonClass) == 0 &&
           buttonKind(control) == BS_PUSHBUTTON;
}

void enableDialogButton(HWND dialog, int controlId, BOOL enable)
{
    HWND control = GetDlgItem(dialog, controlId);
    EnableWindow(control, enable);
    if (enable || buttonKind(control) != BS_DEFPUSHBUTTON)
        return;

    // The disabled button can no longer be the default: make it plain and
    // hand the default to the next usable push button in tab order.
    setButtonKind(control, BS_PUSHBUTTON);
    InvalidateRect(control, NULL, TRUE);
    UpdateWindow(control);

    char buttonClass[528];
    loadText(IDS_BUTTON_CLASS, buttonClass, sizeof buttonClass);
    HWND first = NULL;
    HWND current = control;
    for (int step = 0; step < MaxTabStops; ++step) {
        HWND next = GetNextDlgTabItem(dialog, current, FALSE);
        if (!next || next == control || next == first)
            return;
        if (!first)
            first = next;
        if (isEnabledPlainPushButton(next, buttonClass)) {
            setButtonKind(next, BS_DEFPUSHBUTTON);
            InvalidateRect(dialog, NULL, TRUE);
            UpdateWindow(next);
            SetFocus(next);
            return;
        }
        current = next;
    }
}

void fitListWidth(HWND dialog, int listId)
{
    HWND list = GetDlgItem(dialog, listId);
    HDC context = GetDC(dialog);
    int previousMode = SetMapMode(context, MM_TEXT);
    HGDIOBJ previousFont = SelectObject(context, (HFONT)SendMessageA(list, WM_GETFONT, 0, 0));

    LONG widest = 0;
    LRESULT lineCount = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT line = 0; line < lineCount; ++line) {
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, line, 0);
        if (length == LB_ERR)
            continue;
        LPSTR text = (LPSTR)GlobalAlloc(GPTR, length + 1);
        if (!text)
            continue;
        SendMessageA(list, LB_GETTEXT, line, (LPARAM)text);
        SIZE extent;
        if (GetTextExtentPointA(context, text, lstrlenA(text), &extent) && extent.cx > widest)
            widest = extent.cx;
        GlobalFree(text);
    }
    if (widest > 0)
        widest += GetSystemMetrics(SM_CXVSCROLL);

    if (previousFont)
        SelectObject(context, previousFont);
    SetMapMode(context, previousMode);
    ReleaseDC(dialog, context);
    SendMessageA(list, LB_SETHORIZONTALEXTENT, widest, 0);
    InvalidateRect(list, NULL, TRUE);
    UpdateWindow(list);
}

BOOL hasListSelection(HWND dialog, int listId)
{
    return SendDlgItemMessageA(dialog, listId, LB_GETCURSEL, 0, 0) != LB_ERR;
}

BOOL readSelectedLine(HWND dialog, int listId, LPSTR text, int textSize, DWORD *data)
{
    HWND list = GetDlgItem(dialog, listId);
    LRESULT line = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (line == LB_ERR)
        return FALSE;
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, line, 0);
    if (length == LB_ERR || length >= textSize)
        return FALSE;
    SendMessageA(list, LB_GETTEXT, line, (LPARAM)text);
    *data = (DWORD)SendMessageA(list, LB_GETITEMDATA, line, 0);
    return TRUE;
}

static BOOL captionBeginsWith(HWND dialog, char letter)
{
    char caption[TitleBufferSize] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    CharUpperA(caption);
    return caption[0] == letter;
}

BOOL isEditMode(HWND dialog)
{
    return captionBeginsWith(dialog, 'E');
}

BOOL isCheckMode(HWND dialog)
{
    return captionBeginsWith(dialog, 'C');
}

BOOL handleListNotification(HWND dialog, WPARAM wParam, const int *selectionButtons,
                            int selectionButtonCount, int mainButton)
{
    switch (HIWORD(wParam)) {
    case LBN_SELCHANGE:
    case LBN_SELCANCEL: {
        BOOL selected = HIWORD(wParam) == LBN_SELCHANGE;
        for (int i = 0; i < selectionButtonCount; ++i)
            enableDialogButton(dialog, selectionButtons[i], selected);
        break;
    }
    case LBN_DBLCLK:
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(mainButton, BN_CLICKED),
                     (LPARAM)GetDlgItem(dialog, mainButton));
        break;
    }
    return TRUE;
}

// ---- Messages -------------------------------------------------------------------------

void formatResourceString(LPSTR text, UINT formatId, LPCSTR argument)
{
    char format[256];
    loadText(formatId, format, sizeof format);
    wsprintfA(text, format, argument);
}

BOOL askDialogQuestion(HWND dialog, UINT formatId, LPCSTR name)
{
    char question[FormattedTextSize];
    formatResourceString(question, formatId, name);
    char caption[TitleBufferSize] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    return MessageBoxA(dialog, question, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void showDialogNotice(HWND owner, UINT formatId, LPCSTR argument)
{
    char notice[FormattedTextSize];
    formatResourceString(notice, formatId, argument);
    MessageBoxA(owner, notice, NULL, MB_OK | MB_ICONEXCLAMATION);
}

void reportApiError(UINT code)
{
    // When the library cannot give the text of a code it answers with
    // another code; follow that chain, but never round a loop or far.
    char text[128] = "";
    UINT asked[MaxErrorChain];
    int askedCount = 0;
    for (;;) {
        UINT answer = NDdeGetErrorString(code, text, sizeof text);
        if (answer == NDDE_NO_ERROR)
            break;
        asked[askedCount++] = code;
        code = answer;
        BOOL repeated = FALSE;
        for (int i = 0; i < askedCount; ++i)
            repeated = repeated || asked[i] == code;
        if (repeated || askedCount == MaxErrorChain) {
            loadText(IDS_NO_ERROR_TEXT, text, sizeof text);
            break;
        }
    }
    text[sizeof text - 1] = '\0';

    char format[64];
    loadText(IDS_API_ERROR, format, sizeof format);
    char message[256];
    wsprintfA(message, format, code, text);
    MessageBoxA(NULL, message, NULL, MB_OK | MB_ICONEXCLAMATION);
}

void reportInvalidValue(int kind, LPCSTR text)
{
    if (kind < InvalidShareName || kind > InvalidPassword2)
        return;
    char message[256 + FormattedTextSize];
    loadText(IDS_NAME_SHARE + (kind - InvalidShareName), message, 256);
    char tail[FormattedTextSize];
    formatResourceString(tail, IDS_INVALID_VALUE, text);
    lstrcatA(message, tail);
    MessageBoxA(NULL, message, NULL, MB_OK | MB_ICONEXCLAMATION);
}

// ---- Growing result buffers ---------------------------------------------------------

static ULONGLONG roundedUpSize(ULONGLONG size)
{
    return size > 0 ? size + 1 : 0;
}

static ULONGLONG requiredSize(BufferSizeRule rule, const EnumerationBuffer *buffer)
{
    ULONGLONG total = buffer->totalAvailable;
    switch (rule) {
    case ShareNamesSize:
        return total;
    case ShareRecordSize: {
        ULONGLONG record = 8ULL * buffer->itemCount + ShareInfoHeaderSize;
        return (record > total ? record : total) + 1;
    }
    case SessionListSize:
        return roundedUpSize(24ULL * buffer->entriesRead);
    case ConnectionListSize: {
        ULONGLONG table = 8ULL * buffer->entriesRead;
        return roundedUpSize(table > total ? table : total);
    }
    }
    return 0;
}

DWORD enumerationBufferSize(BufferSizeRule rule, const EnumerationBuffer *buffer)
{
    ULONGLONG size = requiredSize(rule, buffer);
    return size > MaxEnumerationBufferSize ? (DWORD)MaxEnumerationBufferSize + 1 : (DWORD)size;
}

void releaseEnumerationBuffer(EnumerationBuffer *buffer)
{
    if (buffer->block) {
        GlobalUnlock(buffer->block);
        GlobalFree(buffer->block);
    }
    buffer->block = NULL;
    buffer->data = NULL;
}

DWORD entriesInBuffer(const EnumerationBuffer *buffer, DWORD entrySize)
{
    DWORD held = buffer->size / entrySize;
    return buffer->entriesRead < held ? buffer->entriesRead : held;
}

// Holds a zero-filled block of `size` bytes (none for 0).
static BOOL holdBlock(EnumerationBuffer *buffer, DWORD size)
{
    buffer->size = size;
    if (size == 0)
        return TRUE;
    if (size > MaxEnumerationBufferSize)
        return FALSE;
    buffer->block = GlobalAlloc(GHND, size);
    buffer->data = buffer->block ? (LPBYTE)GlobalLock(buffer->block) : NULL;
    if (!buffer->data) {
        releaseEnumerationBuffer(buffer);
        return FALSE;
    }
    return TRUE;
}

BOOL readWithGrowingBuffer(EnumerationBuffer *buffer, BufferSizeRule rule, EnumerationCall call,
                           const void *request)
{
    ZeroMemory(buffer, sizeof *buffer);
    for (int attempt = 1;; ++attempt) {
        if (!holdBlock(buffer, enumerationBufferSize(rule, buffer))) {
            reportApiError(NDDE_OUT_OF_MEMORY);
            return FALSE;
        }
        UINT code = call(buffer, request);
        if (code == NDDE_NO_ERROR)
            return TRUE;
        DWORD offered = buffer->size;
        releaseEnumerationBuffer(buffer);
        // Try again only while the library asks for more than it was offered
        // and the next block really is larger.
        BOOL progress = buffer->totalAvailable > offered && enumerationBufferSize(rule, buffer) > offered;
        if (code != NDDE_BUF_TOO_SMALL || !progress || attempt == MaxEnumerationTries) {
            reportApiError(code);
            return FALSE;
        }
    }
}
