// Share validity rules and the flat layout of a share: reading a transfer
// block by its own offsets, never past its end, and laying a share out.
#include "sharestore.h"

static bool isPrintable(BYTE c)
{
    return (c >= 0x20 && c <= 0x7E) || c >= 0xA0;
}

// `text` has minLength to maxLength characters, all printable.
static bool isPrintableText(const char *text, int minLength, int maxLength)
{
    if (!text)
        return false;
    int length = 0;
    for (; text[length]; length++)
        if (length == maxLength || !isPrintable((BYTE)text[length]))
            return false;
    return length >= minLength;
}

// The share-name rules for one form of a name.
static bool followsShareNameRules(const char *name)
{
    if (!isPrintableText(name, 1, MaxShareNameLength))
        return false;
    int length = lstrlenA(name);
    for (int i = 0; i < length; i++) {
        char c = name[i];
        if (c == '\\' || c == ',' || c == '=')
            return false;
        if (c == '$' && (i != length - 1 || i == 0))
            return false;
    }
    return true;
}

void StoredShareName(const char *name, char *stored)
{
    lstrcpynA(stored, name, ShareNameSize);
    CharUpperBuffA(stored, lstrlenA(stored));
}

// Upper-casing can turn a printable character into one that is not (0xFF,
// y with diaeresis, into 0x9F): such a name could be stored but never found
// again.
bool IsValidShareName(const char *name)
{
    if (!followsShareNameRules(name))
        return false;
    char stored[ShareNameSize];
    StoredShareName(name, stored);
    return followsShareNameRules(stored);
}

bool IsValidTopic(const char *topic)
{
    return isPrintableText(topic, 1, MaxTopicLength);
}

bool IsValidPassword(const char *password)
{
    return isPrintableText(password, 0, MaxPasswordLength);
}

// ---- Reading a block -------------------------------------------------------

// The zero-terminated string at `offset` behind the header, if it ends
// inside the block's `size` bytes.
static const char *stringAt(const BYTE *block, DWORD size, DWORD offset)
{
    if (offset < ShareInfoHeaderSize || offset >= size ||
        !memchr(block + offset, 0, size - offset))
        return 0;
    return (const char *)block + offset;
}

static bool hasLengthBetween(const char *text, int minLength, int maxLength)
{
    int length = lstrlenA(text);
    return length >= minLength && length <= maxLength;
}

// A password slot of `length` + 1 bytes at `offset`, with a zero byte in it.
static UINT readPassword(const BYTE *block, DWORD size, DWORD offset, DWORD length,
                         const char **password)
{
    if (length > (DWORD)MaxPasswordLength)
        return NDDE_INVALID_PASSWORD;
    if (offset < ShareInfoHeaderSize || offset >= size || size - offset < length + 1 ||
        !memchr(block + offset, 0, length + 1))
        return NDDE_INVALID_PARAMETER;
    *password = (const char *)block + offset;
    return IsValidPassword(*password) ? NDDE_NO_ERROR : NDDE_INVALID_PASSWORD;
}

static UINT readItems(const BYTE *block, DWORD size, const ShareTransferHeader *header,
                      ShareView *share)
{
    LONG count = header->addItemCount;
    share->addItemCount = count;
    share->addItems = 0;
    if (count < 0 || count > MaxAddItems)
        return NDDE_INVALID_ITEM_LIST;
    if (count == 0)
        return NDDE_NO_ERROR;
    DWORD table = header->addItems;
    if (table < ShareInfoHeaderSize || table >= size ||
        (size - table) / sizeof(AddItemEntry) < (DWORD)count)
        return NDDE_INVALID_PARAMETER;
    share->addItems = (const AddItemEntry *)(block + table);
    for (LONG i = 0; i < count; i++) {
        const char *name = stringAt(block, size, share->addItems[i].nameOffset);
        if (!name)
            return NDDE_INVALID_PARAMETER;
        if (!hasLengthBetween(name, 1, MaxItemNameLength))
            return NDDE_INVALID_ITEMNAME;
    }
    return NDDE_NO_ERROR;
}

