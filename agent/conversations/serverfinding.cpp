// Finding the DDE server of a served conversation: initiating to the
// share's application and topic, and starting the application when the
// share allows it.
//
// Initiating sends WM_DDE_INITIATE and waits: sent messages are handled
// meanwhile, and one of them may end the conversation (a WM_DDE_TERMINATE
// sent by the window that answered, the session closed). The conversation
// is found again by its serial after every such call.
#include "relay.h"

const UINT InitiateTimeout = 100;         // ms any one window has to answer an initiate
// The window that answered last time has longer: a server busy posting a
// feed handles sent messages only between its posts (up to about 150 ms
// under 10,000 updates a second), and its links' conversations are opened
// again after an outage while it feeds the others.
const UINT KnownServerTimeout = 1000;
const DWORD SearchTimeout = 1000;         // ms one search of every window may take

// The window that last answered for an application and topic: asked first,
// so that a server is found without asking every window (some of which may
// be slow to answer) again.
struct KnownServer {
    char application[MaxAppNameLength + 1];
    char topic[MaxTopicLength + 1];
    HWND window;
};
static KnownServer knownServers[16];
static int knownServerCount;

static KnownServer *knownServerOf(const char *application, const char *topic)
{
    for (int i = 0; i < knownServerCount; i++)
        if (isSameDdeName(knownServers[i].application, application) &&
            isSameDdeName(knownServers[i].topic, topic))
            return &knownServers[i];
    return 0;
}

static void rememberServer(const char *application, const char *topic, HWND window)
{
    KnownServer *known = knownServerOf(application, topic);
    if (!known)
        known = &knownServers[knownServerCount < 16 ? knownServerCount++ : 15];
    lstrcpynA(known->application, application, sizeof known->application);
    lstrcpynA(known->topic, topic, sizeof known->topic);
    known->window = window;
}

// One search for a conversation's server.
struct ServerSearch {
    DWORD serial;
    char application[MaxAppNameLength + 1];
    char topic[MaxTopicLength + 1];
    DWORD startedAt;
    bool found, gone;
    bool unfinished;         // a window did not answer in time, or time ran out
                             // before every window was asked
};

// Asks one window to take the conversation, waiting `timeout` ms at most;
// true once a server has or the conversation has ended meanwhile.
static bool initiateTo(HWND window, UINT timeout, ServerSearch *search)
{
    Conversation *conversation = ConversationOfSerial(search->serial);
    if (!conversation) {
        search->gone = true;
        return true;
    }
    ATOM application = GlobalAddAtomA(search->application), topic = GlobalAddAtomA(search->topic);
    DWORD_PTR ignored;
    if (!SendMessageTimeoutA(window, WM_DDE_INITIATE, (WPARAM)conversation->window,
                             MAKELPARAM(application, topic), SMTO_ABORTIFHUNG, timeout, &ignored))
        search->unfinished = true;
    GlobalDeleteAtom(application);
    GlobalDeleteAtom(topic);
    conversation = ConversationOfSerial(search->serial);
    if (!conversation) {
        search->gone = true;
        return true;
    }
    if (!conversation->partner)
        return false;
    rememberServer(search->application, search->topic, window);
    search->found = true;
    return true;
}

static BOOL CALLBACK initiateToWindow(HWND window, LPARAM lParam)
{
    ServerSearch *search = (ServerSearch *)lParam;
    if (GetTickCount() - search->startedAt >= SearchTimeout) {
        search->unfinished = true;
        return FALSE;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId() || !initiateTo(window, InitiateTimeout, search);
}

// Initiates to the share's application and topic: the window that answered
// last time first, then (when `mayAskEveryWindow`) every top-level window
// for at most SearchTimeout; the first server to answer holds the
// conversation. The conversation again, or null when it ended meanwhile.
Conversation *FindServer(DWORD serial, bool mayAskEveryWindow, bool *found, bool *unfinished)
{
    Conversation *conversation = ConversationOfSerial(serial);
    *found = *unfinished = false;
    if (!conversation)
        return 0;
    ServerSearch search = {};
    search.serial = serial;
    lstrcpynA(search.application, conversation->stored.view.appName, sizeof search.application);
    lstrcpynA(search.topic, conversation->stored.view.topicName, sizeof search.topic);
    search.startedAt = GetTickCount();
    KnownServer *known = knownServerOf(search.application, search.topic);
    HWND knownWindow = known ? known->window : 0;
    if (!(knownWindow && IsWindow(knownWindow) &&
          initiateTo(knownWindow, KnownServerTimeout, &search)) &&
        mayAskEveryWindow)
        EnumWindows(initiateToWindow, (LPARAM)&search);
    *found = search.found && !search.gone;
    *unfinished = search.unfinished && !*found;
    return search.gone ? 0 : ConversationOfSerial(serial);
}

void ServerAnswered(Conversation *conversation, HWND server, LPARAM atoms)
{
    // Only an answer naming the share's application and topic is one; the
    // atoms of anything else belong to whoever sent it.
    char application[MaxWireName + 1], topic[MaxWireName + 1];
    AtomName(LOWORD(atoms), application);
    AtomName(HIWORD(atoms), topic);
    if (!isSameDdeName(application, conversation->stored.view.appName) ||
        !isSameDdeName(topic, conversation->stored.view.topicName))
        return;
    GlobalDeleteAtom(LOWORD(atoms));
    GlobalDeleteAtom(HIWORD(atoms));
    if (!conversation->partner)
        conversation->partner = server;
    else if (server != conversation->partner &&
             !PostMessageA(server, WM_DDE_TERMINATE, (WPARAM)conversation->window, 0))
        LogEvent("a second server of share %s takes no terminate", conversation->share);
}

// Applications started for a share: one start serves every conversation
// that waits for it, and the search of every window is made at most once a
// second for all of them.
struct StartedApplication {
    char application[MaxAppNameLength + 1];
    DWORD startedAt, searchedAt;
};
static StartedApplication startedApplications[16];

static StartedApplication *startedApplicationOf(const char *application, DWORD now)
{
    for (int i = 0; i < 16; i++)
        if (startedApplications[i].application[0] &&
            now - startedApplications[i].startedAt < StartAppTimeout &&
            isSameDdeName(startedApplications[i].application, application))
            return &startedApplications[i];
    return 0;
}

// Starts the share's application (a program on the search path) unless it
// was started for another conversation and may still answer.
bool StartServer(const char *application, const char *share, DWORD now)
{
    if (startedApplicationOf(application, now))
        return true;
    char commandLine[MaxAppNameLength + 1];
    lstrcpynA(commandLine, application, sizeof commandLine);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(0, commandLine, 0, 0, FALSE, 0, 0, 0, &startup, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    LogEvent("started %s for share %s", application, share);
    int slot = 0;
    for (int i = 1; i < 16; i++)
        if (now - startedApplications[i].startedAt > now - startedApplications[slot].startedAt)
            slot = i;
    lstrcpynA(startedApplications[slot].application, application, MaxAppNameLength + 1);
    startedApplications[slot].startedAt = startedApplications[slot].searchedAt = now;
    return true;
}

bool MaySearchForStarted(const char *application, DWORD now)
{
    StartedApplication *started = startedApplicationOf(application, now);
    if (!started || now - started->searchedAt < 1000)
        return false;
    started->searchedAt = now;
    return true;
}
