// The serving side of a carried DDE conversation: a conversation window of
// this agent stands in for the remote DDE client.
//
// A client node opens a conversation on a share by name and proves a
// password against a fresh challenge; the conversation window then initiates
// to the share's application and topic and relays. Transactions reach the
// server one at a time, so that every answer is known to belong to the one at
// the server, and a transaction the share does not grant is refused in its
// turn without reaching it.
#include "relay.h"

const int MaxConversationsPerNode = 256;  // served for one client node at once
const DWORD MaxQueuedTransactionBytes = 64 * 1024 * 1024;  // waiting for one server
const DWORD StartAppTimeout = 10000;      // ms a started application has to answer
const UINT InitiateTimeout = 100;         // ms any one window has to answer an initiate
const DWORD ServerAnswerTimeout = 10000;  // ms a server has to answer a transaction
// Wine's DDEML server conversations (windows of class DdeServerConvAnsi or
// DdeServerConvUnicode) send one stray positive acknowledgement after every
// request they answer with data.
const char DdemlServerClassPrefix[] = "DdeServerConv";

// ---- Opening ---------------------------------------------------------------

static void refuseOpen(Session *session, DWORD id, const char *share, UINT code)
{
    LogEvent("refused: %s asked for share %s: %s", session->node, share, RefusalReason(code));
    Frame refusal;
    InitFrame(&refusal, FrameRefused, id);
    refusal.word = (WORD)code;
    SendFrame(session, &refusal);
}

void OpenShare(Session *session, const Frame *open)
{
    if (ConversationCountOn(session) >= MaxConversationsPerNode) {
        refuseOpen(session, open->conversation, open->name, NDDE_OUT_OF_MEMORY);
        return;
    }
    if (FindConversation(session, open->conversation)) {
        refuseOpen(session, open->conversation, open->name, NDDE_INVALID_PARAMETER);
        return;
    }
    if (!IsValidShareName(open->name)) {
        refuseOpen(session, open->conversation, open->name, NDDE_INVALID_SHARE);
        return;
    }
    StoredShare stored;
    UINT result = StoreReadShare(open->name, &stored);
    if (result != NDDE_NO_ERROR) {
        refuseOpen(session, open->conversation, open->name, result);
        return;
    }
    Conversation *conversation = NewConversation(true, session, open->conversation);
    if (!conversation || !MakeChallenge(conversation->challenge)) {
        ReleaseStoredShare(&stored);
        if (conversation)
            DeleteConversation(conversation);
        refuseOpen(session, open->conversation, open->name, NDDE_OUT_OF_MEMORY);
        return;
    }
    conversation->queue.account = &session->budget;
    conversation->stored = stored;
    conversation->hasStored = true;
    conversation->connectOnly = (open->word & OpenConnectOnly) != 0;
    lstrcpyA(conversation->node, session->node);
    lstrcpynA(conversation->share, stored.view.shareName, ShareNameSize);
    conversation->state = Proving;
    Frame challenge;
    InitFrame(&challenge, FrameChallenge, conversation->id);
    challenge.data = conversation->challenge;
    challenge.dataLength = ChallengeLength;
    SendFrame(session, &challenge);
}

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

static KnownServer *knownServerOf(const ShareView *share)
{
    for (int i = 0; i < knownServerCount; i++)
        if (isSameDdeName(knownServers[i].application, share->appName) &&
            isSameDdeName(knownServers[i].topic, share->topicName))
            return &knownServers[i];
    return 0;
}

static void rememberServer(const ShareView *share, HWND window)
{
    KnownServer *known = knownServerOf(share);
    if (!known)
        known = &knownServers[knownServerCount < 16 ? knownServerCount++ : 15];
    lstrcpynA(known->application, share->appName, sizeof known->application);
    lstrcpynA(known->topic, share->topicName, sizeof known->topic);
    known->window = window;
}

// Asks one window to take the conversation; true once a server has.
static bool initiateTo(HWND window, Conversation *conversation)
{
    const ShareView &share = conversation->stored.view;
    ATOM application = GlobalAddAtomA(share.appName), topic = GlobalAddAtomA(share.topicName);
    DWORD_PTR ignored;
    SendMessageTimeoutA(window, WM_DDE_INITIATE, (WPARAM)conversation->window,
                        MAKELPARAM(application, topic), SMTO_ABORTIFHUNG, InitiateTimeout,
                        &ignored);
    GlobalDeleteAtom(application);
    GlobalDeleteAtom(topic);
    if (!conversation->partner)
        return false;
    rememberServer(&share, window);
    return true;
}

static BOOL CALLBACK initiateToWindow(HWND window, LPARAM lParam)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId() || !initiateTo(window, (Conversation *)lParam);
}

