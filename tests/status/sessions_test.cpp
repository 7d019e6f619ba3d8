// Driver tests of quorvstat's session list (dialog 13) and connection list
// (dialog 14): the real program, library, agent and client nodes, worked
// from outside with window messages, checked against what the library and
// the client nodes themselves see.
//
// A scripted partner (stalled_partner.cpp, run from a folder of its own)
// stands in for the agent where a list never fits its buffer.
#include <windows.h>

#include <doctest/doctest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "netdde_fixture.h"
#include "resource.h"
#include "tessaflat.h"

namespace {

const char SessionListCaption[] = "List Sessions...";
const char ClientsCaption[] = "Clients...";

// The session list of a freshly started program.
struct OpenSessionList {
    nf::StatusProgram program;
    HWND dialog = NULL;

    bool open()
    {
        if (!program.start())
            return false;
        dialog = program.open(IDM_LIST_SESSIONS, SessionListCaption);
        return dialog != NULL;
    }
};

// A folder holding the program, the library and the stalled partner; the
// partner's choice of list goes with it.
struct StalledFolder {
    std::string path = ui::makeScratchDirectory("stalled");
    ~StalledFolder()
    {
        SetEnvironmentVariableA("STALLED_LIST", NULL);
        ui::removeDirectory(path);
    }
};

} // namespace

TEST_CASE("the session and connection list templates carry their controls")
{
    nf::checkDialogTemplate({IDD_SESSION_LIST, 180, 104, {
        {-1, "static", "Current Sessions:", 0x50020000, 8, 8, 104, 8},
        {IDC_SESSION_LIST, "listbox", "", 0x50B10103, 8, 16, 104, 80},
        {IDC_CLIENTS_BUTTON, "button", "Clients...", 0x58030001, 124, 8, 48, 14},
        {IDC_CLOSE_SESSION_BUTTON, "button", "Close", 0x58010000, 124, 26, 48, 14},
        {IDCANCEL, "button", "Cancel", 0x50010000, 124, 44, 48, 14},
    }});
    nf::checkDialogTemplate({IDD_CONNECTION_LIST, 180, 104, {
        {-1, "static", "Servers w/Client Connections:", 0x50020000, 8, 8, 104, 8},
        {IDC_CONNECTION_LIST, "listbox", "", 0x50B10103, 8, 16, 104, 80},
        {IDOK, "button", "OK", 0x50010001, 124, 8, 48, 14},
    }});
}

TEST_CASE("an agent without sessions gives an empty session list")
{
    nf::Agent agent;
    REQUIRE(agent.start());
    REQUIRE(nf::listSessions().empty());
    OpenSessionList sessions;
    REQUIRE(sessions.open());
    HWND dialog = sessions.dialog;

    CHECK(sessions.program.title() == SessionListCaption);
    CHECK(ui::listCount(dialog, IDC_SESSION_LIST) == 0);
    CHECK(ui::listHorizontalExtent(dialog, IDC_SESSION_LIST) == 0);
    CHECK_FALSE(ui::isEnabled(dialog, IDC_CLIENTS_BUTTON));
    CHECK_FALSE(ui::isEnabled(dialog, IDC_CLOSE_SESSION_BUTTON));
    CHECK(ui::isDefaultButton(dialog, IDC_CLIENTS_BUTTON));

    // Enter on the disabled "Clients..." opens nothing and says nothing.
    {
        // The dialog manager sends the default button's command for Enter.
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CLIENTS_BUTTON, BN_CLICKED), 0);
        ui::pump(1000);
        CHECK(ui::waitUntil([&] { return sessions.program.title() == SessionListCaption; }));
        CHECK_FALSE(ui::hasMessageBox(sessions.program.processId()));
        CHECK_FALSE(sessions.program.showsDialog(ClientsCaption));
        CHECK(IsWindowVisible(dialog));
    }

    REQUIRE(ui::clickButton(dialog, IDCANCEL));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(ui::waitUntil([&] { return sessions.program.title().empty(); }));
}

