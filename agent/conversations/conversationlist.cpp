// The list of conversations and what both sides share (relay.h): the
// conversation records, their queues of pending transactions, DDE blocks,
// and creating and ending a conversation, with the windows of ended ones.
// The sides call this file; it calls them only through the entry points
// conversations.cpp registers (SetConversationEnding).
#include "relay.h"
#include <algorithm>

static Conversation *conversations[MaxConversations];
static int conversationCount;
static Conversation *endedConversations;   // freed by WM_FREE_CONVERSATIONS
static DWORD nextSerial = 1;
static const ConversationEnding *ending;

void SetConversationEnding(const ConversationEnding *sides)
{
    ending = sides;
}

// ---- Small helpers ---------------------------------------------------------

int PendingCount(const ByteBuffer *queue)
{
    return (queue->length - queue->start) / sizeof(Pending);
}

Pending *FirstPending(ByteBuffer *queue)
{
    return PendingCount(queue) ? (Pending *)(queue->bytes + queue->start) : 0;
}

bool TakePending(ByteBuffer *queue, BYTE kind, const char *item, Pending *taken)
{
    Pending *entries = (Pending *)(queue->bytes + queue->start);
    int count = PendingCount(queue);
    for (int i = 0; i < count; i++) {
        if (entries[i].kind != kind || !isSameDdeName(entries[i].item, item))
            continue;
        *taken = entries[i];
        // The entries before it move up by one; the queue starts one later.
        MoveMemory(entries + 1, entries, i * sizeof(Pending));
        ConsumeBytes(queue, sizeof(Pending));
        return true;
    }
    return false;
}

bool PushPending(ByteBuffer *queue, BYTE kind, HGLOBAL handle, bool release,
                        const char *item)
{
    Pending entry = {};
    entry.kind = kind;
    entry.handle = handle;
    entry.release = release;
    lstrcpynA(entry.item, item, sizeof entry.item);
    return AppendBytes(queue, &entry, sizeof entry);
}

void AtomName(ATOM atom, char *name)
{
    name[0] = 0;
    if (atom)
        GlobalGetAtomNameA(atom, name, MaxWireName + 1);
}

UINT FormatOfFrame(const Frame *frame)
{
    return frame->formatName[0] ? RegisterClipboardFormatA(frame->formatName) : frame->format;
}

bool SetFrameFormat(Frame *frame, UINT format)
{
    frame->format = (WORD)format;
    return format < 0xC000 ||
           GetClipboardFormatNameA(format, frame->formatName, sizeof frame->formatName) > 0;
}

bool IsHandleFormat(UINT format)
{
    switch (format) {
    case CF_BITMAP: case CF_METAFILEPICT: case CF_PALETTE: case CF_ENHMETAFILE:
    case CF_DSPBITMAP: case CF_DSPMETAFILEPICT: case CF_DSPENHMETAFILE: case CF_OWNERDISPLAY:
        return true;
    }
    return false;
}

HGLOBAL MakeDdeBlock(WORD flags, UINT format, const BYTE *data, DWORD length)
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

bool LockDdeBlock(HGLOBAL block, DdeBlock *read)
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

Conversation *FindConversation(const Session *session, DWORD id)
{
    for (int i = 0; i < conversationCount; i++)
        if (conversations[i]->session == session && conversations[i]->id == id)
            return conversations[i];
    return 0;
}

Conversation *ConversationOfSerial(DWORD serial)
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

const char *RefusalReason(UINT code)
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
    case NDDE_INVALID_SESSION:
        return "no proof in time";
    }
    return "refused by the node";
}

void SendRefusal(Session *session, DWORD id, UINT code)
{
    Frame refusal;
    InitFrame(&refusal, FrameRefused, id);
    refusal.word = (WORD)code;
    SendFrame(session, &refusal);
}

void SendSimpleFrame(Conversation *conversation, BYTE kind, WORD word,
                            const char *name)
{
    Frame frame;
    InitFrame(&frame, kind, conversation->id);
    frame.word = word;
    lstrcpynA(frame.name, name, sizeof frame.name);
    if (conversation->session)
        SendFrame(conversation->session, &frame);
}

int ConversationCount()
{
    return conversationCount;
}

Conversation *ConversationAt(int index)
{
    return conversations[index];
}

// ---- Windows whose conversation has ended ----------------------------------
// A conversation window that posted WM_DDE_TERMINATE stays until its partner
// answers with its own (at most ClosingTimeout), so that the answer, and any
// message that crossed the terminate, reach a window that frees what they carry.

const int MaxClosingWindows = MaxConversations;

struct ClosingWindow {
    HWND window, partner;
    bool serving;
    DWORD since;
};
static ClosingWindow closingWindows[MaxClosingWindows];
static int closingCount;

// False when there is no room: the window goes with its conversation then.
static bool keepUntilTerminated(HWND window, HWND partner, bool serving)
{
    if (closingCount == MaxClosingWindows)
        return false;
    ClosingWindow &closing = closingWindows[closingCount++];
    closing.window = window;
    closing.partner = partner;
    closing.serving = serving;
    closing.since = GetTickCount();
    return true;
}

