// Driver tests of quorvstat's task list (dialog 15) and task properties
// (dialog 16), in properties mode and in check mode: the real program,
// library and agent, with windows of the test's own making as tasks.
#include <windows.h>

#include <doctest/doctest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "netdde_fixture.h"
#include "probe_windows.h"
#include "resource.h"
#include "tessaflat.h"

namespace {

const char TaskListCaption[] = "List Tasks...";
const char PropertiesCaption[] = "Properties...";
const char CheckCaption[] = "Check NetDDE...";
const char ProbeClass[] = "TessaTaskProbe";

struct OpenTaskList {
    nf::StatusProgram program;
    HWND dialog = NULL;

    bool open()
    {
        if (!program.start())
            return false;
        dialog = program.open(IDM_LIST_TASKS, TaskListCaption);
        return dialog != NULL;
    }
};

// The static showing the dialog's icon (the template gives it no id).
HWND iconControl(HWND dialog)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (ui::className(child) == "Static" && (ui::style(child) & SS_TYPEMASK) == SS_ICON)
            return child;
    return NULL;
}

// Checks the properties dialog against the window it must describe:
// `handle` is the value the program was given for it.
void checkProperties(HWND properties, HWND window, DWORD handle)
{
    std::string task = nf::taskName(window);
    REQUIRE_FALSE(task.empty());
    CHECK(ui::text(properties, IDC_TASK_RUNNING) == task + " is running.");
    // Hexadecimal with its prefix, zero-padded, naming the handle.
    std::string shown = ui::text(properties, IDC_WINDOW_HANDLE);
    CHECK(shown == nf::handleText(handle));
    CHECK(shown.size() >= 8);
    CHECK(shown.compare(0, 2, "0x") == 0);
    CHECK(strtoul(shown.c_str(), NULL, 16) == handle);
    CHECK(ui::text(properties, IDC_WINDOW_CLASS) == ui::className(window));
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    CHECK(ui::text(properties, IDC_WINDOW_TITLE) == title);
    HWND icon = iconControl(properties);
    REQUIRE(icon != NULL);
    CHECK(SendMessageA(icon, STM_GETICON, 0, 0) != 0);
}

} // namespace

TEST_CASE("the task list and task properties templates carry their controls")
{
    nf::checkDialogTemplate({IDD_TASK_LIST, 180, 104, {
        {-1, "static", "Current Tasks:", 0x50020000, 8, 8, 104, 8},
        {IDC_TASK_LIST, "listbox", "", 0x50B10103, 8, 16, 104, 80},
        {IDC_PROPERTIES_BUTTON, "button", "Properties...", 0x58030001, 124, 8, 48, 14},
        {IDCANCEL, "button", "Cancel", 0x50010000, 124, 26, 48, 14},
    }});
    nf::checkDialogTemplate({IDD_TASK_PROPERTIES, 214, 104, {
        {-1, "static", "#32516", 0x50000003, 8, 8, 20, 20},
        {IDC_TASK_RUNNING, "static", " is running.", 0x50020000, 36, 12, 112, 8},
        {IDOK, "button", "OK", 0x50030001, 160, 8, 48, 14},
        {-1, "button", "Window properties:", 0x50000007, 8, 32, 140, 62},
        {-1, "static", "Handle:", 0x50020002, 12, 46, 28, 8},
        {IDC_WINDOW_HANDLE, "static", "", 0x50020000, 44, 46, 96, 8},
        {-1, "static", "Class:", 0x50020002, 12, 60, 28, 8},
        {IDC_WINDOW_CLASS, "edit", "", 0x50810880, 44, 59, 96, 12},
        {-1, "static", "Title:", 0x50020002, 12, 74, 28, 8},
        {IDC_WINDOW_TITLE, "edit", "", 0x50810880, 44, 73, 96, 12},
    }});
}

