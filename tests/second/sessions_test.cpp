// Driver tests of Marrowby's session list and connection list: the real
// program, library, agent and client nodes, and for answers the real
// library never gives, a copy of the program beside the scripted library.
#include <doctest/doctest.h>

#include <stdlib.h>

#include "marrowby_driver.h"
#include "partnertest.h"

namespace {

const char SessionListCaption[] = "List Sessions...";
const char CheckCaption[] = "Check NetDDE...";

using dlgListSessions::btnCancel;
using dlgListSessions::btnClients;
using dlgListSessions::btnClose;
using dlgListSessions::lbxSessList;
using md::controlId;

// A client node holding one session with the agent, ended when destroyed.
struct ClientNode {
    pt::ChildProcess process;
    DWORD sessionId = 0;

    // Starts `nddeclient NODE SHARE...` on the agent's port and waits until
    // it has connected.
    bool start(const pt::RunningAgent &agent, const std::string &node, const std::string &shares = "")
    {
        if (!agent.startClient(process, node + " " + shares) || !process.waitForLine("ready"))
            return false;
        for (const std::string &line : process.outputLines())
            if (line.compare(0, 8, "session ") == 0 && line.find(" opened as ") != std::string::npos)
                sessionId = strtoul(line.c_str() + 8, nullptr, 16);
        return sessionId != 0;
    }
};

// Checks that a command showed exactly the report `report` and no dialog,
// and left the command title empty.
void checkOnlyReport(md::Marrowby &program, const std::string &report, const std::string &dialogCaption)
{
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.caption == "Error");
    CHECK(box.text == report);
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(program.waitForCommandTitle(""));
    CHECK_FALSE(program.showsDialog(dialogCaption));
    CHECK_FALSE(ui::hasMessageBox(program.processId()));
}

// Opens the session list of a program whose library answers as `script`
// says, and expects only the report `report`.
void checkSessionListReport(const char *script, const std::string &report)
{
    CAPTURE(script);
    md::ScriptedMarrowby scripted(script);
    REQUIRE(scripted.start());
    REQUIRE(scripted.program.choose(wndMain::mnuShowSessions));
    checkOnlyReport(scripted.program, report, SessionListCaption);
}

// Starts the program beside the scripted library and opens its session
// list; NULL when either fails.
HWND openSessionList(md::ScriptedMarrowby &scripted)
{
    return scripted.start() ? scripted.program.open(wndMain::mnuShowSessions, SessionListCaption) : NULL;
}

// Asks for the connections of the first session, as `askForConnections`
// does, in a program beside the scripted library `script`, and expects the
// report `report`, the session list still shown and no connection list.
void checkConnectionListReport(const char *script, bool (*askForConnections)(HWND dialog), const std::string &report)
{
    md::ScriptedMarrowby scripted(script);
    HWND dialog = openSessionList(scripted);
    REQUIRE(dialog != NULL);
    REQUIRE(askForConnections(dialog));
    ui::MessageBoxView box = scripted.program.answer(IDOK);
    CHECK(box.text == report);
    CHECK(scripted.program.waitForCommandTitle(SessionListCaption));
    CHECK_FALSE(scripted.program.showsDialog("Session NODEA"));
    CHECK(ui::isEnabled(dialog, controlId(btnClients)));
}

} // namespace

