// The client's side of a carried DDE conversation: a conversation window of
// this agent stands in for the remote DDE server.
//
// The agent's window answers WM_DDE_INITIATE for \\NODE\NDDE$ and a share at
// once with a conversation window of its own, then opens the conversation
// with that node: Open, Challenge, Proof, Opened. Transactions the DDE
// client sends meanwhile are held in order and sent once it stands. Each
// transaction sent waits in `pending` for its answer (an Ack, or Data
// answering a Request), which is handed to the client in the same order.
#include "relay.h"
#include "prompt.h"

const DWORD OpenTimeout = 20000;          // ms for a conversation to stand (StartApp included)
const DWORD HeldConversationId = 1;       // in held frames, until they are sent

// ---- Answers to the DDE client ---------------------------------------------

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

// Hands the answer `status` to the oldest transaction, then
// refuses those this agent refused that follow it.
static void answerFirstPending(Conversation *conversation, WORD status)
{
    Pending *entry = FirstPending(&conversation->pending);
    if (!entry)
        return;
    // A positive answer gives poke data and advise options to the server side.
    if ((status & AckPositive) &&
        ((entry->kind == FramePoke && entry->release) || entry->kind == FrameAdvise))
        GlobalFree(entry->handle);
    if (entry->kind != FrameRequest || !(status & AckPositive))
        postAck(conversation, status, entry);
    ConsumeBytes(&conversation->pending, sizeof(Pending));
    while ((entry = FirstPending(&conversation->pending)) != 0 && entry->refusedHere) {
        postAck(conversation, 0, entry);
        ConsumeBytes(&conversation->pending, sizeof(Pending));
    }
}

void FailConversation(Conversation *conversation, const char *reason)
{
    LogEvent("refused: share %s on \\\\%s: %s", conversation->share, conversation->node, reason);
    EndConversation(conversation, true);
}

void RefuseClientPending(Conversation *conversation)
{
    while (FirstPending(&conversation->pending))
        answerFirstPending(conversation, 0);
}

// ---- Opening ---------------------------------------------------------------

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
    AtomName(LOWORD(atoms), application);
    AtomName(HIWORD(atoms), topic);
    int topicLength = lstrlenA(topic);
    if (!readNetworkApplication(application, node) || topicLength < 1 ||
        topicLength > MaxShareNameLength || !IsWindow(client))
        return;
    Conversation *conversation = NewConversation(false, 0, 0);
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

void StartClientConversation(Conversation *conversation)
{
    Session *session = SessionToNode(conversation->node);
    if (!session) {
        FailConversation(conversation, "unknown node");
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
    for (int i = 0; i < ConversationCount(); i++) {
        Conversation *conversation = ConversationAt(i);
        if (conversation->session == session && conversation->state == WaitingForSession)
            sendOpen(conversation);
    }
}

static void answerChallenge(Conversation *conversation, const Frame *challenge)
{
    Frame proof;
    InitFrame(&proof, FrameProof, conversation->id);
    BYTE bytes[ProofLength];
    if (!ProvePassword(conversation->password, challenge->data, bytes)) {
        FailConversation(conversation, "no password proof can be made");
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
        SendSimpleFrame(conversation, FrameTerminate, 0);
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
    FailConversation(conversation, RefusalReason(code));
}

void AskPasswordFor(DWORD serial)
{
    Conversation *conversation = ConversationOfSerial(serial);
    if (!conversation || conversation->state != AskingPassword)
        return;
    char node[MaxNodeNameLength + 1], share[ShareNameSize], password[MaxPasswordLength + 1];
    lstrcpyA(node, conversation->node);
    lstrcpyA(share, conversation->share);
    bool given = AskPassword(AgentWindowHandle, node, share, password);
    // The conversation may have ended while the user was asked.
    conversation = ConversationOfSerial(serial);
    if (!conversation || conversation->state != AskingPassword)
        return;
    if (!given) {
        FailConversation(conversation, "password not given");
        return;
    }
    lstrcpyA(conversation->password, password);
    conversation->passwordSource = FromUser;
    reopen(conversation);
}

// ---- Transactions ----------------------------------------------------------

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
        FailConversation(conversation, "out of memory");
}

// A transaction from the DDE client: relayed, or refused in its turn when it
// cannot be (no such clipboard format, too much data).
static void relayTransaction(Conversation *conversation, Frame *frame, HGLOBAL handle,
                             bool release, bool relayable)
{
    ByteBuffer &pending = conversation->pending;
    if (!PushPending(&pending, frame->kind, handle, release, frame->name)) {
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
    if (PendingCount(&pending) == 1) {
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
        AtomName((ATOM)high, frame.name);
        relayable = SetFrameFormat(&frame, (UINT)low);
        break;
    case WM_DDE_POKE:
    case WM_DDE_ADVISE:
        frame.kind = message == WM_DDE_POKE ? FramePoke : FrameAdvise;
        handle = (HGLOBAL)low;
        AtomName((ATOM)high, frame.name);
        relayable = LockDdeBlock(handle, &block);
        if (relayable) {
            relayable = SetFrameFormat(&frame, block.format);
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
        data = MakeDdeBlock(flags, FormatOfFrame(frame), frame->data, frame->dataLength);
    }
    ATOM item = GlobalAddAtomA(frame->name);
    LPARAM lParam = PackDDElParam(WM_DDE_DATA, (UINT_PTR)data, item);
    bool posted = PostMessageA(conversation->partner, WM_DDE_DATA, (WPARAM)conversation->window,
                               lParam) != 0;
    if (posted && (frame->word & DataAckReq))
        PushPending(&conversation->dataAcks, FrameData, data, true, frame->name);
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
    Pending *entry = FirstPending(&conversation->dataAcks);
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

// ---- Frames from the serving node ------------------------------------------

static void refusedByNode(Conversation *conversation, const Frame *frame)
{
    conversationRefused(conversation, frame->word);
}

static void answeredByNode(Conversation *conversation, const Frame *frame)
{
    answerFirstPending(conversation, frame->word);
}

const FrameRule ClientFrameRules[] = {
    {FrameChallenge, 1 << Opening, answerChallenge},
    {FrameOpened, 1 << Proving, conversationOpened},
    {FrameRefused, 1 << Opening | 1 << Proving, refusedByNode},
    {FrameData, WhenStanding, deliverData},
    {FrameAck, WhenStanding, answeredByNode},
    {FrameTerminate, BeforeStanding | WhenStanding, EndedByNode},
};
const int ClientFrameRuleCount = sizeof ClientFrameRules / sizeof ClientFrameRules[0];

// ---- Messages from the DDE client and time ---------------------------------

void ClientWindowMessage(Conversation *conversation, UINT message, LPARAM lParam)
{
    if (message == WM_DDE_ACK)
        clientAcknowledged(conversation, lParam);
    else if (message != WM_DDE_DATA && message != WM_DDE_INITIATE)
        clientTransaction(conversation, message, lParam);
}

void CheckClientConversation(Conversation *conversation, DWORD now)
{
    if (conversation->state != Standing && conversation->state != AskingPassword &&
        now - conversation->startedAt >= OpenTimeout)
        FailConversation(conversation, "the node did not answer in time");
}
