// The task list (dialog 15) and the task properties (dialog 16): the running
// tasks, one line per captioned top-level window, and the properties of one
// task's window or of the Network DDE agent's window (the managed node's
// agent, when that is another node).
#include "quorvstat.h"

// A task name or window title with its terminator, and the node name the
// library gives beside it (not shown).
const int TaskTextSize = 256;
const int ClientTextSize = 16;

// The one button that follows the task list's selection.
static const int TaskButtons[] = {IDC_PROPERTIES_BUTTON};

// Asks the library for the task that owns `window`; its name lands in
// `taskName` (TaskTextSize bytes). Reports a refusal.
static BOOL readTaskName(HWND window, LPSTR taskName)
{
    char clientName[ClientTextSize];
    UINT result = NDdeGetClientInfo(window, clientName, ClientTextSize, taskName, TaskTextSize);
    if (result != NDDE_NO_ERROR) {
        reportApiError(result);
        return FALSE;
    }
    taskName[TaskTextSize - 1] = '\0';
    return TRUE;
}

// ---- Task list ------------------------------------------------------------------

// Adds a line for every top-level window with a caption and a title that no
// other window owns. Stops the enumeration when the library refuses a window.
static BOOL CALLBACK addTaskWindow(HWND window, LPARAM taskListDialog)
{
    if (IsWindow(GetParent(window)))
        return TRUE;
    LONG style = GetWindowLongA(window, GWL_STYLE);
    if ((style & WS_CHILD) || (style & WS_CAPTION) != WS_CAPTION)
        return TRUE;
    char taskName[TaskTextSize];
    if (GetWindowTextA(window, taskName, TaskTextSize) == 0)
        return TRUE;
    if (!readTaskName(window, taskName))
        return FALSE;
    HWND list = GetDlgItem((HWND)taskListDialog, IDC_TASK_LIST);
    LRESULT line = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)taskName);
    if (line >= 0)
        SendMessageA(list, LB_SETITEMDATA, line, (LPARAM)window);
    return TRUE;
}

static BOOL fillTaskList(HWND dialog)
{
    if (!EnumWindows(addTaskWindow, (LPARAM)dialog))
        return FALSE;
    fitListWidth(dialog, IDC_TASK_LIST);
    return TRUE;
}

// "Properties...": the properties run under the button's title; a task found
// gone has lost its line, so the button follows the selection afterwards.
static void showPropertiesCommand(HWND dialog)
{
    runNestedDialog(dialog, IDC_PROPERTIES_BUTTON, IDD_TASK_PROPERTIES, taskPropertiesDialog);
    if (!hasListSelection(dialog, IDC_TASK_LIST))
        enableDialogButton(dialog, IDC_PROPERTIES_BUTTON, FALSE);
}

INT_PTR CALLBACK taskListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        captionFromTitle(dialog);
        if (!fillTaskList(dialog))
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PROPERTIES_BUTTON: showPropertiesCommand(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        case IDC_TASK_LIST:
            return handleListNotification(dialog, wParam, TaskButtons, 1, IDC_PROPERTIES_BUTTON);
        }
        break;
    }
    return FALSE;
}

// ---- Task properties --------------------------------------------------------------

// The template's text (" is running.") follows `name` (at most
// TaskTextSize bytes with its terminator).
static void showRunningName(HWND dialog, LPCSTR name)
{
    char running[TitleBufferSize];
    GetDlgItemTextA(dialog, IDC_TASK_RUNNING, running, sizeof running);
    char line[TaskTextSize + TitleBufferSize];
    lstrcpyA(line, name);
    lstrcatA(line, running);
    SetDlgItemTextA(dialog, IDC_TASK_RUNNING, line);
}

// Fills the dialog with the task name, handle, class and title of `window`.
static BOOL showWindowProperties(HWND dialog, HWND window)
{
    if (!IsWindow(window))
        return FALSE;
    char taskName[TaskTextSize];
    if (!readTaskName(window, taskName))
        return FALSE;
    showRunningName(dialog, taskName);

    char handleFormat[TitleBufferSize];
    char handleText[TitleBufferSize];
    LoadStringA(programInstance, IDS_WINDOW_HANDLE_FORMAT, handleFormat, sizeof handleFormat);
    wsprintfA(handleText, handleFormat, (unsigned long)(UINT_PTR)window);
    SetDlgItemTextA(dialog, IDC_WINDOW_HANDLE, handleText);

    char text[TaskTextSize];
    GetClassNameA(window, text, sizeof text);
    SetDlgItemTextA(dialog, IDC_WINDOW_CLASS, text);
    GetWindowTextA(window, text, sizeof text);
    SetDlgItemTextA(dialog, IDC_WINDOW_TITLE, text);
    return TRUE;
}

// Properties mode: the window of the task list's selected line. A window
// that has gone since the list was filled loses its line, with a notice.
static BOOL showSelectedTask(HWND dialog)
{
    HWND taskList = GetParent(dialog);
    char lineText[TaskTextSize];
    DWORD lineData;
    if (!readSelectedLine(taskList, IDC_TASK_LIST, lineText, sizeof lineText, &lineData))
        return FALSE;
    HWND list = GetDlgItem(taskList, IDC_TASK_LIST);
    HWND window = (HWND)(UINT_PTR)lineData;
    if (IsWindow(window)) {
        if (showWindowProperties(dialog, window))
            return TRUE;
        SendMessageA(list, LB_SETCURSEL, (WPARAM)-1, 0);
        return FALSE;
    }
    showDialogNotice(taskList, IDS_TASK_GONE, lineText);
    SendMessageA(list, LB_DELETESTRING, SendMessageA(list, LB_GETCURSEL, 0, 0), 0);
    fitListWidth(taskList, IDC_TASK_LIST);
    return FALSE;
}

// Check mode on another node: its agent runs when it answers a call there
// (the share list's size, through this machine's agent). Its window is on
// that node, so only the node is named.
static BOOL showRemoteAgent(HWND dialog, LPSTR server)
{
    DWORD entriesRead = 0, totalAvailable = 0;
    UINT code = NDdeShareEnum(server, 0, NULL, 0, &entriesRead, &totalAvailable);
    if (code != NDDE_NO_ERROR && code != NDDE_BUF_TOO_SMALL) {
        reportApiError(code);
        return FALSE;
    }
    showRunningName(dialog, server);
    return TRUE;
}

// Check mode: the Network DDE agent's window, which the library names, or
// the managed node's agent.
static BOOL showAgentWindow(HWND dialog)
{
    if (managedServer())
        return showRemoteAgent(dialog, managedServer());
    HWND agent = NDdeGetWindow();
    if (!IsWindow(agent)) {
        reportApiError(NDDE_NOT_RUNNING);
        return FALSE;
    }
    return showWindowProperties(dialog, agent);
}

INT_PTR CALLBACK taskPropertiesDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        captionFromTitle(dialog);
        BOOL shown = isCheckMode(dialog) ? showAgentWindow(dialog) : showSelectedTask(dialog);
        if (!shown)
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