// Initiates to the share's application and topic; the first server to
// answer holds the conversation.
static bool findServer(Conversation *conversation)
{
    const ShareView *share = &conversation->stored.view;
    KnownServer *known = knownServerOf(share);
    if (!(known && IsWindow(known->window) && initiateTo(known->window, conversation)))
        EnumWindows(initiateToWindow, (LPARAM)conversation);
    if (!conversation->partner)
        return false;
    char className[64];
    GetClassNameA(conversation->partner, className, sizeof className);
    conversation->ddemlServer =
        strncmp(className, DdemlServerClassPrefix, sizeof DdemlServerClassPrefix - 1) == 0;
    return true;
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
    else if (server != conversation->partner)
        PostMessageA(server, WM_DDE_TERMINATE, (WPARAM)conversation->window, 0);
}

static void conversationStands(Conversation *conversation)
{
    conversation->state = Standing;
    Frame opened;
    InitFrame(&opened, FrameOpened, conversation->id);
    BYTE words[4] = {(BYTE)conversation->grant.access, 0, (BYTE)conversation->grant.permissions,
                     (BYTE)(conversation->grant.permissions >> 8)};
    opened.data = words;
    opened.dataLength = sizeof words;
    SendFrame(conversation->session, &opened);
    LogEvent("%s opened share %s with access #%u", conversation->node, conversation->share,
             conversation->grant.access);
    ShowAgentState();
}

// Serving side: the conversation cannot stand; the client's node is told why.
static void refuseConversation(Conversation *conversation, UINT code)
{
    refuseOpen(conversation->session, conversation->id, conversation->share, code);
    DeleteConversation(conversation);
}

