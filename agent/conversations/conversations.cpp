// DDE conversations carried between nodes (conversations.h): what the
// sessions and the program reach them through, the conversation windows,
// and the checks of time. The list and what both sides share are in
// conversationlist.cpp; the client's side is in clientside.cpp (with
// clientlinks.cpp and outage.cpp), the serving side in servingside.cpp (with
// serverfinding.cpp, serveritems.cpp and waitingvalues.cpp). This file
// registers the entry points the lower files reach each other through.
#include "relay.h"

static Conversation *conversationOfWindow(HWND window)
{
    return (Conversation *)GetWindowLongA(window, GWL_USERDATA);
}

// ---- Sessions ending -------------------------------------------------------

void EndConversationsOf(Session *session, const char *reason)
{
    AdministrationSessionEnds(session);
    for (int i = ConversationCount() - 1; i >= 0; i--) {
        if (i >= ConversationCount() || ConversationAt(i)->session != session)
            continue;
        Conversation *conversation = ConversationAt(i);
        if (!conversation->serving && KeepThroughOutage(conversation, session, reason))
            continue;
        conversation->session = 0;
        if (conversation->state != Standing && !conversation->serving)
            FailConversation(conversation, reason);
        else
            EndConversation(conversation, false);
    }
}

// ---- Frames of a conversation ---------------------------------------------

// The rule of the conversation for a frame of `kind`, or null when it takes none.
static const FrameRule *ruleFor(const Conversation *conversation, BYTE kind)
{
    const FrameRule *rules = conversation->serving ? ServingFrameRules : ClientFrameRules;
    int count = conversation->serving ? ServingFrameRuleCount : ClientFrameRuleCount;
    for (int i = 0; i < count; i++)
        if (rules[i].kind == kind)
            return &rules[i];
    return 0;
}

// Judges a frame of a conversation by its head, before its data is read
// (netdde_wire.h).
static FrameVerdict judgeConversationFrame(Session *session, const Frame *head)
{
    if (IsAdministrationFrame(head->kind))
        return JudgeAdministrationFrame(session, head);
    if (head->kind == FrameOpen)
        return FrameWanted;
    Conversation *conversation = FindConversation(session, head->conversation);
    // A conversation this side has just ended may still hear from the other.
    if (!conversation)
        return FrameUnwanted;
    const FrameRule *rule = ruleFor(conversation, head->kind);
    if (!rule || !(rule->states & (1 << conversation->state)))
        return FrameBreaksRules;
    if (conversation->serving && (head->kind == FramePoke || head->kind == FrameExecute) &&
        !ServingTakesData(conversation, head))
        return FrameUnwanted;
    return FrameWanted;
}

// A frame whose data was dropped unread.
static void unwantedConversationFrame(Session *session, const Frame *head)
{
    Conversation *conversation = FindConversation(session, head->conversation);
    if (conversation && conversation->serving)
        ServingDataDropped(conversation, head);
}

const SessionUser ConversationSessionUser = {
    judgeConversationFrame, HandleConversationFrame, unwantedConversationFrame,
    SessionReadyForConversations, EndConversationsOf, ConversationCountOn, SendWaitingValues,
};

bool HandleConversationFrame(Session *session, const Frame *frame)
{
    if (IsAdministrationFrame(frame->kind))
        return HandleAdministrationFrame(session, frame);
    if (frame->kind == FrameOpen) {
        OpenShare(session, frame);
        return true;
    }
    Conversation *conversation = FindConversation(session, frame->conversation);
    // A conversation this side has just ended may still hear from the other.
    if (!conversation)
        return true;
    const FrameRule *rule = ruleFor(conversation, frame->kind);
    if (!rule || !(rule->states & (1 << conversation->state)))
        return false;
    rule->handle(conversation, frame);
    return true;
}

bool TakeAwaitedAnswer(MSG *message)
{
    const int MaxLooks = 4;
    int looks = 0;
    for (int i = 0; i < ConversationCount() && looks < MaxLooks; i++) {
        Conversation *conversation = ConversationAt(i);
        if (!conversation->serving || !conversation->atServer)
            continue;
        looks++;
        bool ackAlone = AnsweredByAckAlone(conversation);
        if (PeekMessageA(message, conversation->window, ackAlone ? WM_DDE_ACK : WM_DDE_FIRST,
                         ackAlone ? WM_DDE_ACK : WM_DDE_LAST, PM_REMOVE))
            return true;
    }
    return false;
}

// ---- Time ------------------------------------------------------------------

void CheckConversations()
{
    FreeEndedConversations();
    DWORD now = GetTickCount();
    CheckClosingWindows(now);
    CheckServedSessions(now);
    CheckAdministration();
    for (int i = ConversationCount() - 1; i >= 0; i--) {
        if (i >= ConversationCount())
            continue;
        if (ConversationAt(i)->serving)
            CheckServingConversation(ConversationAt(i), now);
        else
            CheckClientConversation(ConversationAt(i), now);
    }
}

