// The persistent DDE share store of the Network DDE partner.
//
// Shares live in the registry under HKEY_LOCAL_MACHINE\Software\Tessaseg\DDE Shares,
// one REG_BINARY value per share whose name is the upper-cased share name.
// A value holds the whole record, so every add, change and delete is one
// atomic registry write, and every program on the machine sees it at once.
// Operations that look before they write (add: is the name free?) run under
// a named mutex, so that two processes cannot both add the same share;
// reading one share takes no lock.
//
// Stored record: "TSR1", a CRC-32 of the rest, then the share laid out as a
// ShareTransferBlock (header with offsets, application, topic, password
// slots, first item, item table, item names, closing zero byte). A record
// that fails any check when read back answers NDDE_SHARE_DATA_CORRUPTED and
// is never used.
//
// Validity rules (the same for the validity checks, for adding and changing
// a share, and for reading a stored record back):
//   - printable: a byte from 0x20 to 0x7E or from 0xA0 to 0xFF;
//   - share name: 1 to 63 printable characters, none of them `\`, `,` or
//     `=`; at most one `$`, and only as the last character after at least
//     one other; the name as stored (upper-cased) follows the same rules;
//   - topic: 1 to 255 printable characters;
//   - password: 0 to 14 printable characters (a password slot holds at most
//     14 bytes; the password ends at its first zero byte);
//   - application name: 0 to 255 characters;
//   - first item: 0 to 255 characters (empty for none);
//   - additional item name: 1 to 255 characters, at most 65535 items.
// A null pointer is never valid.
#ifndef SHARESTORE_H
#define SHARESTORE_H

#include "partnerlink.h"
#include <string.h>

const char ShareStoreKey[] = "Software\\Tessaseg\\DDE Shares";
const char StoreMutexName[] = "Tessaseg.ShareStore";
const DWORD StoreLockTimeout = 10000;   // ms; no holder takes this long

const int MaxShareNameLength = 63;
const int MaxTopicLength = 255;
const int MaxPasswordLength = 14;
const int MaxAppNameLength = 255;
const int MaxItemNameLength = 255;
const LONG MaxAddItems = 65535;

// Share names (as stored) and passwords are the same only when they have the
// same length and the same bytes: never by a locale's collation, which
// ignores some bytes (a soft hyphen) and takes others for the same (the
// ligature 0xC6 and "AE").
inline bool IsSameText(const char *a, const char *b)
{
    return strcmp(a, b) == 0;
}

bool IsValidShareName(const char *name);
// The form a valid share name is stored, listed and found under: upper-cased
// into `stored` (ShareNameSize bytes).
void StoredShareName(const char *name, char *stored);
bool IsValidTopic(const char *topic);
bool IsValidPassword(const char *password);

// A share found in a transfer block or a stored record: pointers into that
// block, every string checked to end inside it.
struct ShareView {
    const char *shareName;
    const char *appName;
    const char *topicName;
    const char *password1;          // the password, ending at its first zero byte
    DWORD password1Length;          // its slot in the block: length + 1 bytes
    SharePermissions permissions1;
    const char *password2;
    DWORD password2Length;
    SharePermissions permissions2;
    const char *firstItem;
    LONG addItemCount;
    const BYTE *block;              // item names are found from here
    const AddItemEntry *addItems;   // null when addItemCount is 0
};

// The name of additional item `i` of `share`.
const char *ShareItemName(const ShareView *share, LONG i);

// Reads a transfer block of at most `size` bytes by its own offsets and
// checks it against the rules above: NDDE_INVALID_PARAMETER when a field
// lies outside the block, otherwise the code of the first rule broken
// (share name, application, topic, passwords, items), or NDDE_NO_ERROR.
UINT ReadShareBlock(const BYTE *block, DWORD size, ShareView *share);

// The size of `share` laid out as a transfer block, with its closing byte.
DWORD ShareBlockSize(const ShareView *share);

// Lays `share` out from `block` on, exactly ShareBlockSize bytes.
void WriteShareBlock(const ShareView *share, BYTE *block);

// A share read from the store: the record stays allocated until released.
struct StoredShare {
    BYTE *record;
    ShareView view;
};

// Store operations. Each answers an NDde result code.
UINT StoreAddShare(const ShareView *share);
UINT StoreReplaceShare(const char *shareName, const ShareView *share);
UINT StoreReadShare(const char *shareName, StoredShare *share);
void ReleaseStoredShare(StoredShare *share);
UINT StoreDeleteShare(const char *shareName);
// The share names, each ended by a zero byte, into `buffer` when all of them
// fit `size` bytes; `entries` and `total` are set either way (code 2 when
// they do not fit).
UINT StoreListShares(char *buffer, DWORD size, DWORD *entries, DWORD *total);

#endif