TEST_CASE("every session is a line of its client that keeps its own id and opens its connections")
{
    nf::TestShare first("SESSTEST_A$"), second("SESSTEST_B$");
    REQUIRE(first.isStored());
    REQUIRE(second.isStored());
    nf::Agent agent;
    REQUIRE(agent.start());
    nf::ClientNode bravo, alpha, charlie1, charlie2;
    REQUIRE(bravo.start("BRAVO"));
    REQUIRE(alpha.start("ALPHA", {"SESSTEST_B$", "SESSTEST_A$"}));
    REQUIRE(charlie1.start("CHARLIE"));
    REQUIRE(charlie2.start("CHARLIE"));
    REQUIRE(charlie1.sessionId() != charlie2.sessionId());

    OpenSessionList sessions;
    REQUIRE(sessions.open());
    nf::StatusProgram &program = sessions.program;
    HWND sessionList = sessions.dialog;

    // Two client nodes give their lines; two sessions of one node give two
    // lines of the same text, each with its own id.
    REQUIRE(nf::joined(ui::listLines(sessionList, IDC_SESSION_LIST)) == "ALPHA|BRAVO|CHARLIE|CHARLIE");
    CHECK((DWORD)ui::listData(sessionList, IDC_SESSION_LIST, 0) == alpha.sessionId());
    CHECK((DWORD)ui::listData(sessionList, IDC_SESSION_LIST, 1) == bravo.sessionId());
    std::vector<DWORD> charlieIds = {(DWORD)ui::listData(sessionList, IDC_SESSION_LIST, 2),
                                     (DWORD)ui::listData(sessionList, IDC_SESSION_LIST, 3)};
    std::sort(charlieIds.begin(), charlieIds.end());
    std::vector<DWORD> expectedIds = {charlie1.sessionId(), charlie2.sessionId()};
    std::sort(expectedIds.begin(), expectedIds.end());
    CHECK(charlieIds == expectedIds);
    CHECK(ui::listHorizontalExtent(sessionList, IDC_SESSION_LIST) > GetSystemMetrics(SM_CXVSCROLL));

    // A node with connections: its shares under "Session <node>".
    {
        REQUIRE(nf::StatusProgram::selectLine(sessionList, IDC_SESSION_LIST, 0, IDC_CLOSE_SESSION_BUTTON));
        CHECK(ui::isEnabled(sessionList, IDC_CLIENTS_BUTTON));
        CHECK(ui::isDefaultButton(sessionList, IDC_CLIENTS_BUTTON));
        REQUIRE(ui::clickButton(sessionList, IDC_CLIENTS_BUTTON));
        HWND connections = program.waitForNestedDialog(sessionList, "Session ALPHA");
        REQUIRE(connections != NULL);
        CHECK(program.title() == "Session ALPHA");
        CHECK(nf::joined(ui::listLines(connections, IDC_CONNECTION_LIST)) == "SESSTEST_A$|SESSTEST_B$");
        CHECK(ui::listHorizontalExtent(connections, IDC_CONNECTION_LIST) > GetSystemMetrics(SM_CXVSCROLL));
        REQUIRE(ui::clickButton(connections, IDOK));
        CHECK(ui::waitForWindowToClose(connections));
        // The session list's own caption comes back to the title slot.
        CHECK(ui::waitUntil([&] { return program.title() == SessionListCaption; }));
        CHECK(IsWindowVisible(sessionList));
    }
    // A node without connections, opened by a double-click: an empty list.
    {
        REQUIRE(ui::doubleClickListLine(sessionList, IDC_SESSION_LIST, 1));
        HWND connections = program.waitForNestedDialog(sessionList, "Session BRAVO");
        REQUIRE(connections != NULL);
        CHECK(program.title() == "Session BRAVO");
        CHECK(ui::listCount(connections, IDC_CONNECTION_LIST) == 0);
        CHECK(ui::listHorizontalExtent(connections, IDC_CONNECTION_LIST) == 0);
        // Escape: the dialog manager sends IDCANCEL.
        PostMessageA(connections, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        CHECK(ui::waitForWindowToClose(connections));
        CHECK(ui::waitUntil([&] { return program.title() == SessionListCaption; }));
    }
    REQUIRE(ui::clickButton(sessionList, IDCANCEL));
    CHECK(ui::waitForWindowToClose(sessionList));
}

TEST_CASE("\"Close\" ends the chosen session only when the question is answered Yes")
{
    nf::TestShare share("SESSTEST_C$");
    REQUIRE(share.isStored());
    nf::Agent agent;
    REQUIRE(agent.start());
    nf::ClientNode foxtrot, golf;
    REQUIRE(foxtrot.start("FOXTROT", {"SESSTEST_C$"}));
    REQUIRE(golf.start("GOLF"));
    // The agent hands out ids with the top bit set: they must survive the
    // list's item data and the way back to the library.
    REQUIRE((foxtrot.sessionId() & 0x80000000) != 0);

    OpenSessionList sessions;
    REQUIRE(sessions.open());
    nf::StatusProgram &program = sessions.program;
    HWND dialog = sessions.dialog;
    REQUIRE(nf::joined(ui::listLines(dialog, IDC_SESSION_LIST)) == "FOXTROT|GOLF");
    REQUIRE((DWORD)ui::listData(dialog, IDC_SESSION_LIST, 0) == foxtrot.sessionId());
    REQUIRE(nf::StatusProgram::selectLine(dialog, IDC_SESSION_LIST, 0, IDC_CLOSE_SESSION_BUTTON));

    // Answered No: nothing changes.
    REQUIRE(ui::clickButton(dialog, IDC_CLOSE_SESSION_BUTTON));
    ui::MessageBoxView question = program.answer(IDNO);
    CHECK(question.text == "Close session 'FOXTROT' ?");
    CHECK(question.caption == SessionListCaption);
    CHECK(question.owner == dialog);
    CHECK(question.icon == ui::Icon::Question);
    CHECK(question.buttons == std::vector<int>{IDYES, IDNO});
    ui::pump(500);
    CHECK(foxtrot.program().isRunning());
    CHECK(nf::listSessions().size() == 2);
    CHECK(nf::joined(ui::listLines(dialog, IDC_SESSION_LIST)) == "FOXTROT|GOLF");
    CHECK(ui::listSelection(dialog, IDC_SESSION_LIST) == 0);
    CHECK(ui::isEnabled(dialog, IDC_CLIENTS_BUTTON));
    CHECK(ui::isEnabled(dialog, IDC_CLOSE_SESSION_BUTTON));

    // Answered Yes: the client node sees its session end.
    REQUIRE(ui::clickButton(dialog, IDC_CLOSE_SESSION_BUTTON));
    question = program.answer(IDYES);
    CHECK(question.text == "Close session 'FOXTROT' ?");
    DWORD exitCode = 1;
    CHECK(foxtrot.program().waitForExit(&exitCode));
    CHECK(exitCode == 0);
    CHECK(ui::waitUntil([&] { return ui::listCount(dialog, IDC_SESSION_LIST) == 1; }));
    CHECK(nf::joined(ui::listLines(dialog, IDC_SESSION_LIST)) == "GOLF");
    CHECK((DWORD)ui::listData(dialog, IDC_SESSION_LIST, 0) == golf.sessionId());
    std::vector<nf::ListedSession> left;
    CHECK(ui::waitUntil([&] { return (left = nf::listSessions()).size() == 1; }));
    REQUIRE(left.size() == 1);
    CHECK(left[0].id == golf.sessionId());
    CHECK(golf.program().isRunning());

    // The buttons follow: both disabled, "Cancel" the default with the focus.
    CHECK(ui::waitUntil([&] { return !ui::isEnabled(dialog, IDC_CLIENTS_BUTTON); }));
    CHECK_FALSE(ui::isEnabled(dialog, IDC_CLOSE_SESSION_BUTTON));
    CHECK_FALSE(ui::isDefaultButton(dialog, IDC_CLIENTS_BUTTON));
    CHECK(ui::isDefaultButton(dialog, IDCANCEL));
    CHECK(ui::focusedWindow(program.threadId()) == GetDlgItem(dialog, IDCANCEL));

    REQUIRE(ui::clickButton(dialog, IDCANCEL));
    CHECK(ui::waitForWindowToClose(dialog));
}

TEST_CASE("without the agent the session list reports code 18 and does not open")
{
    nf::checkReportsAgentNotRunning(IDM_LIST_SESSIONS, SessionListCaption);
}

TEST_CASE("a list that answers 2 without asking for more ends its retry with the report of code 2")
{
    StalledFolder stalled;
    const std::string &folder = stalled.path;
    REQUIRE(ui::copyFileInto(ui::pathBeside("quorvstat.exe"), folder));
    REQUIRE(ui::copyFileInto(ui::pathBeside("Tessaflat.dll"), folder));
    REQUIRE(ui::copyFileInto(ui::pathBeside("stalled\\Tessaseg.dll"), folder));

    // Sessions: no entries, a total of one entry.
    {
        SetEnvironmentVariableA("STALLED_LIST", "sessions");
        nf::StatusProgram program;
        REQUIRE(program.start(folder));
        ui::chooseCommand(program.main, IDM_LIST_SESSIONS);
        ui::MessageBoxView report = program.answer(IDOK);
        CHECK(report.text == "NDDEAPI.DLL reports error #2.\r\nscripted code 2 after 1 list calls.");
        CHECK(ui::waitUntil([&] { return program.title().empty(); }));
        CHECK_FALSE(program.showsDialog(SessionListCaption));
    }
    // Connections: no entries, a total the buffer already holds.
    {
        SetEnvironmentVariableA("STALLED_LIST", "connections");
        nf::StatusProgram program;
        REQUIRE(program.start(folder));
        HWND sessionList = program.open(IDM_LIST_SESSIONS, SessionListCaption);
        REQUIRE(sessionList != NULL);
        REQUIRE(nf::joined(ui::listLines(sessionList, IDC_SESSION_LIST)) == "STALLED");
        CHECK((DWORD)ui::listData(sessionList, IDC_SESSION_LIST, 0) == 0x80000007);
        REQUIRE(nf::StatusProgram::selectLine(sessionList, IDC_SESSION_LIST, 0, IDC_CLOSE_SESSION_BUTTON));
        REQUIRE(ui::clickButton(sessionList, IDC_CLIENTS_BUTTON));
        // Two session calls (no buffer, then one that fits), then a
        // connection call with no buffer and one with the buffer the answer
        // asked for, which it answers with the same total again.
        ui::MessageBoxView report = program.answer(IDOK);
        CHECK(report.text == "NDDEAPI.DLL reports error #2.\r\nscripted code 2 after 4 list calls.");
        CHECK(ui::waitUntil([&] { return program.title() == SessionListCaption; }));
        CHECK_FALSE(program.showsDialog("Session STALLED"));
        CHECK(IsWindowVisible(sessionList));
    }
}