TEST_SUITE("sessions")
{

TEST_CASE("without the agent, the session list and the agent check show only the report of code 18")
{
    pt::closeStrayAgent();
    md::Marrowby program;
    REQUIRE(program.start());

    REQUIRE(program.choose(wndMain::mnuShowSessions));
    checkOnlyReport(program, md::errorReport(NDDE_NOT_RUNNING), SessionListCaption);

    REQUIRE(program.choose(wndMain::mnuCheckNetDDE));
    checkOnlyReport(program, md::errorReport(NDDE_NOT_RUNNING), CheckCaption);
}

TEST_CASE("with no sessions the list is empty and both session buttons are disabled")
{
    pt::closeStrayAgent();
    pt::RunningAgent agent;
    REQUIRE(agent.start());
    md::Marrowby program;
    REQUIRE(program.start());

    HWND dialog = program.open(wndMain::mnuShowSessions, SessionListCaption);
    REQUIRE(dialog != NULL);
    CHECK(program.commandTitle() == SessionListCaption);
    CHECK(ui::text(dialog, controlId(dlgListSessions::Label1)) == "Current Sessions:");
    CHECK(ui::listCount(dialog, controlId(lbxSessList)) == 0);
    CHECK(ui::listHorizontalExtent(dialog, controlId(lbxSessList)) == 0);
    CHECK_FALSE(ui::isEnabled(dialog, controlId(btnClients)));
    CHECK_FALSE(ui::isEnabled(dialog, controlId(btnClose)));
    CHECK(ui::isEnabled(dialog, controlId(btnCancel)));
    CHECK(ui::isDefaultButton(dialog, controlId(btnClients)));
    RECT client = ui::clientRect(dialog);
    CHECK(client.right == 277);
    CHECK(client.bottom == 171);

    REQUIRE(ui::clickButton(dialog, controlId(btnCancel)));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(program.waitForCommandTitle(""));
}

TEST_CASE("sessions of client nodes: their lines, their connections, and closing one")
{
    pt::ShareCleanup cleanup;
    pt::TestShare alpha(cleanup("MBALPHA$")), beta(cleanup("MBBETA$"));
    REQUIRE(pt::addShare(alpha) == NDDE_NO_ERROR);
    REQUIRE(pt::addShare(beta) == NDDE_NO_ERROR);
    pt::closeStrayAgent();
    pt::RunningAgent agent;
    REQUIRE(agent.start());
    // Two sessions of one node, and a node name of the longest kind.
    ClientNode first, second, longest;
    REQUIRE(first.start(agent, "NODEA", "MBALPHA$ MBBETA$"));
    REQUIRE(second.start(agent, "NODEA", "MBALPHA$"));
    REQUIRE(longest.start(agent, "FIFTEENCHARNODE"));
    // The agent hands out ids with the top bit set.
    REQUIRE((first.sessionId & 0x80000000) != 0);
    REQUIRE((second.sessionId & 0x80000000) != 0);
    REQUIRE(first.sessionId != second.sessionId);

    md::Marrowby program;
    REQUIRE(program.start());
    HWND dialog = program.open(wndMain::mnuShowSessions, SessionListCaption);
    REQUIRE(dialog != NULL);
    const int list = controlId(lbxSessList);
    CHECK(ui::listLines(dialog, list) == std::vector<std::string>{"FIFTEENCHARNODE", "NODEA", "NODEA"});
    int firstLine = md::Marrowby::lineWithData(dialog, list, first.sessionId);
    int secondLine = md::Marrowby::lineWithData(dialog, list, second.sessionId);
    CHECK(firstLine >= 1);
    CHECK(secondLine >= 1);
    CHECK((DWORD)ui::listData(dialog, list, 0) == longest.sessionId);
    CHECK(ui::listHorizontalExtent(dialog, list) > 0);

    SUBCASE("Clients... lists the shares of the selected session, captioned with its client")
    {
        REQUIRE(ui::selectListLine(dialog, list, firstLine));
        CHECK(ui::waitUntil([&] { return ui::isEnabled(dialog, controlId(btnClients)); }));
        CHECK(ui::isEnabled(dialog, controlId(btnClose)));
        REQUIRE(ui::clickButton(dialog, controlId(btnClients)));
        HWND connections = program.waitForDialog("Session NODEA");
        REQUIRE(connections != NULL);
        CHECK(program.commandTitle() == "Session NODEA");
        CHECK(ui::owner(connections) == dialog);
        CHECK(ui::text(connections, controlId(dlgListConnections::Label1)) == "Servers w/Client Connection:");
        CHECK(ui::listLines(connections, controlId(dlgListConnections::lbxConnList)) ==
              std::vector<std::string>{"MBALPHA$", "MBBETA$"});
        CHECK(ui::isDefaultButton(connections, controlId(dlgListConnections::btnOK)));
        REQUIRE(ui::clickButton(connections, controlId(dlgListConnections::btnOK)));
        CHECK(ui::waitForWindowToClose(connections));
        CHECK(program.waitForCommandTitle(SessionListCaption));

        // A double-click opens the other session of the same node.
        REQUIRE(ui::doubleClickListLine(dialog, list, secondLine));
        connections = program.waitForDialog("Session NODEA");
        REQUIRE(connections != NULL);
        CHECK(ui::listLines(connections, controlId(dlgListConnections::lbxConnList)) ==
              std::vector<std::string>{"MBALPHA$"});
        // Escape closes it as OK does.
        REQUIRE(ui::pressKey(connections, VK_ESCAPE));
        CHECK(ui::waitForWindowToClose(connections));
        CHECK(program.waitForCommandTitle(SessionListCaption));
    }

    SUBCASE("Close asks first: No changes nothing, Yes ends exactly that session")
    {
        REQUIRE(ui::selectListLine(dialog, list, firstLine));
        REQUIRE(ui::waitUntil([&] { return ui::isEnabled(dialog, controlId(btnClose)); }));
        REQUIRE(ui::clickButton(dialog, controlId(btnClose)));
        ui::MessageBoxView box = program.answer(IDNO);
        CHECK(box.caption == SessionListCaption);
        CHECK(box.text == "Close session 'NODEA' ?");
        CHECK(box.icon == ui::Icon::Question);
        CHECK(box.buttons == std::vector<int>{IDYES, IDNO});
        ui::pump(500);
        CHECK(ui::listCount(dialog, list) == 3);
        CHECK(ui::listSelection(dialog, list) == firstLine);
        CHECK(ui::isEnabled(dialog, controlId(btnClients)));
        CHECK(ui::isEnabled(dialog, controlId(btnClose)));
        CHECK(first.process.isRunning());

        REQUIRE(ui::clickButton(dialog, controlId(btnClose)));
        box = program.answer(IDYES);
        CHECK(box.text == "Close session 'NODEA' ?");
        CHECK(ui::waitUntil([&] { return ui::listCount(dialog, list) == 2; }));
        CHECK(md::Marrowby::lineWithData(dialog, list, first.sessionId) == -1);
        CHECK(md::Marrowby::lineWithData(dialog, list, second.sessionId) >= 0);
        CHECK(ui::listSelection(dialog, list) == LB_ERR);
        CHECK_FALSE(ui::isEnabled(dialog, controlId(btnClients)));
        CHECK_FALSE(ui::isEnabled(dialog, controlId(btnClose)));
        CHECK(program.commandTitle() == SessionListCaption);
        // The agent ended that client's session, and only that one.
        DWORD exitCode = 1;
        CHECK(first.process.waitForExit(&exitCode));
        CHECK(exitCode == 0);
        CHECK(first.process.waitForLine("session closed"));
        CHECK(second.process.isRunning());
        CHECK_FALSE(ui::hasMessageBox(program.processId()));
    }
}

TEST_CASE("a client name of 18 characters gives an 18-character line")
{
    md::ScriptedMarrowby scripted("long-name");
    HWND dialog = openSessionList(scripted);
    REQUIRE(dialog != NULL);
    const int list = controlId(lbxSessList);
    // The name ends where its 18 bytes end, before the sessionWord bytes.
    REQUIRE(ui::listLines(dialog, list) == std::vector<std::string>{"ABCDEFGHIJKLMNOPQR", "SHORT"});
    CHECK((DWORD)ui::listData(dialog, list, 0) == 0x80000042);
    CHECK((DWORD)ui::listData(dialog, list, 1) == 7);
}

TEST_CASE("a session list that gives nothing to grow by ends with the report of code 2")
{
    // No entries: the next try would again have no buffer.
    checkSessionListReport("stalled-sessions", md::errorReport(2, "code 2; calls 1/0/0; offered 0"));
    // One entry of 24 bytes: the second try offers 25 bytes, which the
    // total of 10 bytes does not exceed.
    checkSessionListReport("covered-sessions", md::errorReport(2, "code 2; calls 2/0/0; offered 25"));
    // A total that keeps growing: each offer is the last total plus 1
    // (0, 101, 202, ... 707), and the eighth try is the last.
    checkSessionListReport("growing-sessions", md::errorReport(2, "code 2; calls 8/0/0; offered 707"));
}

TEST_CASE("connection lists the program cannot read are reported and not shown")
{
    SUBCASE("a share name placed outside the buffer is never followed")
    {
        checkConnectionListReport("stray-connection", [](HWND dialog) {
            return ui::doubleClickListLine(dialog, controlId(lbxSessList), 0);
        }, md::errorReport(NDDE_INTERNAL_ERROR, "code 11; calls 2/2/0; offered 25"));
    }

    SUBCASE("a connection list without entries that asks for more ends with the report of code 2")
    {
        checkConnectionListReport("stalled-connections", [](HWND dialog) {
            return ui::selectListLine(dialog, controlId(lbxSessList), 0) &&
                   ui::waitUntil([&] { return ui::isEnabled(dialog, controlId(btnClients)); }) &&
                   ui::clickButton(dialog, controlId(btnClients));
        }, md::errorReport(NDDE_BUF_TOO_SMALL, "code 2; calls 2/1/0; offered 25"));
    }
}

}
