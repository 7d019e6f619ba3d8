// The agent's window and its notification icon, driven through their
// windows: the icon added (and again when the shell's notification area is
// made again), the window opened by the icon and by a second start, the
// pages of a run with a session, a linked conversation and a pinned node,
// the node dialog changing the node map that the next session reads, the
// This node page's remote administration check box and password, and the
// questions asked before a key is forgotten or open conversations end.
#include "netddetest.h"
#include "agentwindow.h"
#include "nodemap.h"

#include <commctrl.h>
#include <doctest/doctest.h>

#include <algorithm>

using namespace nt;

namespace {

// Menu commands and controls of the agent's window (its resources).
const int CopyFingerprintCommand = 201, CopyPageCommand = 207, ExitCommand = 202, AddNodeCommand = 203, EditNodeCommand = 204,
          RemoveNodeCommand = 205, ForgetKeyCommand = 206;
const int TabId = 101, FirstPageListId = 110, ChosenFingerprintId = 120;
const int AllowAdministrationBox = 209, AdministrationPasswordCommand = 210, PasswordId = 1002;
const char AdministrationKey[] = "Software\\Tessaseg\\Administration";
const char NewPasswordCaption[] = "Remote Administration of NODEA";
enum Page { SessionsPage, ConversationsPage, NodesPage, EventsPage, ThisNodePage };
const int NodeNameId = 1101, NodeNameRuleId = 1102, NodeHostId = 1103, NodePortId = 1104,
          NodeFingerprintId = 1105, NodeGraceId = 1106;
const char OtherNode[] = "NODEZ";
const char SomeKey[] = "AB12 CD34 EF56 7890 AB12 CD34 EF56 7890 AB12 CD34 EF56 7890 AB12 CD34 EF56 7890";

DWORD processOf(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

// A stand-in for the shell's notification area: the window Shell_NotifyIcon
// sends its requests to, counting those that name a window.
// One that refuses every request stands for a system without one.
struct NotificationArea {
    static std::vector<HWND> callers;
    static bool refusing;
    HWND window = NULL;
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_COPYDATA) {
            callers.push_back((HWND)wParam);
            return !refusing;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    bool open()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "Shell_TrayWnd";
        RegisterClassA(&windowClass);
        // Topmost, so that it is found ahead of any the system has.
        window = CreateWindowExA(WS_EX_TOPMOST, "Shell_TrayWnd", "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
        return window != NULL;
    }
    int requestsOf(HWND caller) const
    {
        int count = 0;
        for (HWND each : callers)
            count += each == caller;
        return count;
    }
    ~NotificationArea()
    {
        if (window)
            DestroyWindow(window);
        UnregisterClassA("Shell_TrayWnd", GetModuleHandleA(nullptr));
        callers.clear();
        refusing = false;
    }
};
std::vector<HWND> NotificationArea::callers;
bool NotificationArea::refusing;

bool openWindow(pt::RunningAgent &agent)
{
    PostMessageA(agent.window(), WM_OPEN_WINDOW, 0, 0);
    return ui::waitUntil([&] { return IsWindowVisible(agent.window()) != 0; });
}

// Shows page `page` as the keyboard does, one tab at a time.
bool showPage(HWND window, int page)
{
    HWND tabs = GetDlgItem(window, TabId);
    for (int step = 0; step < 8; step++) {
        int shown = (int)SendMessageA(tabs, TCM_GETCURSEL, 0, 0);
        if (shown == page)
            return ui::waitUntil([&] { return IsWindowVisible(GetDlgItem(window, FirstPageListId + page)) != 0; });
        PostMessageA(tabs, WM_KEYDOWN, shown < page ? VK_RIGHT : VK_LEFT, 0);
        ui::waitUntil([&] { return (int)SendMessageA(tabs, TCM_GETCURSEL, 0, 0) != shown; });
    }
    return false;
}

std::string clipboardText()
{
    std::string text;
    if (!OpenClipboard(NULL))
        return text;
    HANDLE data = GetClipboardData(CF_TEXT);
    const char *bytes = data ? (const char *)GlobalLock(data) : nullptr;
    if (bytes)
        text = bytes;
    if (data)
        GlobalUnlock(data);
    CloseClipboard();
    return text;
}

// The lines of the page, as its Copy Page puts them on the clipboard.
std::vector<std::string> pageLines(HWND window, int page)
{
    std::vector<std::string> lines;
    if (!showPage(window, page) || !OpenClipboard(NULL))
        return lines;
    EmptyClipboard();
    CloseClipboard();
    ui::chooseCommand(window, CopyPageCommand);
    // Only looked at once there: the clipboard open here would keep the agent out.
    ui::waitUntil([] { return IsClipboardFormatAvailable(CF_TEXT) != 0; }, 5000);
    std::string text = clipboardText();
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// Waits until a line of the page holds every one of `texts`; otherwise
// reports what the page showed.
bool pageShows(HWND window, int page, std::vector<std::string> texts)
{
    std::vector<std::string> lines;
    bool shown = ui::waitUntil([&] {
        lines = pageLines(window, page);
        for (const std::string &line : lines) {
            bool holdsAll = true;
            for (const std::string &text : texts)
                holdsAll = holdsAll && line.find(text) != std::string::npos;
            if (holdsAll)
                return true;
        }
        return false;
    });
    for (size_t i = 0; !shown && i < lines.size(); i++)
        MESSAGE("page " << page << " shows: " << lines[i]);
    return shown;
}

// The index of the page's line that begins with `start`, -1 when none
// comes in time.
int lineOf(HWND window, int page, const std::string &start)
{
    int found = -1;
    ui::waitUntil([&] {
        std::vector<std::string> lines = pageLines(window, page);
        for (size_t i = 0; i < lines.size() && found < 0; i++)
            if (lines[i].compare(0, start.size(), start) == 0)
                found = (int)i;
        return found >= 0;
    });
    return found;
}

// Chooses line `index` of the page's list as the keyboard does.
void chooseLine(HWND window, int page, int index)
{
    HWND list = GetDlgItem(window, FirstPageListId + page);
    PostMessageA(list, WM_KEYDOWN, VK_HOME, 0);
    for (int i = 0; i < index; i++)
        PostMessageA(list, WM_KEYDOWN, VK_DOWN, 0);
}

std::string ownFingerprint(pt::RunningAgent &agent)
{
    for (const std::string &line : agentLines(agent))
        if (line.compare(0, 12, "Fingerprint ") == 0)
            return line.substr(12);
    return "";
}

std::string nodeValue(const char *node, const char *name)
{
    char text[300] = "";
    DWORD size = sizeof text - 1, type = 0;
    std::string path = std::string(NodeMapKey) + (name ? std::string("\\") + node : "");
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    LONG result = RegQueryValueExA(key, name ? name : node, nullptr, &type, (BYTE *)text, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return "";
    return type == REG_DWORD ? std::to_string(*(DWORD *)text) : std::string(text);
}

// The message box the agent shows next: its text, answered with `button`.
std::string answerNextBox(HWND window, int button)
{
    ui::MessageBoxView box;
    if (!ui::waitForMessageBox(processOf(window), box) || !ui::answerMessageBox(box, button))
        return "";
    return box.text;
}

// Maps the other node to `where` with `key` pinned, as an administrator would.
bool mapOtherNode(const std::string &where, const char *key)
{
    HKEY node;
    if (!mapNode(OtherNode, where) ||
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(NodeMapKey) + "\\" + OtherNode).c_str(), 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &node, nullptr) != ERROR_SUCCESS)
        return false;
    bool written = RegSetValueExA(node, "Fingerprint", 0, REG_SZ, (const BYTE *)key,
                                  lstrlenA(key) + 1) == ERROR_SUCCESS;
    RegCloseKey(node);
    return written;
}

void removeOtherNode()
{
    mapNode(OtherNode, "");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(NodeMapKey) + "\\" + OtherNode).c_str());
}

