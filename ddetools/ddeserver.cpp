// ddeserver.exe: a small DDE server for tests and demonstrations.
//
//   ddeserver.exe [SERVICE [TOPIC]] [/rate:N] [/counters:N] [/steps:N]
//                 [/item:NAME=VALUE]... [/log:FILE]
//
// Without a TOPIC it answers every topic asked for by name; without a SERVICE
// its service is "ddeserver", so that a program starting it by name alone
// (as Network DDE's StartApp does) reaches it.
// Speaks raw DDE messages (WM_DDE_*), one hidden top-level window per
// conversation. Items hold bytes with a clipboard format; /item: presets
// CF_TEXT items. Item "Counter" (CF_TEXT, decimal) counts up N times a
// second (default 10); /counters:N adds items "Counter1" to "CounterN" that
// count with it, each step an update of every one; /steps:N stops them all
// after N steps (so the last value of each is N), and item "Finished" then
// holds the local time (HH:MM:SS.mmm) the last step was posted. Item
// "Executed" answers every command executed so
// far, each ended by "\r\n". Every execute string is recorded; "[fail]" is
// refused, "[sleep:MS]" blocks the server MS milliseconds before its ack,
// "[terminate]" ends the conversation after its ack.
//
// The main window (class DdeServerWindowClass, title "ddeserver
// SERVICE|TOPIC", "*" standing for every topic) answers WM_DDE_INITIATE; closing it ends every
// conversation and the program (exit code 0). Exit code 1: a wrong command
// line; 2: the window cannot be made.
#include <windows.h>
#include <dde.h>
#include <stdlib.h>
#include <stddef.h>
#include <string.h>

#include "postedblock.h"

#include <string>
#include <vector>

static const char DdeServerWindowClass[] = "DdeToolsServer";
static const char ConversationClass[] = "DdeToolsServerConversation";
static const char CounterItem[] = "Counter";
static const char ExecutedItem[] = "Executed";
static const char FinishedItem[] = "Finished";
static const char DefaultService[] = "ddeserver";

static const UINT CounterTimer = 1;
static const UINT CounterTimerPeriod = 10;        // ms
static const DWORD MaxRate = 1000000;             // increments per second
static const DWORD MaxCatchUp = 1000;             // ms of missed ticks made up at once
static const DWORD MaxSleep = 600000;             // ms a [sleep:MS] command may block

struct Item {
    std::string name;
    UINT format;
    std::vector<BYTE> bytes;
};

// An advise link of one conversation.
struct Link {
    std::string item;
    UINT format;
    bool deferUpdates;                 // warm link: notify without data
    bool ackRequested;                 // wait for the client's ack before the next update
    bool awaitingAck;
    bool changedMeanwhile;             // changed while an ack was awaited
};

struct Conversation {
    HWND window;
    HWND client;
    std::vector<Link> links;
};

// The server's program-wide state.
static std::string serviceName = DefaultService, topicName, logPath;     // no topic: every topic
static std::vector<Item> items;
static std::vector<Conversation> conversations;
static std::vector<std::string> executedCommands;
static DWORD counterRate = 10;
static DWORD extraCounters;                       // Counter1 .. CounterN
static DWORD stepLimit = MAXDWORD;                // steps before the counters stop
static const DWORD MaxExtraCounters = 1000;
static DWORD counterValue, counterStartTick, counterSteps;
static HWND mainWindow;

// ---- Items -------------------------------------------------------------------

static Item *findItem(const char *name)
{
    for (Item &item : items)
        if (lstrcmpiA(item.name.c_str(), name) == 0)
            return &item;
    return NULL;
}

static void setItem(const char *name, UINT format, const BYTE *bytes, size_t size)
{
    Item *item = findItem(name);
    if (!item) {
        items.push_back(Item());
        item = &items.back();
        item->name = name;
    }
    item->format = format;
    item->bytes.assign(bytes, bytes + size);
}

static void setTextItem(const char *name, const std::string &text)
{
    setItem(name, CF_TEXT, (const BYTE *)text.c_str(), text.size() + 1);
}

static std::string atomName(ATOM atom)
{
    char name[256] = "";
    GlobalGetAtomNameA(atom, name, sizeof name);
    return name;
}

// ---- Conversations and links -------------------------------------------------

static Conversation *findConversation(HWND window)
{
    for (Conversation &conversation : conversations)
        if (conversation.window == window)
            return &conversation;
    return NULL;
}

static Link *findLink(Conversation &conversation, const std::string &item)
{
    for (Link &link : conversation.links)
        if (lstrcmpiA(link.item.c_str(), item.c_str()) == 0)
            return &link;
    return NULL;
}

