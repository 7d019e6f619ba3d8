// DDE conversations carried between nodes (conversations.h).
//
// Client side: the agent's window answers WM_DDE_INITIATE for \\NODE\NDDE$
// and a share at once with a conversation window of its own, then opens the
// conversation with that node: Open, Challenge, Proof, Opened. Transactions
// the DDE client sends meanwhile are held in order and sent once it stands.
// Each transaction sent waits in `pending` for its answer (an Ack, or Data
// answering a Request), which is handed to the client in the same order.
//
// Serving side: a conversation window initiates to the share's application
// and topic and relays. Transactions reach the server one at a time, so that
// every answer is known to belong to the one at the server, and a transaction
// the share does not grant is refused in its turn without reaching it.
#include "conversations.h"
#include "permissions.h"
#include "prompt.h"
#include <dde.h>

const char ConversationClass[] = "NDdeConversation";
const int MaxConversations = 1024;
const int MaxConversationsPerNode = 256;  // served for one client node at once
const DWORD MaxQueuedTransactionBytes = 64 * 1024 * 1024;  // waiting for one server
const DWORD OpenTimeout = 20000;          // ms for a conversation to stand (StartApp included)
const DWORD StartAppTimeout = 10000;      // ms a started application has to answer
const UINT InitiateTimeout = 100;         // ms any one window has to answer an initiate
const DWORD ServerAnswerTimeout = 10000;  // ms a server has to answer a transaction
const UINT WM_CONVERSATION_START = WM_APP + 20;
const DWORD HeldConversationId = 1;       // in held frames, until they are sent
// Wine's DDEML server conversations (windows of class DdeServerConvAnsi or
// DdeServerConvUnicode) send one stray positive acknowledgement after every
// request they answer with data.
const char DdemlServerClassPrefix[] = "DdeServerConv";

// DDE flag bits (dde.h bit-fields as words).
const WORD DdeResponse = 0x1000, DdeRelease = 0x2000, DdeAckReq = 0x8000;
const WORD DdeAdviseFlags = 0xC000;        // fAckReq, fDeferUpd

enum ConversationState {
    WaitingForSession,   // client: the session to the node is being opened
    Opening,             // client: Open sent, Challenge or Refused to come
    Proving,             // client: Proof sent; serving: Challenge sent
    AskingPassword,      // client: the user is asked
    StartingServer,      // serving: the share's application was started
    Standing,
};

enum PasswordSource { FromMemory, EmptyPassword, FromUser };

// A transaction waiting for its answer, or Data waiting for the client's ack.
struct Pending {
    BYTE kind;
    bool release;            // poke or data: fRelease
    bool refusedHere;        // refused by this agent: answered in its turn
    HGLOBAL handle;          // poke data, advise options, execute commands, data
    char item[MaxWireName + 1];
};

struct Conversation {
    DWORD serial;            // unique while the agent runs
    bool serving;
    bool connectOnly;        // serving: a share held without a DDE server
    ConversationState state;
    Session *session;
    DWORD id;                // in its session
    HWND window, partner;    // ours; the DDE client or server
    char node[MaxNodeNameLength + 1];
    char share[ShareNameSize];
    DWORD startedAt;
    // Client side.
    PasswordSource passwordSource;
    char password[MaxPasswordLength + 1];
    ByteBuffer held;         // frames waiting for the conversation to stand
    // Serving side.
    StoredShare stored;
    bool hasStored;
    ShareGrant grant;
    BYTE challenge[ChallengeLength];
    bool ddemlServer, strayAckDue;
    ATOM heldItem;           // the item of the server's last data, held by this agent
    char heldItemName[MaxWireName + 1];
    bool atServer;           // the queue's first transaction is at the server
    HGLOBAL atServerHandle;
    DWORD atServerSince;
    ByteBuffer queue;        // serving: transactions as frames, oldest first
    // Both sides.
    ByteBuffer pending;      // client: Pending transactions sent on
    ByteBuffer dataAcks;     // Pending data sent with fAckReq
};

static Conversation *conversations[MaxConversations];
static int conversationCount;
static DWORD nextSerial = 1;

// ---- Small helpers ---------------------------------------------------------

static int pendingCount(const ByteBuffer *queue)
{
    return (queue->length - queue->start) / sizeof(Pending);
}

static Pending *firstPending(ByteBuffer *queue)
{
    return pendingCount(queue) ? (Pending *)(queue->bytes + queue->start) : 0;
}

