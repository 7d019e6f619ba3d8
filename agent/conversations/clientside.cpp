// The client's side of a carried DDE conversation: a conversation window of
// this agent stands in for the remote DDE server.
//
// The agent's window answers WM_DDE_INITIATE for \\NODE\NDDE$ and a share at
// once with a conversation window of its own, then opens the conversation
// with that node: Open, Challenge, Proof, Opened. Transactions the DDE
// client sends meanwhile are held in order and sent once it stands. Each
// transaction sent waits in `pending` for its answer (an Ack, or Data
// answering a Request), which is handed to the client in the same order.
// Each advise link the client makes is kept in the conversation's link
// table (clientlinks.cpp) once its server took it.
#include "relay.h"
#include "nodemap.h"

const DWORD OpenTimeout = 20000;          // ms for a conversation to stand (StartApp included)
const UINT InitiateAnswerTimeout = 1000;  // ms a DDE client has to take the initiate's answer
const DWORD HeldConversationId = 1;       // in held frames, until they are sent
// Transactions on their way to the node at once; more wait here, so that a
// client that is told at once its links stand (FastAdvise) cannot fill
// the queue of the server's side.
const int MaxTransactionsSent = 192;
// A link's updates posted to the client and not yet known to be taken;
// newer ones wait here, merged unless they ask for an ack. Every
// UpdatesPerAck-th asks the client for an ack: a client takes its messages
// in order, so its ack shows that it took those before too.
const int MaxPostedUpdates = 256;
const int UpdatesPerAck = 32;

static const PasswordKeeper *passwords;
static const ClientOutage *outageHandling;

void SetPasswordKeeper(const PasswordKeeper *keeper)
{
    passwords = keeper;
}

void SetClientOutage(const ClientOutage *handling)
{
    outageHandling = handling;
}

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
        LogEvent("refused: an answer on \"%s\" from share %s at \\\\%s cannot reach its client",
                 entry->item, conversation->share, conversation->node);
    }
}

static void dropLink(Conversation *conversation, ClientLink *link);

// The node's answer to an advise or unadvise, kept in the link table: a
// link stands once its server took it and goes once it ended it. A refused
// advise the client was told was taken ends its link here, visibly.
static void linkAnswered(Conversation *conversation, const Pending *entry, WORD status)
{
    bool positive = (status & AckPositive) != 0;
    if (entry->kind == FrameAdvise || entry->kind == FrameUnadvise)
        ShowAgentState();       // its memory of sessions changes
    if (entry->kind == FrameAdvise) {
        ClientLink *link = FindClientLink(conversation, entry->item, entry->format);
        // An advise that came again after its link was refused and dropped.
        if (!link && positive)
            link = AddClientLink(conversation, entry->item, entry->format, entry->options);
        if (link && positive) {
            link->state = LinkStanding;
            link->options = entry->options;
            // A warm link's value would go stale: its notices carry none.
            if (link->options & AdviseDeferUpd)
                ForgetClientLinkValue(conversation, link);
        } else if (link && link->state == LinkAsked) {
            if (entry->answeredEarly)
                LogEvent("link ended: the server of share %s at \\\\%s refused \"%s\"",
                         conversation->share, conversation->node, entry->item);
            dropLink(conversation, link);
        }
    } else if (entry->kind == FrameUnadvise && positive) {
        // No item: every link; format 0: the item's links in every format.
        ClientLink *link = FirstClientLink(conversation);
        while (link) {
            ClientLink *next = NextClientLink(conversation, link);
            if ((!entry->item[0] || isSameDdeName(link->item, entry->item)) &&
                (!entry->format || entry->format == link->format))
                dropLink(conversation, link);
            link = next;
        }
    }
}