static void postAck(const Conversation &conversation, WORD status, UINT_PTR value, LPARAM received, UINT receivedMessage)
{
    LPARAM answer = ReuseDDElParam(received, receivedMessage, WM_DDE_ACK, status, value);
    if (!PostMessageA(conversation.client, WM_DDE_ACK, (WPARAM)conversation.window, answer))
        FreeDDElParam(WM_DDE_ACK, answer);
}

// A WM_DDE_DATA block holding the item's bytes; NULL when memory runs out.
static HGLOBAL dataBlock(const Item &item, bool response, bool ackRequested)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, offsetof(DDEDATA, Value) + item.bytes.size());
    if (!block)
        return NULL;
    DDEDATA *data = (DDEDATA *)GlobalLock(block);
    data->unused = 0;
    data->fResponse = response;
    data->fRelease = TRUE;
    data->reserved = 0;
    data->fAckReq = ackRequested;
    data->cfFormat = (short)item.format;
    CopyMemory(data->Value, item.bytes.data(), item.bytes.size());
    GlobalUnlock(block);
    return block;
}

// Posts WM_DDE_DATA (with the bytes, or none for a warm link); false when
// it could not be posted.
static bool postData(const Conversation &conversation, const Item &item, bool response, bool withData,
                     bool ackRequested)
{
    HGLOBAL block = NULL;
    if (withData && !(block = dataBlock(item, response, ackRequested)))
        return false;
    ATOM atom = GlobalAddAtomA(item.name.c_str());
    LPARAM message = PackDDElParam(WM_DDE_DATA, (UINT_PTR)block, atom);
    if (PostMessageA(conversation.client, WM_DDE_DATA, (WPARAM)conversation.window, message)) {
        ReleasePostedBlock(conversation.client, block);
        return true;
    }
    FreeDDElParam(WM_DDE_DATA, message);
    GlobalDeleteAtom(atom);
    if (block)
        GlobalFree(block);
    return false;
}

// Sends one update on a link, unless it must wait for the ack of the last.
static void sendUpdate(Conversation &conversation, Link &link, const Item &item)
{
    if (link.awaitingAck) {
        link.changedMeanwhile = true;
        return;
    }
    link.changedMeanwhile = false;
    bool withData = !link.deferUpdates;
    bool waitForAck = link.ackRequested && withData;
    if (postData(conversation, item, false, withData, waitForAck))
        link.awaitingAck = waitForAck;
}

// Tells every conversation with a link on the item that it changed.
static void itemChanged(const Item &item)
{
    for (Conversation &conversation : conversations) {
        Link *link = findLink(conversation, item.name);
        if (link && link->format == item.format)
            sendUpdate(conversation, *link, item);
    }
}

static void endConversation(HWND window)
{
    for (size_t i = 0; i < conversations.size(); i++) {
        if (conversations[i].window == window) {
            conversations.erase(conversations.begin() + i);
            break;
        }
    }
    DestroyWindow(window);
}

// Ends a conversation from this side: the client is told, the window goes.
static void terminateConversation(const Conversation &conversation)
{
    PostMessageA(conversation.client, WM_DDE_TERMINATE, (WPARAM)conversation.window, 0);
    endConversation(conversation.window);
}

// ---- Transactions --------------------------------------------------------------

static void onRequest(Conversation &conversation, LPARAM lParam)
{
    UINT format = LOWORD(lParam);
    ATOM atom = HIWORD(lParam);
    const Item *item = findItem(atomName(atom).c_str());
    bool answered = item && item->format == format && postData(conversation, *item, true, true, false);
    if (answered) {
        GlobalDeleteAtom(atom);
        return;
    }
    LPARAM answer = PackDDElParam(WM_DDE_ACK, 0, atom);
    if (!PostMessageA(conversation.client, WM_DDE_ACK, (WPARAM)conversation.window, answer)) {
        FreeDDElParam(WM_DDE_ACK, answer);
        GlobalDeleteAtom(atom);
    }
}

// Stores a poked block; false (a negative ack) for a block too short to hold one.
static bool storePoke(HGLOBAL block, const std::string &itemName)
{
    SIZE_T size = block ? GlobalSize(block) : 0;
    const SIZE_T header = offsetof(DDEPOKE, Value);
    if (size < header)
        return false;
    const DDEPOKE *poke = (const DDEPOKE *)GlobalLock(block);
    if (!poke)
        return false;
    UINT format = (USHORT)poke->cfFormat;
    bool release = poke->fRelease;
    setItem(itemName.c_str(), format, poke->Value, size - header);
    GlobalUnlock(block);
    if (release)
        GlobalFree(block);
    itemChanged(*findItem(itemName.c_str()));
    return true;
}

