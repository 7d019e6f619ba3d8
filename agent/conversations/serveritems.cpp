// The names of the items a conversation's server names in its data
// (relay.h). Every WM_DDE_DATA carries an atom; asking the system for its
// name costs as much as the rest of handling the message, and a feed of
// many items would pay it on every update. This agent keeps one reference
// to each item atom it has seen, so that the atom keeps its name, and finds
// the name in a table of its own from then on.
//
// The table also tells, per item, how the updates of a hot link on it are
// paced (LinkPacing): a server that feeds faster than this agent takes its
// updates is asked for acks from then on, and this agent gives them.
#include "relay.h"

const int FirstSlotCount = 16;
const int MaxServerItems = 4096;        // beyond these, names are asked for each time
// A hot link outruns this agent once the updates of it that wait in the
// agent's queue (its rate over the last second times how long this one
// waited) pass LinkBacklogLimit, and this one waited LateUpdateWait or more:
// a link of a few updates a second held up by the agent's own pauses (a key
// exchange on a slow machine) keeps every update.
const DWORD LateUpdateWait = 250;       // ms
const DWORD LinkBacklogLimit = 200;     // updates

struct ServerItem {
    ATOM atom;                          // 0: a free slot
    DWORD nameAt;                       // in the conversation's itemNames
    LinkPacing pacing;                  // of the link on the item
    WORD format;                        // the link's
    DWORD rateSince;                    // when the current second of its updates began
    WORD postedInSecond, postedLastSecond;
};

static int slotCount(const Conversation *conversation)
{
    return conversation->itemSlots.length / sizeof(ServerItem);
}

static ServerItem *slots(Conversation *conversation)
{
    return (ServerItem *)conversation->itemSlots.bytes;
}

// The slot of `atom`, or the free one where it belongs.
static ServerItem *slotOf(ServerItem *table, int count, ATOM atom)
{
    int at = (int)((atom * 2654435761u) >> 16) & (count - 1);
    while (table[at].atom && table[at].atom != atom)
        at = (at + 1) & (count - 1);
    return &table[at];
}

// Doubles the table once it is half full; false when memory or the budget
// does not take it (the old one stays).
static bool makeRoomForItem(Conversation *conversation)
{
    int count = slotCount(conversation);
    if (conversation->itemCount * 2 < count)
        return true;
    int grown = count ? count * 2 : FirstSlotCount;
    ByteBuffer table = {};
    table.account = &conversation->session->budget;
    if (!ReserveBytes(&table, grown * sizeof(ServerItem)))
        return false;
    ZeroMemory(table.bytes, grown * sizeof(ServerItem));
    table.length = grown * sizeof(ServerItem);
    for (int i = 0; i < count; i++)
        if (slots(conversation)[i].atom)
            *slotOf((ServerItem *)table.bytes, grown, slots(conversation)[i].atom) =
                slots(conversation)[i];
    FreeBuffer(&conversation->itemSlots);
    conversation->itemSlots = table;
    return true;
}

// The slot holding `item`, or null.
static ServerItem *foundSlot(Conversation *conversation, ATOM item)
{
    ServerItem *slot = item && slotCount(conversation) ? slotOf(slots(conversation), slotCount(conversation), item) : 0;
    return slot && slot->atom ? slot : 0;
}

// The slot of `item`, whose name is `name`, made when there is none; null
// when the table is full or memory short.
static ServerItem *heldSlot(Conversation *conversation, ATOM item, const char *name)
{
    ServerItem *slot = foundSlot(conversation, item);
    if (slot)
        return slot;
    if (!name[0] || conversation->itemCount >= MaxServerItems || !makeRoomForItem(conversation))
        return 0;
    ByteBuffer &names = conversation->itemNames;
    names.account = &conversation->session->budget;
    DWORD nameAt = names.length;
    if (!AppendBytes(&names, name, lstrlenA(name) + 1))
        return 0;
    // Our own reference: the atom keeps this name while the table holds it.
    ATOM held = GlobalAddAtomA(name);
    if (held != item) {
        if (held)
            GlobalDeleteAtom(held);
        names.length = nameAt;
        return 0;
    }
    slot = slotOf(slots(conversation), slotCount(conversation), item);
    slot->atom = item;
    slot->nameAt = nameAt;
    slot->pacing = NotPaceable;
    conversation->itemCount++;
    return slot;
}

void ServerItemName(Conversation *conversation, ATOM item, char *name, LinkPacing *pacing)
{
    *pacing = NotPaceable;
    if (!item) {
        name[0] = 0;
        return;
    }
    ServerItem *slot = foundSlot(conversation, item);
    if (slot) {
        lstrcpyA(name, (const char *)conversation->itemNames.bytes + slot->nameAt);
        *pacing = slot->pacing;
        return;
    }
    AtomName(item, name);
    heldSlot(conversation, item, name);
}

bool LinkOutrunsAgent(Conversation *conversation, ATOM item, DWORD postedAt, DWORD waited)
{
    ServerItem *slot = foundSlot(conversation, item);
    if (!slot || slot->pacing != Paceable)
        return false;
    if (postedAt - slot->rateSince >= 1000) {
        slot->postedLastSecond = postedAt - slot->rateSince < 2000 ? slot->postedInSecond : 0;
        slot->postedInSecond = 0;
        slot->rateSince = postedAt;
    }
    if (slot->postedInSecond < 0xFFFF)
        slot->postedInSecond++;
    DWORD perSecond = slot->postedInSecond > slot->postedLastSecond ? slot->postedInSecond : slot->postedLastSecond;
    return waited >= LateUpdateWait && waited * perSecond / 1000 >= LinkBacklogLimit;
}

void SetLinkPacing(Conversation *conversation, ATOM item, const char *name, UINT format,
                   LinkPacing pacing)
{
    ServerItem *slot = heldSlot(conversation, item, name);
    if (slot) {
        slot->pacing = pacing;
        slot->format = (WORD)format;
    }
}

void EndLinkPacing(Conversation *conversation, ATOM item)
{
    for (int i = 0; i < slotCount(conversation); i++) {
        ServerItem &slot = slots(conversation)[i];
        if (slot.atom && (!item || slot.atom == item))
            slot.pacing = NotPaceable;
    }
}

bool TakePaceableLink(Conversation *conversation, char *name, UINT *format)
{
    for (int i = 0; i < slotCount(conversation); i++) {
        ServerItem &slot = slots(conversation)[i];
        if (slot.atom && slot.pacing == Paceable) {
            slot.pacing = PacedHere;
            lstrcpyA(name, (const char *)conversation->itemNames.bytes + slot.nameAt);
            *format = slot.format;
            return true;
        }
    }
    return false;
}

void ReleaseServerItems(Conversation *conversation)
{
    for (int i = 0; i < slotCount(conversation); i++)
        if (slots(conversation)[i].atom)
            GlobalDeleteAtom(slots(conversation)[i].atom);
    FreeBuffer(&conversation->itemSlots);
    FreeBuffer(&conversation->itemNames);
    conversation->itemCount = 0;
}