// A value of remote administration's key as bytes; empty when there is none.
std::string administrationValue(const char *name)
{
    char bytes[64] = "";
    DWORD size = sizeof bytes, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AdministrationKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    LONG result = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)bytes, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(bytes, size) : "";
}

bool administrationOn()
{
    std::string enabled = administrationValue("Enabled");
    return enabled.size() == 4 && enabled[0] == 1;
}

// Answers the agent's new administration password dialog: `password`, or
// Cancel when it is empty.
bool answerNewPassword(HWND window, const std::string &password)
{
    HWND dialog = ui::waitForDialog(processOf(window), NewPasswordCaption);
    if (!dialog)
        return false;
    if (password.empty())
        return ui::clickButton(dialog, IDCANCEL) && ui::waitForWindowToClose(dialog);
    return ui::setText(dialog, PasswordId, password) && ui::clickButton(dialog, IDOK) &&
           ui::waitForWindowToClose(dialog);
}

} // namespace

TEST_CASE("the agent starts in the notification area and opens its window when asked")
{
    NotificationArea area;
    REQUIRE(area.open());
    pt::RunningAgent agent;
    REQUIRE(startNode(agent));
    HWND window = agent.window();
    CHECK(ui::waitUntil([&] { return area.requestsOf(window) >= 1; }));
    CHECK_FALSE(IsWindowVisible(window));

    // The shell made its notification area again: the icon is added again.
    int before = area.requestsOf(window);
    PostMessageA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    CHECK(ui::waitUntil([&] { return area.requestsOf(window) > before; }));

    // A double-click on the icon opens the window; its close box puts it away.
    PostMessageA(window, WM_NOTIFY_ICON, 1, WM_LBUTTONDBLCLK);
    CHECK(ui::waitUntil([&] { return IsWindowVisible(window) != 0; }));
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(ui::waitUntil([&] { return !IsWindowVisible(window); }));
    CHECK(agent.process().isRunning());

    // A second start shows the running agent's window and ends.
    pt::ChildProcess second;
    REQUIRE(second.start("nddeagent.exe", "/port:" + std::to_string(agent.port()) + " /node:NODEA"));
    DWORD exitCode = 0;
    CHECK(second.waitForExit(&exitCode));
    CHECK(exitCode == 1);
    CHECK(ui::waitUntil([&] { return IsWindowVisible(window) != 0; }));
    // The icon's Copy Fingerprint puts this node's fingerprint on the clipboard.
    REQUIRE(OpenClipboard(NULL));
    EmptyClipboard();
    CloseClipboard();
    REQUIRE(ui::chooseCommand(window, CopyFingerprintCommand));
    CHECK(ui::waitUntil([] { return IsClipboardFormatAvailable(CF_TEXT) != 0; }));
    CHECK(clipboardText() == ownFingerprint(agent));
    CHECK(ownFingerprint(agent).size() == 79);

    // Ending, the agent removes its icon: the stand-in answers meanwhile.
    before = area.requestsOf(window);
    PostMessageA(window, WM_CLOSE, 0, 0);
    CHECK(ui::waitUntil([&] { return !agent.process().isRunning(); }));
    CHECK(area.requestsOf(window) > before);
}