static void onPoke(Conversation &conversation, LPARAM lParam)
{
    UINT_PTR block = 0, atom = 0;
    UnpackDDElParam(WM_DDE_POKE, lParam, &block, &atom);
    bool stored = storePoke((HGLOBAL)block, atomName((ATOM)atom));
    postAck(conversation, stored ? 0x8000 : 0, atom, lParam, WM_DDE_POKE);
}

static void onAdvise(Conversation &conversation, LPARAM lParam)
{
    UINT_PTR block = 0, atom = 0;
    UnpackDDElParam(WM_DDE_ADVISE, lParam, &block, &atom);
    std::string itemName = atomName((ATOM)atom);
    const Item *item = findItem(itemName.c_str());
    bool accepted = false;
    if (item && block && GlobalSize((HGLOBAL)block) >= sizeof(DDEADVISE)) {
        const DDEADVISE *options = (const DDEADVISE *)GlobalLock((HGLOBAL)block);
        if (options && (UINT)(USHORT)options->cfFormat == item->format) {
            Link *link = findLink(conversation, item->name);
            if (!link) {
                conversation.links.push_back(Link());
                link = &conversation.links.back();
                link->item = item->name;
            }
            link->format = item->format;
            link->deferUpdates = options->fDeferUpd;
            link->ackRequested = options->fAckReq;
            link->awaitingAck = link->changedMeanwhile = false;
            accepted = true;
        }
        if (options)
            GlobalUnlock((HGLOBAL)block);
    }
    if (accepted)
        GlobalFree((HGLOBAL)block);
    postAck(conversation, accepted ? 0x8000 : 0, atom, lParam, WM_DDE_ADVISE);
}

static void onUnadvise(Conversation &conversation, LPARAM lParam)
{
    UINT_PTR format = 0, atom = 0;
    UnpackDDElParam(WM_DDE_UNADVISE, lParam, &format, &atom);
    FreeDDElParam(WM_DDE_UNADVISE, lParam);
    // A null item ends every link of the conversation.
    std::string itemName = atom ? atomName((ATOM)atom) : std::string();
    bool removed = false;
    for (size_t i = conversation.links.size(); i-- > 0;) {
        if (itemName.empty() || lstrcmpiA(conversation.links[i].item.c_str(), itemName.c_str()) == 0) {
            conversation.links.erase(conversation.links.begin() + i);
            removed = true;
        }
    }
    LPARAM answer = PackDDElParam(WM_DDE_ACK, removed ? 0x8000 : 0, atom);
    if (!PostMessageA(conversation.client, WM_DDE_ACK, (WPARAM)conversation.window, answer))
        FreeDDElParam(WM_DDE_ACK, answer);
}

// The client acknowledges an update: the link may send the next one.
static void onAck(Conversation &conversation, LPARAM lParam)
{
    UINT_PTR status = 0, atom = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &atom);
    FreeDDElParam(WM_DDE_ACK, lParam);
    std::string itemName = atomName((ATOM)atom);
    if (atom)
        GlobalDeleteAtom((ATOM)atom);
    Link *link = findLink(conversation, itemName);
    if (!link || !link->awaitingAck)
        return;
    link->awaitingAck = false;
    const Item *item = findItem(link->item.c_str());
    if (link->changedMeanwhile && item)
        sendUpdate(conversation, *link, *item);
}

// The command string of an execute block, bounded by the block's size.
static std::string commandText(HGLOBAL block)
{
    std::string text;
    SIZE_T size = block ? GlobalSize(block) : 0;
    const char *bytes = size ? (const char *)GlobalLock(block) : NULL;
    if (!bytes)
        return text;
    SIZE_T length = 0;
    while (length < size && bytes[length])
        length++;
    text.assign(bytes, length);
    GlobalUnlock(block);
    return text;
}

static void appendToLog(const std::string &command)
{
    if (logPath.empty())
        return;
    HANDLE file = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string line = command + "\r\n";
    DWORD written;
    SetFilePointer(file, 0, NULL, FILE_END);
    WriteFile(file, line.c_str(), (DWORD)line.size(), &written, NULL);
    CloseHandle(file);
}

static void recordCommand(const std::string &command)
{
    executedCommands.push_back(command);
    appendToLog(command);
    std::string all;
    for (const std::string &executed : executedCommands)
        all += executed + "\r\n";
    setTextItem(ExecutedItem, all);
    itemChanged(*findItem(ExecutedItem));
}

