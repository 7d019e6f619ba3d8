// The advise links of client conversations (relay.h): found by item (and
// format) through a hash table that grows with them, each record allocated
// to the length of its item's name, each value to its own length. An item's
// links in every format share a bucket: a warm link's notice names no
// format, and is found by its item alone.
#include "relay.h"

const int FirstBucketCount = 16;

// Item names compare as DDE names do: ASCII letters in any case.
static DWORD hashOfItem(const char *item)
{
    DWORD hash = 2166136261u;
    for (const BYTE *c = (const BYTE *)item; *c; c++) {
        BYTE folded = *c >= 'a' && *c <= 'z' ? (BYTE)(*c - 'a' + 'A') : *c;
        hash = (hash ^ folded) * 16777619u;
    }
    return hash;
}

// Charges `bytes` more to what the links hold; false (nothing charged) when
// the budget does not take them.
static bool chargeLinks(Conversation *conversation, DWORD bytes)
{
    if (conversation->linkAccount && !ChargeBudget(conversation->linkAccount, bytes))
        return false;
    conversation->linkBytes += bytes;
    return true;
}

static void releaseLinks(Conversation *conversation, DWORD bytes)
{
    if (conversation->linkAccount)
        ReleaseBudget(conversation->linkAccount, bytes);
    conversation->linkBytes -= bytes;
}

static DWORD recordSize(const char *item)
{
    return sizeof(ClientLink) + lstrlenA(item);
}

// The item's link in `format`, or its warm link in any format when `warm`.
static ClientLink *findLink(Conversation *conversation, const char *item, UINT format, bool warm)
{
    if (!conversation->linkBucketCount)
        return 0;
    DWORD hash = hashOfItem(item);
    for (ClientLink *link = conversation->linkBuckets[hash % conversation->linkBucketCount]; link;
         link = link->nextInBucket)
        if (link->hash == hash &&
            (warm ? (link->options & AdviseDeferUpd) != 0 : link->format == format) &&
            isSameDdeName(link->item, item))
            return link;
    return 0;
}

ClientLink *FindClientLink(Conversation *conversation, const char *item, UINT format)
{
    return findLink(conversation, item, format, false);
}

ClientLink *FindWarmClientLink(Conversation *conversation, const char *item)
{
    return findLink(conversation, item, 0, true);
}

// The first link of the buckets from `bucket` on, or null.
static ClientLink *firstLinkFrom(Conversation *conversation, int bucket)
{
    for (; bucket < conversation->linkBucketCount; bucket++)
        if (conversation->linkBuckets[bucket])
            return conversation->linkBuckets[bucket];
    return 0;
}

ClientLink *FirstClientLink(Conversation *conversation)
{
    return firstLinkFrom(conversation, 0);
}

ClientLink *NextClientLink(Conversation *conversation, const ClientLink *link)
{
    if (link->nextInBucket)
        return link->nextInBucket;
    return firstLinkFrom(conversation, link->hash % conversation->linkBucketCount + 1);
}

// Doubles the buckets once there are as many links as buckets; false when
// the budget or memory does not take them (the old ones stay).
static bool makeRoomForLink(Conversation *conversation)
{
    int count = conversation->linkBucketCount;
    if (conversation->linkCount < count)
        return true;
    int grown = count ? count * 2 : FirstBucketCount;
    DWORD bytes = grown * sizeof(ClientLink *);
    if (!chargeLinks(conversation, bytes))
        return false;
    ClientLink **buckets = (ClientLink **)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
    if (!buckets) {
        releaseLinks(conversation, bytes);
        return false;
    }
    for (int i = 0; i < count; i++) {
        ClientLink *link = conversation->linkBuckets[i];
        while (link) {
            ClientLink *next = link->nextInBucket;
            link->nextInBucket = buckets[link->hash % grown];
            buckets[link->hash % grown] = link;
            link = next;
        }
    }
    if (conversation->linkBuckets) {
        HeapFree(GetProcessHeap(), 0, conversation->linkBuckets);
        releaseLinks(conversation, count * sizeof(ClientLink *));
    }
    conversation->linkBuckets = buckets;
    conversation->linkBucketCount = grown;
    return true;
}