static ClosingWindow *closingWindowOf(HWND window)
{
    for (int i = 0; i < closingCount; i++)
        if (closingWindows[i].window == window)
            return &closingWindows[i];
    return 0;
}

static void destroyClosingWindow(ClosingWindow *closing)
{
    DestroyWindow(closing->window);
    *closing = closingWindows[--closingCount];
}

// Destroys the closing windows whose partner has gone or kept silent too long.
void CheckClosingWindows(DWORD now)
{
    for (int i = closingCount - 1; i >= 0; i--)
        if (now - closingWindows[i].since >= ClosingTimeout || !IsWindow(closingWindows[i].partner))
            destroyClosingWindow(&closingWindows[i]);
}

// Frees what a DDE message from the partner carries that its receiver owns,
// for a message this side will not act on (the conversation has ended, or it
// came in the wrong direction). No answer is posted: an ack would break the
// rule that nothing follows a terminate, and without one the sender keeps
// what it lent (poke data, advise options, execute commands).
void DiscardDdeMessage(UINT message, LPARAM lParam, bool serving)
{
    UINT_PTR low = 0, high = 0;
    switch (message) {
    case WM_DDE_REQUEST:
    case WM_DDE_UNADVISE:
        if (HIWORD(lParam))
            GlobalDeleteAtom(HIWORD(lParam));
        return;
    case WM_DDE_ACK:
        UnpackDDElParam(message, lParam, &low, &high);
        FreeDDElParam(message, lParam);
        // A serving conversation's executes come back with their commands.
        if (serving && high > 0xFFFF)
            GlobalFree((HGLOBAL)high);
        else if (high && high <= 0xFFFF)
            GlobalDeleteAtom((ATOM)high);
        return;
    case WM_DDE_DATA:
    case WM_DDE_POKE:
    case WM_DDE_ADVISE: {
        UnpackDDElParam(message, lParam, &low, &high);
        FreeDDElParam(message, lParam);
        if (high)
            GlobalDeleteAtom((ATOM)high);
        DdeBlock block;
        // Data that asks for no ack is the receiver's to free once read.
        if (message == WM_DDE_DATA && low && LockDdeBlock((HGLOBAL)low, &block)) {
            GlobalUnlock((HGLOBAL)low);
            if ((block.flags & DdeRelease) && !(block.flags & DdeAckReq))
                GlobalFree((HGLOBAL)low);
        }
        return;
    }
    }
}

// Whether `message` goes the way of the conversation: to a serving
// conversation from its DDE server, to a client's from its DDE client.
bool IsFromPartnerSide(UINT message, bool serving)
{
    if (message == WM_DDE_ACK || message == WM_DDE_TERMINATE)
        return true;
    return serving ? message == WM_DDE_DATA
                   : message != WM_DDE_DATA && message != WM_DDE_INITIATE;
}

// What the partner of a window whose conversation has ended sends: its
// terminate lets the window go, anything else is freed.
void ClosingWindowMessage(HWND window, UINT message, HWND sender, LPARAM lParam)
{
    ClosingWindow *closing = closingWindowOf(window);
    if (!closing || sender != closing->partner)
        return;
    if (message == WM_DDE_TERMINATE)
        destroyClosingWindow(closing);
    else if (IsFromPartnerSide(message, closing->serving))
        DiscardDdeMessage(message, lParam, closing->serving);
}

// ---- Creating and ending ---------------------------------------------------

static int conversationCountOfSide(bool serving)
{
    int count = 0;
    for (int i = 0; i < conversationCount; i++)
        if (conversations[i]->serving == serving)
            count++;
    return count;
}

Conversation *NewConversation(bool serving, Session *session, DWORD id)
{
    if (conversationCountOfSide(serving) >=
        (serving ? MaxServedConversations : MaxClientConversations))
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

static void freeConversation(Conversation *conversation)
{
    if (!conversation->windowKept)
        DestroyWindow(conversation->window);
    if (conversation->hasStored)
        ReleaseStoredShare(&conversation->stored);
    FreeBuffer(&conversation->held);
    FreeBuffer(&conversation->queue);
    FreeBuffer(&conversation->pending);
    FreeBuffer(&conversation->dataAcks);
    ending->freeClientLinks(conversation);
    HeapFree(GetProcessHeap(), 0, conversation);
}

void DeleteConversation(Conversation *conversation)
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
    // Its links' waiting values go with it, off its session's budget.
    ending->dropWaitingValues(conversation);
    ending->releaseServerItems(conversation);
    SetWindowLongA(conversation->window, GWL_USERDATA, 0);
    KillTimer(conversation->window, ReconnectTimer);
    // The window waits for the partner's terminate from now on, so that one
    // that comes before the conversation is freed is known for what it is.
    conversation->windowKept = conversation->partner && !conversation->partnerTerminated &&
                               IsWindow(conversation->partner) &&
                               keepUntilTerminated(conversation->window, conversation->partner,
                                                   conversation->serving);
    // Its memory is no longer its session's (which may end before it is freed).
    DetachBuffer(&conversation->queue);
    ending->chargeClientConversationTo(conversation, 0);
    conversation->nextEnded = endedConversations;
    endedConversations = conversation;
    // Freed from a posted message (or the next check, if the window goes first).
    PostMessageA(conversation->window, WM_FREE_CONVERSATIONS, 0, 0);
    ShowAgentState();
}

