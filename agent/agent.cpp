// nddeagent.exe: the Network DDE agent of the local machine.
//
//   nddeagent.exe [/port:N] [/firstsession:HEX] [/node:NAME] [/bind:ADDRESS] [/show]
//   nddeagent.exe /fingerprint
//   nddeagent.exe /forget:NODE
//   nddeagent.exe /admin:on | /admin:off
//
// One thread and one window. It carries DDE conversations between nodes: a
// DDE client here that initiates to application \\NODE\NDDE$ with a share
// name as topic talks through this agent and the agent of NODE to the DDE
// server that share names there (conversations.cpp), over one TCP session
// per pair of nodes (netsessions.cpp, netdde_wire.h). It listens on port N
// (AgentDefaultPort by default) of every interface, or of ADDRESS only.
// NAME is this node's name (default: the computer name, upper-case).
//
// The partner library asks for the served sessions, a session's connections
// (the shares it has conversations on), or the end of a session with
// WM_COPYDATA (agentlink.h). At most one agent runs; starting it again
// opens the running agent's window.
//
// The agent lives in the notification area (notifyicon.cpp) and starts with
// its window hidden, or open with /show. The window (agentpages.cpp) shows
// the sessions, the conversations, the node map, the events and this node,
// and lets the user add, edit and remove nodes and forget their keys
// (nodepage.cpp, nodedialog.cpp). Its close box puts it away; Exit ends the
// agent, as a WM_CLOSE sent by another program does.
//
// /fingerprint writes this node's fingerprint (identity.h) to standard
// output, making the node's key pair if it has none; /forget:NODE drops the
// fingerprint pinned for NODE, whether it was pinned as a node this one
// called or as a client node it served, so that NODE may come back with a
// new key. /admin:on asks for a new administration password and lets other
// nodes manage this node's shares with it (remoteadmin.h); /admin:off stops
// that. None of them starts the agent; all work while an agent runs.
//
// Exit codes: 0 after the agent ends, 1 when another agent runs,
// 2 when the port cannot be opened, 3 when the window cannot be made,
// 5 when the node's key pair cannot be loaded or made;
// /fingerprint, /forget: and /admin: 0 done, 4 not done (the reason is written).
#include "agentui.h"
#include "conversations.h"
#include <commctrl.h>
#include "identity.h"
#include "prompt.h"
#include "remoteadmin.h"
#include <stdarg.h>
#include <stdlib.h>

const UINT_PTR DueWorkTimer = 1;
const DWORD QueueLag = 5;               // ms messages may wait before sessions go first
// The window's first size: every column of the Sessions page fits.
const int DefaultWindowWidth = 760;
const int DefaultWindowHeight = 360;

enum IdentityCommand { NoIdentityCommand, ShowFingerprint, ForgetNode, AdministrationOn,
                       AdministrationOff };

static IdentityCommand identityCommand;
static bool showAtStart;                // /show
static bool hasNotifyIcon;
static UINT taskbarCreatedMessage;      // the shell's notification area was made again
static char nodeToForget[MaxNodeNameLength + 1];
static DWORD lastChecked, lastDrawn;

// The password prompt, lent to the conversations (SetPasswordKeeper).
static const PasswordKeeper AgentPasswords = {RememberedPassword, RememberPassword, AskPassword};

// ---- Requests of the partner library ---------------------------------------
// While the agent waits for a reply window to take a list, another request
// may come in; each answer is built in its own stack frame.

static UINT sendReply(HWND replyWindow, const void *entries, DWORD size)
{
    COPYDATASTRUCT data = {AgentReply, size, (void *)entries};
    DWORD_PTR answer = 0;
    if (!IsWindow(replyWindow) ||
        !SendToWaitingSender(replyWindow, WM_COPYDATA, (WPARAM)AgentWindowHandle, (LPARAM)&data,
                             AgentReplyTimeout, &answer) || !answer)
        return NDDE_INTERNAL_ERROR;
    return NDDE_NO_ERROR;
}