// Hands the node's answer `status` to the oldest transaction, then
// refuses those this agent refused that follow it.
static void answerFirstPending(Conversation *conversation, WORD status)
{
    Pending *entry = FirstPending(&conversation->pending);
    if (!entry)
        return;
    linkAnswered(conversation, entry, status);
    // A positive answer gives poke data and advise options to the server side.
    if ((status & AckPositive) && entry->handle &&
        ((entry->kind == FramePoke && entry->release) || entry->kind == FrameAdvise))
        GlobalFree(entry->handle);
    if ((entry->kind != FrameRequest || !(status & AckPositive)) && !entry->answeredEarly)
        postAck(conversation, status, entry);
    ConsumeBytes(&conversation->pending, sizeof(Pending));
    while ((entry = FirstPending(&conversation->pending)) != 0 && entry->refusedHere) {
        postAck(conversation, 0, entry);
        ConsumeBytes(&conversation->pending, sizeof(Pending));
    }
}

void RefuseClientPending(Conversation *conversation, WORD status)
{
    Pending *entry;
    while ((entry = FirstPending(&conversation->pending)) != 0) {
        if (!entry->answeredEarly) {
            // A link the client is told was not made is not made again either.
            ClientLink *link = entry->kind == FrameAdvise
                                   ? FindClientLink(conversation, entry->item, entry->format) : 0;
            if (link && link->state == LinkAsked)
                dropLink(conversation, link);
            postAck(conversation, status, entry);
        }
        ConsumeBytes(&conversation->pending, sizeof(Pending));
    }
    conversation->transactionsSent = 0;
}

// ---- Opening ---------------------------------------------------------------

// When the initiates that found no room, or a node refused for its key,
// were last logged: each is logged once a minute at most, not per attempt
// (a DDEML client tries again and again).
static DWORD noRoomLoggedAt, refusedNodeLoggedAt;

