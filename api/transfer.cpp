// Share records, session and connection lists between caller and partner.
//
// Everything read from a partner's block is checked against the block's size
// before it is used, and everything written to a caller's buffer against the
// buffer's size, so a partner that answers nonsense can make a call fail but
// never makes it read or write outside either.
#include "transfer.h"

bool allocateTempBlock(DWORD size, TempBlock *block)
{
    block->handle = 0;
    block->data = 0;
    if (size == 0)
        return true;
    block->handle = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
    if (!block->handle)
        return false;
    block->data = (BYTE *)GlobalLock(block->handle);
    if (!block->data) {
        GlobalFree(block->handle);
        block->handle = 0;
        return false;
    }
    return true;
}

void freeTempBlock(TempBlock *block)
{
    if (!block->handle)
        return;
    GlobalUnlock(block->handle);
    GlobalFree(block->handle);
    block->handle = 0;
    block->data = 0;
}

// ---- Packing a caller's record -------------------------------------------

// A caller's string; a null pointer counts as the empty string.
static const char *textOrEmpty(const char *text)
{
    return text ? text : "";
}

// Copies `text` with its terminator to `block` + `position`, stores the
// offset in `field` and returns the position behind it.
static DWORD packString(BYTE *block, DWORD position, const char *text, DWORD *field)
{
    text = textOrEmpty(text);
    lstrcpyA((char *)block + position, text);
    *field = position;
    return position + lstrlenA(text) + 1;
}

// A password slot of length + 1 bytes: at most `length` characters of the
// password (fewer when it holds a zero byte), the rest zero.
static DWORD packPassword(BYTE *block, DWORD position, const BYTE *password, DWORD length,
                          DWORD *field)
{
    if (password)
        lstrcpynA((char *)block + position, (const char *)password, length + 1);
    *field = position;
    return position + length + 1;
}

bool PackShareInfo(ShareInfo *share, TempBlock *block)
{
    // Sized in 64 bits: a record whose lengths add up beyond what memory can
    // hold is refused like any other allocation that fails.
    ULONGLONG size = 117ULL + lstrlenA(textOrEmpty(share->appName)) +
                     lstrlenA(textOrEmpty(share->topicName)) + share->password1Length +
                     share->password2Length + lstrlenA(textOrEmpty(share->firstItem));
    if (share->addItemCount > 0 && !share->addItems)
        share->addItemCount = 0;
    for (LONG i = 0; i < share->addItemCount; i++)
        size += 9 + lstrlenA(textOrEmpty(share->addItems[i].itemName));
    size += 1;
    if (size > 0x7FFFFFFF || !allocateTempBlock((DWORD)size, block))
        return false;

    BYTE *data = block->data;
    ShareTransferHeader *header = (ShareTransferHeader *)data;
    lstrcpynA(header->shareName, share->shareName, ShareNameSize);
    header->password1Length = share->password1Length;
    header->permissions1 = share->permissions1;
    header->password2Length = share->password2Length;
    header->permissions2 = share->permissions2;
    header->addItemCount = share->addItemCount;

    DWORD position = ShareInfoHeaderSize;
    position = packString(data, position, share->appName, &header->appName);
    position = packString(data, position, share->topicName, &header->topicName);
    position = packPassword(data, position, share->password1, share->password1Length,
                            &header->password1);
    position = packPassword(data, position, share->password2, share->password2Length,
                            &header->password2);
    position = packString(data, position, share->firstItem, &header->firstItem);

    LONG count = share->addItemCount;
    if (count <= 0) {
        header->addItems = 0;
        return true;
    }
    header->addItems = position;
    AddItemEntry *table = (AddItemEntry *)(data + position);
    DWORD namePosition = position + count * sizeof(AddItemEntry);
    for (LONG i = 0; i < count; i++) {
        table[i].permissions = share->addItems[i].permissions;
        namePosition = packString(data, namePosition, share->addItems[i].itemName,
                                  &table[i].nameOffset);
    }
    return true;
}

// ---- Reading a partner's block -------------------------------------------

// A string inside a partner's block: where it starts and how long it is.
struct BlockString {
    const char *text;
    DWORD length;
};

// The zero-terminated string at `offset`; false when the offset lies outside
// the block or no terminator follows inside it.
static bool findString(const BYTE *block, DWORD size, DWORD offset, BlockString *found)
{
    if (offset >= size)
        return false;
    const BYTE *end = (const BYTE *)memchr(block + offset, 0, size - offset);
    if (!end)
        return false;
    found->text = (const char *)block + offset;
    found->length = end - (block + offset);
    return true;
}

// The password at `offset`: at most `length` characters, ending early at a
// zero byte, all inside the block.
static bool findPassword(const BYTE *block, DWORD size, DWORD offset, DWORD length,
                         BlockString *found)
{
    if (offset >= size)
        return false;
    DWORD available = size - offset;
    DWORD limit = length < available ? length : available;
    const BYTE *end = (const BYTE *)memchr(block + offset, 0, limit);
    if (!end && limit < length)
        return false;              // runs off the end of the block
    found->text = (const char *)block + offset;
    found->length = end ? (DWORD)(end - (block + offset)) : limit;
    return true;
}

