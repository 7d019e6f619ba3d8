// Driver tests of Marrowby's task list and window properties: the real
// program, library and agent, with hidden windows of the test's own making
// as tasks, and the scripted library for a failing NDdeGetClientInfo.
#include <doctest/doctest.h>

#include <tessaflat.h>

#include <vector>

#include "marrowby_driver.h"
#include "partnertest.h"
#include "probe_windows.h"

namespace {

const char TaskListCaption[] = "List Tasks...";
const char PropertiesCaption[] = "Properties...";
const char CheckCaption[] = "Check NetDDE...";
const char ProbeClass[] = "MarrowbyTaskProbe";

using dlgListTasks::btnCancel;
using dlgListTasks::btnProperties;
using dlgListTasks::lbxTaskList;
using md::controlId;

// The task name the library gives for a window.
std::string taskName(HWND window)
{
    char client[16] = "", task[256] = "";
    if (NDdeGetClientInfo(window, client, sizeof client, task, sizeof task) != NDDE_NO_ERROR)
        return "";
    return task;
}

// Whether a window is one the task list may show: a titled top-level window
// with a full caption bar, neither a child nor owned.
bool isListableTask(HWND window)
{
    LONG style = GetWindowLongA(window, GWL_STYLE);
    return !IsWindow(GetParent(window)) && !(style & WS_CHILD) && (style & WS_CAPTION) == WS_CAPTION &&
           GetWindowTextLengthA(window) > 0;
}

// The task list of a program beside the scripted library, with a probe
// window of the test's own among its tasks.
struct ScriptedTaskList {
    explicit ScriptedTaskList(const char *script) : scripted(script) {}
    // Starts the program, opens its task list and finds the probe's line.
    bool open()
    {
        HWND probe = probes.create("Marrowby Probe One", WS_OVERLAPPEDWINDOW);
        if (probe == NULL || !scripted.start())
            return false;
        dialog = scripted.program.open(wndMain::mnuListTasks, TaskListCaption);
        if (dialog != NULL)
            line = md::Marrowby::lineWithData(dialog, list, (DWORD)(UINT_PTR)probe);
        return line >= 0;
    }

    ui::ProbeWindows probes{ProbeClass};
    md::ScriptedMarrowby scripted;
    const int list = controlId(lbxTaskList);
    HWND dialog = NULL;
    int line = -1;
};

} // namespace