UINT ReadShareBlock(const BYTE *block, DWORD size, ShareView *share)
{
    if (!block || size < ShareInfoHeaderSize)
        return NDDE_INVALID_PARAMETER;
    const ShareTransferHeader *header = (const ShareTransferHeader *)block;
    share->block = block;

    if (!memchr(header->shareName, 0, ShareNameSize) || !IsValidShareName(header->shareName))
        return NDDE_INVALID_SHARE;
    share->shareName = header->shareName;

    share->appName = stringAt(block, size, header->appName);
    if (!share->appName)
        return NDDE_INVALID_PARAMETER;
    if (!hasLengthBetween(share->appName, 0, MaxAppNameLength))
        return NDDE_INVALID_APPNAME;

    share->topicName = stringAt(block, size, header->topicName);
    if (!share->topicName)
        return NDDE_INVALID_PARAMETER;
    if (!IsValidTopic(share->topicName))
        return NDDE_INVALID_TOPIC;

    share->password1Length = header->password1Length;
    share->permissions1 = header->permissions1;
    share->password2Length = header->password2Length;
    share->permissions2 = header->permissions2;
    UINT result = readPassword(block, size, header->password1, header->password1Length,
                               &share->password1);
    if (result == NDDE_NO_ERROR)
        result = readPassword(block, size, header->password2, header->password2Length,
                              &share->password2);
    if (result != NDDE_NO_ERROR)
        return result;

    share->firstItem = stringAt(block, size, header->firstItem);
    if (!share->firstItem)
        return NDDE_INVALID_PARAMETER;
    if (!hasLengthBetween(share->firstItem, 0, MaxItemNameLength))
        return NDDE_INVALID_ITEMNAME;

    return readItems(block, size, header, share);
}

// ---- Laying a share out ----------------------------------------------------

const char *ShareItemName(const ShareView *share, LONG i)
{
    return (const char *)share->block + share->addItems[i].nameOffset;
}

DWORD ShareBlockSize(const ShareView *share)
{
    DWORD size = ShareInfoHeaderSize + lstrlenA(share->appName) + 1 +
                 lstrlenA(share->topicName) + 1 + share->password1Length + 1 +
                 share->password2Length + 1 + lstrlenA(share->firstItem) + 1;
    for (LONG i = 0; i < share->addItemCount; i++)
        size += sizeof(AddItemEntry) + lstrlenA(ShareItemName(share, i)) + 1;
    return size + 1;
}

// Copies `text` with its terminator to `position`, stores its offset in
// `field`, and returns the position `slot` bytes further on.
static DWORD placeString(BYTE *block, DWORD position, const char *text, DWORD slot,
                         DWORD *field)
{
    lstrcpyA((char *)block + position, text);
    *field = position;
    return position + slot;
}

void WriteShareBlock(const ShareView *share, BYTE *block)
{
    memset(block, 0, ShareBlockSize(share));
    ShareTransferHeader *header = (ShareTransferHeader *)block;
    lstrcpynA(header->shareName, share->shareName, ShareNameSize);
    header->password1Length = share->password1Length;
    header->permissions1 = share->permissions1;
    header->password2Length = share->password2Length;
    header->permissions2 = share->permissions2;
    header->addItemCount = share->addItemCount;

    DWORD position = ShareInfoHeaderSize;
    position = placeString(block, position, share->appName, lstrlenA(share->appName) + 1,
                           &header->appName);
    position = placeString(block, position, share->topicName, lstrlenA(share->topicName) + 1,
                           &header->topicName);
    position = placeString(block, position, share->password1, share->password1Length + 1,
                           &header->password1);
    position = placeString(block, position, share->password2, share->password2Length + 1,
                           &header->password2);
    position = placeString(block, position, share->firstItem, lstrlenA(share->firstItem) + 1,
                           &header->firstItem);
    if (share->addItemCount <= 0)
        return;

    header->addItems = position;
    AddItemEntry *table = (AddItemEntry *)(block + position);
    position += share->addItemCount * sizeof(AddItemEntry);
    for (LONG i = 0; i < share->addItemCount; i++) {
        const char *name = ShareItemName(share, i);
        table[i].permissions = share->addItems[i].permissions;
        position = placeString(block, position, name, lstrlenA(name) + 1, &table[i].nameOffset);
    }
}