static UINT listSessions(HWND replyWindow)
{
    AgentSession list[AgentMaxSessions];
    AgentConnection connections[AgentMaxConnections];
    DWORD count = 0;
    for (int i = 0; i < SessionCount() && count < AgentMaxSessions; i++) {
        const Session *session = SessionAt(i);
        if (!session->incoming || session->state != SessionReady || session->endReason)
            continue;
        AgentSession &entry = list[count++];
        ZeroMemory(&entry, sizeof entry);
        lstrcpyA(entry.clientName, session->node);
        entry.sessionWord = (WORD)ConnectionsOf(session, connections, AgentMaxConnections);
        entry.sessionId = session->id;
    }
    return sendReply(replyWindow, list, count * sizeof(AgentSession));
}

static UINT listConnections(HWND replyWindow, const Session *session)
{
    AgentConnection list[AgentMaxConnections];
    int count = ConnectionsOf(session, list, AgentMaxConnections);
    return sendReply(replyWindow, list, count * sizeof(AgentConnection));
}

static LRESULT answerPartner(HWND replyWindow, const COPYDATASTRUCT *data)
{
    if (data->dwData == AgentAdministerNode)
        return TakeAdministrationRequest(replyWindow, data);
    if (data->cbData != sizeof(AgentRequest))
        return NDDE_INVALID_PARAMETER;
    AgentRequest request;
    memcpy(&request, data->lpData, sizeof request);
    request.clientName[ClientNameSize - 1] = 0;
    if (data->dwData == AgentListSessions)
        return listSessions(replyWindow);
    if (data->dwData != AgentListConnections && data->dwData != AgentCloseSession)
        return NDDE_INVALID_PARAMETER;
    Session *session = FindServedSession(request.clientName, request.sessionId);
    if (!session)
        return NDDE_INVALID_SESSION;
    if (data->dwData == AgentListConnections)
        return listConnections(replyWindow, session);
    // A sent message: the session ends from the window's loop, not under a
    // caller that may still use it (nor are its conversations freed here).
    CloseSessionOnOrder(session);
    return NDDE_NO_ERROR;
}

// ---- The window ------------------------------------------------------------

// The work that is due: sessions to end, the checks of sessions and
// conversations once a second, the view at most every RedrawInterval. Done
// from the timer, after every posted message of socket work, and from the
// message loop once the checks are due: posted messages (a peer that keeps
// a socket busy, a server that posts without pause) hold WM_TIMER off for
// as long as they come. Never from a sent message: it may end what a
// caller up the stack still uses.
static void doDueWork()
{
    DWORD now = GetTickCount();
    if (now - lastChecked >= CheckInterval) {
        lastChecked = now;
        CheckSessions();
        CheckConversations();
        UpdateNotifyIcon(AgentWindowHandle);
    } else {
        EndEndingSessions();
    }
    now = GetTickCount();
    if (AgentWindowHandle && now - lastDrawn >= RedrawInterval && TakeStateChange()) {
        lastDrawn = now;
        DrawAgentPages(AgentWindowHandle);
        UpdateNotifyIcon(AgentWindowHandle);
    }
}

// Posted messages of the sessions' work; false for any other message.
static bool handleSessionWork(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (IsSessionSocketMessage(message))
        HandleSessionSocket(message, (SOCKET)wParam, lParam);
    else if (message == WM_LISTEN_SOCKET)
        AcceptSession();
    else if (message == WM_SESSION_CONTINUE)
        ContinueSession((DWORD)wParam);
    else if (message == WM_POST_DUE_UPDATES)
        PostDueUpdates();
    else if (message == WM_FLUSH_SESSIONS)
        FlushSessions();
    else if (message == WM_HOST_FOUND)
        HostFound((HANDLE)wParam, lParam);
    else if (message != WM_END_FAILED_SESSIONS)
        return false;
    doDueWork();
    return true;
}

// Exit: ends the agent, once the user agrees when conversations are open.
static void exitAgent(HWND window)
{
    int conversations = CarriedConversationCount();
    if (conversations > 0 && !AskQuestion(window, IDS_EXIT_QUESTION, conversations))
        return;
    DestroyWindow(window);
}

static void copyFingerprint(HWND window)
{
    char fingerprint[FingerprintTextSize];
    OwnFingerprintText(fingerprint);
    CopyToClipboard(window, fingerprint);
}

static void openHelp(HWND window)
{
    char helpFile[32];
    LoadText(IDS_HELP_FILE, helpFile, sizeof helpFile);
    WinHelpA(window, helpFile, HELP_CONTENTS, 0);
}