TEST_SUITE("tasks")
{

TEST_CASE("the task list shows titled, captioned top-level windows and their properties")
{
    ui::ProbeWindows probes(ProbeClass);
    HWND one = probes.create("Marrowby Probe One", WS_OVERLAPPEDWINDOW);
    HWND two = probes.create("Marrowby Probe Two", WS_OVERLAPPEDWINDOW);
    REQUIRE(one != NULL);
    REQUIRE(two != NULL);
    std::vector<HWND> unlisted = {
        probes.create("", WS_OVERLAPPEDWINDOW),
        probes.create("Marrowby Probe Owned", WS_POPUP | WS_CAPTION, one),
        probes.create("Marrowby Probe Child", WS_CHILD | WS_CAPTION, one),
        probes.create("Marrowby Probe Plain", WS_POPUP),
        probes.create("Marrowby Probe Border", WS_POPUP | WS_BORDER),
        probes.create("Marrowby Probe Frame", WS_POPUP | WS_DLGFRAME),
    };
    const std::string task = taskName(one);
    REQUIRE_FALSE(task.empty());

    md::Marrowby program;
    REQUIRE(program.start());
    HWND dialog = program.open(wndMain::mnuListTasks, TaskListCaption);
    REQUIRE(dialog != NULL);
    const int list = controlId(lbxTaskList);
    CHECK(ui::text(dialog, controlId(dlgListTasks::Label1)) == "Current Tasks:");
    CHECK_FALSE(ui::isEnabled(dialog, controlId(btnProperties)));
    CHECK(ui::isDefaultButton(dialog, controlId(btnProperties)));
    CHECK(ui::listHorizontalExtent(dialog, list) > 0);

    int lineOne = md::Marrowby::lineWithData(dialog, list, (DWORD)(UINT_PTR)one);
    int lineTwo = md::Marrowby::lineWithData(dialog, list, (DWORD)(UINT_PTR)two);
    REQUIRE(lineOne >= 0);
    REQUIRE(lineTwo >= 0);
    CHECK(ui::listLine(dialog, list, lineOne) == task);
    CHECK(ui::listLine(dialog, list, lineTwo) == task);
    for (HWND window : unlisted) {
        CAPTURE(window);
        CHECK(md::Marrowby::lineWithData(dialog, list, (DWORD)(UINT_PTR)window) == -1);
    }
    // Every line is a window of the kind listed, named by its task.
    int count = ui::listCount(dialog, list);
    for (int i = 0; i < count; i++) {
        HWND window = (HWND)ui::listData(dialog, list, i);
        CAPTURE(i);
        CHECK(isListableTask(window));
        CHECK(ui::listLine(dialog, list, i) == taskName(window));
    }

    SUBCASE("Properties... shows the task, handle, class and title of the selected window")
    {
        REQUIRE(ui::selectListLine(dialog, list, lineOne));
        REQUIRE(ui::waitUntil([&] { return ui::isEnabled(dialog, controlId(btnProperties)); }));
        REQUIRE(ui::clickButton(dialog, controlId(btnProperties)));
        HWND properties = program.waitForDialog(PropertiesCaption);
        REQUIRE(properties != NULL);
        CHECK(program.commandTitle() == PropertiesCaption);
        CHECK(ui::owner(properties) == dialog);
        CHECK(ui::text(properties, controlId(dlgCheckTask::lblTaskName)) == task + " is running.");
        std::string handle = ui::text(properties, controlId(dlgCheckTask::lblWndHandle));
        CHECK(handle == md::handleText((DWORD)(UINT_PTR)one));
        CHECK(handle.size() == 10);
        CHECK(ui::text(properties, controlId(dlgCheckTask::txtWndClass)) == ProbeClass);
        CHECK(ui::text(properties, controlId(dlgCheckTask::txtWndTitle)) == "Marrowby Probe One");
        CHECK((ui::style(properties, controlId(dlgCheckTask::txtWndTitle)) & ES_READONLY) != 0);
        CHECK(ui::text(properties, controlId(dlgCheckTask::Frame1)) == "Window properties:");
        RECT client = ui::clientRect(properties);
        CHECK(client.right == 322);
        CHECK(client.bottom == 169);
        REQUIRE(ui::clickButton(properties, controlId(dlgCheckTask::btnOK)));
        CHECK(ui::waitForWindowToClose(properties));
        CHECK(program.waitForCommandTitle(TaskListCaption));
        CHECK(ui::isEnabled(dialog, controlId(btnProperties)));
    }

    SUBCASE("a task that ended loses exactly its line and leaves Properties... disabled")
    {
        std::vector<std::string> before = ui::listLines(dialog, list);
        DestroyWindow(two);
        // A double-click asks for the properties as the button does.
        REQUIRE(ui::doubleClickListLine(dialog, list, lineTwo));
        ui::MessageBoxView box = program.answer(IDOK);
        CHECK(box.caption == "Error");
        CHECK(box.text == task + " is no longer running !");
        CHECK(box.icon == ui::Icon::Exclamation);
        CHECK(ui::waitUntil([&] { return ui::listCount(dialog, list) == (int)before.size() - 1; }));
        CHECK(md::Marrowby::lineWithData(dialog, list, (DWORD)(UINT_PTR)two) == -1);
        CHECK(md::Marrowby::lineWithData(dialog, list, (DWORD)(UINT_PTR)one) >= 0);
        before.erase(before.begin() + lineTwo);
        CHECK(ui::listLines(dialog, list) == before);
        CHECK_FALSE(ui::isEnabled(dialog, controlId(btnProperties)));
        CHECK(program.waitForCommandTitle(TaskListCaption));
        CHECK_FALSE(program.showsDialog(PropertiesCaption));
    }

    REQUIRE(ui::clickButton(dialog, controlId(btnCancel)));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(program.waitForCommandTitle(""));
}

TEST_CASE("a failing NDdeGetClientInfo stops the task listing with one report")
{
    // At least three windows to list: the program's own and two probes.
    ui::ProbeWindows probes(ProbeClass);
    REQUIRE(probes.create("Marrowby Probe One", WS_OVERLAPPEDWINDOW) != NULL);
    REQUIRE(probes.create("Marrowby Probe Two", WS_OVERLAPPEDWINDOW) != NULL);
    md::ScriptedMarrowby scripted("client-info-fails");
    REQUIRE(scripted.start());
    md::Marrowby &program = scripted.program;

    REQUIRE(program.choose(wndMain::mnuListTasks));
    ui::MessageBoxView box = program.answer(IDOK);
    // The second call failed, and no call came after it.
    CHECK(box.text == md::errorReport(NDDE_REGISTRY_ERROR, "code 23; calls 0/0/2; offered 0"));
    CHECK(program.waitForCommandTitle(""));
    CHECK_FALSE(program.showsDialog(TaskListCaption));
    CHECK_FALSE(ui::hasMessageBox(program.processId()));
}

TEST_CASE("a failing NDdeGetClientInfo for the properties keeps the task list as it was")
{
    ScriptedTaskList tasks("properties-fail");
    REQUIRE(tasks.open());
    md::Marrowby &program = tasks.scripted.program;
    HWND dialog = tasks.dialog;
    const int list = tasks.list, line = tasks.line;
    CHECK(ui::listLine(dialog, list, line) == "SCRIPTED");
    std::vector<std::string> before = ui::listLines(dialog, list);

    REQUIRE(ui::selectListLine(dialog, list, line));
    REQUIRE(ui::waitUntil([&] { return ui::isEnabled(dialog, controlId(btnProperties)); }));
    REQUIRE(ui::clickButton(dialog, controlId(btnProperties)));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text.compare(0, 32, "NDDEAPI.DLL reports error #23.\r\n") == 0);
    CHECK(program.waitForCommandTitle(TaskListCaption));
    CHECK_FALSE(program.showsDialog(PropertiesCaption));
    CHECK(ui::listLines(dialog, list) == before);
    CHECK(ui::listSelection(dialog, list) == line);
    CHECK(ui::isEnabled(dialog, controlId(btnProperties)));
}