static bool pushPending(ByteBuffer *queue, BYTE kind, HGLOBAL handle, bool release,
                        const char *item)
{
    Pending entry = {};
    entry.kind = kind;
    entry.handle = handle;
    entry.release = release;
    lstrcpynA(entry.item, item, sizeof entry.item);
    return AppendBytes(queue, &entry, sizeof entry);
}

static void atomName(ATOM atom, char *name)
{
    name[0] = 0;
    if (atom)
        GlobalGetAtomNameA(atom, name, MaxWireName + 1);
}

// The clipboard format of a frame: registered ones by name on this node.
static UINT formatOfFrame(const Frame *frame)
{
    return frame->formatName[0] ? RegisterClipboardFormatA(frame->formatName) : frame->format;
}

static bool setFrameFormat(Frame *frame, UINT format)
{
    frame->format = (WORD)format;
    return format < 0xC000 ||
           GetClipboardFormatNameA(format, frame->formatName, sizeof frame->formatName) > 0;
}

// Global memory for a DDE message: a 4-byte header (flags, format), then data.
static HGLOBAL makeDdeBlock(WORD flags, UINT format, const BYTE *data, DWORD length)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, 4 + length);
    BYTE *bytes = block ? (BYTE *)GlobalLock(block) : 0;
    if (!bytes) {
        if (block)
            GlobalFree(block);
        return 0;
    }
    *(WORD *)bytes = flags;
    *(short *)(bytes + 2) = (short)format;
    CopyMemory(bytes + 4, data, length);
    GlobalUnlock(block);
    return block;
}

// The header and data of a DDE block; false when it is not one.
struct DdeBlock {
    WORD flags;
    UINT format;
    const BYTE *data;
    DWORD length;
};

static bool lockDdeBlock(HGLOBAL block, DdeBlock *read)
{
    DWORD size = block ? GlobalSize(block) : 0;
    const BYTE *bytes = size >= 4 ? (const BYTE *)GlobalLock(block) : 0;
    if (!bytes)
        return false;
    read->flags = *(const WORD *)bytes;
    read->format = *(const WORD *)(bytes + 2);
    read->data = bytes + 4;
    read->length = size - 4;
    return true;
}

static Conversation *conversationOfWindow(HWND window)
{
    return (Conversation *)GetWindowLongA(window, GWL_USERDATA);
}

static Conversation *findConversation(const Session *session, DWORD id)
{
    for (int i = 0; i < conversationCount; i++)
        if (conversations[i]->session == session && conversations[i]->id == id)
            return conversations[i];
    return 0;
}

static Conversation *conversationOfSerial(DWORD serial)
{
    for (int i = 0; i < conversationCount; i++)
        if (conversations[i]->serial == serial)
            return conversations[i];
    return 0;
}

int ConversationCountOn(const Session *session)
{
    int count = 0;
    for (int i = 0; i < conversationCount; i++)
        if (conversations[i]->session == session)
            count++;
    return count;
}

static const char *refusalReason(UINT code)
{
    switch (code) {
    case NDDE_ACCESS_DENIED:
        return "wrong password";
    case NDDE_SHARE_NOT_EXIST:
        return "no such share";
    case NDDE_CANT_ACCESS_SERVER:
        return "no server";
    case NDDE_INVALID_SHARE:
        return "not a share name";
    case NDDE_SHARE_DATA_CORRUPTED:
        return "the share is damaged";
    }
    return "refused by the node";
}

// A frame of the conversation with only its word and a name (an ack's item).
static void sendSimpleFrame(Conversation *conversation, BYTE kind, WORD word,
                            const char *name = "")
{
    Frame frame;
    InitFrame(&frame, kind, conversation->id);
    frame.word = word;
    lstrcpynA(frame.name, name, sizeof frame.name);
    if (conversation->session)
        SendFrame(conversation->session, &frame);
}

// ---- Creating and ending ---------------------------------------------------

static Conversation *newConversation(bool serving, Session *session, DWORD id)
{
    if (conversationCount == MaxConversations)
        return 0;
    Conversation *conversation =
        (Conversation *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Conversation));
    if (!conversation)
        return 0;
    conversation->window = CreateWindowA(ConversationClass, "", WS_CHILD, 0, 0, 0, 0,
                                         AgentWindowHandle, 0, GetModuleHandleA(0), 0);
    if (!conversation->window) {
        HeapFree(GetProcessHeap(), 0, conversation);
        return 0;
    }
    SetWindowLongA(conversation->window, GWL_USERDATA, (LONG)conversation);
    conversation->serial = nextSerial++;
    conversation->serving = serving;
    conversation->session = session;
    conversation->id = id;
    conversation->startedAt = GetTickCount();
    conversations[conversationCount++] = conversation;
    return conversation;
}

