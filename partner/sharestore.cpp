// The share store in the registry: one binary value per share, under a
// mutex shared by every process that uses the store.
#include "sharestore.h"

static const char RecordMagic[4] = {'T', 'S', 'R', '1'};
static const DWORD RecordHeaderSize = 8;        // magic, CRC-32

// The registry key of the store, held with the store's mutex for one operation.
struct OpenStore {
    HANDLE mutex;
    HKEY key;
};

// The store's mutex, opened once in each process and kept while it runs.
static HANDLE storeMutex()
{
    static HANDLE mutex;
    if (!mutex)
        mutex = CreateMutexA(0, FALSE, StoreMutexName);
    return mutex;
}

static UINT openStore(OpenStore *store)
{
    store->key = 0;
    store->mutex = storeMutex();
    if (!store->mutex)
        return NDDE_INTERNAL_ERROR;
    // A busy store answers NDDE_INTERNAL_ERROR after StoreLockTimeout.
    // An abandoned mutex is still ours: its holder died between atomic
    // registry writes, so the store is whole.
    DWORD wait = WaitForSingleObject(store->mutex, StoreLockTimeout);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        return NDDE_INTERNAL_ERROR;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ShareStoreKey, 0, 0, 0, KEY_ALL_ACCESS, 0,
                        &store->key, 0) != ERROR_SUCCESS) {
        ReleaseMutex(store->mutex);
        return NDDE_REGISTRY_ERROR;
    }
    return NDDE_NO_ERROR;
}

static void closeStore(OpenStore *store)
{
    RegCloseKey(store->key);
    ReleaseMutex(store->mutex);
}

// The registry value name of a share: its stored name.
static UINT valueNameOf(const char *shareName, char *valueName)
{
    if (!IsValidShareName(shareName))
        return NDDE_INVALID_SHARE;
    StoredShareName(shareName, valueName);
    return NDDE_NO_ERROR;
}

static DWORD crc32(const BYTE *data, DWORD size)
{
    DWORD crc = 0xFFFFFFFF;
    for (DWORD i = 0; i < size; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// ---- Records ---------------------------------------------------------------

struct Record {
    BYTE *data;
    DWORD size;
};

static void freeRecord(Record *record)
{
    if (record->data)
        HeapFree(GetProcessHeap(), 0, record->data);
    record->data = 0;
}

// Lays `share` out as a record stored under `valueName`, which it carries.
static UINT makeRecord(const ShareView *share, const char *valueName, Record *record)
{
    DWORD blockSize = ShareBlockSize(share);
    record->size = RecordHeaderSize + blockSize;
    record->data = (BYTE *)HeapAlloc(GetProcessHeap(), 0, record->size);
    if (!record->data)
        return NDDE_OUT_OF_MEMORY;
    BYTE *block = record->data + RecordHeaderSize;
    WriteShareBlock(share, block);
    lstrcpyA(((ShareTransferHeader *)block)->shareName, valueName);
    memcpy(record->data, RecordMagic, sizeof RecordMagic);
    DWORD checksum = crc32(block, blockSize);
    memcpy(record->data + sizeof RecordMagic, &checksum, sizeof checksum);
    return NDDE_NO_ERROR;
}

// A record read back is used only when it is exactly what makeRecord makes
// for a valid share of this name.
static bool isSoundRecord(const Record *record, const char *valueName, ShareView *share)
{
    if (record->size < RecordHeaderSize + ShareInfoHeaderSize ||
        memcmp(record->data, RecordMagic, sizeof RecordMagic) != 0)
        return false;
    const BYTE *block = record->data + RecordHeaderSize;
    DWORD blockSize = record->size - RecordHeaderSize;
    DWORD checksum;
    memcpy(&checksum, record->data + sizeof RecordMagic, sizeof checksum);
    return checksum == crc32(block, blockSize) &&
           ReadShareBlock(block, blockSize, share) == NDDE_NO_ERROR &&
           ShareBlockSize(share) == blockSize && IsSameText(share->shareName, valueName);
}

// ---- Store operations ------------------------------------------------------

static UINT writeShare(const char *valueName, const ShareView *share, bool mustExist)
{
    Record record;
    UINT result = makeRecord(share, valueName, &record);
    if (result != NDDE_NO_ERROR)
        return result;
    OpenStore store;
    result = openStore(&store);
    if (result == NDDE_NO_ERROR) {
        LONG found = RegQueryValueExA(store.key, valueName, 0, 0, 0, 0);
        if (found != ERROR_SUCCESS && found != ERROR_FILE_NOT_FOUND)
            result = NDDE_REGISTRY_ERROR;
        else if (found == ERROR_SUCCESS && !mustExist)
            result = NDDE_SHARE_ALREADY_EXIST;
        else if (found == ERROR_FILE_NOT_FOUND && mustExist)
            result = NDDE_SHARE_NOT_EXIST;
        else if (RegSetValueExA(store.key, valueName, 0, REG_BINARY, record.data,
                                record.size) != ERROR_SUCCESS)
            result = NDDE_REGISTRY_ERROR;
        closeStore(&store);
    }
    freeRecord(&record);
    return result;
}

UINT StoreAddShare(const ShareView *share)
{
    char valueName[ShareNameSize];
    UINT result = valueNameOf(share->shareName, valueName);
    return result != NDDE_NO_ERROR ? result : writeShare(valueName, share, false);
}

UINT StoreReplaceShare(const char *shareName, const ShareView *share)
{
    char valueName[ShareNameSize], newName[ShareNameSize];
    UINT result = valueNameOf(shareName, valueName);
    if (result == NDDE_NO_ERROR)
        result = valueNameOf(share->shareName, newName);
    if (result != NDDE_NO_ERROR)
        return result;
    // A share keeps its name: the record may change its case only.
    if (!IsSameText(valueName, newName))
        return NDDE_INVALID_PARAMETER;
    return writeShare(valueName, share, true);
}

// Reads a stored record into `record`: at first into room for a typical
// record, then into room for the value's own size when it needs more.
static UINT readRecord(HKEY key, const char *valueName, Record *record)
{
    const DWORD typicalSize = 1024;
    DWORD type = 0, size = typicalSize;
    LONG found = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 3 && found == ERROR_MORE_DATA; attempt++) {
        freeRecord(record);
        record->data = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size);
        if (!record->data)
            return NDDE_OUT_OF_MEMORY;
        record->size = size;
        found = RegQueryValueExA(key, valueName, 0, &type, record->data, &record->size);
        size = record->size;
    }
    if (found == ERROR_FILE_NOT_FOUND)
        return NDDE_SHARE_NOT_EXIST;
    if (found != ERROR_SUCCESS)
        return NDDE_REGISTRY_ERROR;
    return type == REG_BINARY ? NDDE_NO_ERROR : NDDE_SHARE_DATA_CORRUPTED;
}

