// dlgCheckTask: the properties of one window (its task, handle, class and
// title): of the task selected in dlgListTasks ("Properties...") or of the
// Network DDE agent ("Check NetDDE...", the managed node's agent when that
// is another node).
#include "marrowby.h"
#include "modMain.h"

namespace dlgCheckTask {

// The designed " is running." goes right behind the name.
static void ShowRunningName(const std::string &name)
{
    std::string line = name + GetText(form[lblTaskName]);
    SetText(form[lblTaskName], TrimNulSpace(line.substr(0, TaskNameLength)));
}

// Fills the dialog from window; false after a report.
static bool ShowTaskProperties(HWND window)
{
    if (!user32::IsWindow(window))
        return false;
    char client[ClientNameLength] = {};
    char buffer[TaskNameLength] = {};
    UINT result = Tessaflat::NDdeGetClientInfo(window, client, ClientNameLength, buffer, TaskNameLength);
    if (result != NDDE_NO_ERROR) {
        ReportApiError(result);
        return false;
    }
    size_t taskLength = TrimNulSpace(std::string(buffer, TaskNameLength)).size();
    ShowRunningName(std::string(buffer, taskLength));
    SetText(form[lblWndHandle], FormatWindowHandle((DWORD)(UINT_PTR)window));
    // Class and title go through the same buffer, not cleared in between;
    // each is shown up to its own NUL.
    user32::GetClassNameA(window, buffer, sizeof buffer);
    SetText(form[txtWndClass], TrimNulSpace(buffer));
    user32::GetWindowTextA(window, buffer, sizeof buffer);
    SetText(form[txtWndTitle], TrimNulSpace(buffer));
    return true;
}

// The window of the task selected in dlgListTasks. A task that has ended
// since the list was made loses its line.
static bool GetTaskWindow()
{
    HWND taskList = dlgListTasks::form[dlgListTasks::lbxTaskList];
    int selected = ListIndex(taskList);
    if (selected < 0)
        return false;
    HWND window = (HWND)(UINT_PTR)ListItemData(taskList, selected);
    if (user32::IsWindow(window))
        return ShowTaskProperties(window);
    MsgBox(ListText(taskList, selected) + " is no longer running !", MB_OK | MB_ICONEXCLAMATION, "Error");
    ListRemoveItem(taskList, selected);
    FitListHorizontalExtent(taskList);
    EnableWindow(dlgListTasks::form[dlgListTasks::btnProperties], FALSE);
    return false;
}

// Another node's agent runs when it answers a call there (the share list's
// size, through this machine's agent); its window is on that node, so only
// the node is named.
static bool CheckRemoteAgent(LPSTR server)
{
    DWORD entriesRead = 0, totalAvailable = 0;
    UINT result = Tessaflat::NDdeShareEnum(server, 0, nullptr, 0, &entriesRead, &totalAvailable);
    if (result != NDDE_NO_ERROR && result != NDDE_BUF_TOO_SMALL) {
        ReportApiError(result);
        return false;
    }
    ShowRunningName(server);
    return true;
}

// The Network DDE agent's window (or the managed node's agent); without it,
// the report of the agent not running, whatever made the window unavailable.
static bool GetNetDdeWnd()
{
    if (ManagedServer())
        return CheckRemoteAgent(ManagedServer());
    HWND window = Tessaflat::NDdeGetWindow();
    if (user32::IsWindow(window))
        return ShowTaskProperties(window);
    ReportApiError(NDDE_NOT_RUNNING);
    return false;
}

// The caption tells who opened the dialog: "Properties..." (the task list)
// has a capital P, "Check NetDDE..." (the menu) has none.
static void Form_Load()
{
    SetText(form.hwnd, CommandTitle());
    bool filled;
    if (GetText(form.hwnd).find('P') != std::string::npos) {
        PlaceDialog(form, dlgListTasks::form, PlaceBesideDialog);
        filled = GetTaskWindow();
    } else {
        PlaceDialog(form, wndMain::form, PlaceBesideMain);
        filled = GetNetDdeWnd();
    }
    form.bError = !filled;
}

static void btnOK_Click()
{
    UnloadForm(form);
}

static void Form_Unload()
{
    ReleaseForm(form);
}

static const ControlDesign controls[] = {
    {Image, "imgInfo", IDI_INFORMATION, 16, 8, 32, 32},
    {Label, "lblTaskName", " is running.", 56, 16, 169, 17},
    {CommandButton, "btnOK", "OK", 240, 16, 72, 21, DefaultButton | CancelButton},
    {Frame, "Frame1", "Window properties:", 16, 48, 209, 105},
    {Label, "Label1", "Handle:", 8, 24, 41, 17, InFrame | AlignRight},
    {Label, "lblWndHandle", "", 64, 24, 137, 17, InFrame},
    {Label, "Label2", "Class:", 8, 48, 41, 17, InFrame | AlignRight},
    {TextBox, "txtWndClass", "", 56, 48, 145, 19, InFrame | ReadOnly},
    {Label, "Label3", "Title:", 8, 72, 41, 17, InFrame | AlignRight},
    {TextBox, "txtWndTitle", "", 56, 72, 145, 19, InFrame | ReadOnly},
};

static const EventBinding events[] = {
    {btnOK, Click, btnOK_Click},
};

static const FormDesign design = {
    .name = "dlgCheckTask",
    .caption = "Task",
    .border = FixedDialog,
    .units = Pixels,
    .left = 36, .top = 55, .width = 322, .height = 169,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