TEST_CASE("where the system takes no icon the agent keeps to the task bar, and calls for attention on the icon otherwise")
{
    {
        NotificationArea refusing;
        NotificationArea::refusing = true;
        REQUIRE(refusing.open());
        pt::RunningAgent agent;
        REQUIRE(startNode(agent));
        HWND window = agent.window();
        // Minimized on the task bar, and put back there by its close box.
        CHECK(ui::waitUntil([&] { return IsWindowVisible(window) && IsIconic(window); }));
        CHECK(agentShows(agent, "Notification icon: none"));
        REQUIRE(openWindow(agent));
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        CHECK(ui::waitUntil([&] { return IsWindowVisible(window) && IsIconic(window); }));
        CHECK(agent.process().isRunning());
        CHECK(agent.stop());
    }
    // A node refused for its key calls for attention until the window is opened.
    removeOtherNode();
    NotificationArea area;
    REQUIRE(area.open());
    pt::RunningAgent agent;
    REQUIRE(startNode(agent));
    CHECK(agentShows(agent, "Notification icon: idle"));
    REQUIRE(mapOtherNode("127.0.0.1:" + std::to_string(agent.port()), SomeKey));
    // The command asks every window, the stand-in's too: it is answered meanwhile.
    dt::RunningCommand wrongKey;
    REQUIRE(wrongKey.start(std::string("\\\\") + OtherNode + "\\NDDE$ NT_NONE$ request Price"));
    CHECK(ui::waitUntil([&] { return !wrongKey.process().isRunning(); }, pt::ProcessTimeout));
    CHECK(wrongKey.finish().exitCode != 0);
    CHECK(agentShows(agent, "Notification icon: attention"));
    REQUIRE(openWindow(agent));
    CHECK(agentShows(agent, "Notification icon: idle"));
    removeOtherNode();
    // Ending, it removes its icon: the stand-in answers meanwhile.
    PostMessageA(agent.window(), WM_CLOSE, 0, 0);
    CHECK(ui::waitUntil([&] { return !agent.process().isRunning(); }));
}

