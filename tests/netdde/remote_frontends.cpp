// Both front ends on node A managing node B's shares through real windows
// (remote_frontends.sh sets up the pair: node B holds BONE$ and BTWO$, node A
// AONE$, and node A's agent knows node B's administration password). The
// script reads node B's store afterwards: what the windows added, changed
// and deleted must have landed there, and node A's own store stays as it was.
#include <algorithm>
#include <cctype>

#include "resource.h"
#include "shares_driver.h"

#include <doctest/doctest.h>

namespace {

const char LocalCaption[] = "32-bit Network DDE Status";
const char RemoteCaption[] = "32-bit Network DDE Status - \\\\NODEB";
const char SelectCaption[] = "Select Computer...";
const char CheckCaption[] = "Check NetDDE...";
const char InvalidNameNotice[] = "Computer name 'NO*DE' is invalid !";

// This machine's node name, as the library gives it to the front ends.
std::string ownNodeName()
{
    char name[16] = "";
    NDdeGetNodeName(name, sizeof name);
    name[sizeof name - 1] = '\0';
    return name;
}

bool holds(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Clicks a button once the program has enabled it: a list enables its
// buttons for a chosen share only once it has read the share from node B.
bool clickWhenEnabled(HWND dialog, int button)
{
    return ui::waitUntil([&] { return ui::isEnabled(dialog, button); }) && ui::clickButton(dialog, button);
}

// ---- quorvstat -----------------------------------------------------------------

struct Quorvstat {
    ui::Program program;
    HWND main = NULL;

    bool start(const std::string &arguments, const char *caption)
    {
        if (!program.start(ui::pathBeside("quorvstat.exe"), arguments))
            return false;
        main = ui::waitForWindow(program.processId(), "Quorvane", caption);
        return main != NULL;
    }
    HWND open(int command, const char *caption)
    {
        return ui::chooseCommand(main, command) ? ui::waitForDialog(program.processId(), caption) : NULL;
    }
    HWND openFrom(HWND dialog, int button, const char *caption)
    {
        return clickWhenEnabled(dialog, button) ? ui::waitForDialog(program.processId(), caption) : NULL;
    }
    // The share list's names, and the list closed again.
    std::vector<std::string> shareNames()
    {
        HWND list = open(IDM_LIST_SHARES, "List Shares...");
        if (!list)
            return {};
        std::vector<std::string> names = ui::listLines(list, IDC_SHARE_LIST);
        ui::clickButton(list, IDCANCEL);
        ui::waitForWindowToClose(list);
        return names;
    }
    bool captionIs(const char *caption)
    {
        return ui::waitUntil([&] { return ui::text(main) == caption; }, 5000);
    }
};

std::string lowerCase(std::string text)
{
    for (char &c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

// Selects `line` of a quorvstat list as a click does.
bool selectLine(HWND dialog, int list, const std::string &line)
{
    std::vector<std::string> lines = ui::listLines(dialog, list);
    auto found = std::find(lines.begin(), lines.end(), line);
    return found != lines.end() && ui::selectListLine(dialog, list, (int)(found - lines.begin()));
}

// Chooses a share of quorvstat's list as the user does, again while the
// list is still being filled from node B (which clears the choice), until
// the choice holds and its buttons are enabled.
bool chooseShare(HWND list, const std::string &share)
{
    return ui::waitUntil([&] {
        if (!selectLine(list, IDC_SHARE_LIST, share))
            return false;
        int chosen = ui::listSelection(list, IDC_SHARE_LIST);
        std::vector<std::string> lines = ui::listLines(list, IDC_SHARE_LIST);
        return chosen >= 0 && chosen < (int)lines.size() && lines[chosen] == share &&
               ui::isEnabled(list, IDC_EDIT_BUTTON);
    });
}

// Types a name into Select Computer and presses Enter, as the keyboard does.
bool enterComputerName(HWND dialog, int field, const std::string &name)
{
    return ui::setText(dialog, field, name) && ui::pressKey(dialog, VK_RETURN);
}

// ---- Marrowby --------------------------------------------------------------------

int menuCommand(wndMain::MenuItem item)
{
    return MenuFirstId + item;
}

// The share list's names once the form has filled it (from node B, a while
// after it shows; every store here holds shares), and the form closed again.
std::vector<std::string> marrowbyShareNames(shares::Marrowby &program)
{
    HWND list = program.openShareList();
    if (!list)
        return {};
    std::vector<std::string> names;
    ui::waitUntil([&] {
        names = ui::listLines(list, shares::id(dlgListShares::lbxShareList));
        return !names.empty();
    });
    program.confirm(list, shares::id(dlgListShares::btnCancel));
    return names;
}

bool marrowbyCaptionIs(shares::Marrowby &program, const char *caption)
{
    return ui::waitUntil([&] { return ui::text(program.mainWindow) == caption; }, 5000);
}

} // namespace

TEST_CASE("quorvstat /computer:NODEB lists, adds, changes and deletes node B's shares and lists its sessions and connections")
{
    Quorvstat status;
    REQUIRE(status.start("/computer:NODEB", RemoteCaption));
    HWND list = status.open(IDM_LIST_SHARES, "List Shares...");
    REQUIRE(list);
    std::vector<std::string> names = ui::listLines(list, IDC_SHARE_LIST);
    CHECK(holds(names, "BONE$"));
    CHECK(holds(names, "BTWO$"));
    CHECK_FALSE(holds(names, "AONE$"));

    // A new share, stored on node B.
    HWND editor = status.openFrom(list, IDC_ADD_BUTTON, "Add...");
    REQUIRE(editor);
    CHECK(ui::setText(editor, IDC_SHARE_NAME, "QADDED"));
    CHECK(ui::setText(editor, IDC_APPLICATION, "QAPP"));
    CHECK(ui::setText(editor, IDC_TOPIC, "QTOPIC"));
    CHECK(ui::clickButton(editor, IDOK));
    CHECK(ui::waitForWindowToClose(editor));
    CHECK(ui::waitUntil([&] { return holds(ui::listLines(list, IDC_SHARE_LIST), "QADDED$"); }));

    // Node B's share read into the editor and changed there.
    REQUIRE(chooseShare(list, "BONE$"));
    editor = status.openFrom(list, IDC_EDIT_BUTTON, "Edit...");
    REQUIRE(editor);
    CHECK(ui::text(editor, IDC_APPLICATION) == "BAPP");
    CHECK(ui::text(editor, IDC_TOPIC) == "BTOPIC");
    CHECK(ui::setText(editor, IDC_TOPIC, "QEDITED"));
    CHECK(ui::clickButton(editor, IDOK));
    CHECK(ui::waitForWindowToClose(editor));

    // Deleted on node B after the question.
    REQUIRE(chooseShare(list, "BTWO$"));
    CHECK(clickWhenEnabled(list, IDC_DELETE_BUTTON));
    ui::MessageBoxView question;
    REQUIRE(ui::waitForMessageBox(status.program.processId(), question));
    CHECK(question.text == "Delete share 'BTWO$' ?");
    CHECK(ui::answerMessageBox(question, IDYES));
    CHECK(ui::waitUntil([&] { return !holds(ui::listLines(list, IDC_SHARE_LIST), "BTWO$"); }));
    CHECK(ui::clickButton(list, IDCANCEL));
    CHECK(ui::waitForWindowToClose(list));

    // Node B's sessions: node A's own, which carries these calls.
    HWND sessions = status.open(IDM_LIST_SESSIONS, "List Sessions...");
    REQUIRE(sessions);
    CHECK(holds(ui::listLines(sessions, IDC_SESSION_LIST), "NODEA"));
    // Its connections, read on node B: it holds no conversation there.
    REQUIRE(selectLine(sessions, IDC_SESSION_LIST, "NODEA"));
    REQUIRE(ui::waitUntil([&] { return ui::isEnabled(sessions, IDC_CLIENTS_BUTTON); }));
    HWND connections = status.openFrom(sessions, IDC_CLIENTS_BUTTON, "Session NODEA");
    REQUIRE(connections);
    CHECK(ui::listCount(connections, IDC_CONNECTION_LIST) == 0);
    CHECK(ui::clickButton(connections, IDOK));
    CHECK(ui::waitForWindowToClose(connections));
    CHECK(ui::clickButton(sessions, IDCANCEL));
    CHECK(ui::waitForWindowToClose(sessions));

    // Check NetDDE checks node B's agent.
    HWND check = status.open(IDM_CHECK_NETDDE, CheckCaption);
    REQUIRE(check);
    CHECK(ui::text(check, IDC_TASK_RUNNING) == "\\\\NODEB is running.");
    CHECK(ui::clickButton(check, IDOK));
    CHECK(ui::waitForWindowToClose(check));
}

TEST_CASE("quorvstat's Select Computer... takes a node name; Escape keeps the computer; this machine's node name is this machine")
{
    Quorvstat status;
    REQUIRE(status.start("", LocalCaption));
    HWND dialog = status.open(IDM_SELECT_COMPUTER, SelectCaption);
    REQUIRE(dialog);
    CHECK(ui::text(dialog, IDC_COMPUTER_NAME) == ownNodeName());

    // A name that is no node's is refused and the dialog stays.
    CHECK(enterComputerName(dialog, IDC_COMPUTER_NAME, "NO*DE"));
    ui::MessageBoxView notice;
    REQUIRE(ui::waitForMessageBox(status.program.processId(), notice));
    CHECK(notice.text == InvalidNameNotice);
    CHECK(ui::answerMessageBox(notice, IDOK));
    CHECK(IsWindowVisible(dialog));
    CHECK(ui::text(status.main) == LocalCaption);

    CHECK(enterComputerName(dialog, IDC_COMPUTER_NAME, "\\\\nodeb"));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(status.captionIs(RemoteCaption));
    std::vector<std::string> names = status.shareNames();
    CHECK(holds(names, "QADDED$"));
    CHECK_FALSE(holds(names, "AONE$"));

    dialog = status.open(IDM_SELECT_COMPUTER, SelectCaption);
    REQUIRE(dialog);
    CHECK(ui::text(dialog, IDC_COMPUTER_NAME) == "\\\\NODEB");
    CHECK(ui::setText(dialog, IDC_COMPUTER_NAME, ownNodeName()));
    CHECK(ui::pressKey(dialog, VK_ESCAPE));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(ui::text(status.main) == RemoteCaption);

    dialog = status.open(IDM_SELECT_COMPUTER, SelectCaption);
    REQUIRE(dialog);
    CHECK(enterComputerName(dialog, IDC_COMPUTER_NAME, lowerCase(ownNodeName())));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(status.captionIs(LocalCaption));
    names = status.shareNames();
    CHECK(holds(names, "AONE$"));
    CHECK_FALSE(holds(names, "QADDED$"));
}

TEST_CASE("quorvstat started for a name that is no node's says so and manages this node")
{
    Quorvstat status;
    REQUIRE(status.program.start(ui::pathBeside("quorvstat.exe"), "/computer:NO*DE"));
    ui::MessageBoxView notice;
    REQUIRE(ui::waitForMessageBox(status.program.processId(), notice));
    CHECK(notice.text == InvalidNameNotice);
    CHECK(ui::answerMessageBox(notice, IDOK));
    status.main = ui::waitForWindow(status.program.processId(), "Quorvane", LocalCaption);
    REQUIRE(status.main);
    CHECK(holds(status.shareNames(), "AONE$"));
}

TEST_CASE("Marrowby /computer:NODEB lists, adds, changes and deletes node B's shares and lists its sessions")
{
    using namespace dlgEditShare;
    shares::Marrowby program;
    REQUIRE(program.start("", "/computer:NODEB", RemoteCaption));
    HWND list = program.openShareList();
    REQUIRE(list);
    int shareList = shares::id(dlgListShares::lbxShareList);
    std::vector<std::string> names = ui::listLines(list, shareList);
    CHECK(holds(names, "BONE$"));
    CHECK(holds(names, "QADDED$"));
    CHECK_FALSE(holds(names, "BTWO$"));
    CHECK_FALSE(holds(names, "AONE$"));

    HWND editor = program.open(list, shares::id(dlgListShares::btnAdd), shares::AddCaption);
    REQUIRE(editor);
    CHECK(shares::typeText(editor, txtShareName, "MADDED"));
    CHECK(shares::typeText(editor, txtAppName, "MAPP"));
    CHECK(shares::typeText(editor, txtTopic, "MTOPIC"));
    CHECK(program.confirm(editor, shares::id(btnOK)));
    CHECK(ui::waitUntil([&] { return holds(ui::listLines(list, shareList), "MADDED$"); }));

    REQUIRE(shares::selectLine(list, dlgListShares::lbxShareList, "QADDED$"));
    editor = program.open(list, shares::id(dlgListShares::btnEdit), shares::EditCaption);
    REQUIRE(editor);
    CHECK(ui::text(editor, shares::id(txtTopic)) == "QTOPIC");
    CHECK(shares::typeText(editor, txtTopic, "MEDITED"));
    CHECK(program.confirm(editor, shares::id(btnOK)));

    REQUIRE(shares::selectLine(list, dlgListShares::lbxShareList, "BONE$"));
    CHECK(shares::press(list, shares::id(dlgListShares::btnDelete)));
    ui::MessageBoxView question = program.answer(IDYES);
    CHECK(question.text == "Delete share 'BONE$' ?");
    CHECK(ui::waitUntil([&] { return !holds(ui::listLines(list, shareList), "BONE$"); }));
    CHECK(program.confirm(list, shares::id(dlgListShares::btnCancel)));

    CHECK(ui::chooseCommand(program.mainWindow, menuCommand(wndMain::mnuShowSessions)));
    HWND sessions = program.waitForOwned(program.mainWindow, "List Sessions...");
    REQUIRE(sessions);
    CHECK(holds(ui::listLines(sessions, shares::id(dlgListSessions::lbxSessList)), "NODEA"));
    CHECK(program.confirm(sessions, shares::id(dlgListSessions::btnCancel)));

    CHECK(ui::chooseCommand(program.mainWindow, menuCommand(wndMain::mnuCheckNetDDE)));
    HWND check = program.waitForOwned(program.mainWindow, CheckCaption);
    REQUIRE(check);
    CHECK(ui::text(check, shares::id(dlgCheckTask::lblTaskName)) == "\\\\NODEB is running.");
    CHECK(program.confirm(check, shares::id(dlgCheckTask::btnOK)));
}

TEST_CASE("Marrowby's Select Computer... takes a node name; Escape keeps the computer; this machine's node name is this machine")
{
    using namespace dlgSelectComputer;
    shares::Marrowby program;
    REQUIRE(program.start());
    CHECK(ui::chooseCommand(program.mainWindow, menuCommand(wndMain::mnuSelectComputer)));
    HWND dialog = program.waitForOwned(program.mainWindow, SelectCaption);
    REQUIRE(dialog);
    CHECK(ui::text(dialog, shares::id(txtComputerName)) == ownNodeName());

    CHECK(enterComputerName(dialog, shares::id(txtComputerName), "NO*DE"));
    ui::MessageBoxView notice = program.answer(IDOK);
    CHECK(notice.text == InvalidNameNotice);
    CHECK(IsWindowVisible(dialog));
    CHECK(ui::text(program.mainWindow) == LocalCaption);

    CHECK(enterComputerName(dialog, shares::id(txtComputerName), "\\\\nodeb"));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(marrowbyCaptionIs(program, RemoteCaption));
    std::vector<std::string> names = marrowbyShareNames(program);
    CHECK(holds(names, "MADDED$"));
    CHECK_FALSE(holds(names, "AONE$"));

    CHECK(ui::chooseCommand(program.mainWindow, menuCommand(wndMain::mnuSelectComputer)));
    dialog = program.waitForOwned(program.mainWindow, SelectCaption);
    REQUIRE(dialog);
    CHECK(ui::text(dialog, shares::id(txtComputerName)) == "\\\\NODEB");
    CHECK(ui::setText(dialog, shares::id(txtComputerName), ownNodeName()));
    CHECK(ui::pressKey(dialog, VK_ESCAPE));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(ui::text(program.mainWindow) == RemoteCaption);

    CHECK(ui::chooseCommand(program.mainWindow, menuCommand(wndMain::mnuSelectComputer)));
    dialog = program.waitForOwned(program.mainWindow, SelectCaption);
    REQUIRE(dialog);
    CHECK(enterComputerName(dialog, shares::id(txtComputerName), lowerCase(ownNodeName())));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(marrowbyCaptionIs(program, LocalCaption));
    names = marrowbyShareNames(program);
    CHECK(holds(names, "AONE$"));
    CHECK_FALSE(holds(names, "MADDED$"));
}
