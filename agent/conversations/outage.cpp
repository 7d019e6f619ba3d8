// A client conversation through an outage of its session: the serving
// node's agent restarted, the connection reset, or the node silent past its
// deadline. The DDE client sees a pause, never a terminate: for the node's
// grace period (GracePeriod, seconds, under Nodes\NODE; 0 ends at once) the
// conversation is kept, every transaction is answered busy, and the node is
// tried again with a growing delay. Once it opens again with the proof that
// opened it first, its links are made again and their items' current values
// delivered; a refusal of that open ends it, as does the end of the grace
// period, but for one that found no server there (a server busy with a feed
// or starting again): the node is asked again meanwhile.
#include "relay.h"
#include "nodemap.h"

// Between tries: doubling from the first to the last, so that a node back
// from a restart is found within a second, and one that stays away costs a
// connection attempt a second.
const DWORD FirstRetryDelay = 250;         // ms
const DWORD LastRetryDelay = 1000;         // ms

static void tryAgainLater(Conversation *conversation)
{
    SetTimer(conversation->window, ReconnectTimer, conversation->retryDelay, 0);
    conversation->retryDelay = conversation->retryDelay * 2 < LastRetryDelay
                                   ? conversation->retryDelay * 2 : LastRetryDelay;
}

bool KeepThroughOutage(Conversation *conversation, const Session *session, const char *reason)
{
    if ((conversation->state != Standing && !conversation->outageSince) || session->refusedByNode)
        return false;
    if (!conversation->outageSince) {
        DWORD grace = NodeSetting(conversation->node, GracePeriodSetting, DefaultGracePeriod,
                                  MaxGracePeriod);
        if (grace == 0)
            return false;
        DWORD now = GetTickCount();
        conversation->outageSince = now ? now : 1;
        conversation->gracePeriod = grace * 1000;
        conversation->retryDelay = FirstRetryDelay;
        LogEvent("reconnecting: share %s at \\\\%s for up to %lu s (%s)", conversation->share,
                 conversation->node, grace, reason);
    }
    // What was in flight has no answer coming: the client hears busy.
    RefuseClientPending(conversation, AckBusy);
    // The node that sent the data the client has not acked yet waits no more.
    Pending *unacked = FirstPending(&conversation->dataAcks);
    for (int i = 0; i < PendingCount(&conversation->dataAcks); i++)
        unacked[i].ackOurs = true;
    FreeBuffer(&conversation->held);
    // What the links hold outlives the session it was charged to.
    ChargeClientConversationTo(conversation, 0);
    // What the links knew of their items is stale: their values are asked
    // for again once the node is back, and their updates not yet posted
    // (whose acks the node no longer waits for) are superseded.
    for (ClientLink *link = FirstClientLink(conversation); link;
         link = NextClientLink(conversation, link)) {
        ForgetClientLinkValue(conversation, link);
        Frame update;
        DWORD size;
        while (FirstClientLinkUpdate(link, &update, &size))
            TakeClientLinkUpdate(link, size);
    }
    conversation->session = 0;
    conversation->state = Reconnecting;
    tryAgainLater(conversation);
    ShowAgentState();
    return true;
}

void TryNodeAgain(Conversation *conversation)
{
    if (conversation->state == Reconnecting && !OpenOnNode(conversation))
        tryAgainLater(conversation);
}

void ConversationRecovered(Conversation *conversation)
{
    LogEvent("recovered: share %s at \\\\%s after %lu ms", conversation->share, conversation->node,
             GetTickCount() - conversation->outageSince);
    conversation->outageSince = 0;
    // Each link again with its options (one the server now refuses ends,
    // visibly), then its item's current value: asked for on a hot link,
    // announced on a warm one. Held in turn while many are on their way.
    DWORD serial = conversation->serial;
    for (ClientLink *link = FirstClientLink(conversation); link;
         link = NextClientLink(conversation, link)) {
        bool warm = (link->options & AdviseDeferUpd) != 0;
        link->state = LinkAsked;
        if (!SendForLink(conversation, FrameAdvise, link) ||
            (!warm && !SendForLink(conversation, FrameRequest, link))) {
            FailConversation(conversation, "its links cannot be made again");
            return;
        }
        if (warm) {
            NotifyClientOfLink(conversation, link);
            // A client that has gone has ended the conversation.
            if (!ConversationOfSerial(serial))
                return;
        }
    }
}

void CheckOutage(Conversation *conversation, DWORD now)
{
    // The countdown in the window changes every second.
    ShowAgentState();
    if (now - conversation->outageSince < conversation->gracePeriod)
        return;
    LogEvent("ended: share %s at \\\\%s was not reached again within %lu s", conversation->share,
             conversation->node, conversation->gracePeriod / 1000);
    EndConversation(conversation, true);
}

static DWORD secondsLeft(const Conversation *conversation, DWORD now)
{
    DWORD passed = now - conversation->outageSince;
    return passed < conversation->gracePeriod ? (conversation->gracePeriod - passed + 999) / 1000
                                              : 0;
}

void DescribeOutage(const Conversation *conversation, DWORD now, char *text)
{
    wsprintfA(text, ", %lu s left", secondsLeft(conversation, now));
}

bool ReconnectingNodeAt(int index, ReconnectingNode *node)
{
    DWORD now = GetTickCount();
    for (int i = 0; i < ConversationCount(); i++) {
        const Conversation *conversation = ConversationAt(i);
        if (!conversation->outageSince)
            continue;
        // Each node once, where its first conversation in an outage is listed;
        // its countdown is the shortest of its conversations'.
        bool listedBefore = false;
        DWORD left = secondsLeft(conversation, now), count = 0;
        for (int j = 0; j < ConversationCount(); j++) {
            const Conversation *other = ConversationAt(j);
            if (!other->outageSince || !isSameNodeName(other->node, conversation->node))
                continue;
            listedBefore = listedBefore || j < i;
            count++;
            if (secondsLeft(other, now) < left)
                left = secondsLeft(other, now);
        }
        if (listedBefore || index-- > 0)
            continue;
        lstrcpyA(node->node, conversation->node);
        node->secondsLeft = left;
        node->conversations = count;
        return true;
    }
    return false;
}

int DescribeReconnectingNode(int index, char *line, int size)
{
    ReconnectingNode node;
    if (!ReconnectingNodeAt(index, &node))
        return 0;
    char text[128];
    wsprintfA(text, "  to %s    reconnecting, %lu s left    %lu conversation(s)", node.node,
              node.secondsLeft, node.conversations);
    lstrcpynA(line, text, size);
    return 1;
}