TEST_CASE("the pages show the session, the linked conversation, the pinned node and the events")
{
    pt::ChildProcess forget;
    REQUIRE(forget.start("nddeagent.exe", std::string("/forget:") + Node));
    REQUIRE(forget.waitForExit(nullptr));
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_SHOWN$", Request | Advise)}, "/rate:20 /item:Price=5"));
    dt::RunningCommand linked;
    REQUIRE(linked.start(shareArguments("NT_SHOWN$", "advise Counter 120")));
    REQUIRE(ui::waitUntil([&] { return !dt::updateValues(linked.process().output()).empty(); },
                          15000));
    HWND window = node.agent.window();
    REQUIRE(openWindow(node.agent));
    std::string fingerprint = ownFingerprint(node.agent);
    REQUIRE(fingerprint.size() == 79);

    REQUIRE(showPage(window, SessionsPage));
    CHECK(pageShows(window, SessionsPage, {"NODEA\tin\t127.0.0.1\t" + fingerprint.substr(0, 19), "\topen"}));
    CHECK(pageShows(window, SessionsPage, {"NODEA\tout\t127.0.0.1:", "\topen"}));
    REQUIRE(showPage(window, ConversationsPage));
    CHECK(pageShows(window, ConversationsPage, {"NT_SHOWN$\tNODEA\tclient\t\t1\t", "\topen"}));
    CHECK(pageShows(window, ConversationsPage, {"NT_SHOWN$\tNODEA\tserved\tNTSRV|QUOTES\t"}));
    REQUIRE(showPage(window, NodesPage));
    CHECK(pageShows(window, NodesPage, {"NODEA\t", "\t" + fingerprint.substr(0, 19) + "\tpinned at first contact\t"}));
    // The chosen node's whole fingerprint, below the list.
    chooseLine(window, NodesPage, lineOf(window, NodesPage, "NODEA\t"));
    CHECK(ui::waitUntil([&] { return ui::text(window, ChosenFingerprintId) == "NODEA: " + fingerprint; }));
    REQUIRE(showPage(window, EventsPage));
    CHECK(pageShows(window, EventsPage, {"\tsecurity\tNODEA\tnode NODEA", "pinned at first contact: " + fingerprint}));
    REQUIRE(showPage(window, ThisNodePage));
    CHECK(pageShows(window, ThisNodePage, {"Node name\tNODEA"}));
    CHECK(pageShows(window, ThisNodePage, {"Fingerprint\t" + fingerprint}));
    CHECK(node.server.close());
}