// Forgets the conversation; its DDE partner has been told already.
static void deleteConversation(Conversation *conversation)
{
    int index = 0;
    while (index < conversationCount && conversations[index] != conversation)
        index++;
    if (index == conversationCount)
        return;
    // Keep the order: connections are listed in the order they were opened.
    for (int i = index + 1; i < conversationCount; i++)
        conversations[i - 1] = conversations[i];
    conversationCount--;
    SetWindowLongA(conversation->window, GWL_USERDATA, 0);
    DestroyWindow(conversation->window);
    if (conversation->heldItem)
        GlobalDeleteAtom(conversation->heldItem);
    if (conversation->hasStored)
        ReleaseStoredShare(&conversation->stored);
    FreeBuffer(&conversation->held);
    FreeBuffer(&conversation->queue);
    FreeBuffer(&conversation->pending);
    FreeBuffer(&conversation->dataAcks);
    HeapFree(GetProcessHeap(), 0, conversation);
    ShowAgentState();
}

static void postAck(Conversation *conversation, WORD status, const Pending *entry)
{
    UINT_PTR high = entry->kind == FrameExecute ? (UINT_PTR)entry->handle
                                                : GlobalAddAtomA(entry->item);
    LPARAM lParam = PackDDElParam(WM_DDE_ACK, status, high);
    if (!PostMessageA(conversation->partner, WM_DDE_ACK, (WPARAM)conversation->window, lParam)) {
        FreeDDElParam(WM_DDE_ACK, lParam);
        if (entry->kind != FrameExecute)
            GlobalDeleteAtom((ATOM)high);
    }
}

// Client side: hands the answer `status` to the oldest transaction, then
// refuses those this agent refused that follow it.
static void answerFirstPending(Conversation *conversation, WORD status)
{
    Pending *entry = firstPending(&conversation->pending);
    if (!entry)
        return;
    // A positive answer gives poke data and advise options to the server side.
    if ((status & AckPositive) &&
        ((entry->kind == FramePoke && entry->release) || entry->kind == FrameAdvise))
        GlobalFree(entry->handle);
    if (entry->kind != FrameRequest || !(status & AckPositive))
        postAck(conversation, status, entry);
    ConsumeBytes(&conversation->pending, sizeof(Pending));
    while ((entry = firstPending(&conversation->pending)) != 0 && entry->refusedHere) {
        postAck(conversation, 0, entry);
        ConsumeBytes(&conversation->pending, sizeof(Pending));
    }
}

// Ends a conversation from this side: its DDE partner gets WM_DDE_TERMINATE
// (client side: after a negative ack for every transaction still waiting),
// and the other node is told when `tellNode`.
static void endConversation(Conversation *conversation, bool tellNode)
{
    if (!conversation->serving)
        while (firstPending(&conversation->pending))
            answerFirstPending(conversation, 0);
    if (conversation->partner)
        PostMessageA(conversation->partner, WM_DDE_TERMINATE, (WPARAM)conversation->window, 0);
    if (tellNode && conversation->state != WaitingForSession)
        sendSimpleFrame(conversation, FrameTerminate, 0);
    deleteConversation(conversation);
}

// Client side: the conversation cannot stand, for `reason`.
static void failConversation(Conversation *conversation, const char *reason)
{
    LogEvent("refused: share %s on \\\\%s: %s", conversation->share, conversation->node, reason);
    endConversation(conversation, true);
}

void EndConversationsOf(Session *session, const char *reason)
{
    for (int i = conversationCount - 1; i >= 0; i--) {
        if (i >= conversationCount || conversations[i]->session != session)
            continue;
        Conversation *conversation = conversations[i];
        conversation->session = 0;
        if (conversation->state != Standing && !conversation->serving)
            failConversation(conversation, reason);
        else
            endConversation(conversation, false);
    }
}

// ---- Client side: opening ---------------------------------------------------

// "\\NODE\NDDE$" gives NODE.
static bool readNetworkApplication(const char *application, char *node)
{
    if (application[0] != '\\' || application[1] != '\\')
        return false;
    const char *start = application + 2, *end = start;
    while (*end && *end != '\\')
        end++;
    int length = (int)(end - start);
    if (length < 1 || length > MaxNodeNameLength || *end != '\\')
        return false;
    lstrcpynA(node, start, length + 1);
    return IsValidNodeName(node) && isSameDdeName(end + 1, "NDDE$");
}