ClientLink *AddClientLink(Conversation *conversation, const char *item, UINT format, WORD options)
{
    ClientLink *link = FindClientLink(conversation, item, format);
    if (link)
        return link;
    DWORD size = recordSize(item);
    if (!makeRoomForLink(conversation) || !chargeLinks(conversation, size))
        return 0;
    link = (ClientLink *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!link) {
        releaseLinks(conversation, size);
        return 0;
    }
    lstrcpyA(link->item, item);
    link->hash = hashOfItem(item);
    link->format = format;
    link->options = options;
    link->state = LinkAsked;
    link->waiting.account = conversation->linkAccount;
    ClientLink **bucket = &conversation->linkBuckets[link->hash % conversation->linkBucketCount];
    link->nextInBucket = *bucket;
    *bucket = link;
    conversation->linkCount++;
    return link;
}

static void freeLink(Conversation *conversation, ClientLink *link)
{
    ForgetClientLinkValue(conversation, link);
    FreeBuffer(&link->waiting);
    releaseLinks(conversation, recordSize(link->item));
    HeapFree(GetProcessHeap(), 0, link);
}

void RemoveClientLink(Conversation *conversation, ClientLink *link)
{
    ClientLink **at = &conversation->linkBuckets[link->hash % conversation->linkBucketCount];
    while (*at && *at != link)
        at = &(*at)->nextInBucket;
    if (!*at)
        return;
    *at = link->nextInBucket;
    conversation->linkCount--;
    freeLink(conversation, link);
}

void FreeClientLinks(Conversation *conversation)
{
    for (int i = 0; i < conversation->linkBucketCount; i++) {
        ClientLink *link = conversation->linkBuckets[i];
        while (link) {
            ClientLink *next = link->nextInBucket;
            freeLink(conversation, link);
            link = next;
        }
    }
    if (conversation->linkBuckets) {
        HeapFree(GetProcessHeap(), 0, conversation->linkBuckets);
        releaseLinks(conversation, conversation->linkBucketCount * sizeof(ClientLink *));
    }
    conversation->linkBuckets = 0;
    conversation->linkBucketCount = conversation->linkCount = 0;
}

bool SetClientLinkValue(Conversation *conversation, ClientLink *link, UINT format,
                        const BYTE *data, DWORD length)
{
    if (!link->value || link->valueLength != length) {
        ForgetClientLinkValue(conversation, link);
        if (!chargeLinks(conversation, length))
            return false;
        link->value = (BYTE *)HeapAlloc(GetProcessHeap(), 0, length ? length : 1);
        if (!link->value) {
            releaseLinks(conversation, length);
            return false;
        }
        link->valueLength = length;
    }
    CopyMemory(link->value, data, length);
    link->valueFormat = format;
    link->hasValue = true;
    return true;
}

void ForgetClientLinkValue(Conversation *conversation, ClientLink *link)
{
    if (link->value) {
        HeapFree(GetProcessHeap(), 0, link->value);
        releaseLinks(conversation, link->valueLength);
    }
    link->value = 0;
    link->valueLength = 0;
    link->hasValue = false;
}

// Room for a newer update that may merge: of the waiting updates that may
// merge too (asked for no ack), the oldest `keep` - 1 stay and the rest give
// way, each counted as merged. The others keep their order.
static void giveWay(Conversation *conversation, ClientLink *link, int keep)
{
    int staying = keep - 1, mergeable = 0;
    ByteBuffer &waiting = link->waiting;
    DWORD from = waiting.start, to = waiting.start;
    Frame frame;
    DWORD size;
    for (; from < waiting.length &&
           ReadFrame(waiting.bytes + from, waiting.length - from, &frame, &size) == FrameComplete;
         from += size) {
        if (!(frame.word & DataAckReq) && mergeable++ >= staying) {
            CountMergedValue(conversation);
            continue;
        }
        if (to != from)
            MoveMemory(waiting.bytes + to, waiting.bytes + from, size);
        to += size;
    }
    waiting.length = to;
}