// The MS of a "[sleep:MS]" command, or -1 for any other command.
static long sleepMilliseconds(const std::string &command)
{
    const char prefix[] = "[sleep:";
    const size_t prefixLength = sizeof prefix - 1;
    if (command.size() < prefixLength + 2 || _strnicmp(command.c_str(), prefix, prefixLength) != 0 ||
        command.back() != ']')
        return -1;
    char *end = NULL;
    unsigned long milliseconds = strtoul(command.c_str() + prefixLength, &end, 10);
    if (end != command.c_str() + command.size() - 1)
        return -1;
    return milliseconds > MaxSleep ? MaxSleep : milliseconds;
}

static void onExecute(Conversation &conversation, LPARAM lParam)
{
    UINT_PTR block = 0, unused = 0;
    UnpackDDElParam(WM_DDE_EXECUTE, lParam, &unused, &block);
    std::string command = commandText((HGLOBAL)block);
    recordCommand(command);
    long sleep = sleepMilliseconds(command);
    if (sleep >= 0)
        Sleep(sleep);
    bool refused = lstrcmpiA(command.c_str(), "[fail]") == 0;
    postAck(conversation, refused ? 0 : 0x8000, block, lParam, WM_DDE_EXECUTE);
    if (lstrcmpiA(command.c_str(), "[terminate]") == 0)
        terminateConversation(conversation);
}

static LRESULT CALLBACK conversationProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Conversation *conversation = findConversation(window);
    if (!conversation || message < WM_DDE_FIRST || message > WM_DDE_LAST || message == WM_DDE_INITIATE)
        return DefWindowProcA(window, message, wParam, lParam);
    // Messages from anyone but the conversation's client are not ours.
    if ((HWND)wParam != conversation->client) {
        if (message != WM_DDE_REQUEST && message != WM_DDE_TERMINATE)
            FreeDDElParam(message, lParam);
        return 0;
    }
    switch (message) {
    case WM_DDE_REQUEST: onRequest(*conversation, lParam); break;
    case WM_DDE_POKE: onPoke(*conversation, lParam); break;
    case WM_DDE_ADVISE: onAdvise(*conversation, lParam); break;
    case WM_DDE_UNADVISE: onUnadvise(*conversation, lParam); break;
    case WM_DDE_EXECUTE: onExecute(*conversation, lParam); break;
    case WM_DDE_ACK: onAck(*conversation, lParam); break;
    case WM_DDE_TERMINATE: terminateConversation(*conversation); break;
    default: FreeDDElParam(message, lParam); break;
    }
    return 0;
}

// ---- The main window: initiates and the counter ----------------------------------

static bool nameMatches(ATOM atom, const std::string &name)
{
    return !atom || lstrcmpiA(atomName(atom).c_str(), name.c_str()) == 0;
}

static void onInitiate(HWND client, LPARAM lParam)
{
    ATOM askedTopic = HIWORD(lParam);
    if (!nameMatches(LOWORD(lParam), serviceName))
        return;
    // A server of every topic answers only for a named one.
    std::string topicAnswered = topicName.empty() ? (askedTopic ? atomName(askedTopic) : "") : topicName;
    if (topicAnswered.empty() || !nameMatches(askedTopic, topicAnswered))
        return;
    HWND window = CreateWindowA(ConversationClass, "", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                                GetModuleHandleA(NULL), NULL);
    if (!window)
        return;
    Conversation conversation = {window, client, {}};
    conversations.push_back(conversation);
    ATOM service = GlobalAddAtomA(serviceName.c_str());
    ATOM topic = GlobalAddAtomA(topicAnswered.c_str());
    SendMessageA(client, WM_DDE_ACK, (WPARAM)window, MAKELPARAM(service, topic));
}

// Counts the counter up by every step due since the start, each step its own
// update, so a hot link sees every value in order. A server that was blocked
// makes up at most MaxCatchUp ms of steps and forgets the rest.
static void advanceCounter()
{
    DWORD elapsed = GetTickCount() - counterStartTick;
    DWORD due = (DWORD)((ULONGLONG)elapsed * counterRate / 1000);
    DWORD catchUpLimit = (DWORD)((ULONGLONG)MaxCatchUp * counterRate / 1000) + 1;
    if (due - counterSteps > catchUpLimit) {
        counterSteps = due - catchUpLimit;
    }
    bool stepping = counterValue < stepLimit;
    for (; counterSteps < due && counterValue < stepLimit; counterSteps++) {
        counterValue++;
        char text[16];
        wsprintfA(text, "%lu", counterValue);
        setTextItem(CounterItem, text);
        itemChanged(*findItem(CounterItem));
        for (DWORD i = 1; i <= extraCounters; i++) {
            char name[32];
            wsprintfA(name, "%s%lu", CounterItem, i);
            setTextItem(name, text);
            itemChanged(*findItem(name));
        }
    }
    if (stepping && counterValue == stepLimit) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        char text[16];
        wsprintfA(text, "%02u:%02u:%02u.%03u", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
        setTextItem(FinishedItem, text);
    }
}