// Starts the share's application (a program on the search path).
static bool startServer(const char *application)
{
    char commandLine[MaxAppNameLength + 1];
    lstrcpynA(commandLine, application, sizeof commandLine);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(0, commandLine, 0, 0, FALSE, 0, 0, 0, &startup, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

static void proveShare(Conversation *conversation, const Frame *proof)
{
    if (GrantShareAccess(&conversation->stored.view, conversation->challenge, proof->data,
                         &conversation->grant) != NDDE_NO_ERROR) {
        refuseConversation(conversation, NDDE_ACCESS_DENIED);
        return;
    }
    if (conversation->connectOnly || findServer(conversation)) {
        conversationStands(conversation);
        return;
    }
    const char *application = conversation->stored.view.appName;
    if ((conversation->grant.permissions & StartApp) && startServer(application)) {
        LogEvent("started %s for share %s", application, conversation->share);
        conversation->state = StartingServer;
        conversation->startedAt = GetTickCount();
        return;
    }
    refuseConversation(conversation, NDDE_CANT_ACCESS_SERVER);
}

// The oldest queued transaction of a serving conversation: the one at the
// server, or the next to go to it.
static bool firstQueued(Conversation *conversation, Frame *frame, DWORD *size)
{
    const ByteBuffer &queue = conversation->queue;
    return ReadFrame(queue.bytes + queue.start, queue.length - queue.start, frame, size) ==
           FrameComplete;
}

// Sends the oldest queued transaction to the server, or refuses it when the
// share does not grant it; one at a time.
static void serveNextTransaction(Conversation *conversation)
{
    ByteBuffer &queue = conversation->queue;
    Frame frame;
    DWORD size;
    while (!conversation->atServer && firstQueued(conversation, &frame, &size)) {
        if (conversation->connectOnly ||
            !AllowsTransaction(&conversation->stored.view, &conversation->grant, frame.kind,
                               frame.name)) {
            static const char *const names[] = {"Request", "Poke", "Execute", "Advise",
                                                "Unadvise"};
            LogEvent("refused: %s \"%s\" on share %s for %s: permission",
                     names[frame.kind - FrameRequest], frame.name, conversation->share,
                     conversation->node);
            SendSimpleFrame(conversation, FrameAck, 0, frame.name);
            ConsumeBytes(&queue, size);
            continue;
        }
        UINT format = FormatOfFrame(&frame);
        ATOM item = frame.name[0] ? GlobalAddAtomA(frame.name) : 0;
        HGLOBAL handle = 0;
        LPARAM lParam = 0;
        UINT message = 0;
        switch (frame.kind) {
        case FrameRequest:
            message = WM_DDE_REQUEST;
            lParam = MAKELPARAM(format, item);
            break;
        case FrameUnadvise:
            message = WM_DDE_UNADVISE;
            lParam = MAKELPARAM(format, item);
            break;
        case FramePoke:
            message = WM_DDE_POKE;
            handle = MakeDdeBlock(DdeRelease, format, frame.data, frame.dataLength);
            lParam = PackDDElParam(message, (UINT_PTR)handle, item);
            break;
        case FrameAdvise:
            message = WM_DDE_ADVISE;
            handle = MakeDdeBlock(frame.word & DdeAdviseFlags, format, 0, 0);
            lParam = PackDDElParam(message, (UINT_PTR)handle, item);
            break;
        case FrameExecute: {
            message = WM_DDE_EXECUTE;
            handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, frame.dataLength + 1);
            BYTE *command = handle ? (BYTE *)GlobalLock(handle) : 0;
            if (command) {
                CopyMemory(command, frame.data, frame.dataLength);
                command[frame.dataLength] = 0;
                GlobalUnlock(handle);
            }
            lParam = (LPARAM)handle;
            break;
        }
        }
        conversation->atServer = true;
        conversation->atServerHandle = handle;
        conversation->atServerSince = GetTickCount();
        if ((frame.kind != FrameRequest && frame.kind != FrameUnadvise && !handle) ||
            !PostMessageA(conversation->partner, message, (WPARAM)conversation->window, lParam)) {
            // The server cannot be given it: the client is refused in turn.
            if (message == WM_DDE_POKE || message == WM_DDE_ADVISE)
                FreeDDElParam(message, lParam);
            if (handle)
                GlobalFree(handle);
            if (item)
                GlobalDeleteAtom(item);
            conversation->atServer = false;
            SendSimpleFrame(conversation, FrameAck, 0, frame.name);
            ConsumeBytes(&queue, size);
        }
    }
}

// A server that leaves a transaction unanswered for ServerAnswerTimeout is
// taken as hung: its client gets a busy answer and the conversation ends, so
// that nothing waits on that server any longer. What the server was given is
// its own from then on.
static void serverGaveNoAnswer(Conversation *conversation)
{
    Frame frame;
    DWORD size;
    SendSimpleFrame(conversation, FrameAck, AckBusy,
                    firstQueued(conversation, &frame, &size) ? frame.name : "");
    LogEvent("busy: the server of share %s gave %s no answer in %lu s", conversation->share,
             conversation->node, ServerAnswerTimeout / 1000);
    EndConversation(conversation, true);
}

// The transaction at the server has its answer: the next one may go.
static void transactionAnswered(Conversation *conversation)
{
    Frame frame;
    DWORD size;
    if (firstQueued(conversation, &frame, &size))
        ConsumeBytes(&conversation->queue, size);
    conversation->atServer = false;
    conversation->atServerHandle = 0;
    serveNextTransaction(conversation);
}

static void queueTransaction(Conversation *conversation, const Frame *frame)
{
    ByteBuffer &queue = conversation->queue;
    if (queue.length - queue.start + frame->dataLength > MaxQueuedTransactionBytes ||
        !AppendFrame(&queue, frame)) {
        LogEvent("%s sent share %s more than its server takes: conversation ended",
                 conversation->node, conversation->share);
        EndConversation(conversation, true);
        return;
    }
    serveNextTransaction(conversation);
}

bool ServingTakesData(Conversation *conversation, const Frame *head)
{
    return !conversation->connectOnly &&
           AllowsTransaction(&conversation->stored.view, &conversation->grant, head->kind,
                             head->name);
}

void ServingDataDropped(Conversation *conversation, const Frame *head)
{
    queueTransaction(conversation, head);
}

// The server's WM_DDE_ACK: the answer to the transaction at it.
static void serverAcknowledged(Conversation *conversation, LPARAM lParam)
{
    UINT_PTR status = 0, high = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &high);
    FreeDDElParam(WM_DDE_ACK, lParam);
    Frame frame;
    DWORD size;
    bool stray = conversation->strayAckDue && (status & AckPositive);
    conversation->strayAckDue = false;
    bool atServer = !stray && conversation->atServer && firstQueued(conversation, &frame, &size);
    if (atServer && frame.kind == FrameExecute)
        GlobalFree((HGLOBAL)high);
    else if (high)
        GlobalDeleteAtom((ATOM)high);
    if (!atServer)
        return;
    if (!(status & AckPositive) && (frame.kind == FramePoke || frame.kind == FrameAdvise))
        GlobalFree(conversation->atServerHandle);
    SendSimpleFrame(conversation, FrameAck, (WORD)status, frame.name);
    transactionAnswered(conversation);
}

// Acknowledges the server's data of `item` with `status`.
static void postAckToServer(Conversation *conversation, WORD status, const char *item)
{
    ATOM atom = GlobalAddAtomA(item);
    LPARAM lParam = PackDDElParam(WM_DDE_ACK, status, atom);
    if (!PostMessageA(conversation->partner, WM_DDE_ACK, (WPARAM)conversation->window, lParam)) {
        FreeDDElParam(WM_DDE_ACK, lParam);
        GlobalDeleteAtom(atom);
    }
}

