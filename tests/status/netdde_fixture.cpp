// Shared parts of the session and task driver tests (see netdde_fixture.h).
#include "netdde_fixture.h"

#include <doctest/doctest.h>

#include "agentlink.h"
#include "partnertest.h"
#include "tessaflat.h"

namespace nf {

// ---- The library's view ----------------------------------------------------------------

// One level-1 enumeration, grown until the library's total fits.
template <typename Call>
static UINT readList(Call call, std::vector<BYTE> &buffer, DWORD &entries)
{
    DWORD total = 0;
    buffer.assign(64, 0);
    for (int attempt = 0; attempt < 8; ++attempt) {
        entries = 0;
        UINT result = call(buffer.data(), (DWORD)buffer.size(), &total, &entries);
        if (result != NDDE_BUF_TOO_SMALL)
            return result;
        buffer.assign(total + 64, 0);
    }
    return NDDE_BUF_TOO_SMALL;
}

std::vector<ListedSession> listSessions()
{
    std::vector<ListedSession> sessions;
    std::vector<BYTE> buffer;
    DWORD entries = 0;
    UINT result = readList([](LPBYTE data, DWORD size, LPDWORD total, LPDWORD count) {
        return NDdeSessionEnum(NULL, 1, data, size, total, count);
    }, buffer, entries);
    if (result != NDDE_NO_ERROR)
        return sessions;
    const SessionEntry *entry = (const SessionEntry *)buffer.data();
    for (DWORD i = 0; i < entries; ++i)
        sessions.push_back({std::string(entry[i].clientName), entry[i].sessionId});
    return sessions;
}

std::vector<std::string> listConnections(const std::string &client, DWORD sessionId)
{
    std::vector<std::string> shares;
    std::vector<BYTE> buffer;
    DWORD entries = 0;
    UINT result = readList([&](LPBYTE data, DWORD size, LPDWORD total, LPDWORD count) {
        return NDdeConnectionEnum(NULL, (LPSTR)client.c_str(), (LONG)sessionId, 1, data, size, total, count);
    }, buffer, entries);
    if (result != NDDE_NO_ERROR)
        return shares;
    const ConnectionEntry *entry = (const ConnectionEntry *)buffer.data();
    for (DWORD i = 0; i < entries; ++i)
        shares.push_back(entry[i].connectedShare);
    return shares;
}

std::string taskName(HWND window)
{
    char client[16] = "", task[256] = "";
    if (NDdeGetClientInfo(window, client, sizeof client, task, sizeof task) != NDDE_NO_ERROR)
        return "";
    return task;
}

std::string handleText(DWORD handle)
{
    HMODULE program = ui::openResources(ui::pathBeside(StatusProgramFile));
    std::string format;
    bool read = program && ui::readString(program, 7, format);
    if (program)
        FreeLibrary(program);
    if (!read || format != "%#08lx")
        return "";
    char text[32];
    wsprintfA(text, format.c_str(), (unsigned long)handle);
    return text;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += (text.empty() ? "" : "|") + line;
    return text;
}

TestShare::TestShare(const std::string &name) : name_(name)
{
    NDdeShareDel(NULL, (LPSTR)name_.c_str(), 0);
    char application[] = "APPLICATION", topic[] = "TOPIC", noItem[] = "";
    ShareInfo info = {};
    lstrcpynA(info.shareName, name_.c_str(), sizeof info.shareName);
    info.appName = application;
    info.topicName = topic;
    info.password1 = (BYTE *)noItem;
    info.password2 = (BYTE *)noItem;
    info.permissions1 = Request | Advise;
    info.firstItem = noItem;
    stored_ = NDdeShareAdd(NULL, 2, (LPBYTE)&info, 4096) == NDDE_NO_ERROR;
}

TestShare::~TestShare()
{
    NDdeShareDel(NULL, (LPSTR)name_.c_str(), 0);
}

// ---- Agent and client nodes ----------------------------------------------------------------

HWND Agent::window() const
{
    return FindWindowA(AgentWindowClass, NULL);
}

// The port of the agent the fixture started last: tests run beside others
// on this machine, whose agents may hold the default port.
static unsigned short agentPort;

bool Agent::start()
{
    stop();
    agentPort = pt::freePort();
    if (!agentPort || !program_.start(ui::pathBeside("nddeagent.exe"), "/port:" + std::to_string(agentPort)))
        return false;
    return ui::waitUntil([this] { return window() != NULL && IsWindow(NDdeGetWindow()); });
}

void Agent::stop()
{
    // Closing the window ends the agent and with it every session; a stray
    // agent of an earlier run is closed the same way.
    HWND agent = window();
    if (agent)
        PostMessageA(agent, WM_CLOSE, 0, 0);
    ui::waitUntil([this] { return window() == NULL; });
    program_.waitForExit();
    program_.stop();
}

bool ClientNode::start(const std::string &node, const std::vector<std::string> &shares)
{
    std::vector<ListedSession> before = listSessions();
    std::string arguments = "/port:" + std::to_string(agentPort) + " " + node;
    for (const std::string &share : shares)
        arguments += " " + share;
    if (!program_.start(ui::pathBeside("nddeclient.exe"), arguments))
        return false;
    return ui::waitUntil([&] {
        for (const ListedSession &session : listSessions()) {
            bool known = false;
            for (const ListedSession &old : before)
                known = known || old.id == session.id;
            if (!known && session.client == node &&
                listConnections(node, session.id).size() == shares.size()) {
                sessionId_ = session.id;
                return true;
            }
        }
        return false;
    });
}

// ---- The program ----------------------------------------------------------------------------

HWND StatusProgram::open(int commandId, const std::string &caption)
{
    ui::chooseCommand(main, commandId);
    return ui::waitForDialog(processId(), caption);
}

HWND StatusProgram::waitForNestedDialog(HWND owner, const std::string &caption, DWORD timeout)
{
    HWND found = NULL;
    ui::waitUntil([&] {
        for (HWND window : ui::topLevelWindows(processId()))
            if (ui::owner(window) == owner && ui::className(window) == "#32770" && ui::text(window) == caption)
                found = window;
        return found != NULL;
    }, timeout);
    return found;
}

bool StatusProgram::showsDialog(const std::string &caption)
{
    for (HWND window : ui::topLevelWindows(processId()))
        if (ui::className(window) == "#32770" && ui::text(window) == caption)
            return true;
    return false;
}

ui::MessageBoxView StatusProgram::answer(int answer)
{
    ui::MessageBoxView box;
    if (ui::waitForMessageBox(processId(), box))
        ui::answerMessageBox(box, answer);
    return box;
}

bool StatusProgram::selectLine(HWND dialog, int listId, int index, int followingButton)
{
    return ui::selectListLine(dialog, listId, index) &&
           ui::waitUntil([&] { return ui::isEnabled(dialog, followingButton); });
}

int StatusProgram::lineWithData(HWND dialog, int listId, DWORD data)
{
    int count = ui::listCount(dialog, listId);
    for (int i = 0; i < count; ++i)
        if ((DWORD)ui::listData(dialog, listId, i) == data)
            return i;
    return -1;
}

void checkReportsAgentNotRunning(int commandId, const std::string &caption)
{
    Agent agent;
    agent.stop();
    StatusProgram program;
    REQUIRE(program.start());
    ui::chooseCommand(program.main, commandId);
    ui::MessageBoxView report;
    REQUIRE(ui::waitForMessageBox(program.processId(), report));
    CHECK_FALSE(program.showsDialog(caption));
    CHECK(report.text == apiErrorText(NDDE_NOT_RUNNING));
    CHECK(report.caption == SystemCaption);
    CHECK(report.icon == ui::Icon::Exclamation);
    REQUIRE(ui::answerMessageBox(report, IDOK));
    CHECK(ui::waitUntil([&] { return program.title().empty(); }));
    CHECK_FALSE(program.showsDialog(caption));
}

void checkDialogTemplate(const ExpectedDialog &expected)
{
    HMODULE program = ui::openResources(ui::pathBeside(StatusProgramFile));
    REQUIRE(program != NULL);
    ui::DialogTemplate dialog;
    bool read = ui::readDialogTemplate(program, expected.id, dialog);
    FreeLibrary(program);
    REQUIRE(read);
    INFO("dialog " << expected.id);
    CHECK(dialog.style == 0x80C800C0);
    CHECK(dialog.x == 20);
    CHECK(dialog.y == 20);
    CHECK(dialog.width == expected.width);
    CHECK(dialog.height == expected.height);
    CHECK(dialog.title == "");
    CHECK(dialog.menu == "");
    CHECK(dialog.className == "");
    CHECK(dialog.pointSize == 8);
    CHECK(dialog.fontName == "MS Sans Serif");
    REQUIRE(dialog.items.size() == expected.items.size());
    for (size_t i = 0; i < expected.items.size(); ++i) {
        const ExpectedItem &want = expected.items[i];
        const ui::DialogItemTemplate &item = dialog.items[i];
        INFO("control " << i << " \"" << want.text << "\"");
        CHECK(item.id == want.id);
        CHECK(item.className == want.className);
        CHECK(item.text == want.text);
        CHECK(item.style == want.style);
        CHECK(item.extendedStyle == 0);
        CHECK(item.x == want.x);
        CHECK(item.y == want.y);
        CHECK(item.width == want.width);
        CHECK(item.height == want.height);
    }
}

} // namespace nf
