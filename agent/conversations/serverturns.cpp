// A serving conversation's server, seen from its transactions: whose turn
// it is to give a server a transaction, and whether a server that leaves one
// unanswered is slow or hung (relay.h).
#include "relay.h"

// A server that leaves a transaction unanswered ServerAnswerTimeout is asked
// whether it still takes messages; ServerAliveWait without taking the
// question, and it is hung.
const DWORD ServerAnswerTimeout = 10000;  // ms
const DWORD ServerAliveWait = 5000;       // ms
// A session's transactions at servers at once: the rest wait their turn
// here, so that a node with many conversations takes turns with the other
// nodes rather than fill the servers' queues ahead of them.
const int MaxAtServersPerSession = 4;

// ---- Turns ------------------------------------------------------------------

// Turns at the servers: a conversation whose session has
// MaxAtServersPerSession transactions at servers waits; when one of them is
// answered, the conversation of that session that waited longest goes next.

static int atServersOf(const Session *session)
{
    int count = 0;
    for (int i = 0; i < ConversationCount(); i++) {
        const Conversation *other = ConversationAt(i);
        count += other->serving && other->session == session && other->atServer;
    }
    return count;
}

static Conversation *longestWaitingForTurn(const Session *session)
{
    Conversation *longest = 0;
    DWORD now = GetTickCount();
    for (int i = 0; i < ConversationCount(); i++) {
        Conversation *other = ConversationAt(i);
        if (other->serving && other->session == session && other->turnWaitedSince &&
            (!longest || now - other->turnWaitedSince > now - longest->turnWaitedSince))
            longest = other;
    }
    return longest;
}

// The session's longest-waiting conversation goes, from a posted message.
static void passTurn(const Session *session)
{
    Conversation *next = longestWaitingForTurn(session);
    if (next && !next->serveNextPosted)
        next->serveNextPosted = PostMessageA(next->window, WM_SERVE_NEXT, 0, 0) != 0;
}

static void waitForTurn(Conversation *conversation)
{
    if (!conversation->turnWaitedSince)
        conversation->turnWaitedSince = GetTickCount() | 1;     // 0 means not waiting
}

// Whether the conversation may give the server a transaction now: its
// session has a turn free and no conversation of it waited longer. If not,
// it waits.
bool TakesTurnAtServer(Conversation *conversation)
{
    Conversation *longest = longestWaitingForTurn(conversation->session);
    if ((!longest || longest == conversation) &&
        atServersOf(conversation->session) < MaxAtServersPerSession) {
        conversation->turnWaitedSince = 0;
        return true;
    }
    waitForTurn(conversation);
    return false;
}

bool YieldsTurnAtServer(Conversation *conversation)
{
    if (!longestWaitingForTurn(conversation->session))
        return false;
    if (conversation->queuedCount > 0)
        waitForTurn(conversation);
    passTurn(conversation->session);
    return true;
}

// ---- Slow or hung -------------------------------------------------------------

// The server took the question asked of it (askServerIfAlive): a busy
// server (feeding links on a loaded machine, with many transactions before
// ours) is not a hung one, and the transaction waits on.
static void CALLBACK serverTookMessage(HWND, UINT, ULONG_PTR serial, LRESULT)
{
    Conversation *conversation = ConversationOfSerial((DWORD)serial);
    if (conversation && conversation->aliveAsked) {
        conversation->aliveAsked = false;
        conversation->atServerSince = GetTickCount();
    }
}

// Sends the server a WM_NULL without waiting for it: the agent's loop never
// stops for a server. False when the server's window takes no message.
static bool askServerIfAlive(Conversation *conversation)
{
    conversation->aliveAskedAt = GetTickCount();
    conversation->aliveAsked =
        SendMessageCallbackA(conversation->partner, WM_NULL, 0, 0, serverTookMessage,
                             conversation->serial) != 0;
    return conversation->aliveAsked;
}

// A server that leaves a transaction unanswered and takes no messages is hung: its client gets a busy answer and the
// conversation ends, so that nothing waits on that server any longer. What
// the server was given is its own from then on.
static void serverGaveNoAnswer(Conversation *conversation)
{
    Frame frame;
    DWORD size;
    SendSimpleFrame(conversation, FrameAck, AckBusy,
                    FirstQueued(conversation, &frame, &size) ? frame.name : "");
    LogEvent("busy: the server of share %s gave %s no answer in %lu s and takes no messages",
             conversation->share, conversation->node,
             (ServerAnswerTimeout + ServerAliveWait) / 1000);
    EndConversation(conversation, true);
}

void CheckServerAnswer(Conversation *conversation, DWORD now)
{
    if (conversation->atServer && now - conversation->atServerSince >= ServerAnswerTimeout) {
        if (conversation->aliveAsked ? now - conversation->aliveAskedAt >= ServerAliveWait
                                     : !askServerIfAlive(conversation))
            serverGaveNoAnswer(conversation);
    } else if (conversation->turnWaitedSince &&
               atServersOf(conversation->session) < MaxAtServersPerSession) {
        // A turn freed by a conversation that ended at its server.
        passTurn(conversation->session);
    }
}
