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
const UINT InitiateAnswerTimeout = 1000;  // ms a DDE client has to take the initiate's answer
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

// A link the server took, or links it ended, on the client's advise or unadvise.
static void recordLinks(Conversation *conversation, const Pending *answered)
{
    if (answered->kind == FrameAdvise) {
        ClientLink *link =
            AddClientLink(conversation, answered->item, answered->format, answered->options);
        if (link)
            link->state = LinkStanding;
        return;
    }
    if (answered->kind != FrameUnadvise)
        return;
    // No item and no format: every link.
    ClientLink *link = FirstClientLink(conversation);
    while (link) {
        ClientLink *next = NextClientLink(conversation, link);
        if ((!answered->item[0] || isSameDdeName(link->item, answered->item)) &&
            (!answered->format || link->format == answered->format))
            RemoveClientLink(conversation, link);
        link = next;
    }
}

// Hands the answer `status` to the oldest transaction, then
// refuses those this agent refused that follow it.
static void answerFirstPending(Conversation *conversation, WORD status)
{
    Pending *entry = FirstPending(&conversation->pending);
    if (!entry)
        return;
    if ((status & AckPositive) && !entry->answeredEarly)
        recordLinks(conversation, entry);
    // A positive answer gives poke data and advise options to the server side.
    if ((status & AckPositive) && entry->handle &&
        ((entry->kind == FramePoke && entry->release) || entry->kind == FrameAdvise))
        GlobalFree(entry->handle);
    if (!entry->answeredEarly && (entry->kind != FrameRequest || !(status & AckPositive)))
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

void RefuseClientPending(Conversation *conversation, WORD status)
{
    while (FirstPending(&conversation->pending))
        answerFirstPending(conversation, status);
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
    // A client that does not take the answer in time (a hung one) gets no
    // conversation. While the answer waits, sent messages are handled, and
    // one of them may end the conversation: it is looked up again after.
    DWORD serial = conversation->serial;
    HWND window = conversation->window;
    ATOM answerApplication = GlobalAddAtomA(application), answerTopic = GlobalAddAtomA(topic);
    DWORD_PTR ignored;
    bool answered = SendMessageTimeoutA(client, WM_DDE_ACK, (WPARAM)window,
                                        MAKELPARAM(answerApplication, answerTopic),
                                        SMTO_ABORTIFHUNG, InitiateAnswerTimeout, &ignored) != 0;
    conversation = ConversationOfSerial(serial);
    if (!answered) {
        GlobalDeleteAtom(answerApplication);
        GlobalDeleteAtom(answerTopic);
        LogEvent("refused: the DDE client for share %s took no answer in time", topic);
        if (conversation)
            DeleteConversation(conversation);
        return;
    }
    // The node is reached after the client has its answer.
    if (conversation)
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
    conversation->startedAt = GetTickCount();
    sendOpen(conversation);
}

bool OpenOnNode(Conversation *conversation)
{
    Session *session = SessionToNode(conversation->node);
    if (!session)
        return false;
    conversation->session = session;
    ChargeClientConversationTo(conversation, &session->budget);
    conversation->id = session->nextConversation++;
    conversation->state = WaitingForSession;
    conversation->startedAt = GetTickCount();
    if (session->state == SessionReady)
        sendOpen(conversation);
    ShowAgentState();
    return true;
}

void StartClientConversation(Conversation *conversation)
{
    const char *remembered = RememberedPassword(conversation->node, conversation->share);
    conversation->passwordSource = remembered ? FromMemory : EmptyPassword;
    lstrcpynA(conversation->password, remembered ? remembered : "", MaxPasswordLength + 1);
    if (!OpenOnNode(conversation))
        FailConversation(conversation, "unknown node");
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
    if (conversation->outageSince)
        ConversationRecovered(conversation);
    ShowAgentState();
}

static void conversationRefused(Conversation *conversation, UINT code)
{
    // Opened again after an outage with the proof that opened it first: a
    // refusal now (share gone, password changed) is final, the user is not asked.
    if (code == NDDE_ACCESS_DENIED && conversation->passwordSource != FromUser &&
        !conversation->outageSince) {
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
// False when it cannot travel (it breaks a frame rule, or memory runs out).
static bool sendOrHold(Conversation *conversation, Frame *frame)
{
    if (conversation->state == Standing)
        return SendFrame(conversation->session, frame);
    frame->conversation = HeldConversationId;
    return AppendFrame(&conversation->held, frame);
}

// A transaction from the DDE client: relayed, or refused in its turn when it
// cannot be (no such clipboard format, a handle format, too much data, a
// name no frame may carry). Nothing else of the conversation is touched.
static void relayTransaction(Conversation *conversation, Frame *frame, HGLOBAL handle,
                             bool release, bool relayable)
{
    ByteBuffer &pending = conversation->pending;
    // While the node is being reached again, the client hears busy at once.
    bool outage = conversation->outageSince != 0;
    if (outage || !PushPending(&pending, frame->kind, handle, release, frame->name)) {
        Pending refused = {};
        refused.kind = frame->kind;
        refused.handle = handle;
        lstrcpynA(refused.item, frame->name, sizeof refused.item);
        postAck(conversation, outage ? AckBusy : 0, &refused);
        return;
    }
    Pending *last = (Pending *)(pending.bytes + pending.length) - 1;
    last->format = frame->format;
    last->options = frame->kind == FrameAdvise ? frame->word : 0;
    if (relayable && sendOrHold(conversation, frame))
        return;
    LogEvent("refused: a transaction on \"%s\" of share %s at \\\\%s cannot be sent",
             frame->name, conversation->share, conversation->node);
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
        relayable = !IsHandleFormat((UINT)low) && SetFrameFormat(&frame, (UINT)low);
        break;
    case WM_DDE_POKE:
    case WM_DDE_ADVISE:
        frame.kind = message == WM_DDE_POKE ? FramePoke : FrameAdvise;
        handle = (HGLOBAL)low;
        AtomName((ATOM)high, frame.name);
        relayable = LockDdeBlock(handle, &block);
        if (relayable) {
            relayable = !IsHandleFormat(block.format) && SetFrameFormat(&frame, block.format);
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

// Answers the serving node's data of `item` that asked for an ack.
static void sendDataAck(Conversation *conversation, WORD status, const char *item)
{
    Frame frame;
    InitFrame(&frame, FrameDataAck, conversation->id);
    frame.word = status;
    lstrcpyA(frame.name, item);
    sendOrHold(conversation, &frame);
}

// A DDE client that ended without a terminate leaves nobody to answer: its
// conversation ends here and on the serving node.
static void clientGone(Conversation *conversation)
{
    LogEvent("the DDE client of share %s at \\\\%s has gone", conversation->share,
             conversation->node);
    EndConversation(conversation, true);
}

// Data for the client as WM_DDE_DATA with `flags` (DdeResponse, DdeAckReq).
// Data that cannot reach the client (a handle format, which means nothing on
// this node; a client that takes no more messages) is refused: data that
// asked for an ack by a negative DataAck, unless it is this agent's own
// (`ours`), whose ack goes to no node. False when the data did not reach the
// client (whose conversation has then ended if the client has gone).
static bool postToClient(Conversation *conversation, const Frame *frame, WORD flags, bool ours)
{
    bool warm = (frame->word & DataWarm) != 0;
    HGLOBAL data = 0;
    bool delivered = false;
    if (warm || !IsHandleFormat(frame->format)) {
        data = warm ? 0 : MakeDdeBlock(DdeRelease | flags, FormatOfFrame(frame), frame->data,
                                       frame->dataLength);
        ATOM item = GlobalAddAtomA(frame->name);
        LPARAM lParam = PackDDElParam(WM_DDE_DATA, (UINT_PTR)data, item);
        delivered = (warm || data) && PostMessageA(conversation->partner, WM_DDE_DATA,
                                                   (WPARAM)conversation->window, lParam);
        if (delivered) {
            data = ReleasePostedBlock(conversation->partner, data);
        } else {
            FreeDDElParam(WM_DDE_DATA, lParam);
            GlobalDeleteAtom(item);
            if (data)
                GlobalFree(data);
        }
    }
    if (!delivered && !IsWindow(conversation->partner)) {
        clientGone(conversation);
        return false;
    }
    if (!delivered)
        LogEvent("refused: data of \"%s\" from share %s at \\\\%s cannot reach its client",
                 frame->name, conversation->share, conversation->node);
    if (!(flags & DdeAckReq))
        return delivered;
    // The block stays this side's until the ack: a refusal leaves it to the sender.
    ByteBuffer &acks = conversation->dataAcks;
    if (delivered && PushPending(&acks, FrameData, data, true, frame->name))
        ((Pending *)(acks.bytes + acks.length) - 1)->ackOurs = ours;
    else if (!ours)
        sendDataAck(conversation, 0, frame->name);
    return delivered;
}

// Data from the server's node.
static void deliverData(Conversation *conversation, const Frame *frame)
{
    // The answer to this agent's own request after an outage is its link's
    // update, not an answer the client waits for.
    Pending *asked = (frame->word & DataResponse) ? FirstPending(&conversation->pending) : 0;
    bool ours = asked && asked->answeredEarly;
    WORD flags = ours ? TakeRestoredValue(conversation, asked, frame)
                      : frame->word & (DataResponse | DataAckReq);
    DWORD serial = conversation->serial;
    bool delivered = postToClient(conversation, frame, flags, ours);
    if (!(frame->word & DataResponse) || !ConversationOfSerial(serial))
        return;
    answerFirstPending(conversation, delivered ? AckPositive : 0);
    if (ours)
        RestoreMoreLinks(conversation);
}

void NotifyClientOfLink(Conversation *conversation, const ClientLink *link)
{
    Frame notice;
    InitFrame(&notice, FrameData, conversation->id);
    notice.word = DataWarm;
    lstrcpynA(notice.name, link->item, sizeof notice.name);
    postToClient(conversation, &notice, 0, true);
}

// The client's acknowledgement of data sent with fAckReq.
static void clientAcknowledged(Conversation *conversation, LPARAM lParam)
{
    UINT_PTR status = 0, item = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
    FreeDDElParam(WM_DDE_ACK, lParam);
    char name[MaxWireName + 1];
    AtomName((ATOM)item, name);
    if (item)
        GlobalDeleteAtom((ATOM)item);
    // An ack names the item of the data it answers; one that answers no
    // data waiting for it is a stray and goes no further.
    Pending entry;
    if (!TakePending(&conversation->dataAcks, FrameData, name, &entry))
        return;
    if (!(status & AckPositive) && entry.handle)
        GlobalFree(entry.handle);
    if (!entry.ackOurs)
        sendDataAck(conversation, (WORD)status, entry.item);
}

// ---- Frames from the serving node ------------------------------------------

static void refusedByNode(Conversation *conversation, const Frame *frame)
{
    conversationRefused(conversation, frame->word);
}

static void answeredByNode(Conversation *conversation, const Frame *frame)
{
    // A link the server no longer takes after an outage: the client, which
    // believes it stands, is not left waiting for its updates.
    Pending *entry = FirstPending(&conversation->pending);
    bool ours = entry && entry->answeredEarly;
    bool linkLost = ours && entry->kind == FrameAdvise && !(frame->word & AckPositive);
    answerFirstPending(conversation, frame->word);
    if (linkLost)
        FailConversation(conversation, "a link was not made again");
    else if (ours)
        RestoreMoreLinks(conversation);
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
    if (!IsWindow(conversation->partner)) {
        clientGone(conversation);
        return;
    }
    if (conversation->outageSince)
        CheckOutage(conversation, now);
    else if (conversation->state != Standing && conversation->state != AskingPassword &&
             now - conversation->startedAt >= OpenTimeout)
        FailConversation(conversation, "the node did not answer in time");
}
