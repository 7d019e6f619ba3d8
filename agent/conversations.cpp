// DDE conversations carried between nodes (conversations.h): the list of
// conversations, their windows, and what both sides share (relay.h). The
// client's side is in clientside.cpp, the serving side in servingside.cpp.
#include "relay.h"

const char ConversationClass[] = "NDdeConversation";

static Conversation *conversations[MaxConversations];
static int conversationCount;
static Conversation *endedConversations;   // freed by WM_FREE_CONVERSATIONS
static DWORD nextSerial = 1;

// ---- Small helpers ---------------------------------------------------------

int PendingCount(const ByteBuffer *queue)
{
    return (queue->length - queue->start) / sizeof(Pending);
}

Pending *FirstPending(ByteBuffer *queue)
{
    return PendingCount(queue) ? (Pending *)(queue->bytes + queue->start) : 0;
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

static Conversation *conversationOfWindow(HWND window)
{
    return (Conversation *)GetWindowLongA(window, GWL_USERDATA);
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
    }
    return "refused by the node";
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
    SetWindowLongA(conversation->window, GWL_USERDATA, 0);
    conversation->nextEnded = endedConversations;
    endedConversations = conversation;
    PostMessageA(conversation->window, WM_FREE_CONVERSATIONS, 0, 0);
    ShowAgentState();
}

// Frees the conversations ended since; only from a posted message (or the
// timer), where no caller holds one.
static void freeEndedConversations()
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
        RefuseClientPending(conversation);
    if (conversation->partner)
        PostMessageA(conversation->partner, WM_DDE_TERMINATE, (WPARAM)conversation->window, 0);
    if (tellNode && conversation->state != WaitingForSession)
        SendSimpleFrame(conversation, FrameTerminate, 0);
    DeleteConversation(conversation);
}

void EndConversationsOf(Session *session, const char *reason)
{
    for (int i = conversationCount - 1; i >= 0; i--) {
        if (i >= conversationCount || conversations[i]->session != session)
            continue;
        Conversation *conversation = conversations[i];
        conversation->session = 0;
        if (conversation->state != Standing && !conversation->serving)
            FailConversation(conversation, reason);
        else
            EndConversation(conversation, false);
    }
}

// ---- Frames of a conversation ---------------------------------------------

void EndedByNode(Conversation *conversation, const Frame *)
{
    EndConversation(conversation, false);
}

bool HandleConversationFrame(Session *session, const Frame *frame)
{
    if (frame->kind == FrameOpen) {
        OpenShare(session, frame);
        return true;
    }
    Conversation *conversation = FindConversation(session, frame->conversation);
    // A conversation this side has just ended may still hear from the other.
    if (!conversation)
        return true;
    const FrameRule *rules = conversation->serving ? ServingFrameRules : ClientFrameRules;
    int count = conversation->serving ? ServingFrameRuleCount : ClientFrameRuleCount;
    for (int i = 0; i < count; i++)
        if (rules[i].kind == frame->kind) {
            if (!(rules[i].states & (1 << conversation->state)))
                return false;
            rules[i].handle(conversation, frame);
            return true;
        }
    return false;
}

// ---- Time ------------------------------------------------------------------

void CheckConversations()
{
    freeEndedConversations();
    DWORD now = GetTickCount();
    CheckServedSessions(now);
    for (int i = conversationCount - 1; i >= 0; i--) {
        if (i >= conversationCount)
            continue;
        if (conversations[i]->serving)
            CheckServingConversation(conversations[i], now);
        else
            CheckClientConversation(conversations[i], now);
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
    if (message == WM_FREE_CONVERSATIONS) {
        freeEndedConversations();
        return 0;
    }
    if (!conversation || message < WM_DDE_FIRST || message > WM_DDE_LAST) {
        if (conversation && message == WM_CONVERSATION_START)
            StartClientConversation(conversation);
        if (conversation && message == WM_SERVE_NEXT)
            ServeNextTransaction(conversation);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND sender = (HWND)wParam;
    if (message == WM_DDE_ACK && conversation->serving && !conversation->partner) {
        ServerAnswered(conversation, sender, lParam);
        return 0;
    }
    if (sender != conversation->partner) {
        // Not our partner: an answer to an initiate that came too late.
        if (message == WM_DDE_ACK && conversation->serving)
            ServerAnswered(conversation, sender, lParam);
        return 0;
    }
    if (message == WM_DDE_TERMINATE) {
        EndConversation(conversation, true);
        return 0;
    }
    if (conversation->serving)
        ServingWindowMessage(conversation, message, lParam);
    else
        ClientWindowMessage(conversation, message, lParam);
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
