// Links' values waiting for room on the serving side (relay.h).
//
// A hot link's update that asked for no ack, and a warm link's notice, go
// to the client node only when its session has room (SessionRoomMark).
// Until then each link keeps its newest value alone, in the place its first
// waiting value took: a node slower than its server gets every link's
// latest value, in order, never a backlog. A link whose client asked for
// acks is never merged: the server waits for each ack.
#include "relay.h"

static int waitingTotal;        // values waiting in every conversation
static int nextToSend;          // where the next round over the conversations starts

static int waitingCount(const Conversation *conversation)
{
    const ByteBuffer &waiting = conversation->waiting;
    return (waiting.length - waiting.start) / sizeof(WaitingValue);
}

static WaitingValue *waitingAt(Conversation *conversation, int index)
{
    return (WaitingValue *)(conversation->waiting.bytes + conversation->waiting.start) + index;
}

static bool hasRoom(const Session *session)
{
    return SessionUnsentBytes(session) < SessionRoomMark;
}

// Keeps `frame` as its link's waiting value, in place of an older one;
// false when memory runs out.
static bool keepWaitingValue(Conversation *conversation, const Frame *frame)
{
    int count = waitingCount(conversation);
    for (int i = 0; i < count; i++) {
        WaitingValue *value = waitingAt(conversation, i);
        if (value->format != frame->format || !isSameDdeName(value->item, frame->name))
            continue;
        value->frame.start = value->frame.length = 0;
        if (!AppendFrame(&value->frame, frame))
            return false;
        CountMergedValue(conversation);
        return true;
    }
    WaitingValue value = {};
    value.format = frame->format;
    lstrcpyA(value.item, frame->name);
    value.frame.account = &conversation->session->budget;
    if (!AppendFrame(&value.frame, frame))
        return false;
    if (!AppendBytes(&conversation->waiting, &value, sizeof value)) {
        FreeBuffer(&value.frame);
        return false;
    }
    waitingTotal++;
    return true;
}

// Takes the waiting value at `index` out of the conversation, queued on its
// session first when `send`.
static void takeWaiting(Conversation *conversation, int index, bool send)
{
    WaitingValue *value = waitingAt(conversation, index);
    Frame frame;
    DWORD size;
    if (send && ReadFrame(value->frame.bytes + value->frame.start,
                          value->frame.length - value->frame.start, &frame, &size) == FrameComplete)
        SendFrame(conversation->session, &frame);
    FreeBuffer(&value->frame);
    if (index == 0) {
        ConsumeBytes(&conversation->waiting, sizeof *value);
    } else {
        MoveMemory(value, value + 1, (waitingCount(conversation) - index - 1) * sizeof *value);
        conversation->waiting.length -= sizeof *value;
    }
    waitingTotal--;
}

static void sendFirstWaiting(Conversation *conversation)
{
    takeWaiting(conversation, 0, true);
}

void SendWaitingValues(Session *session)
{
    for (bool sentOne = true; sentOne && waitingTotal > 0;) {
        sentOne = false;
        int count = ConversationCount();
        for (int n = 0; n < count && hasRoom(session) && !session->endReason; n++) {
            int index = (nextToSend + n) % count;
            Conversation *conversation = ConversationAt(index);
            if (conversation->session != session || !waitingCount(conversation))
                continue;
            sendFirstWaiting(conversation);
            nextToSend = index + 1;
            sentOne = true;
        }
    }
}

void SendEveryWaitingValue(Conversation *conversation)
{
    while (waitingCount(conversation) && conversation->session &&
           !conversation->session->endReason)
        sendFirstWaiting(conversation);
}

// Takes out the waiting values of `item` ("" for every link), queued on
// the session when `send`: before other data of the item (an answer to a
// request, an update of a link that asks for acks now), so that its values
// never arrive out of order; dropped when their link has ended.
void TakeWaitingValuesOf(Conversation *conversation, const char *item, bool send)
{
    for (int i = 0; i < waitingCount(conversation);) {
        if (item[0] && !isSameDdeName(waitingAt(conversation, i)->item, item))
            i++;
        else
            takeWaiting(conversation, i, send);
    }
}

void DropWaitingValues(Conversation *conversation)
{
    TakeWaitingValuesOf(conversation, "", false);
    FreeBuffer(&conversation->waiting);
}

// A link's value: sent when the session has room and none of this
// conversation's values waits before it, else kept to wait. False when it
// can be neither (memory ran out).
bool RelayLinkValue(Conversation *conversation, const Frame *frame)
{
    HoldLittleInSystem(conversation->session);
    if (!waitingCount(conversation) && hasRoom(conversation->session))
        return SendFrame(conversation->session, frame);
    return keepWaitingValue(conversation, frame);
}
