// The exported NDde functions: each brings its arguments into partner form,
// calls the partner operation of the same name and returns its result.
//
// Readers whose results hold pointers give the partner a temporary block of
// the caller's size and rebuild the result in the caller's buffer only on
// success. A partner that reports success with a result that does not fit
// the caller's buffer gets NDDE_INTERNAL_ERROR and the buffer stays as it was.
// A temporary block that cannot be allocated gets NDDE_OUT_OF_MEMORY without
// the partner being called.
#include "thunk.h"
#include "transfer.h"

// The share writers: pack the record, hand the block over instead of it.
static UINT writeShare(ShareInfo *share, PartnerOperationIndex index, DWORD *args,
                       int blockArgument)
{
    TempBlock block;
    if (!PackShareInfo(share, &block))
        return NDDE_OUT_OF_MEMORY;
    args[blockArgument] = mapPointer(block.data);
    UINT result = callPartner(index, args);
    freeTempBlock(&block);
    return result;
}

UINT WINAPI NDdeShareAdd(LPSTR server, UINT level, LPBYTE share, DWORD bufferSize)
{
    DWORD args[] = {mapPointer(server), low16(level), 0, bufferSize};
    return writeShare((ShareInfo *)share, PartnerShareAdd, args, 2);
}

UINT WINAPI NDdeShareSetInfo(LPSTR server, LPSTR shareName, UINT level, LPBYTE share,
                             DWORD bufferSize, UINT parameterNumber)
{
    DWORD args[] = {mapPointer(server), mapPointer(shareName), low16(level), 0,
                    bufferSize, low16(parameterNumber)};
    return writeShare((ShareInfo *)share, PartnerShareSetInfo, args, 3);
}

UINT WINAPI NDdeShareGetInfo(LPSTR server, LPSTR shareName, UINT level, LPBYTE buffer,
                             DWORD bufferSize, LPDWORD totalAvailable, LPWORD itemCount)
{
    TempBlock block;
    if (!allocateTempBlock(bufferSize, &block))
        return NDDE_OUT_OF_MEMORY;
    DWORD args[] = {mapPointer(server), mapPointer(shareName), low16(level),
                    mapPointer(block.data), bufferSize, mapPointer(totalAvailable),
                    mapPointer(itemCount)};
    UINT result = callPartner(PartnerShareGetInfo, args);
    // Without a block the partner cannot have delivered anything to unpack.
    if (result == NDDE_NO_ERROR && block.data &&
        !UnpackShareInfo(block.data, bufferSize, *itemCount, buffer))
        result = NDDE_INTERNAL_ERROR;
    freeTempBlock(&block);
    return result;
}

// The session and connection lists: the partner fills a temporary block,
// the entries are rebuilt in the caller's buffer.
typedef bool (*Rebuild)(const BYTE *block, DWORD size, DWORD count, BYTE *buffer);

static UINT readList(PartnerOperationIndex index, DWORD *args, int blockArgument,
                     DWORD bufferSize, LPDWORD entriesRead, LPBYTE buffer, Rebuild rebuild)
{
    TempBlock block;
    if (!allocateTempBlock(bufferSize, &block))
        return NDDE_OUT_OF_MEMORY;
    args[blockArgument] = mapPointer(block.data);
    UINT result = callPartner(index, args);
    if (result == NDDE_NO_ERROR && block.data &&
        !rebuild(block.data, bufferSize, *entriesRead, buffer))
        result = NDDE_INTERNAL_ERROR;
    freeTempBlock(&block);
    return result;
}

UINT WINAPI NDdeSessionEnum(LPSTR server, UINT level, LPBYTE buffer, DWORD bufferSize,
                            LPDWORD totalAvailable, LPDWORD entriesRead)
{
    DWORD args[] = {mapPointer(server), low16(level), 0, bufferSize,
                    mapPointer(totalAvailable), mapPointer(entriesRead)};
    return readList(PartnerSessionEnum, args, 2, bufferSize, entriesRead, buffer,
                    RebuildSessions);
}

UINT WINAPI NDdeConnectionEnum(LPSTR server, LPSTR clientName, LONG sessionId, UINT level,
                               LPBYTE buffer, DWORD bufferSize, LPDWORD totalAvailable,
                               LPDWORD entriesRead)
{
    DWORD args[] = {mapPointer(server), mapPointer(clientName), (DWORD)sessionId, low16(level),
                    0, bufferSize, mapPointer(totalAvailable), mapPointer(entriesRead)};
    return readList(PartnerConnectionEnum, args, 4, bufferSize, entriesRead, buffer,
                    RebuildConnections);
}

// ---- Forwarders: the partner reads and writes the caller's data directly.

UINT WINAPI NDdeShareDel(LPSTR server, LPSTR shareName, UINT reserved)
{
    DWORD args[] = {mapPointer(server), mapPointer(shareName), low16(reserved)};
    return callPartner(PartnerShareDel, args);
}

UINT WINAPI NDdeShareEnum(LPSTR server, UINT level, LPBYTE buffer, DWORD bufferSize,
                          LPDWORD entriesRead, LPDWORD totalAvailable)
{
    DWORD args[] = {mapPointer(server), low16(level), mapPointer(buffer), bufferSize,
                    mapPointer(entriesRead), mapPointer(totalAvailable)};
    return callPartner(PartnerShareEnum, args);
}

UINT WINAPI NDdeGetClientInfo(HWND window, LPSTR clientBuffer, LONG clientBufferSize,
                              LPSTR taskBuffer, LONG taskBufferSize)
{
    DWORD args[] = {low16((DWORD)(UINT_PTR)window), mapPointer(clientBuffer),
                    (DWORD)clientBufferSize, mapPointer(taskBuffer), (DWORD)taskBufferSize};
    return callPartner(PartnerGetClientInfo, args);
}

UINT WINAPI NDdeGetNodeName(LPSTR nodeNameBuffer, DWORD nodeNameBufferSize)
{
    DWORD args[] = {mapPointer(nodeNameBuffer), nodeNameBufferSize};
    return callPartner(PartnerGetNodeName, args);
}

UINT WINAPI NDdeGetErrorString(UINT errorCode, LPSTR errorBuffer, DWORD errorBufferSize)
{
    DWORD args[] = {low16(errorCode), mapPointer(errorBuffer), errorBufferSize};
    return callPartner(PartnerGetErrorString, args);
}

UINT WINAPI NDdeSessionClose(LPSTR server, LPSTR clientName, LONG sessionId)
{
    DWORD args[] = {mapPointer(server), mapPointer(clientName), (DWORD)sessionId};
    return callPartner(PartnerSessionClose, args);
}

// ---- The validity checks answer a truth value, widened with its sign.

BOOL WINAPI NDdeIsValidShareName(LPSTR shareName)
{
    DWORD args[] = {mapPointer(shareName)};
    return callPartnerCheck(PartnerIsValidShareName, args);
}

BOOL WINAPI NDdeIsValidPassword(LPSTR password)
{
    DWORD args[] = {mapPointer(password)};
    return callPartnerCheck(PartnerIsValidPassword, args);
}

BOOL WINAPI NDdeIsValidTopic(LPSTR topicName)
{
    DWORD args[] = {mapPointer(topicName)};
    return callPartnerCheck(PartnerIsValidTopic, args);
}

// The agent's window: the partner's 16-bit handle, widened with zeros.
HWND WINAPI NDdeGetWindow(void)
{
    DWORD noArguments[1] = {0};
    return (HWND)(UINT_PTR)callPartner(PartnerGetWindow, noArguments);
}