TEST_CASE("nodes are added, edited and removed through the node dialog, and the next session reads the map")
{
    removeOtherNode();
    pt::RunningAgent agent;
    REQUIRE(startNode(agent));
    HWND window = agent.window();
    REQUIRE(openWindow(agent));
    REQUIRE(showPage(window, NodesPage));
    CHECK(onShare("NT_NONE$", std::string("request Price")).exitCode != 0);
    std::string unknown = std::string("\\\\") + OtherNode + "\\NDDE$ NT_NONE$ request Price";
    CHECK(dt::runCommand(unknown).exitCode != 0);
    CHECK(agentShows(agent, "refused: node NODEZ is unknown"));

    REQUIRE(ui::chooseCommand(window, AddNodeCommand));
    HWND dialog = ui::waitForDialog(processOf(window), "Add Node");
    REQUIRE(dialog);
    // A name that breaks the rule is named as it is typed, and refused.
    REQUIRE(ui::setText(dialog, NodeNameId, "NODE Z"));
    CHECK(ui::waitUntil([&] { return ui::text(dialog, NodeNameRuleId).find("is no node name") != std::string::npos; }));
    REQUIRE(ui::setText(dialog, NodeHostId, "127.0.0.1"));
    REQUIRE(ui::clickButton(dialog, IDOK));
    CHECK(answerNextBox(window, IDOK).find("'NODE Z' is no node name") != std::string::npos);
    REQUIRE(ui::setText(dialog, NodeNameId, OtherNode));
    REQUIRE(ui::setText(dialog, NodePortId, "70000"));
    REQUIRE(ui::clickButton(dialog, IDOK));
    CHECK(answerNextBox(window, IDOK).find("Port '70000' is not valid") != std::string::npos);
    // A port nobody listens on: the next session tries it.
    unsigned short closedPort = pt::freePort();
    REQUIRE(ui::setText(dialog, NodePortId, std::to_string(closedPort)));
    REQUIRE(ui::setText(dialog, NodeGraceId, "12"));
    REQUIRE(ui::clickButton(dialog, IDOK));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(ui::waitUntil([&] { return nodeValue(OtherNode, nullptr) == "127.0.0.1:" + std::to_string(closedPort); }));
    CHECK(nodeValue(OtherNode, "GracePeriod") == "12");
    CHECK(pageShows(window, NodesPage, {"NODEZ\t127.0.0.1:" + std::to_string(closedPort) + "\t\t\t12\tno"}));
    CHECK(dt::runCommand(unknown).exitCode != 0);
    CHECK(agentShows(agent, "refused: node NODEZ cannot be reached"));

    // Edit: the port of this agent itself, and a key pinned ahead of first
    // contact that is not its own.
    std::string itself = "127.0.0.1:" + std::to_string(agent.port());
    int line = lineOf(window, NodesPage, "NODEZ\t");
    REQUIRE(line >= 0);
    chooseLine(window, NodesPage, line);
    REQUIRE(ui::chooseCommand(window, EditNodeCommand));
    dialog = ui::waitForDialog(processOf(window), "Edit Node");
    REQUIRE(dialog);
    CHECK(ui::text(dialog, NodeNameId) == OtherNode);
    REQUIRE(ui::setText(dialog, NodePortId, std::to_string(agent.port())));
    REQUIRE(ui::setText(dialog, NodeFingerprintId, "ab12cd34ef567890ab12cd34ef567890ab12cd34ef567890ab12cd34ef56789"));
    REQUIRE(ui::clickButton(dialog, IDOK));
    CHECK(answerNextBox(window, IDOK).find("is not valid: give 64 hexadecimal digits") != std::string::npos);
    REQUIRE(ui::setText(dialog, NodeFingerprintId, "ab12cd34ef567890ab12cd34ef567890ab12cd34ef567890ab12cd34ef567890"));
    REQUIRE(ui::clickButton(dialog, IDOK));
    CHECK(ui::waitForWindowToClose(dialog));
    CHECK(ui::waitUntil([] { return nodeValue(OtherNode, "Fingerprint") == SomeKey; }));
    CHECK(nodeValue(OtherNode, nullptr) == itself);
    CHECK(pageShows(window, NodesPage, {"NODEZ\t" + itself + "\t" + std::string(SomeKey, 19), "set by administrator"}));
    // The node presents another key: refused, and the page says until when.
    CHECK(dt::runCommand(unknown).exitCode != 0);
    CHECK(agentShows(agent, "refused: node NODEZ presents key"));
    CHECK(pageShows(window, NodesPage, {"NODEZ\t", "key refused until "}));

    // Forget Key names the node and its key, and forgets only on Yes.
    line = lineOf(window, NodesPage, "NODEZ\t");
    chooseLine(window, NodesPage, line);
    CHECK(ui::waitUntil([&] { return ui::text(window, ChosenFingerprintId) == std::string("NODEZ: ") + SomeKey; }));
    REQUIRE(ui::chooseCommand(window, ForgetKeyCommand));
    std::string question = answerNextBox(window, IDNO);
    CHECK(question.find("node NODEZ") != std::string::npos);
    CHECK(question.find(SomeKey) != std::string::npos);
    CHECK(nodeValue(OtherNode, "Fingerprint") == SomeKey);
    REQUIRE(ui::chooseCommand(window, ForgetKeyCommand));
    CHECK(answerNextBox(window, IDYES).find("node NODEZ") != std::string::npos);
    CHECK(ui::waitUntil([] { return nodeValue(OtherNode, "Fingerprint").empty(); }));
    CHECK(nodeValue(OtherNode, nullptr) == itself);

    // Remove asks, then the node is unknown to the next session again.
    line = lineOf(window, NodesPage, "NODEZ\t");
    chooseLine(window, NodesPage, line);
    REQUIRE(ui::chooseCommand(window, RemoveNodeCommand));
    CHECK(answerNextBox(window, IDYES).find("Remove node NODEZ") != std::string::npos);
    CHECK(ui::waitUntil([] { return nodeValue(OtherNode, nullptr).empty(); }));
    CHECK(ui::waitUntil([&] {
        std::vector<std::string> lines = pageLines(window, NodesPage);
        return std::none_of(lines.begin(), lines.end(), [](const std::string &line) {
            return line.compare(0, 6, "NODEZ\t") == 0;
        });
    }));
    removeOtherNode();
    CHECK(agent.stop());
}