UINT StoreReadShare(const char *shareName, StoredShare *share)
{
    share->record = 0;
    char valueName[ShareNameSize];
    UINT result = valueNameOf(shareName, valueName);
    if (result != NDDE_NO_ERROR)
        return result;
    // A record is written whole in one registry write: reading it needs no
    // lock, and a reader never waits for a writer.
    HKEY key;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ShareStoreKey, 0, KEY_QUERY_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return NDDE_SHARE_NOT_EXIST;
    if (opened != ERROR_SUCCESS)
        return NDDE_REGISTRY_ERROR;
    Record record = {0, 0};
    result = readRecord(key, valueName, &record);
    RegCloseKey(key);

    if (result == NDDE_NO_ERROR && !isSoundRecord(&record, valueName, &share->view))
        result = NDDE_SHARE_DATA_CORRUPTED;
    if (result == NDDE_NO_ERROR)
        share->record = record.data;
    else
        freeRecord(&record);
    return result;
}

void ReleaseStoredShare(StoredShare *share)
{
    Record record = {share->record, 0};
    freeRecord(&record);
    share->record = 0;
}

UINT StoreDeleteShare(const char *shareName)
{
    char valueName[ShareNameSize];
    UINT result = valueNameOf(shareName, valueName);
    if (result != NDDE_NO_ERROR)
        return result;
    OpenStore store;
    result = openStore(&store);
    if (result != NDDE_NO_ERROR)
        return result;
    LONG deleted = RegDeleteValueA(store.key, valueName);
    if (deleted == ERROR_FILE_NOT_FOUND)
        result = NDDE_SHARE_NOT_EXIST;
    else if (deleted != ERROR_SUCCESS)
        result = NDDE_REGISTRY_ERROR;
    closeStore(&store);
    return result;
}

// Collects the names of the store's shares (values whose names are share
// names; anything else under the key is not a share) into `names`.
static UINT collectNames(HKEY key, Record *names, DWORD *entries)
{
    DWORD valueCount, maxNameLength;
    if (RegQueryInfoKeyA(key, 0, 0, 0, 0, 0, 0, &valueCount, &maxNameLength, 0, 0, 0) !=
        ERROR_SUCCESS)
        return NDDE_REGISTRY_ERROR;
    names->size = 0;
    *entries = 0;
    if (valueCount == 0)
        return NDDE_NO_ERROR;
    // Every value has a name of at most maxNameLength characters.
    names->data = (BYTE *)HeapAlloc(GetProcessHeap(), 0, valueCount * (maxNameLength + 1));
    if (!names->data)
        return NDDE_OUT_OF_MEMORY;
    for (DWORD i = 0; i < valueCount; i++) {
        char *name = (char *)names->data + names->size;
        DWORD length = maxNameLength + 1;
        LONG found = RegEnumValueA(key, i, name, &length, 0, 0, 0, 0);
        if (found == ERROR_NO_MORE_ITEMS)
            break;
        if (found != ERROR_SUCCESS)
            return NDDE_REGISTRY_ERROR;
        if (!IsValidShareName(name))
            continue;
        names->size += length + 1;
        ++*entries;
    }
    return NDDE_NO_ERROR;
}

UINT StoreListShares(char *buffer, DWORD size, DWORD *entries, DWORD *total)
{
    OpenStore store;
    UINT result = openStore(&store);
    if (result != NDDE_NO_ERROR)
        return result;
    Record names = {0, 0};
    DWORD count = 0;
    result = collectNames(store.key, &names, &count);
    closeStore(&store);
    if (result == NDDE_NO_ERROR) {
        *entries = count;
        *total = names.size;
        if (names.size > size)
            result = NDDE_BUF_TOO_SMALL;
        else if (names.size > 0)
            memcpy(buffer, names.data, names.size);
    }
    freeRecord(&names);
    return result;
}