void AnswerInitiate(HWND client, LPARAM atoms)
{
    char application[MaxWireName + 1], topic[MaxWireName + 1], node[MaxNodeNameLength + 1];
    AtomName(LOWORD(atoms), application);
    AtomName(HIWORD(atoms), topic);
    int topicLength = lstrlenA(topic);
    bool named;
    bool isNode = ReadNetworkApplication(application, node, &named);
    // Initiates for other applications are none of this agent's business.
    if (!named || !IsWindow(client))
        return;
    if (!isNode) {
        LogEvent("refused: share %s at %s: that is no node name", topic, application);
        return;
    }
    if (topicLength < 1 || topicLength > MaxShareNameLength) {
        LogEvent("refused: share %s at \\\\%s: that is no share name", topic, node);
        return;
    }
    DWORD refusedFor = NodeRefusedFor(node);
    if (refusedFor) {
        if (IsLimitLogDue(&refusedNodeLoggedAt)) {
            char until[9];
            FormatTimeFromNow(refusedFor, until);
            LogEvent("refused: share %s at \\\\%s: node refused for its key until %s", topic, node,
                     until);
        }
        return;
    }
    Conversation *conversation = NewConversation(false, 0, 0);
    if (!conversation) {
        if (IsLimitLogDue(&noRoomLoggedAt))
            LogEvent("refused: share %s at \\\\%s: no room, %d client conversations or no window",
                     topic, node, MaxClientConversations);
        return;
    }
    conversation->partner = client;
    // Asked once: a feed posts to the same client again and again.
    conversation->partnerGetsCopies = ReceiverGetsCopies(client);
    CopyNodeName(conversation->node, node);
    lstrcpyA(conversation->share, topic);
    // A client that does not take the answer in time (a hung one) gets no
    // conversation. While the answer waits, sent messages are handled, and
    // one of them may end the conversation: it is looked up again after.
    DWORD serial = conversation->serial;
    HWND window = conversation->window;
    ATOM answerApplication = GlobalAddAtomA(application), answerTopic = GlobalAddAtomA(topic);
    DWORD_PTR ignored;
    bool answered = SendToWaitingSender(client, WM_DDE_ACK, (WPARAM)window,
                                        MAKELPARAM(answerApplication, answerTopic),
                                        InitiateAnswerTimeout, &ignored);
    conversation = ConversationOfSerial(serial);
    if (!answered) {
        GlobalDeleteAtom(answerApplication);
        GlobalDeleteAtom(answerTopic);
        LogEvent("refused: share %s at \\\\%s: the DDE client took no answer in time", topic,
                 node);
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

// Sends the Opens that wait on `session`, as far as the node proves
// conversations at once: the others wait for the answers to earlier ones.
static void sendWaitingOpens(Session *session)
{
    if (session->state != SessionReady)
        return;
    int unproved = 0;
    for (int i = 0; i < ConversationCount(); i++) {
        const Conversation *conversation = ConversationAt(i);
        if (!conversation->serving && conversation->session == session &&
            (conversation->state == Opening || conversation->state == Proving))
            unproved++;
    }
    for (int i = 0; i < ConversationCount() && unproved < MaxUnprovedPerSession; i++) {
        Conversation *conversation = ConversationAt(i);
        if (!conversation->serving && conversation->session == session &&
            conversation->state == WaitingForSession) {
            sendOpen(conversation);
            unproved++;
        }
    }
}

// Opens (again) with a new conversation id: every Open gets a fresh challenge.
static void reopen(Conversation *conversation)
{
    conversation->id = conversation->session->nextConversation++;
    conversation->startedAt = GetTickCount();
    conversation->state = WaitingForSession;
    sendWaitingOpens(conversation->session);
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
    sendWaitingOpens(session);
    ShowAgentState();
    return true;
}

void StartClientConversation(Conversation *conversation)
{
    conversation->fastAdvise = NodeSetting(conversation->node, FastAdviseSetting, 0, 1) != 0;
    const char *remembered = passwords->rememberedPassword(conversation->node, conversation->share);
    conversation->passwordSource = remembered ? FromMemory : EmptyPassword;
    lstrcpynA(conversation->password, remembered ? remembered : "", MaxPasswordLength + 1);
    if (!OpenOnNode(conversation))
        FailConversation(conversation, "unknown node");
}

void SessionReadyForConversations(Session *session)
{
    sendWaitingOpens(session);
    AdministrationSessionReady(session);
}

static void answerChallenge(Conversation *conversation, const Frame *challenge)
{
    Frame proof;
    InitFrame(&proof, FrameProof, conversation->id);
    BYTE bytes[ProofLength];
    if (!ProveBoundPassword(conversation->password, challenge->data, conversation->share,
                            conversation->session->binding, bytes)) {
        FailConversation(conversation, "no password proof can be made");
        return;
    }
    proof.data = bytes;
    proof.dataLength = ProofLength;
    conversation->state = Proving;
    SendFrame(conversation->session, &proof);
}

static bool isTransaction(BYTE kind)
{
    return kind >= FrameRequest && kind <= FrameUnadvise;
}

// Sends the held frames, in the order the client sent them, while fewer
// than MaxTransactionsSent transactions are on their way.
static void sendHeld(Conversation *conversation)
{
    ByteBuffer &held = conversation->held;
    Frame frame;
    DWORD size;
    while (ReadFrame(held.bytes + held.start, held.length - held.start, &frame, &size) ==
           FrameComplete) {
        bool transaction = isTransaction(frame.kind);
        if (transaction && conversation->transactionsSent >= MaxTransactionsSent)
            return;
        // One that cannot be sent ends the session, and every transaction with it.
        frame.conversation = conversation->id;
        SendFrame(conversation->session, &frame);
        conversation->transactionsSent += transaction;
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
        passwords->rememberPassword(conversation->node, conversation->share, conversation->password);
    LogEvent("conversation on %s at \\\\%s: access #%u", conversation->share,
             conversation->node, opened->data[0] | opened->data[1] << 8);
    sendHeld(conversation);
    if (conversation->outageSince)
        outageHandling->conversationRecovered(conversation);
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
    // Its server did not answer the node (busy with a feed, or starting
    // again): within the grace period the node is asked again, as while away.
    if (code == NDDE_CANT_ACCESS_SERVER && conversation->outageSince &&
        outageHandling->keepThroughOutage(conversation, conversation->session, "no server")) {
        LogEvent("no server yet: share %s at \\\\%s, asked again", conversation->share,
                 conversation->node);
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
    bool given = passwords->askPassword(AgentWindowHandle, node, share, password);
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

// Sends a frame now, or holds it until the conversation stands (its id is
// given when it is sent: every new Open takes a new one). A transaction is
// also held while others are held or MaxTransactionsSent are on their way.
// False when it cannot travel (it breaks a frame rule, or memory runs out).
static bool sendOrHold(Conversation *conversation, Frame *frame)
{
    bool transaction = isTransaction(frame->kind);
    bool sendNow = conversation->state == Standing &&
                   (!transaction || (conversation->held.length == conversation->held.start &&
                                     conversation->transactionsSent < MaxTransactionsSent));
    if (!sendNow) {
        frame->conversation = HeldConversationId;
        return AppendFrame(&conversation->held, frame);
    }
    if (!SendFrame(conversation->session, frame))
        return false;
    conversation->transactionsSent += transaction;
    return true;
}

// Tells the client at once that its advise was taken (FastAdvise); the
// node's answer is awaited all the same, and a refusal ends the link.
static void answerAdviseEarly(Conversation *conversation, Pending *entry)
{
    postAck(conversation, AckPositive, entry);
    GlobalFree(entry->handle);
    entry->handle = 0;
    entry->answeredEarly = true;
}

// A transaction from the DDE client: relayed, or refused in its turn when it
// cannot be (no such clipboard format, a handle format, too much data, a
// name no frame may carry, no room for its link). Nothing else of the
// conversation is touched.
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
    last->options = frame->word;
    if (frame->kind == FrameAdvise && relayable)
        relayable = AddClientLink(conversation, frame->name, last->format, frame->word) != 0;
    if (relayable && sendOrHold(conversation, frame)) {
        if (frame->kind == FrameAdvise && conversation->fastAdvise)
            answerAdviseEarly(conversation, last);
        return;
    }
    LogEvent("refused: a transaction on \"%s\" of share %s at \\\\%s cannot be sent",
             frame->name, conversation->share, conversation->node);
    last->refusedHere = true;
    if (PendingCount(&pending) == 1) {
        postAck(conversation, 0, last);
        ConsumeBytes(&pending, sizeof(Pending));
    }
}

static bool answeredFromLink(Conversation *conversation, const Frame *request);

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
    if (frame.kind == FrameRequest && relayable && answeredFromLink(conversation, &frame))
        return;
    relayTransaction(conversation, &frame, handle, release, relayable);
    if (handle && (message == WM_DDE_POKE || message == WM_DDE_ADVISE || message == WM_DDE_EXECUTE))
        GlobalUnlock(handle);
}

// A transaction answered by the node: the next held one may go.
static void transactionAnswered(Conversation *conversation, WORD status)
{
    if (conversation->transactionsSent > 0)
        conversation->transactionsSent--;
    answerFirstPending(conversation, status);
    sendHeld(conversation);
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

// Removes a link; its waiting updates that asked for an ack are refused.
static void dropLink(Conversation *conversation, ClientLink *link)
{
    Frame update;
    DWORD size;
    while (FirstClientLinkUpdate(link, &update, &size)) {
        if (update.word & DataAckReq)
            sendDataAck(conversation, 0, update.name);
        TakeClientLinkUpdate(link, size);
    }
    RemoveClientLink(conversation, link);
}

// A DDE client that ended without a terminate leaves nobody to answer: its
// conversation ends here and on the serving node.
static void clientGone(Conversation *conversation)
{
    LogEvent("the DDE client of share %s at \\\\%s has gone", conversation->share,
             conversation->node);
    EndConversation(conversation, true);
}

// Posts WM_DDE_DATA of `item` carrying `data` (null: a warm link's notice)
// to the client. Once posted the block is the client's, but for what
// ReleasePostedBlock leaves this side (in *kept). False, with the block
// freed and the failure logged, when it cannot be posted.
static bool postData(Conversation *conversation, HGLOBAL data, const char *item, HGLOBAL *kept)
{
    ATOM atom = GlobalAddAtomA(item);
    LPARAM lParam = PackDDElParam(WM_DDE_DATA, (UINT_PTR)data, atom);
    if (PostMessageA(conversation->partner, WM_DDE_DATA, (WPARAM)conversation->window, lParam)) {
        *kept = ReleasePostedBlock(data, conversation->partnerGetsCopies);
        return true;
    }
    FreeDDElParam(WM_DDE_DATA, lParam);
    GlobalDeleteAtom(atom);
    if (data)
        GlobalFree(data);
    *kept = 0;
    LogEvent("refused: data of \"%s\" from share %s at \\\\%s cannot reach its client", item,
             conversation->share, conversation->node);
    return false;
}

// Posts the frame's data with `flags` to the client (a warm link's notice
// with no block), as postData does. False, logged, when memory runs out.
static bool postFrameData(Conversation *conversation, const Frame *frame, WORD flags,
                          HGLOBAL *kept)
{
    bool warm = (frame->word & DataWarm) != 0;
    HGLOBAL data =
        warm ? 0 : MakeDdeBlock(flags, FormatOfFrame(frame), frame->data, frame->dataLength);
    if (!warm && !data) {
        LogEvent("refused: data of \"%s\" from share %s at \\\\%s: no memory", frame->name,
                 conversation->share, conversation->node);
        *kept = 0;
        return false;
    }
    return postData(conversation, data, frame->name, kept);
}

// Whether the link may post `update` now: one that asks for an ack waits
// until every ack asked for before it has come; others wait while
// MaxPostedUpdates are not known to be taken.
static bool hasRoomFor(const ClientLink *link, const Frame *update)
{
    return (update->word & DataAckReq) ? link->posted == link->unasked
                                       : link->unpaced || link->posted < MaxPostedUpdates;
}

// Posts a link's update; with fAckReq when the server asked for an ack, or
// when it is the UpdatesPerAck-th since the last that asked: the client's
// ack shows those were taken. The ack of one the server asked for goes
// back to it, the others' end here. A warm link's notice carries no flags:
// its link is paced only until its client shows it takes its messages.
// False when it cannot be posted.
static bool postLinkUpdate(Conversation *conversation, ClientLink *link, const Frame *update)
{
    bool serverAsked = (update->word & DataAckReq) != 0;
    bool askAck = serverAsked || (!link->unpaced && !(update->word & DataWarm) &&
                                  link->unasked + 1 >= UpdatesPerAck);
    HGLOBAL kept;
    if (!postFrameData(conversation, update, DdeRelease | (askAck ? DdeAckReq : 0), &kept)) {
        if (serverAsked)
            sendDataAck(conversation, 0, update->name);
        return false;
    }
    if (link->unpaced && !askAck)
        return true;
    link->posted++;
    link->unasked++;
    if (link->posted >= MaxPostedUpdates && !link->fullSince)
        link->fullSince = GetTickCount() | 1;
    if (!askAck)
        return true;
    ByteBuffer &acks = conversation->dataAcks;
    // The block stays this side's until the ack: a refusal leaves it to the sender.
    if (PushPending(&acks, FrameData, kept, true, update->name)) {
        Pending *entry = (Pending *)(acks.bytes + acks.length) - 1;
        entry->ackOurs = !serverAsked;
        entry->updates = (WORD)link->unasked;
        entry->format = (WORD)link->format;
    } else {
        // An ack that cannot be followed: those updates count as taken.
        link->posted -= link->unasked;
        if (serverAsked)
            sendDataAck(conversation, 0, update->name);
    }
    link->unasked = 0;
    return true;
}

// Whether the link has an update waiting that it may post now.
static bool hasDueUpdate(ClientLink *link)
{
    Frame update;
    DWORD size;
    return FirstClientLinkUpdate(link, &update, &size) && hasRoomFor(link, &update);
}

// Posts the link's waiting updates while it has room (and `*budget` lasts,
// each taking one from it). False when the client has gone (the
// conversation has ended then).
static bool postWaitingUpdates(Conversation *conversation, ClientLink *link, int *budget = 0)
{
    Frame update;
    DWORD size;
    while ((!budget || *budget > 0) && FirstClientLinkUpdate(link, &update, &size) &&
           hasRoomFor(link, &update)) {
        if (budget)
            --*budget;
        bool posted = postLinkUpdate(conversation, link, &update);
        TakeClientLinkUpdate(link, size);
        if (!posted && !IsWindow(conversation->partner)) {
            clientGone(conversation);
            return false;
        }
    }
    return true;
}

// ---- Updates that wait while this node is behind ----------------------------
// A session behind its node has its links' updates wait, BehindDepth per
// link at most (newer ones merge), and posted from WM_POST_DUE_UPDATES in
// rounds over the conversations and their links: the rest of what the node
// sends (a request's answer, another conversation's data) no longer waits
// for every update to be posted, and what this node cannot post in time
// merges here.

const int BehindDepth = 8;          // updates a link keeps waiting while its session is behind
const int MaxPostsPerRound = 64;     // then the next round, from a posted message

static bool dueUpdatesPosted;       // WM_POST_DUE_UPDATES is on its way
static int nextDueConversation;     // where the next round starts

static void postDueUpdatesLater()
{
    if (!dueUpdatesPosted)
        dueUpdatesPosted = PostMessageA(AgentWindowHandle, WM_POST_DUE_UPDATES, 0, 0) != 0;
}

// Posts the due updates of the conversation's links, BehindDepth a link at
// most, from the bucket where the last round stopped, while `*budget`
// lasts. False when it stopped for the budget or because the client has
// gone; `*left` is set when a link still has one due.
static bool postDueUpdatesOf(Conversation *conversation, int *budget, bool *left)
{
    for (int bucket = conversation->dueBucket; bucket < conversation->linkBucketCount; bucket++) {
        for (ClientLink *link = conversation->linkBuckets[bucket]; link; link = link->nextInBucket) {
            if (!hasDueUpdate(link))
                continue;
            if (*budget <= 0) {
                conversation->dueBucket = bucket;
                return false;
            }
            int most = *budget < BehindDepth ? *budget : BehindDepth, unused = most;
            if (!postWaitingUpdates(conversation, link, &unused))
                return false;
            *budget -= most - unused;
            *left = *left || hasDueUpdate(link);
        }
    }
    conversation->dueBucket = 0;
    return true;
}

void PostDueUpdates()
{
    dueUpdatesPosted = false;
    int budget = MaxPostsPerRound;
    bool left = false;
    for (int visited = 0, count = ConversationCount(); visited < count; visited++) {
        if (nextDueConversation >= ConversationCount())
            nextDueConversation = 0;
        Conversation *conversation = ConversationAt(nextDueConversation);
        if (!conversation->serving && conversation->state == Standing &&
            !postDueUpdatesOf(conversation, &budget, &left)) {
            postDueUpdatesLater();
            return;
        }
        nextDueConversation++;
    }
    if (left)
        postDueUpdatesLater();
    else
        SessionsCaughtUp();
}

// A link's update from the server's node: kept as the link's value (a hot
// link's), then posted when the link has room, or left waiting.
static void deliverLinkUpdate(Conversation *conversation, ClientLink *link, const Frame *frame)
{
    bool behind = SessionIsBehind(conversation->session);
    if (!behind && link->waiting.length == link->waiting.start && hasRoomFor(link, frame)) {
        if (!postLinkUpdate(conversation, link, frame) && !IsWindow(conversation->partner))
            clientGone(conversation);
        return;
    }
    // Behind its updates wait for their round; else those that waited for
    // the round of a session no longer behind go first, then this one.
    int keep = behind && hasRoomFor(link, frame) ? BehindDepth : 1;
    if (QueueClientLinkUpdate(conversation, link, frame, keep)) {
        if (behind)
            postDueUpdatesLater();
        else
            postWaitingUpdates(conversation, link);
        return;
    }
    LogWarning("refused: data of \"%s\" from share %s at \\\\%s: over the memory budget",
               frame->name, conversation->share, conversation->node);
    if (frame->word & DataAckReq)
        sendDataAck(conversation, 0, frame->name);
}

// Data from the server's node: a link's update, a warm link's notice or the
// answer to a request, handed to the client as WM_DDE_DATA. Data that
// cannot reach the client (a handle format, which means nothing on this
// node; a client that takes no more messages) is answered as refused: a
// request's answer by a negative ack, data that asked for one by a negative
// DataAck.
static void restoredValue(Conversation *conversation, ClientLink *link, const Frame *frame);

static void deliverData(Conversation *conversation, const Frame *frame)
{
    bool warm = (frame->word & DataWarm) != 0;
    bool response = (frame->word & DataResponse) != 0;
    bool handleFormat = !warm && IsHandleFormat(frame->format);
    UINT format = warm || handleFormat ? 0 : FormatOfFrame(frame);
    ClientLink *link = warm     ? FindWarmClientLink(conversation, frame->name)
                       : format ? FindClientLink(conversation, frame->name, format)
                                : 0;
    if (link && !(link->options & AdviseDeferUpd))
        SetClientLinkValue(conversation, link, format, frame->data, frame->dataLength);
    if (link && !response) {
        deliverLinkUpdate(conversation, link, frame);
        return;
    }
    Pending *asked = response ? FirstPending(&conversation->pending) : 0;
    if (asked && asked->answeredEarly) {
        restoredValue(conversation, link, frame);
        return;
    }
    // A request's answer newer than an update still waiting: a waiting
    // update takes its value, so that no older one reaches the client after it.
    if (link && link->waiting.length != link->waiting.start) {
        Frame update = *frame;
        update.word &= ~(DataResponse | DataAckReq);
        QueueClientLinkUpdate(conversation, link, &update, 1);
    }
    HGLOBAL data = 0;
    bool delivered = !handleFormat &&
                     postFrameData(conversation, frame,
                                   DdeRelease | (frame->word & (DataResponse | DataAckReq)), &data);
    if (!delivered && !IsWindow(conversation->partner)) {
        clientGone(conversation);
        return;
    }
    if (handleFormat)
        LogEvent("refused: data of \"%s\" from share %s at \\\\%s: a format of handles",
                 frame->name, conversation->share, conversation->node);
    // The block stays this side's until the ack: a refusal leaves it to the sender.
    if ((frame->word & DataAckReq) &&
        !(delivered && PushPending(&conversation->dataAcks, FrameData, data, true, frame->name)))
        sendDataAck(conversation, 0, frame->name);
    if (response)
        transactionAnswered(conversation, delivered ? AckPositive : 0);
}

// The answer to this agent's own request after an outage: the current
// value of `link`, which reaches the client as the link's update.
static void restoredValue(Conversation *conversation, ClientLink *link, const Frame *frame)
{
    // The server's ack, should it want one, is given here: the client was not asked.
    if (frame->word & DataAckReq)
        sendDataAck(conversation, AckPositive, frame->name);
    DWORD serial = conversation->serial;
    if (link) {
        Frame update = *frame;
        update.word &= ~(DataResponse | DataAckReq);
        deliverLinkUpdate(conversation, link, &update);
    }
    if (ConversationOfSerial(serial))
        transactionAnswered(conversation, AckPositive);
}

void NotifyClientOfLink(Conversation *conversation, ClientLink *link)
{
    Frame notice;
    InitFrame(&notice, FrameData, conversation->id);
    notice.word = DataWarm;
    lstrcpynA(notice.name, link->item, sizeof notice.name);
    deliverLinkUpdate(conversation, link, &notice);
}

bool SendForLink(Conversation *conversation, BYTE kind, const ClientLink *link)
{
    Frame frame;
    InitFrame(&frame, kind, conversation->id);
    lstrcpynA(frame.name, link->item, sizeof frame.name);
    if (kind == FrameAdvise)
        frame.word = link->options;
    ByteBuffer &pending = conversation->pending;
    if (!SetFrameFormat(&frame, link->format) ||
        !PushPending(&pending, kind, 0, false, link->item))
        return false;
    Pending *entry = (Pending *)(pending.bytes + pending.length) - 1;
    entry->answeredEarly = true;
    entry->format = (WORD)link->format;
    entry->options = link->options;
    return sendOrHold(conversation, &frame);
}

// A request on an item whose hot link stands with a known value is
// answered at once from that value, as the server last sent it: unless an
// answer to an earlier transaction, or an older update of that link, is
// still to reach the client. False when it goes to the server.
static bool answeredFromLink(Conversation *conversation, const Frame *request)
{
    ClientLink *link = FindClientLink(conversation, request->name, request->format);
    if (!link || link->state != LinkStanding || !link->hasValue ||
        link->waiting.length != link->waiting.start)
        return false;
    ByteBuffer &pending = conversation->pending;
    for (int i = 0; i < PendingCount(&pending); i++)
        if (!FirstPending(&pending)[i].answeredEarly)
            return false;
    HGLOBAL data = MakeDdeBlock(DdeResponse | DdeRelease, link->valueFormat, link->value,
                                link->valueLength), kept;
    return data && postData(conversation, data, request->name, &kept);
}

// The client's acknowledgement of data sent with fAckReq: a link's updates
// taken make room for the next.
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
    ClientLink *link = entry.updates ? FindClientLink(conversation, entry.item, entry.format) : 0;
    if (link) {
        link->posted = link->posted > entry.updates ? link->posted - entry.updates : 0;
        if (link->posted < link->unasked)
            link->unasked = link->posted;
        link->fullSince = 0;
        postWaitingUpdates(conversation, link);
    }
}

// ---- Frames from the serving node ------------------------------------------

// An answer to an Open leaves room for one that waits (sendWaitingOpens).
static void openedByNode(Conversation *conversation, const Frame *frame)
{
    Session *session = conversation->session;
    conversationOpened(conversation, frame);
    sendWaitingOpens(session);
}

static void refusedByNode(Conversation *conversation, const Frame *frame)
{
    Session *session = conversation->session;
    conversationRefused(conversation, frame->word);
    sendWaitingOpens(session);
}

static void answeredByNode(Conversation *conversation, const Frame *frame)
{
    transactionAnswered(conversation, frame->word);
}

const FrameRule ClientFrameRules[] = {
    {FrameChallenge, 1 << Opening, answerChallenge},
    {FrameOpened, 1 << Proving, openedByNode},
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

// Posts what waits on every link of the conversation, as far as each has room.
static void postEveryWaitingUpdate(Conversation *conversation)
{
    DWORD serial = conversation->serial;
    for (ClientLink *link = FirstClientLink(conversation); link; link = NextClientLink(conversation, link))
        if (!postWaitingUpdates(conversation, link) || !ConversationOfSerial(serial))
            return;
}

void CheckClientConversation(Conversation *conversation, DWORD now)
{
    if (!IsWindow(conversation->partner)) {
        clientGone(conversation);
        return;
    }
    if (conversation->outageSince)
        outageHandling->checkOutage(conversation, now);
    else if (conversation->state == Standing) {
        if (CheckClientPace(conversation, now))
            postEveryWaitingUpdate(conversation);
    } else if (conversation->state != AskingPassword && now - conversation->startedAt >= OpenTimeout)
        FailConversation(conversation, "the node did not answer in time");
}