static void closeServer(HWND window)
{
    while (!conversations.empty())
        terminateConversation(conversations.back());
    DestroyWindow(window);
}

static LRESULT CALLBACK mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DDE_INITIATE: onInitiate((HWND)wParam, lParam); return 0;
    case WM_TIMER: advanceCounter(); return 0;
    case WM_CLOSE: closeServer(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Start ---------------------------------------------------------------------

static bool startsWithOption(const char *argument, const char *option)
{
    return _strnicmp(argument, option, strlen(option)) == 0;
}

static bool readOption(const char *argument)
{
    if (startsWithOption(argument, "/rate:")) {
        char *end = NULL;
        unsigned long rate = strtoul(argument + 6, &end, 10);
        if (!*(argument + 6) || *end || rate > MaxRate)
            return false;
        counterRate = rate;
        return true;
    }
    if (startsWithOption(argument, "/counters:") || startsWithOption(argument, "/steps:")) {
        const char *number = strchr(argument, ':') + 1;
        char *end = NULL;
        unsigned long value = strtoul(number, &end, 10);
        if (!*number || *end)
            return false;
        if (argument[1] == 's' || argument[1] == 'S')
            stepLimit = value;
        else if (value <= MaxExtraCounters)
            extraCounters = value;
        else
            return false;
        return true;
    }
    if (startsWithOption(argument, "/item:")) {
        const char *assignment = argument + 6;
        const char *equals = strchr(assignment, '=');
        if (!equals || equals == assignment || equals - assignment > 255)
            return false;
        setTextItem(std::string(assignment, equals).c_str(), equals + 1);
        return true;
    }
    if (startsWithOption(argument, "/log:") && argument[5]) {
        logPath = argument + 5;
        return true;
    }
    return false;
}

static bool readCommandLine(int argc, char **argv)
{
    std::vector<const char *> names;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] == '/') {
            if (!readOption(argv[i]))
                return false;
        } else {
            names.push_back(argv[i]);
        }
    }
    if (names.size() > 2)
        return false;
    for (const char *name : names)
        if (!name[0] || lstrlenA(name) > 255)
            return false;
    if (names.size() >= 1)
        serviceName = names[0];
    if (names.size() == 2)
        topicName = names[1];
    return true;
}

static bool registerClasses(HINSTANCE instance)
{
    WNDCLASSA main = {};
    main.lpfnWndProc = mainProcedure;
    main.hInstance = instance;
    main.lpszClassName = DdeServerWindowClass;
    WNDCLASSA conversation = main;
    conversation.lpfnWndProc = conversationProcedure;
    conversation.lpszClassName = ConversationClass;
    return RegisterClassA(&main) && RegisterClassA(&conversation);
}

int main(int argc, char **argv)
{
    setTextItem(CounterItem, "0");
    setTextItem(ExecutedItem, "");
    setTextItem(FinishedItem, "");
    if (!readCommandLine(argc, argv)) {
        const char usage[] = "usage: ddeserver [SERVICE [TOPIC]] [/rate:N] [/counters:N] [/steps:N]"
                             " [/item:NAME=VALUE]... [/log:FILE]\r\n";
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), usage, sizeof usage - 1, &written, NULL);
        return 1;
    }
    for (DWORD i = 1; i <= extraCounters; i++) {
        char name[32];
        wsprintfA(name, "%s%lu", CounterItem, i);
        setTextItem(name, "0");
    }
    HINSTANCE instance = GetModuleHandleA(NULL);
    std::string title = "ddeserver " + serviceName + "|" + (topicName.empty() ? "*" : topicName);
    if (!registerClasses(instance) ||
        !(mainWindow = CreateWindowA(DdeServerWindowClass, title.c_str(), WS_OVERLAPPED, 0, 0, 0, 0, NULL, NULL,
                                     instance, NULL)))
        return 2;
    counterStartTick = GetTickCount();
    if (counterRate)
        SetTimer(mainWindow, CounterTimer, CounterTimerPeriod, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