// Frees the conversations ended since; only from a posted message (or the
// timer), where no caller holds one.
void FreeEndedConversations()
{
    while (endedConversations) {
        Conversation *conversation = endedConversations;
        endedConversations = conversation->nextEnded;
        freeConversation(conversation);
    }
}

void EndConversation(Conversation *conversation, bool tellNode)
{
    if (!conversation->serving)
        ending->refuseClientPending(conversation, 0);
    if (conversation->partner)
        PostMessageA(conversation->partner, WM_DDE_TERMINATE, (WPARAM)conversation->window, 0);
    if (tellNode && conversation->serving)
        ending->sendEveryWaitingValue(conversation);
    if (tellNode && conversation->state != WaitingForSession)
        SendSimpleFrame(conversation, FrameTerminate, 0);
    DeleteConversation(conversation);
}

void EndClientConversations()
{
    for (int i = conversationCount - 1; i >= 0; i--)
        if (i < conversationCount && !conversations[i]->serving)
            EndConversation(conversations[i], true);
}

void CloseServedSession(Session *session)
{
    for (int i = conversationCount - 1; i >= 0; i--)
        if (i < conversationCount && conversations[i]->serving &&
            conversations[i]->session == session)
            EndConversation(conversations[i], true);
    EndSessionAfterSending(session, "closed on this node");
}

void EndedByNode(Conversation *conversation, const Frame *)
{
    EndConversation(conversation, false);
}

void FailConversation(Conversation *conversation, const char *reason)
{
    LogEvent("refused: share %s on \\\\%s: %s", conversation->share, conversation->node, reason);
    EndConversation(conversation, true);
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

void CountMergedValue(Conversation *conversation)
{
    conversation->mergedValues++;
    ShowAgentState();
}

// ---- The queue of a serving conversation's transactions ---------------------

const char *TransactionName(BYTE kind)
{
    static const char *const names[] = {"Request", "Poke", "Execute", "Advise", "Unadvise"};
    return kind >= FrameRequest && kind <= FrameUnadvise ? names[kind - FrameRequest] : "?";
}

bool FirstQueued(Conversation *conversation, Frame *frame, DWORD *size)
{
    const ByteBuffer &queue = conversation->queue;
    return ReadFrame(queue.bytes + queue.start, queue.length - queue.start, frame, size) ==
           FrameComplete;
}

bool AnsweredByAckAlone(Conversation *conversation)
{
    Frame frame;
    DWORD size;
    return conversation->atServer && FirstQueued(conversation, &frame, &size) &&
           (frame.kind == FrameAdvise || frame.kind == FramePoke || frame.kind == FrameExecute);
}

void ConsumeFirstQueued(Conversation *conversation, DWORD size)
{
    ConsumeBytes(&conversation->queue, size);
    conversation->queuedCount--;
}

bool QueueAheadOfWaiting(Conversation *conversation, const Frame *frame)
{
    ByteBuffer &queue = conversation->queue;
    DWORD waitingFrom = queue.start, appendedAt = queue.length;
    Frame atServer;
    DWORD atServerSize;
    if (conversation->atServer && FirstQueued(conversation, &atServer, &atServerSize))
        waitingFrom += atServerSize;
    if (!AppendFrame(&queue, frame))
        return false;
    std::rotate(queue.bytes + waitingFrom, queue.bytes + appendedAt, queue.bytes + queue.length);
    conversation->queuedCount++;
    return true;
}

// ---- Limits and network applications -----------------------------------------

const DWORD LimitLogInterval = 60000;     // ms: each limit reached is logged once in this

bool IsLimitLogDue(DWORD *loggedAt)
{
    DWORD now = GetTickCount() | 1;
    if (*loggedAt && now - *loggedAt < LimitLogInterval)
        return false;
    *loggedAt = now;
    return true;
}


bool ReadNetworkApplication(const char *application, char *node, bool *named)
{
    *named = false;
    if (application[0] != '\\' || application[1] != '\\')
        return false;
    const char *start = application + 2, *end = start;
    while (*end && *end != '\\')
        end++;
    if (*end != '\\' || !isSameDdeName(end + 1, "NDDE$"))
        return false;
    *named = true;
    int length = (int)(end - start);
    if (length < 1 || length > MaxNodeNameLength)
        return false;
    lstrcpynA(node, start, length + 1);
    return IsValidNodeName(node);
}