// The This node page's "Allow remote administration": ticked, on again (a
// new password is asked for when none is stored); cleared, off.
static void switchAdministration(HWND window)
{
    if (IsRemoteAdministrationOn())
        TurnAdministrationOff();
    else
        AllowAdministration(window);
    ShowAdministrationSetting(window);
}

static void runCommand(HWND window, UINT commandId)
{
    HWND nodes = GetDlgItem(window, NodeListId);
    switch (commandId) {
    case IDM_OPEN: OpenAgentWindow(window); break;
    case IDM_COPY_FINGERPRINT: copyFingerprint(window); break;
    case IDM_EXIT: exitAgent(window); break;
    case IDM_ADD_NODE: AddNode(window, nodes); break;
    case IDM_EDIT_NODE: EditNode(window, nodes); break;
    case IDM_REMOVE_NODE: RemoveNodeFromMap(window, nodes); break;
    case IDM_FORGET_KEY: ForgetNodeKey(window, nodes); break;
    case IDM_COPY_PAGE: CopyShownPage(window); break;
    case IDM_ALLOW_ADMINISTRATION: switchAdministration(window); break;
    case IDM_ADMINISTRATION_PASSWORD: TurnAdministrationOn(window); ShowAdministrationSetting(window); break;
    case IDM_HELP_CONTENTS: openHelp(window); break;
    }
}

// The window's close box keeps the agent running: the window goes back to
// the notification area, or to the task bar where the system has none. A
// WM_CLOSE that a program sends ends the agent, as it always has.
static void putAway(HWND window)
{
    RememberPlacement(window);
    ShowWindow(window, hasNotifyIcon ? SW_HIDE : SW_MINIMIZE);
}

static LRESULT notified(HWND window, const NMHDR *header)
{
    if (header->idFrom == AgentTabId && header->code == TCN_SELCHANGE)
        ShowSelectedPage(window);
    else if (header->idFrom == NodeListId && header->code == NM_DBLCLK)
        runCommand(window, IDM_EDIT_NODE);
    else if (header->idFrom == NodeListId && header->code == LVN_ITEMCHANGED)
        ShowChosenFingerprint(window, GetDlgItem(window, NodeListId));
    return 0;
}

static LRESULT CALLBACK agentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return CreateAgentPages(window) && SetTimer(window, DueWorkTimer, RedrawInterval, 0) ? 0
                                                                                             : -1;
    case WM_SIZE:
        LayoutAgentPages(window);
        ShowAgentState();               // restored: drawn again at the next due work
        return 0;
    case WM_SHOWWINDOW:
        // Shown by another program too (the front ends' Check NetDDE).
        if (wParam)
            ShowAgentState();
        break;
    case WM_GETMINMAXINFO:
        ((MINMAXINFO *)lParam)->ptMinTrackSize.x = 400;
        ((MINMAXINFO *)lParam)->ptMinTrackSize.y = 250;
        return 0;
    case WM_NOTIFY:
        return notified(window, (const NMHDR *)lParam);
    case WM_COMMAND:
        runCommand(window, LOWORD(wParam));
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            putAway(window);
            return 0;
        }
        break;
    case WM_NOTIFY_ICON:
        HandleNotifyIcon(window, lParam);
        return 0;
    case WM_OPEN_WINDOW:
        OpenAgentWindow(window);
        return 0;
    case WM_TIMER:
        doDueWork();
        return 0;
    case WM_COPYDATA:
        return answerPartner((HWND)wParam, (const COPYDATASTRUCT *)lParam);
    case WM_DDE_INITIATE:
        AnswerInitiate((HWND)wParam, lParam);
        return 0;
    case WM_ADMINISTRATION:
        RunAdministration();
        return 0;
    case WM_DELIVER_ANSWERS:
        DeliverAdministrationAnswers();
        return 0;
    case WM_ASK_PASSWORD:
        AskPasswordFor((DWORD)wParam);
        return 0;
    case WM_DESTROY:
        KillTimer(window, DueWorkTimer);
        if (IsWindowVisible(window))
            RememberPlacement(window);
        RemoveNotifyIcon(window);
        WinHelpA(window, 0, HELP_QUIT, 0);
        EndClientConversations();
        EndAllSessions();
        CloseListener();
        PostQuitMessage(0);
        return 0;
    }
    if (message == taskbarCreatedMessage && message) {
        hasNotifyIcon = AddNotifyIcon(window);
        return 0;
    }
    if (handleSessionWork(message, wParam, lParam))
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Start-up --------------------------------------------------------------