bool QueueClientLinkUpdate(Conversation *conversation, ClientLink *link, const Frame *frame,
                           int keep)
{
    if (!(frame->word & DataAckReq))
        giveWay(conversation, link, keep);
    return AppendFrame(&link->waiting, frame);
}

bool FirstClientLinkUpdate(ClientLink *link, Frame *frame, DWORD *size)
{
    ByteBuffer &waiting = link->waiting;
    return waiting.length > waiting.start &&
           ReadFrame(waiting.bytes + waiting.start, waiting.length - waiting.start, frame, size) ==
               FrameComplete;
}

void TakeClientLinkUpdate(ClientLink *link, DWORD size)
{
    ConsumeBytes(&link->waiting, size);
    // An empty buffer goes: most links wait for nothing most of the time.
    if (link->waiting.length == link->waiting.start)
        FreeBuffer(&link->waiting);
}

// Moves a buffer's charge from its account to `account`; false when the
// budget does not take it (it is then charged to none).
static bool moveBufferCharge(ByteBuffer *buffer, BudgetAccount *account)
{
    DetachBuffer(buffer);
    if (account && !ChargeBudget(account, buffer->capacity))
        return false;
    buffer->account = account;
    return true;
}

void ChargeClientConversationTo(Conversation *conversation, BudgetAccount *account)
{
    if (conversation->linkAccount)
        ReleaseBudget(conversation->linkAccount, conversation->linkBytes);
    conversation->linkAccount = 0;
    if (account && ChargeBudget(account, conversation->linkBytes))
        conversation->linkAccount = account;
    moveBufferCharge(&conversation->held, account);
    for (ClientLink *link = FirstClientLink(conversation); link;
         link = NextClientLink(conversation, link))
        moveBufferCharge(&link->waiting, account);
}

// ---- The pace of the links' client -----------------------------------------

// A client that takes its messages but leaves the acks asked of it
// unanswered this long has its links' updates posted as they come.
const DWORD ClientAckPatience = 2000;     // ms

static VOID CALLBACK clientAnswered(HWND, UINT, ULONG_PTR serial, LRESULT)
{
    Conversation *conversation = ConversationOfSerial((DWORD)serial);
    if (conversation) {
        conversation->probeSent = false;
        conversation->clientAnsweredAt = GetTickCount() | 1;
    }
}

// Whether the link has had MaxPostedUpdates untaken for ClientAckPatience.
static bool isStalled(const ClientLink *link, DWORD now)
{
    return !link->unpaced && link->fullSince && now - link->fullSince >= ClientAckPatience;
}

// Links whose client has left the acks asked of it unanswered: when it
// takes its messages (it answers a sent WM_NULL, which never waits behind
// its posted ones) but still no ack comes, it is one that ignores fAckReq,
// and its links' updates are posted as they come, as before pacing. A
// client that takes no messages at all stays paced.
bool CheckClientPace(Conversation *conversation, DWORD now)
{
    bool stalled = false;
    for (ClientLink *link = FirstClientLink(conversation); link && !stalled;
         link = NextClientLink(conversation, link))
        stalled = isStalled(link, now);
    if (!stalled) {
        conversation->clientAnsweredAt = 0;
        return false;
    }
    if (!conversation->clientAnsweredAt) {
        if (!conversation->probeSent)
            conversation->probeSent =
                SendMessageCallbackA(conversation->partner, WM_NULL, 0, 0, clientAnswered,
                                     conversation->serial) != FALSE;
        return false;
    }
    if (now - conversation->clientAnsweredAt < ClientAckPatience / 2)
        return false;
    conversation->clientAnsweredAt = 0;
    for (ClientLink *link = FirstClientLink(conversation); link;
         link = NextClientLink(conversation, link)) {
        if (!isStalled(link, now))
            continue;
        // A warm link's client was asked for nothing: its pace is news only on a hot link.
        if (!(link->options & AdviseDeferUpd))
            LogEvent("the DDE client of share %s at \\\\%s acknowledges no update of \"%s\": "
                     "they are posted as they come", conversation->share, conversation->node,
                     link->item);
        link->unpaced = true;
        link->posted = link->unasked = 0;
        link->fullSince = 0;
    }
    return true;
}