// Writes `text` and a zero byte at `position` of the caller's buffer and
// returns the position `slot` bytes further on.
static BYTE *placeString(BYTE *position, const BlockString &text, DWORD slot)
{
    memcpy(position, text.text, text.length);
    position[text.length] = 0;
    return position + slot;
}

bool UnpackShareInfo(const BYTE *block, DWORD size, WORD itemIndicator, BYTE *buffer)
{
    if (!block || size < ShareInfoHeaderSize)
        return false;
    const ShareTransferHeader *header = (const ShareTransferHeader *)block;

    BlockString app, topic, password1, password2, first;
    if (!findString(block, size, header->appName, &app) ||
        !findString(block, size, header->topicName, &topic) ||
        !findPassword(block, size, header->password1, header->password1Length, &password1) ||
        !findPassword(block, size, header->password2, header->password2Length, &password2) ||
        !findString(block, size, header->firstItem, &first))
        return false;

    LONG count = itemIndicator ? header->addItemCount : 0;
    const AddItemEntry *table = 0;
    ULONGLONG needed = (ULONGLONG)ShareInfoHeaderSize + app.length + 1 + topic.length + 1 +
                       header->password1Length + 1 + header->password2Length + 1 +
                       first.length + 1;
    if (count > 0) {
        ULONGLONG tableEnd = (ULONGLONG)header->addItems + (ULONGLONG)count * sizeof(AddItemEntry);
        if (header->addItems < ShareInfoHeaderSize || tableEnd > size)
            return false;
        table = (const AddItemEntry *)(block + header->addItems);
        needed += (ULONGLONG)count * sizeof(AddItemInfo);
        for (LONG i = 0; i < count; i++) {
            BlockString name;
            if (!findString(block, size, table[i].nameOffset, &name))
                return false;
            needed += name.length + 1;
        }
    }
    if (needed > size)
        return false;

    // Everything fits: write the caller's record.
    ShareInfo *share = (ShareInfo *)buffer;
    lstrcpynA(share->shareName, header->shareName, ShareNameSize);
    share->password1Length = header->password1Length;
    share->permissions1 = header->permissions1;
    share->password2Length = header->password2Length;
    share->permissions2 = header->permissions2;
    share->addItemCount = header->addItemCount;

    BYTE *position = buffer + ShareInfoHeaderSize;
    share->appName = (char *)position;
    position = placeString(position, app, app.length + 1);
    share->topicName = (char *)position;
    position = placeString(position, topic, topic.length + 1);
    share->password1 = position;
    position = placeString(position, password1, header->password1Length + 1);
    share->password2 = position;
    position = placeString(position, password2, header->password2Length + 1);
    share->firstItem = (char *)position;
    position = placeString(position, first, first.length + 1);

    if (!itemIndicator) {
        share->addItems = 0;
        return true;
    }
    share->addItems = (AddItemInfo *)position;
    BYTE *names = position + (count > 0 ? count : 0) * sizeof(AddItemInfo);
    for (LONG i = 0; i < count; i++) {
        BlockString name = {};
        findString(block, size, table[i].nameOffset, &name);
        share->addItems[i].itemName = (char *)names;
        share->addItems[i].permissions = table[i].permissions;
        names = placeString(names, name, name.length + 1);
    }
    return true;
}

// ---- Session and connection lists ----------------------------------------

bool RebuildSessions(const BYTE *block, DWORD size, DWORD count, BYTE *buffer)
{
    if (count == 0)
        return true;
    if (!block || count > size / sizeof(SessionEntry))
        return false;
    const SessionEntry *from = (const SessionEntry *)block;
    SessionEntry *to = (SessionEntry *)buffer;
    for (DWORD i = 0; i < count; i++) {
        // Only the name's characters and terminator are written; the bytes
        // behind them in the caller's entry keep what they held.
        lstrcpynA(to[i].clientName, from[i].clientName, ClientNameSize);
        to[i].sessionWord = from[i].sessionWord;
        to[i].sessionId = from[i].sessionId;
    }
    return true;
}

bool RebuildConnections(const BYTE *block, DWORD size, DWORD count, BYTE *buffer)
{
    if (count == 0)
        return true;
    if (!block || count > size / sizeof(ConnectionEntry))
        return false;
    const ConnectionBlockEntry *from = (const ConnectionBlockEntry *)block;
    ULONGLONG needed = (ULONGLONG)count * sizeof(ConnectionEntry);
    for (DWORD i = 0; i < count; i++) {
        BlockString name;
        if (!findString(block, size, from[i].nameOffset, &name))
            return false;
        needed += name.length + 1;
    }
    if (needed > size)
        return false;

    ConnectionEntry *to = (ConnectionEntry *)buffer;
    BYTE *names = buffer + count * sizeof(ConnectionEntry);
    for (DWORD i = 0; i < count; i++) {
        BlockString name = {};
        findString(block, size, from[i].nameOffset, &name);
        to[i].connectedShare = (char *)names;
        to[i].connectionWord1 = from[i].connectionWord1;
        to[i].connectionWord2 = from[i].connectionWord2;
        names = placeString(names, name, name.length + 1);
    }
    return true;
}