// This node's name by default: the computer name, upper-case, at most 15 characters.
static void readComputerName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    CopyNodeName(OwnNodeName, IsValidNodeName(name) ? name : "NODE");
}

// Reads the options of the command line; false for one that is not sound.
static bool readOptions(const char *commandLine)
{
    for (const char *c = commandLine; *c; c++) {
        if (*c != '/')
            continue;
        char option[64];
        int length = 0;
        while (c[1 + length] && c[1 + length] != ' ' && length < 63)
            length++;
        lstrcpynA(option, c + 1, length + 1);
        if (startsWith(option, "port:")) {
            OwnPort = (unsigned short)strtoul(option + 5, 0, 10);
        } else if (startsWith(option, "firstsession:")) {
            SetFirstSessionId(strtoul(option + 13, 0, 16));
        } else if (startsWith(option, "node:")) {
            if (!IsValidNodeName(option + 5))
                return false;
            CopyNodeName(OwnNodeName, option + 5);
        } else if (lstrcmpiA(option, "fingerprint") == 0) {
            identityCommand = ShowFingerprint;
        } else if (startsWith(option, "forget:")) {
            if (!IsValidNodeName(option + 7))
                return false;
            identityCommand = ForgetNode;
            CopyNodeName(nodeToForget, option + 7);
        } else if (lstrcmpiA(option, "admin:on") == 0) {
            identityCommand = AdministrationOn;
        } else if (lstrcmpiA(option, "admin:off") == 0) {
            identityCommand = AdministrationOff;
        } else if (lstrcmpiA(option, "show") == 0) {
            showAtStart = true;
        } else if (startsWith(option, "bind:")) {
            OwnAddress = inet_addr(option + 5);
            if (OwnAddress == INADDR_NONE)
                return false;
        }
    }
    return true;
}

// ---- Commands about identities ----------------------------------------------
// Written to standard output, which a windowed program has when it was
// started with its output redirected (no console of its own is made).

static void writeLine(const char *format, ...)
{
    char line[1024 + 3];                // wvsprintfA writes at most 1024 characters
    va_list arguments;
    va_start(arguments, format);
    int length = wvsprintfA(line, format, arguments);
    va_end(arguments);
    lstrcpyA(line + length, "\r\n");
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written;
    if (output && output != INVALID_HANDLE_VALUE)
        WriteFile(output, line, length + 2, &written, 0);
}

// The exit code of /fingerprint or /forget:NODE.
static int runIdentityCommand()
{
    if (identityCommand == AdministrationOn) {
        if (!TurnAdministrationOn(0)) {
            writeLine("remote administration is not turned on");
            return 4;
        }
        writeLine("remote administration of node %s is on", OwnNodeName);
        return 0;
    }
    if (identityCommand == AdministrationOff) {
        if (!TurnAdministrationOff()) {
            writeLine("remote administration could not be turned off");
            return 4;
        }
        writeLine("remote administration of node %s is off", OwnNodeName);
        return 0;
    }
    if (identityCommand == ForgetNode) {
        if (!ForgetPin(nodeToForget)) {
            writeLine("no fingerprint is pinned for node %s", nodeToForget);
            return 4;
        }
        writeLine("forgot the fingerprint of node %s", nodeToForget);
        return 0;
    }
    NodeIdentity identity;
    const char *failure;
    if (!LoadNodeIdentity(AgentIdentityKey, &identity, &failure)) {
        writeLine("no fingerprint: %s", failure);
        return 4;
    }
    char fingerprint[FingerprintTextSize];
    FormatFingerprint(identity.fingerprint, fingerprint);
    SecureZeroMemory(&identity, sizeof identity);
    writeLine("%s", fingerprint);
    return 0;
}