// The name of the item atom of the server's data. A link's updates name
// the same item again and again: this agent holds a reference to the last
// one, so that its number stays that item's and its name need not be asked
// for each update.
static void serverItemName(Conversation *conversation, ATOM item, char *name)
{
    if (item && item == conversation->heldItem) {
        lstrcpyA(name, conversation->heldItemName);
        return;
    }
    AtomName(item, name);
    if (conversation->heldItem)
        GlobalDeleteAtom(conversation->heldItem);
    conversation->heldItem = name[0] ? GlobalAddAtomA(name) : 0;
    lstrcpyA(conversation->heldItemName, name);
}

// The server's WM_DDE_DATA: an answer to a request or a link's update.
static void serverSentData(Conversation *conversation, LPARAM lParam)
{
    UINT_PTR low = 0, high = 0;
    UnpackDDElParam(WM_DDE_DATA, lParam, &low, &high);
    FreeDDElParam(WM_DDE_DATA, lParam);
    HGLOBAL data = (HGLOBAL)low;
    Frame frame;
    InitFrame(&frame, FrameData, conversation->id);
    serverItemName(conversation, (ATOM)high, frame.name);
    if (high)
        GlobalDeleteAtom((ATOM)high);
    DdeBlock block = {};
    bool readable = data ? LockDdeBlock(data, &block) : true;
    if (!data)
        frame.word = DataWarm;
    if (!readable || !frame.name[0]) {
        EndConversation(conversation, true);
        return;
    }
    frame.word |= block.flags & (DdeResponse | DdeAckReq);
    frame.data = block.data;
    frame.dataLength = block.length;
    // Data that cannot travel (beyond 16 MB, or a registered format without
    // a name) is refused in its turn, never cut short.
    bool relayable = block.length <= MaxFrameData && (!data || SetFrameFormat(&frame, block.format));
    bool sent = relayable && SendFrame(conversation->session, &frame);
    if (data)
        GlobalUnlock(data);
    if (!relayable)
        LogEvent("refused: data of \"%s\" for share %s cannot be sent to %s", frame.name,
                 conversation->share, conversation->node);
    if (sent && (block.flags & DdeAckReq))
        PushPending(&conversation->dataAcks, FrameData, data,
                    (block.flags & DdeRelease) != 0, frame.name);
    else if (block.flags & DdeAckReq)
        postAckToServer(conversation, 0, frame.name);      // the server frees its data
    else if (data && (block.flags & DdeRelease))
        GlobalFree(data);
    if (block.flags & DdeResponse) {
        if (!relayable)
            SendSimpleFrame(conversation, FrameAck, 0, frame.name);
        conversation->strayAckDue = conversation->ddemlServer;
        transactionAnswered(conversation);
    }
}

// The client's acknowledgement of data, handed to the server.
static void relayDataAck(Conversation *conversation, const Frame *frame)
{
    Pending *entry = FirstPending(&conversation->dataAcks);
    if (!entry)
        return;
    if ((frame->word & AckPositive) && entry->release && entry->handle)
        GlobalFree(entry->handle);
    postAckToServer(conversation, frame->word, entry->item);
    ConsumeBytes(&conversation->dataAcks, sizeof(Pending));
}

// ---- Frames from the client node -------------------------------------------

const FrameRule ServingFrameRules[] = {
    {FrameProof, 1 << Proving, proveShare},
    {FrameRequest, WhenStanding, queueTransaction},
    {FramePoke, WhenStanding, queueTransaction},
    {FrameExecute, WhenStanding, queueTransaction},
    {FrameAdvise, WhenStanding, queueTransaction},
    {FrameUnadvise, WhenStanding, queueTransaction},
    {FrameDataAck, WhenStanding, relayDataAck},
    {FrameTerminate, BeforeStanding | WhenStanding, EndedByNode},
};
const int ServingFrameRuleCount = sizeof ServingFrameRules / sizeof ServingFrameRules[0];

// ---- Messages from the DDE server and time ---------------------------------

void ServingWindowMessage(Conversation *conversation, UINT message, LPARAM lParam)
{
    if (message == WM_DDE_ACK)
        serverAcknowledged(conversation, lParam);
    else if (message == WM_DDE_DATA)
        serverSentData(conversation, lParam);
}

void CheckServingConversation(Conversation *conversation, DWORD now)
{
    if (conversation->state == StartingServer) {
        if (findServer(conversation))
            conversationStands(conversation);
        else if (now - conversation->startedAt >= StartAppTimeout)
            refuseConversation(conversation, NDDE_CANT_ACCESS_SERVER);
    } else if (conversation->atServer && now - conversation->atServerSince >= ServerAnswerTimeout) {
        serverGaveNoAnswer(conversation);
    }
}