void AnswerInitiate(HWND client, LPARAM atoms)
{
    char application[MaxWireName + 1], topic[MaxWireName + 1], node[MaxNodeNameLength + 1];
    atomName(LOWORD(atoms), application);
    atomName(HIWORD(atoms), topic);
    int topicLength = lstrlenA(topic);
    if (!readNetworkApplication(application, node) || topicLength < 1 ||
        topicLength > MaxShareNameLength || !IsWindow(client))
        return;
    Conversation *conversation = newConversation(false, 0, 0);
    if (!conversation) {
        LogEvent("refused: no room for a conversation with %s", topic);
        return;
    }
    conversation->partner = client;
    CopyNodeName(conversation->node, node);
    lstrcpyA(conversation->share, topic);
    SendMessageA(client, WM_DDE_ACK, (WPARAM)conversation->window,
                 MAKELPARAM(GlobalAddAtomA(application), GlobalAddAtomA(topic)));
    // The node is reached after the client has its answer.
    PostMessageA(conversation->window, WM_CONVERSATION_START, 0, 0);
}

static void sendOpen(Conversation *conversation)
{
    Frame open;
    InitFrame(&open, FrameOpen, conversation->id);
    lstrcpyA(open.name, conversation->share);
    conversation->state = Opening;
    SendFrame(conversation->session, &open);
}

// Opens (again) with a new conversation id: every Open gets a fresh challenge.
static void reopen(Conversation *conversation)
{
    conversation->id = conversation->session->nextConversation++;
    sendOpen(conversation);
}

static void startConversation(Conversation *conversation)
{
    Session *session = SessionToNode(conversation->node);
    if (!session) {
        failConversation(conversation, "unknown node");
        return;
    }
    conversation->session = session;
    conversation->id = session->nextConversation++;
    conversation->state = WaitingForSession;
    const char *remembered = RememberedPassword(conversation->node, conversation->share);
    conversation->passwordSource = remembered ? FromMemory : EmptyPassword;
    lstrcpynA(conversation->password, remembered ? remembered : "", MaxPasswordLength + 1);
    if (session->state == SessionReady)
        sendOpen(conversation);
    ShowAgentState();
}

void SessionReadyForConversations(Session *session)
{
    for (int i = 0; i < conversationCount; i++)
        if (conversations[i]->session == session && conversations[i]->state == WaitingForSession)
            sendOpen(conversations[i]);
}

static void answerChallenge(Conversation *conversation, const Frame *challenge)
{
    Frame proof;
    InitFrame(&proof, FrameProof, conversation->id);
    BYTE bytes[ProofLength];
    if (!ProvePassword(conversation->password, challenge->data, bytes)) {
        failConversation(conversation, "no password proof can be made");
        return;
    }
    proof.data = bytes;
    proof.dataLength = ProofLength;
    conversation->state = Proving;
    SendFrame(conversation->session, &proof);
}

// Sends the held transactions, in the order the client sent them.
static void sendHeld(Conversation *conversation)
{
    ByteBuffer &held = conversation->held;
    Frame frame;
    DWORD size;
    while (ReadFrame(held.bytes + held.start, held.length - held.start, &frame, &size) ==
           FrameComplete) {
        frame.conversation = conversation->id;
        SendFrame(conversation->session, &frame);
        ConsumeBytes(&held, size);
    }
    FreeBuffer(&held);
}

static void conversationRefused(Conversation *conversation, UINT code);

static void conversationOpened(Conversation *conversation, const Frame *opened)
{
    // An access that grants nothing, opened without asking (a share's empty
    // second password): the user may know a password that grants more.
    if (!(opened->data[2] | opened->data[3]) && conversation->passwordSource != FromUser) {
        sendSimpleFrame(conversation, FrameTerminate, 0);
        conversationRefused(conversation, NDDE_ACCESS_DENIED);
        return;
    }
    conversation->state = Standing;
    if (conversation->passwordSource != EmptyPassword)
        RememberPassword(conversation->node, conversation->share, conversation->password);
    LogEvent("conversation on %s at \\\\%s: access #%u", conversation->share,
             conversation->node, opened->data[0] | opened->data[1] << 8);
    sendHeld(conversation);
    ShowAgentState();
}

static void conversationRefused(Conversation *conversation, UINT code)
{
    if (code == NDDE_ACCESS_DENIED && conversation->passwordSource != FromUser) {
        // Neither a remembered password nor none at all: ask the user.
        if (conversation->passwordSource == FromMemory) {
            conversation->passwordSource = EmptyPassword;
            conversation->password[0] = 0;
            reopen(conversation);
            return;
        }
        conversation->state = AskingPassword;
        PostMessageA(AgentWindowHandle, WM_ASK_PASSWORD, conversation->serial, 0);
        return;
    }
    failConversation(conversation, refusalReason(code));
}