// The next message to handle; false on WM_QUIT. While messages wait longer
// than QueueLag (a feed posts faster than this agent handles it), the
// sessions' work (a socket report, the frames left to handle, what is
// queued to send) and a server's answer to a transaction are taken ahead
// of the rest: what a node sends, a request or the answer to one, does not
// wait behind another conversation's updates. Looking ahead costs
// a call to the system, so it is done once a millisecond at most: more
// would slow the handling of the feed itself, which would then lag for good.
// A message taken ahead is followed by one in turn: a session whose node
// sends without pause does not hold off what this node's clients post.
static bool nextMessage(MSG *message)
{
    static bool lagging, tookAhead;
    static DWORD lookedAt;
    DWORD now = GetTickCount();
    if (tookAhead) {
        tookAhead = false;
        lookedAt = now;
    } else if (lagging && now != lookedAt) {
        lookedAt = now;
        tookAhead = PeekMessageA(message, AgentWindowHandle, WM_SESSION_SOCKET_FIRST,
                                 WM_SESSION_SOCKET_FIRST + SessionSocketMessages - 1, PM_REMOVE) ||
                    PeekMessageA(message, AgentWindowHandle, WM_FLUSH_SESSIONS, WM_SESSION_CONTINUE,
                                 PM_REMOVE) ||
                    TakeAwaitedAnswer(message);
        if (tookAhead)
            return true;
    }
    if (GetMessageA(message, 0, 0, 0) <= 0)
        return false;
    lagging = GetTickCount() - message->time > QueueLag;
    return true;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    SetFirstSessionId(AgentDefaultFirstSession);
    readComputerName();
    bool optionsSound = readOptions(commandLine);
    if (optionsSound && identityCommand != NoIdentityCommand)
        return runIdentityCommand();
    HANDLE running = CreateMutexA(0, FALSE, AgentRunningMutex);
    if (!running || GetLastError() == ERROR_ALREADY_EXISTS) {
        // The user started the agent again: show the one that runs.
        HWND runningAgent = FindWindowA(AgentWindowClass, 0);
        if (runningAgent)
            PostMessageA(runningAgent, WM_OPEN_WINDOW, 0, 0);
        return 1;
    }
    ReadLogFileSetting();
    DWORD sessionLimit = ReadAgentSetting(AgentSessionLimitValue, AgentDefaultSessionLimit);
    SetSessionLimit(sessionLimit < AgentMaxSessions ? (int)sessionLimit : AgentMaxSessions);
    // The node's key pair before the port: nobody is let in to a session
    // this agent could not secure.
    const char *failure;
    if (optionsSound && !LoadOwnIdentity(&failure))
        return 5;
    if (!optionsSound || !OpenListener(OwnAddress, OwnPort))
        return 2;

    AgentInstance = instance;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = agentWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_AGENT));
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_AGENT_MENU);
    windowClass.lpszClassName = AgentWindowClass;
    if (!RegisterClassA(&windowClass) || !RegisterConversationClass(instance))
        return 3;
    SetSessionUser(&ConversationSessionUser);
    SetPasswordKeeper(&AgentPasswords);
    StartAdministration();
    RECT place = {0, 0, DefaultWindowWidth, DefaultWindowHeight};
    bool placed = ReadPlacement(&place);
    AgentWindowHandle = CreateWindowA(AgentWindowClass, AgentWindowTitle, WS_OVERLAPPEDWINDOW,
                                      placed ? place.left : CW_USEDEFAULT,
                                      placed ? place.top : CW_USEDEFAULT, place.right - place.left,
                                      place.bottom - place.top, 0, 0, instance, 0);
    if (!AgentWindowHandle || !WatchListener())
        return 3;
    LogEvent("agent started: node %s, port %u", OwnNodeName, OwnPort);
    // Where the system has no notification area the window is never hidden,
    // only minimized, so that the user can always reach the agent.
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    hasNotifyIcon = AddNotifyIcon(AgentWindowHandle);
    if (showAtStart)
        OpenAgentWindow(AgentWindowHandle);
    else if (!hasNotifyIcon)
        ShowWindow(AgentWindowHandle, SW_SHOWMINNOACTIVE);
    DrawAgentPages(AgentWindowHandle);

    MSG message;
    while (nextMessage(&message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (GetTickCount() - lastChecked >= CheckInterval)
            doDueWork();
    }
    WSACleanup();
    CloseHandle(running);
    return (int)message.wParam;
}
