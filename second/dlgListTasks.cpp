// dlgListTasks: the tasks of the desktop, one line per top-level window that
// has a full caption bar and a title (the name of the task that owns it, the
// window handle as the line's value), with "Properties..." for the window.
#include "marrowby.h"
#include "modMain.h"

namespace dlgListTasks {

// The EnumWindows callback: lists a captioned, titled top-level window that
// neither has a parent or owner nor is a child. Non-zero to go on; 0 after
// the library failed for the window, which has been reported.
static BOOL CALLBACK AddTaskWindow(HWND window, LPARAM)
{
    if (user32::IsWindow(user32::GetParent(window)))
        return TRUE;
    LONG style = user32::GetWindowLongA(window, GWL_STYLE);
    if ((style & WS_CHILD) || (style & WS_CAPTION) != WS_CAPTION)
        return TRUE;
    char buffer[WindowTextLength] = {};
    if (user32::GetWindowTextA(window, buffer, WindowTextLength) == 0)
        return TRUE;
    // The task name goes into the same buffer; what is left of the title
    // behind its NUL is never shown.
    char client[ClientNameLength] = {};
    UINT result = Tessaflat::NDdeGetClientInfo(window, client, ClientNameLength, buffer, TaskNameLength);
    if (result != NDDE_NO_ERROR) {
        ReportApiError(result);
        return FALSE;
    }
    // The library may fill the whole buffer: the text ends with it.
    ListAddItem(form[lbxTaskList], TrimNulSpace(std::string(buffer, sizeof buffer)), (DWORD)(UINT_PTR)window);
    return TRUE;
}

// True when every window was looked at; false when the library failed for
// one, which has been reported.
static bool FillTaskList()
{
    if (!user32::EnumWindows(AddTaskWindow, 0))
        return false;
    FitListHorizontalExtent(form[lbxTaskList]);
    return true;
}

static void Form_Load()
{
    PlaceDialog(form, wndMain::form, PlaceBesideMain);
    SetText(form.hwnd, CommandTitle());
    form.bError = !FillTaskList();
}

static void lbxTaskList_Click()
{
    EnableWindow(form[btnProperties], TRUE);
}

static void btnProperties_Click()
{
    OpenCommandDialog(dlgCheckTask::form, form, GetText(form[btnProperties]));
}

static void lbxTaskList_DblClick()
{
    btnProperties_Click();
}

static void btnCancel_Click()
{
    UnloadForm(form);
}

static void Form_Unload()
{
    ReleaseForm(form);
}

static const ControlDesign controls[] = {
    {Label, "Label1", "Current Tasks:", 16, 16, 161, 17},
    {SortedListBox, "lbxTaskList", "", 16, 35, 161, 121},
    {CommandButton, "btnProperties", "Properties...", 192, 16, 72, 21, DefaultButton | Disabled},
    {CommandButton, "btnCancel", "Cancel", 192, 48, 72, 21, CancelButton},
};

static const EventBinding events[] = {
    {lbxTaskList, Click, lbxTaskList_Click},
    {lbxTaskList, DblClick, lbxTaskList_DblClick},
    {btnProperties, Click, btnProperties_Click},
    {btnCancel, Click, btnCancel_Click},
};

static const FormDesign design = {
    .name = "dlgListTasks",
    .caption = "Tasks",
    .border = FixedDialog,
    .units = Pixels,
    .left = 36, .top = 55, .width = 271, .height = 170,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