TEST_CASE("This node's check box and Administration Password... turn remote administration on and off as /admin: does")
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, AdministrationKey);
    pt::RunningAgent agent;
    REQUIRE(startNode(agent));
    HWND window = agent.window();
    REQUIRE(openWindow(agent));
    REQUIRE(showPage(window, ThisNodePage));
    CHECK(IsWindowVisible(GetDlgItem(window, AllowAdministrationBox)));
    CHECK(ui::text(window, AllowAdministrationBox) == "Allow remote &administration");
    CHECK(ui::text(window, AdministrationPasswordCommand) == "Administration &Password...");
    CHECK_FALSE(ui::isChecked(window, AllowAdministrationBox));

    // Without a password stored, ticking asks for one; Cancel leaves it off.
    REQUIRE(ui::clickButton(window, AllowAdministrationBox));
    CHECK(answerNewPassword(window, ""));
    CHECK_FALSE(ui::isChecked(window, AllowAdministrationBox));
    CHECK_FALSE(administrationOn());

    // A password given: on, with only a salted key stored.
    REQUIRE(ui::clickButton(window, AllowAdministrationBox));
    CHECK(answerNewPassword(window, "SECRET"));
    CHECK(ui::waitUntil([&] { return ui::isChecked(window, AllowAdministrationBox); }));
    CHECK(administrationOn());
    std::string key = administrationValue("Key");
    CHECK(key.size() == 32);
    CHECK(administrationValue("Salt").size() == 16);
    CHECK(key.find("SECRET") == std::string::npos);
    CHECK(pageShows(window, EventsPage, {"remote administration of this node turned on"}));

    // Cleared, off; ticked again, on with the password kept, without a
    // question (one would hold the box clear until it was answered).
    REQUIRE(showPage(window, ThisNodePage));
    REQUIRE(ui::clickButton(window, AllowAdministrationBox));
    CHECK(ui::waitUntil([&] { return !ui::isChecked(window, AllowAdministrationBox); }));
    CHECK_FALSE(administrationOn());
    REQUIRE(ui::clickButton(window, AllowAdministrationBox));
    CHECK(ui::waitUntil([&] { return ui::isChecked(window, AllowAdministrationBox); }));
    CHECK(administrationOn());
    CHECK(administrationValue("Key") == key);

    // Administration Password... stores a new one.
    REQUIRE(ui::clickButton(window, AdministrationPasswordCommand));
    CHECK(answerNewPassword(window, "OTHER"));
    CHECK(ui::waitUntil([&] { return administrationValue("Key") != key; }));
    CHECK(administrationOn());
    CHECK(pageShows(window, EventsPage, {"remote administration of this node turned off"}));

    // /admin:off from outside shows when the page is drawn again.
    pt::ChildProcess off;
    REQUIRE(off.start("nddeagent.exe", "/admin:off"));
    CHECK(off.waitForExit(nullptr));
    REQUIRE(showPage(window, ThisNodePage));
    CHECK(ui::waitUntil([&] { return !ui::isChecked(window, AllowAdministrationBox); }));
    CHECK_FALSE(administrationOn());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, AdministrationKey);
}

TEST_CASE("Exit asks first while conversations are open, naming how many")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_EXIT$", Request | Advise)}, "/rate:20 /item:Price=5"));
    dt::RunningCommand linked;
    REQUIRE(linked.start(shareArguments("NT_EXIT$", "advise Counter 120")));
    REQUIRE(ui::waitUntil([&] { return !dt::updateValues(linked.process().output()).empty(); },
                          15000));
    HWND window = node.agent.window();
    REQUIRE(ui::chooseCommand(window, ExitCommand));
    // The client's conversation and the one this node serves for it.
    CHECK(answerNextBox(window, IDNO).find("2 conversations are open") != std::string::npos);
    CHECK(node.agent.process().isRunning());
    REQUIRE(ui::chooseCommand(window, ExitCommand));
    CHECK(answerNextBox(window, IDYES).find("conversations are open") != std::string::npos);
    DWORD exitCode = 1;
    CHECK(node.agent.process().waitForExit(&exitCode));
    CHECK(exitCode == 0);
    CHECK(node.server.close());
}