void AskPasswordFor(DWORD serial)
{
    Conversation *conversation = conversationOfSerial(serial);
    if (!conversation || conversation->state != AskingPassword)
        return;
    char node[MaxNodeNameLength + 1], share[ShareNameSize], password[MaxPasswordLength + 1];
    lstrcpyA(node, conversation->node);
    lstrcpyA(share, conversation->share);
    bool given = AskPassword(AgentWindowHandle, node, share, password);
    // The conversation may have ended while the user was asked.
    conversation = conversationOfSerial(serial);
    if (!conversation || conversation->state != AskingPassword)
        return;
    if (!given) {
        failConversation(conversation, "password not given");
        return;
    }
    lstrcpyA(conversation->password, password);
    conversation->passwordSource = FromUser;
    reopen(conversation);
}

// ---- Client side: transactions ---------------------------------------------

// Sends a transaction frame now, or holds it until the conversation stands
// (its id is given when it is sent: every new Open takes a new one).
static void sendOrHold(Conversation *conversation, Frame *frame)
{
    if (conversation->state == Standing) {
        SendFrame(conversation->session, frame);
        return;
    }
    frame->conversation = HeldConversationId;
    if (!AppendFrame(&conversation->held, frame))
        failConversation(conversation, "out of memory");
}

// A transaction from the DDE client: relayed, or refused in its turn when it
// cannot be (no such clipboard format, too much data).
static void relayTransaction(Conversation *conversation, Frame *frame, HGLOBAL handle,
                             bool release, bool relayable)
{
    ByteBuffer &pending = conversation->pending;
    if (!pushPending(&pending, frame->kind, handle, release, frame->name)) {
        Pending refused = {};
        refused.kind = frame->kind;
        refused.handle = handle;
        lstrcpynA(refused.item, frame->name, sizeof refused.item);
        postAck(conversation, 0, &refused);
        return;
    }
    if (relayable) {
        sendOrHold(conversation, frame);
        return;
    }
    Pending *last = (Pending *)(pending.bytes + pending.length) - 1;
    last->refusedHere = true;
    if (pendingCount(&pending) == 1) {
        postAck(conversation, 0, last);
        ConsumeBytes(&pending, sizeof(Pending));
    }
}

static void clientTransaction(Conversation *conversation, UINT message, LPARAM lParam)
{
    Frame frame;
    InitFrame(&frame, 0, conversation->id);
    UINT_PTR low = 0, high = 0;
    if (message == WM_DDE_POKE || message == WM_DDE_ADVISE) {
        UnpackDDElParam(message, lParam, &low, &high);
        FreeDDElParam(message, lParam);
    } else {
        low = LOWORD(lParam);
        high = HIWORD(lParam);
    }
    HGLOBAL handle = 0;
    bool relayable = true, release = false;
    DdeBlock block;
    switch (message) {
    case WM_DDE_REQUEST:
    case WM_DDE_UNADVISE:
        frame.kind = message == WM_DDE_REQUEST ? FrameRequest : FrameUnadvise;
        atomName((ATOM)high, frame.name);
        relayable = setFrameFormat(&frame, (UINT)low);
        break;
    case WM_DDE_POKE:
    case WM_DDE_ADVISE:
        frame.kind = message == WM_DDE_POKE ? FramePoke : FrameAdvise;
        handle = (HGLOBAL)low;
        atomName((ATOM)high, frame.name);
        relayable = lockDdeBlock(handle, &block);
        if (relayable) {
            relayable = setFrameFormat(&frame, block.format);
            release = (block.flags & DdeRelease) != 0;
            if (message == WM_DDE_POKE) {
                frame.data = block.data;
                frame.dataLength = block.length;
                relayable = relayable && block.length <= MaxFrameData;
            } else {
                frame.word = block.flags & DdeAdviseFlags;
            }
        }
        break;
    case WM_DDE_EXECUTE: {
        frame.kind = FrameExecute;
        handle = (HGLOBAL)lParam;
        DWORD size = handle ? GlobalSize(handle) : 0;
        const BYTE *command = size ? (const BYTE *)GlobalLock(handle) : 0;
        relayable = command && size <= MaxFrameData;
        if (relayable) {
            // The command and its ending zero, never beyond the block.
            DWORD length = 0;
            while (length < size && command[length])
                length++;
            frame.data = command;
            frame.dataLength = length < size ? length + 1 : size;
        }
        break;
    }
    }
    if (high && message != WM_DDE_EXECUTE)
        GlobalDeleteAtom((ATOM)high);
    relayTransaction(conversation, &frame, handle, release, relayable);
    if (handle && (message == WM_DDE_POKE || message == WM_DDE_ADVISE || message == WM_DDE_EXECUTE))
        GlobalUnlock(handle);
}

