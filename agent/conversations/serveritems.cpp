// The names of the items a conversation's server names in its data
// (relay.h). Every WM_DDE_DATA carries an atom; asking the system for its
// name costs as much as the rest of handling the message, and a feed of
// many items would pay it on every update. This agent keeps one reference
// to each item atom it has seen, so that the atom keeps its name, and finds
// the name in a table of its own from then on.
#include "relay.h"

const int FirstSlotCount = 16;
const int MaxServerItems = 4096;        // beyond these, names are asked for each time

struct ServerItem {
    ATOM atom;                          // 0: a free slot
    DWORD nameAt;                       // in the conversation's itemNames
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

void ServerItemName(Conversation *conversation, ATOM item, char *name)
{
    if (!item) {
        name[0] = 0;
        return;
    }
    ServerItem *slot = slotCount(conversation) ? slotOf(slots(conversation), slotCount(conversation), item) : 0;
    if (slot && slot->atom) {
        lstrcpyA(name, (const char *)conversation->itemNames.bytes + slot->nameAt);
        return;
    }
    AtomName(item, name);
    if (!name[0] || conversation->itemCount >= MaxServerItems || !makeRoomForItem(conversation))
        return;
    ByteBuffer &names = conversation->itemNames;
    names.account = &conversation->session->budget;
    DWORD nameAt = names.length;
    if (!AppendBytes(&names, name, lstrlenA(name) + 1))
        return;
    // Our own reference: the atom keeps this name while the table holds it.
    ATOM held = GlobalAddAtomA(name);
    if (held != item) {
        if (held)
            GlobalDeleteAtom(held);
        names.length = nameAt;
        return;
    }
    slot = slotOf(slots(conversation), slotCount(conversation), item);
    slot->atom = item;
    slot->nameAt = nameAt;
    conversation->itemCount++;
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