TEST_CASE("a task name that fills the whole buffer is shown whole and no further")
{
    ScriptedTaskList tasks("full-task-name");
    REQUIRE(tasks.open());
    CHECK(ui::listLine(tasks.dialog, tasks.list, tasks.line) == std::string(256, 'T'));
}

TEST_CASE("Check NetDDE... shows the properties of the agent's window")
{
    pt::closeStrayAgent();
    pt::RunningAgent agent;
    REQUIRE(agent.start());
    HWND agentWindow = NDdeGetWindow();
    REQUIRE(IsWindow(agentWindow));

    md::Marrowby program;
    REQUIRE(program.start());
    HWND dialog = program.open(wndMain::mnuCheckNetDDE, CheckCaption);
    REQUIRE(dialog != NULL);
    CHECK(program.commandTitle() == CheckCaption);
    CHECK(ui::owner(dialog) == program.mainWindow);
    CHECK(ui::text(dialog, controlId(dlgCheckTask::lblTaskName)) == taskName(agent.window()) + " is running.");
    CHECK(ui::text(dialog, controlId(dlgCheckTask::lblWndHandle)) == md::handleText((DWORD)(UINT_PTR)agentWindow));
    CHECK(ui::text(dialog, controlId(dlgCheckTask::txtWndClass)) == "NDdeAgent");
    CHECK(ui::text(dialog, controlId(dlgCheckTask::txtWndTitle)) == "Network DDE Agent");
    REQUIRE(ui::clickButton(dialog, controlId(dlgCheckTask::btnOK)));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(program.waitForCommandTitle(""));

    // Escape closes it as OK does.
    dialog = program.open(wndMain::mnuCheckNetDDE, CheckCaption);
    REQUIRE(dialog != NULL);
    REQUIRE(ui::pressKey(dialog, VK_ESCAPE));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(program.waitForCommandTitle(""));
}

}