// Data from the server's node: handed to the client as WM_DDE_DATA.
static void deliverData(Conversation *conversation, const Frame *frame)
{
    HGLOBAL data = 0;
    if (!(frame->word & DataWarm)) {
        WORD flags = DdeRelease | (frame->word & (DataResponse | DataAckReq));
        data = makeDdeBlock(flags, formatOfFrame(frame), frame->data, frame->dataLength);
    }
    ATOM item = GlobalAddAtomA(frame->name);
    LPARAM lParam = PackDDElParam(WM_DDE_DATA, (UINT_PTR)data, item);
    bool posted = PostMessageA(conversation->partner, WM_DDE_DATA, (WPARAM)conversation->window,
                               lParam) != 0;
    if (posted && (frame->word & DataAckReq))
        pushPending(&conversation->dataAcks, FrameData, data, true, frame->name);
    if (!posted) {
        FreeDDElParam(WM_DDE_DATA, lParam);
        GlobalDeleteAtom(item);
        if (data)
            GlobalFree(data);
    }
    if (frame->word & DataResponse)
        answerFirstPending(conversation, AckPositive);
}

// The client's acknowledgement of data sent with fAckReq.
static void clientAcknowledged(Conversation *conversation, LPARAM lParam)
{
    UINT_PTR status = 0, item = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
    FreeDDElParam(WM_DDE_ACK, lParam);
    if (item)
        GlobalDeleteAtom((ATOM)item);
    Pending *entry = firstPending(&conversation->dataAcks);
    if (!entry)
        return;
    if (!(status & AckPositive) && entry->handle)
        GlobalFree(entry->handle);
    Frame frame;
    InitFrame(&frame, FrameDataAck, conversation->id);
    frame.word = (WORD)status;
    lstrcpyA(frame.name, entry->item);
    ConsumeBytes(&conversation->dataAcks, sizeof(Pending));
    sendOrHold(conversation, &frame);
}

// ---- Serving side ----------------------------------------------------------

static void refuseOpen(Session *session, DWORD id, const char *share, UINT code)
{
    LogEvent("refused: %s asked for share %s: %s", session->node, share, refusalReason(code));
    Frame refusal;
    InitFrame(&refusal, FrameRefused, id);
    refusal.word = (WORD)code;
    SendFrame(session, &refusal);
}