TEST_CASE("the task list holds the captioned, titled top-level windows and their properties")
{
    ui::ProbeWindows windows(ProbeClass);
    HWND task = windows.create("Tessa probe task", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    REQUIRE(task != NULL);
    std::vector<HWND> hidden = {
        windows.create("Tessa probe child", WS_CHILD | WS_CAPTION | WS_VISIBLE, task),
        windows.create("Tessa probe owned", WS_POPUP | WS_CAPTION | WS_VISIBLE, task),
        windows.create("Tessa probe uncaptioned", WS_POPUP | WS_BORDER | WS_VISIBLE),
        windows.create("Tessa probe dialog frame only", WS_POPUP | WS_DLGFRAME | WS_VISIBLE),
        windows.create("", WS_OVERLAPPEDWINDOW | WS_VISIBLE),
    };
    for (HWND window : hidden)
        REQUIRE(window != NULL);

    OpenTaskList tasks;
    REQUIRE(tasks.open());
    nf::StatusProgram &program = tasks.program;
    HWND dialog = tasks.dialog;
    CHECK(program.title() == TaskListCaption);

    // The probe's line, named by the library's task name, not its title.
    int line = nf::StatusProgram::lineWithData(dialog, IDC_TASK_LIST, (DWORD)(UINT_PTR)task);
    REQUIRE(line >= 0);
    CHECK(ui::listLine(dialog, IDC_TASK_LIST, line) == nf::taskName(task));
    CHECK(nf::StatusProgram::lineWithData(dialog, IDC_TASK_LIST, (DWORD)(UINT_PTR)program.main) >= 0);
    for (HWND window : hidden)
        CHECK(nf::StatusProgram::lineWithData(dialog, IDC_TASK_LIST, (DWORD)(UINT_PTR)window) < 0);
    // Whatever else runs: every line is such a window, named by the library.
    int count = ui::listCount(dialog, IDC_TASK_LIST);
    for (int i = 0; i < count; ++i) {
        HWND window = (HWND)ui::listData(dialog, IDC_TASK_LIST, i);
        INFO("line " << i << ": " << ui::listLine(dialog, IDC_TASK_LIST, i));
        CHECK(GetParent(window) == NULL);
        CHECK((ui::style(window) & WS_CAPTION) == WS_CAPTION);
        CHECK_FALSE(ui::text(window).empty());
        CHECK(ui::listLine(dialog, IDC_TASK_LIST, i) == nf::taskName(window));
    }
    CHECK(ui::listHorizontalExtent(dialog, IDC_TASK_LIST) > GetSystemMetrics(SM_CXVSCROLL));
    CHECK_FALSE(ui::isEnabled(dialog, IDC_PROPERTIES_BUTTON));

    // "Properties..." shows the task, handle, class and title.
    {
        REQUIRE(nf::StatusProgram::selectLine(dialog, IDC_TASK_LIST, line, IDC_PROPERTIES_BUTTON));
        REQUIRE(ui::clickButton(dialog, IDC_PROPERTIES_BUTTON));
        HWND properties = program.waitForNestedDialog(dialog, PropertiesCaption);
        REQUIRE(properties != NULL);
        CHECK(program.title() == PropertiesCaption);
        checkProperties(properties, task, (DWORD)(UINT_PTR)task);
        CHECK(ui::text(properties, IDC_WINDOW_CLASS) == ProbeClass);
        CHECK(ui::text(properties, IDC_WINDOW_TITLE) == "Tessa probe task");
        REQUIRE(ui::clickButton(properties, IDOK));
        CHECK(ui::waitForWindowToClose(properties));
        CHECK(ui::waitUntil([&] { return program.title() == TaskListCaption; }));
        CHECK(ui::isEnabled(dialog, IDC_PROPERTIES_BUTTON));
        CHECK(ui::listSelection(dialog, IDC_TASK_LIST) == line);
    }
    // A double-click opens the properties of the line.
    {
        REQUIRE(ui::doubleClickListLine(dialog, IDC_TASK_LIST, line));
        HWND properties = program.waitForNestedDialog(dialog, PropertiesCaption);
        REQUIRE(properties != NULL);
        CHECK(ui::text(properties, IDC_WINDOW_TITLE) == "Tessa probe task");
        // Escape: the dialog manager sends IDCANCEL.
        PostMessageA(properties, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        CHECK(ui::waitForWindowToClose(properties));
    }
    // A window closed after the list was filled is no longer running.
    {
        std::string lineText = ui::listLine(dialog, IDC_TASK_LIST, line);
        int linesBefore = ui::listCount(dialog, IDC_TASK_LIST);
        REQUIRE(nf::StatusProgram::selectLine(dialog, IDC_TASK_LIST, line, IDC_PROPERTIES_BUTTON));
        REQUIRE(DestroyWindow(task));
        REQUIRE(ui::clickButton(dialog, IDC_PROPERTIES_BUTTON));
        ui::MessageBoxView notice;
        REQUIRE(ui::waitForMessageBox(program.processId(), notice));
        CHECK(notice.text == lineText + " is no longer running !");
        CHECK(notice.caption == nf::SystemCaption);
        CHECK(notice.icon == ui::Icon::Exclamation);
        CHECK(notice.owner == dialog);
        CHECK_FALSE(program.showsDialog(PropertiesCaption));
        REQUIRE(ui::answerMessageBox(notice, IDOK));

        CHECK(ui::waitUntil([&] { return program.title() == TaskListCaption; }));
        CHECK(ui::listCount(dialog, IDC_TASK_LIST) == linesBefore - 1);
        CHECK(nf::StatusProgram::lineWithData(dialog, IDC_TASK_LIST, (DWORD)(UINT_PTR)task) < 0);
        CHECK(ui::listSelection(dialog, IDC_TASK_LIST) == LB_ERR);
        CHECK_FALSE(ui::isEnabled(dialog, IDC_PROPERTIES_BUTTON));
        CHECK(ui::isDefaultButton(dialog, IDCANCEL));
        CHECK_FALSE(program.showsDialog(PropertiesCaption));
    }
    REQUIRE(ui::clickButton(dialog, IDCANCEL));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(ui::waitUntil([&] { return program.title().empty(); }));
}

TEST_CASE("\"Check NetDDE...\" shows the agent's window while the agent runs")
{
    nf::Agent agent;
    REQUIRE(agent.start());
    nf::StatusProgram program;
    REQUIRE(program.start());
    HWND properties = program.open(IDM_CHECK_NETDDE, CheckCaption);
    REQUIRE(properties != NULL);
    CHECK(ui::owner(properties) == program.main);
    CHECK(program.title() == CheckCaption);
    // The program shows the handle as the library gives it.
    HWND reported = NDdeGetWindow();
    CHECK(LOWORD((UINT_PTR)reported) == LOWORD((UINT_PTR)agent.window()));
    checkProperties(properties, agent.window(), (DWORD)(UINT_PTR)reported);
    CHECK(ui::text(properties, IDC_WINDOW_CLASS) == "NDdeAgent");
    CHECK(ui::text(properties, IDC_WINDOW_TITLE) == "Network DDE Agent");
    REQUIRE(ui::clickButton(properties, IDOK));
    CHECK(ui::waitForWindowToClose(properties));
    CHECK(ui::waitUntil([&] { return program.title().empty(); }));
}

TEST_CASE("\"Check NetDDE...\" without the agent shows only the report of code 18")
{
    nf::checkReportsAgentNotRunning(IDM_CHECK_NETDDE, CheckCaption);
}