// ---- Lists -----------------------------------------------------------------

int CarriedConversationCount()
{
    return ConversationCount();
}

bool SummarizeConversation(int index, ConversationSummary *summary)
{
    if (index >= ConversationCount())
        return false;
    static const char *const states[] = {"waiting for the node", "opening", "proving password",
                                         "asking password", "starting server", "open",
                                         "reconnecting"};
    const Conversation *conversation = ConversationAt(index);
    summary->serving = conversation->serving;
    lstrcpyA(summary->share, conversation->share);
    lstrcpyA(summary->node, conversation->node);
    summary->applicationTopic[0] = 0;
    if (conversation->serving && conversation->hasStored)
        wsprintfA(summary->applicationTopic, "%.256s|%.256s", conversation->stored.view.appName,
                  conversation->stored.view.topicName);
    summary->links = conversation->serving ? conversation->itemCount : conversation->linkCount;
    // Link updates merged because the client's node, or the client, took
    // them slower than they came.
    summary->mergedValues = conversation->mergedValues;
    char outage[32] = "";
    if (conversation->outageSince)
        DescribeOutage(conversation, GetTickCount(), outage);
    wsprintfA(summary->state, "%s%s", states[conversation->state], outage);
    return true;
}

int DescribeConversation(int index, char *line, int size)
{
    ConversationSummary summary;
    if (!SummarizeConversation(index, &summary))
        return 0;
    char text[256];
    wsprintfA(text, "  %s %s %s \\\\%s: %s", summary.serving ? "served" : "client", summary.share,
              summary.serving ? "for" : "at", summary.node, summary.state);
    lstrcpynA(line, text, size);
    int length = lstrlenA(line);
    if (summary.mergedValues && length + 32 < size)
        wsprintfA(line + length, ", %lu updates merged", summary.mergedValues);
    return 1;
}

// ---- The conversation windows ----------------------------------------------

static LRESULT CALLBACK conversationWindowProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam)
{
    Conversation *conversation = conversationOfWindow(window);
    if (message == WM_FREE_CONVERSATIONS) {
        FreeEndedConversations();
        return 0;
    }
    if (message < WM_DDE_FIRST || message > WM_DDE_LAST) {
        if (conversation && message == WM_CONVERSATION_START)
            StartClientConversation(conversation);
        if (conversation && message == WM_SERVE_NEXT)
            ServeNextTransaction(conversation);
        if (message == WM_TIMER && wParam == ReconnectTimer) {
            KillTimer(window, ReconnectTimer);
            if (conversation)
                TryNodeAgain(conversation);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND sender = (HWND)wParam;
    // A server answering the initiate of a serving conversation sends its
    // ack; that answer never ends anything.
    if (conversation && conversation->serving && message == WM_DDE_ACK &&
        (!conversation->partner || sender != conversation->partner)) {
        ServerAnswered(conversation, sender, lParam);
        return 0;
    }
    // Every other DDE message is posted by the rules. One that comes sent is
    // handled once its sender has returned, never below a call that waits:
    // the transaction it answers may be in that call's hands. A terminate is
    // taken at once (an ended conversation is freed only from a posted
    // message), so that a server that ends the conversation while it is
    // being initiated is never taken for one.
    bool terminatedByPartner = message == WM_DDE_TERMINATE && conversation &&
                               sender == conversation->partner;
    if (InSendMessage() && !terminatedByPartner) {
        PostMessageA(window, message, wParam, lParam);
        return 0;
    }
    if (!conversation) {
        ClosingWindowMessage(window, message, sender, lParam);
        return 0;
    }
    // Strangers are ignored: what they send is not this conversation's to free.
    if (sender != conversation->partner)
        return 0;
    if (!IsFromPartnerSide(message, conversation->serving)) {
        DiscardDdeMessage(message, lParam, conversation->serving);
        return 0;
    }
    if (message == WM_DDE_TERMINATE) {
        conversation->partnerTerminated = true;
        EndConversation(conversation, true);
        return 0;
    }
    if (conversation->serving)
        ServingWindowMessage(conversation, message, lParam);
    else
        ClientWindowMessage(conversation, message, lParam);
    return 0;
}

// What the lower files reach the sides through.
static const ConversationEnding sidesEnding = {
    RefuseClientPending, SendEveryWaitingValue, DropWaitingValues, ReleaseServerItems,
    ChargeClientConversationTo, FreeClientLinks,
};
static const ClientOutage outageHandling = {
    KeepThroughOutage, ConversationRecovered, CheckOutage,
};

bool RegisterConversationClass(HINSTANCE instance)
{
    SetConversationEnding(&sidesEnding);
    SetClientOutage(&outageHandling);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = conversationWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = ConversationClass;
    return RegisterClassA(&windowClass) != 0;
}