static void openShare(Session *session, const Frame *open)
{
    if (ConversationCountOn(session) >= MaxConversationsPerNode) {
        refuseOpen(session, open->conversation, open->name, NDDE_OUT_OF_MEMORY);
        return;
    }
    if (findConversation(session, open->conversation)) {
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
    Conversation *conversation = newConversation(true, session, open->conversation);
    if (!conversation || !MakeChallenge(conversation->challenge)) {
        ReleaseStoredShare(&stored);
        if (conversation)
            deleteConversation(conversation);
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

static void serverAnswered(Conversation *conversation, HWND server, LPARAM atoms)
{
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
    deleteConversation(conversation);
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
            sendSimpleFrame(conversation, FrameAck, 0, frame.name);
            ConsumeBytes(&queue, size);
            continue;
        }
        UINT format = formatOfFrame(&frame);
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
            handle = makeDdeBlock(DdeRelease, format, frame.data, frame.dataLength);
            lParam = PackDDElParam(message, (UINT_PTR)handle, item);
            break;
        case FrameAdvise:
            message = WM_DDE_ADVISE;
            handle = makeDdeBlock(frame.word & DdeAdviseFlags, format, 0, 0);
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
            sendSimpleFrame(conversation, FrameAck, 0, frame.name);
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
    sendSimpleFrame(conversation, FrameAck, AckBusy,
                    firstQueued(conversation, &frame, &size) ? frame.name : "");
    LogEvent("busy: the server of share %s gave %s no answer in %lu s", conversation->share,
             conversation->node, ServerAnswerTimeout / 1000);
    endConversation(conversation, true);
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
        endConversation(conversation, true);
        return;
    }
    serveNextTransaction(conversation);
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
    sendSimpleFrame(conversation, FrameAck, (WORD)status, frame.name);
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
    atomName(item, name);
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
    bool readable = data ? lockDdeBlock(data, &block) : true;
    if (!data)
        frame.word = DataWarm;
    if (!readable || !frame.name[0]) {
        endConversation(conversation, true);
        return;
    }
    frame.word |= block.flags & (DdeResponse | DdeAckReq);
    frame.data = block.data;
    frame.dataLength = block.length;
    // Data that cannot travel (beyond 16 MB, or a registered format without
    // a name) is refused in its turn, never cut short.
    bool relayable = block.length <= MaxFrameData && (!data || setFrameFormat(&frame, block.format));
    bool sent = relayable && SendFrame(conversation->session, &frame);
    if (data)
        GlobalUnlock(data);
    if (!relayable)
        LogEvent("refused: data of \"%s\" for share %s cannot be sent to %s", frame.name,
                 conversation->share, conversation->node);
    if (sent && (block.flags & DdeAckReq))
        pushPending(&conversation->dataAcks, FrameData, data,
                    (block.flags & DdeRelease) != 0, frame.name);
    else if (block.flags & DdeAckReq)
        postAckToServer(conversation, 0, frame.name);      // the server frees its data
    else if (data && (block.flags & DdeRelease))
        GlobalFree(data);
    if (block.flags & DdeResponse) {
        if (!relayable)
            sendSimpleFrame(conversation, FrameAck, 0, frame.name);
        conversation->strayAckDue = conversation->ddemlServer;
        transactionAnswered(conversation);
    }
}

// The client's acknowledgement of data, handed to the server.
static void relayDataAck(Conversation *conversation, const Frame *frame)
{
    Pending *entry = firstPending(&conversation->dataAcks);
    if (!entry)
        return;
    if ((frame->word & AckPositive) && entry->release && entry->handle)
        GlobalFree(entry->handle);
    postAckToServer(conversation, frame->word, entry->item);
    ConsumeBytes(&conversation->dataAcks, sizeof(Pending));
}

// ---- Frames of a conversation ---------------------------------------------

static void refusedByNode(Conversation *conversation, const Frame *frame)
{
    conversationRefused(conversation, frame->word);
}

static void answeredByNode(Conversation *conversation, const Frame *frame)
{
    answerFirstPending(conversation, frame->word);
}

static void endedByNode(Conversation *conversation, const Frame *)
{
    endConversation(conversation, false);
}

// Which frames a conversation takes in which states, and what they do.
struct FrameRule {
    bool serving;
    BYTE kind;
    int states;               // bits: 1 << ConversationState
    void (*handle)(Conversation *, const Frame *);
};

const int Before = 1 << WaitingForSession | 1 << Opening | 1 << Proving | 1 << AskingPassword |
                   1 << StartingServer;
const int Open = 1 << Standing;

static const FrameRule frameRules[] = {
    {false, FrameChallenge, 1 << Opening, answerChallenge},
    {false, FrameOpened, 1 << Proving, conversationOpened},
    {false, FrameRefused, 1 << Opening | 1 << Proving, refusedByNode},
    {false, FrameData, Open, deliverData},
    {false, FrameAck, Open, answeredByNode},
    {false, FrameTerminate, Before | Open, endedByNode},
    {true, FrameProof, 1 << Proving, proveShare},
    {true, FrameRequest, Open, queueTransaction},
    {true, FramePoke, Open, queueTransaction},
    {true, FrameExecute, Open, queueTransaction},
    {true, FrameAdvise, Open, queueTransaction},
    {true, FrameUnadvise, Open, queueTransaction},
    {true, FrameDataAck, Open, relayDataAck},
    {true, FrameTerminate, Before | Open, endedByNode},
};

// Judges a frame of a conversation by its head, before its data is read
// (netdde_wire.h): a Poke or Execute whose data the share would refuse is
// unwanted, its data dropped unread.
static FrameVerdict judgeConversationFrame(Session *session, const Frame *head)
{
    if (head->kind == FrameOpen)
        return FrameWanted;
    Conversation *conversation = findConversation(session, head->conversation);
    if (!conversation)
        return FrameUnwanted;
    for (const FrameRule &rule : frameRules)
        if (rule.serving == conversation->serving && rule.kind == head->kind) {
            if (!(rule.states & (1 << conversation->state)))
                return FrameBreaksRules;
            bool carriesData = head->kind == FramePoke || head->kind == FrameExecute;
            if (conversation->serving && carriesData &&
                (conversation->connectOnly ||
                 !AllowsTransaction(&conversation->stored.view, &conversation->grant, head->kind,
                                    head->name)))
                return FrameUnwanted;
            return FrameWanted;
        }
    return FrameBreaksRules;
}

// An unwanted frame, its data dropped: a transaction the share does not
// permit is refused in its turn.
static void unwantedConversationFrame(Session *session, const Frame *head)
{
    Conversation *conversation = findConversation(session, head->conversation);
    if (conversation && conversation->serving &&
        (head->kind == FramePoke || head->kind == FrameExecute))
        queueTransaction(conversation, head);
}

const SessionUser ConversationSessionUser = {
    judgeConversationFrame, HandleConversationFrame, unwantedConversationFrame,
    SessionReadyForConversations, EndConversationsOf, ConversationCountOn,
};

bool HandleConversationFrame(Session *session, const Frame *frame)
{
    if (frame->kind == FrameOpen) {
        openShare(session, frame);
        return true;
    }
    Conversation *conversation = findConversation(session, frame->conversation);
    // A conversation this side has just ended may still hear from the other.
    if (!conversation)
        return true;
    for (const FrameRule &rule : frameRules)
        if (rule.serving == conversation->serving && rule.kind == frame->kind) {
            if (!(rule.states & (1 << conversation->state)))
                return false;
            rule.handle(conversation, frame);
            return true;
        }
    return false;
}

// ---- Time ------------------------------------------------------------------

void CheckConversations()
{
    DWORD now = GetTickCount();
    for (int i = conversationCount - 1; i >= 0; i--) {
        if (i >= conversationCount)
            continue;
        Conversation *conversation = conversations[i];
        if (conversation->state == StartingServer) {
            if (findServer(conversation))
                conversationStands(conversation);
            else if (now - conversation->startedAt >= StartAppTimeout)
                refuseConversation(conversation, NDDE_CANT_ACCESS_SERVER);
        } else if (conversation->serving && conversation->atServer &&
                   now - conversation->atServerSince >= ServerAnswerTimeout) {
            serverGaveNoAnswer(conversation);
        } else if (!conversation->serving && conversation->state != Standing &&
                   conversation->state != AskingPassword &&
                   now - conversation->startedAt >= OpenTimeout) {
            failConversation(conversation, "the node did not answer in time");
        }
    }
}

// ---- Lists -----------------------------------------------------------------

int ConnectionsOf(const Session *session, AgentConnection *list, int size)
{
    int count = 0;
    for (int i = 0; i < conversationCount; i++) {
        const Conversation *conversation = conversations[i];
        if (conversation->session != session || !conversation->serving ||
            conversation->state != Standing)
            continue;
        int slot = 0;
        while (slot < count && !IsSameText(list[slot].shareName, conversation->share))
            slot++;
        if (slot == size)
            continue;
        if (slot == count) {
            ZeroMemory(&list[slot], sizeof list[slot]);
            lstrcpyA(list[slot].shareName, conversation->share);
            count++;
        }
        list[slot].connectionWord1 = conversation->grant.access;
        list[slot].connectionWord2 = conversation->grant.permissions;
    }
    return count;
}

int DescribeConversation(int index, char *line, int size)
{
    if (index >= conversationCount)
        return 0;
    static const char *const states[] = {"waiting for the node", "opening", "proving password",
                                         "asking password", "starting server", "open"};
    const Conversation *conversation = conversations[index];
    char text[256];
    wsprintfA(text, "  %s %s %s \\\\%s: %s", conversation->serving ? "served" : "client",
              conversation->share, conversation->serving ? "for" : "at", conversation->node,
              states[conversation->state]);
    lstrcpynA(line, text, size);
    return 1;
}

// ---- The conversation windows ----------------------------------------------

static LRESULT CALLBACK conversationWindowProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam)
{
    Conversation *conversation = conversationOfWindow(window);
    if (!conversation || message < WM_DDE_FIRST || message > WM_DDE_LAST) {
        if (conversation && message == WM_CONVERSATION_START)
            startConversation(conversation);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND sender = (HWND)wParam;
    if (message == WM_DDE_ACK && conversation->serving && !conversation->partner) {
        serverAnswered(conversation, sender, lParam);
        return 0;
    }
    if (sender != conversation->partner) {
        // Not our partner: an answer to an initiate that came too late.
        if (message == WM_DDE_ACK && conversation->serving)
            serverAnswered(conversation, sender, lParam);
        return 0;
    }
    if (message == WM_DDE_TERMINATE) {
        endConversation(conversation, true);
        return 0;
    }
    if (conversation->serving) {
        if (message == WM_DDE_ACK)
            serverAcknowledged(conversation, lParam);
        else if (message == WM_DDE_DATA)
            serverSentData(conversation, lParam);
        return 0;
    }
    if (message == WM_DDE_ACK)
        clientAcknowledged(conversation, lParam);
    else if (message != WM_DDE_DATA && message != WM_DDE_INITIATE)
        clientTransaction(conversation, message, lParam);
    return 0;
}

bool RegisterConversationClass(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = conversationWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = ConversationClass;
    return RegisterClassA(&windowClass) != 0;
}
