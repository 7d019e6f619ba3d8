// Tessaseg: the partner library of Tessaflat. It exports thk_ThunkData16,
// which names the table of the fifteen partner operations. Each operation
// takes its arguments in partner form (partnerlink.h) and answers a 16-bit
// result. Shares come from the share store, sessions and connections from
// the Network DDE agent.
//
// An operation given a server (\\NODE or NODE) other than this machine's own
// node name runs on that node, through the agent (remotecall.h); a server
// that is no node name answers NDDE_INVALID_SERVER.
//
// Every operation checks what it is handed: an unknown level
// NDDE_INVALID_LEVEL, a missing count pointer NDDE_INVALID_PARAMETER. A
// missing result buffer counts as a buffer of size 0.
//
// A share to add or change comes as a transfer block that the library packed
// into a global memory block. It is read by its own offsets within that
// memory block's size; the size the caller named for its record has no say.
#include "sharestore.h"
#include "agentcall.h"
#include "localinfo.h"

template <class T> static T *pointerArgument(DWORD value)
{
    return (T *)(UINT_PTR)value;
}

static const char *textArgument(DWORD value)
{
    return pointerArgument<const char>(value);
}

// The usable size of a caller's buffer.
static DWORD bufferSize(DWORD buffer, DWORD size)
{
    return buffer ? size : 0;
}

// Where a call with `server` runs: here (null, or this machine's node name),
// on another node (its name into `node`), or nowhere (no node name).
enum ServerPlace { LocalServer, OtherServer, InvalidServer };

static ServerPlace placeOf(DWORD server, char node[MaxNodeNameLength + 1])
{
    const char *name = textArgument(server);
    if (!name)
        return LocalServer;
    if (name[0] == '\\' && name[1] == '\\')
        name += 2;
    if (!IsValidNodeName(name))
        return InvalidServer;
    lstrcpyA(node, name);
    char ownName[MaxNodeNameLength + 1];
    if (NodeName(ownName, sizeof ownName) == NDDE_NO_ERROR && isSameNodeName(node, ownName))
        return LocalServer;
    return OtherServer;
}

// Whether the call of `operation` is not this machine's to run; its result
// is then in *result: run on the node its server names, or refused.
static bool runsElsewhere(DWORD operation, const DWORD *args, WORD *result)
{
    char node[MaxNodeNameLength + 1];
    ServerPlace place = placeOf(args[0], node);
    if (place == LocalServer)
        return false;
    *result = NDDE_INVALID_SERVER;
    if (place == InvalidServer)
        return true;
    RemoteBytes call, answer;
    UINT failure;
    if (!PackRemoteCall(operation, args, &call, &failure)) {
        *result = (WORD)failure;
        return true;
    }
    UINT code = AgentAdministerNodeOf(node, &call, &answer);
    if (code == NDDE_NO_ERROR)
        code = DeliverRemoteAnswer(operation, args, answer.bytes, answer.length);
    FreeRemoteBytes(&call);
    FreeRemoteBytes(&answer);
    *result = (WORD)code;
    return true;
}

// Reads the share of a transfer block handed over in a global memory block.
static UINT readShareArgument(DWORD block, ShareView *share)
{
    const BYTE *data = pointerArgument<const BYTE>(block);
    HGLOBAL memory = data ? GlobalHandle(data) : 0;
    return ReadShareBlock(data, memory ? GlobalSize(memory) : 0, share);
}

// ---- Validity checks, window, texts, node and task -------------------------

static WORD WINAPI isValidTopic(const DWORD *args)
{
    return IsValidTopic(textArgument(args[0]));
}

static WORD WINAPI isValidPassword(const DWORD *args)
{
    return IsValidPassword(textArgument(args[0]));
}

static WORD WINAPI isValidShareName(const DWORD *args)
{
    return IsValidShareName(textArgument(args[0]));
}

static WORD WINAPI getWindow(const DWORD *)
{
    return LOWORD((UINT_PTR)AgentWindow());
}

static WORD WINAPI getErrorString(const DWORD *args)
{
    return ErrorText(args[0], pointerArgument<char>(args[1]), args[2]);
}

static WORD WINAPI getNodeName(const DWORD *args)
{
    return NodeName(pointerArgument<char>(args[0]), args[1]);
}

static WORD WINAPI getClientInfo(const DWORD *args)
{
    return ClientInfo(args[0], pointerArgument<char>(args[1]), args[2],
                      pointerArgument<char>(args[3]), args[4]);
}

// ---- Sessions and connections ----------------------------------------------

// Sets the two counts of a list and tells whether `needed` bytes fit `size`.
static UINT reportListSize(DWORD needed, DWORD count, DWORD size, DWORD *total, DWORD *entries)
{
    *total = needed;
    *entries = count;
    return needed <= size ? NDDE_NO_ERROR : NDDE_BUF_TOO_SMALL;
}

static WORD WINAPI sessionClose(const DWORD *args)
{
    WORD elsewhere;
    if (runsElsewhere(PartnerSessionClose, args, &elsewhere))
        return elsewhere;
    const char *clientName = textArgument(args[1]);
    if (!clientName)
        return NDDE_INVALID_SESSION;
    return AgentCloseSessionOf(clientName, args[2]);
}

static WORD WINAPI sessionEnum(const DWORD *args)
{
    BYTE *block = pointerArgument<BYTE>(args[2]);
    DWORD size = bufferSize(args[2], args[3]);
    DWORD *total = pointerArgument<DWORD>(args[4]), *entries = pointerArgument<DWORD>(args[5]);
    WORD elsewhere;
    if (runsElsewhere(PartnerSessionEnum, args, &elsewhere))
        return elsewhere;
    if (args[1] != 1)
        return NDDE_INVALID_LEVEL;
    if (!total || !entries)
        return NDDE_INVALID_PARAMETER;
    AgentList list;
    UINT result = AgentListSessionsOf(&list);
    if (result == NDDE_NO_ERROR)
        result = reportListSize(list.count * sizeof(SessionEntry), list.count, size, total,
                                entries);
    if (result != NDDE_NO_ERROR)
        return result;
    SessionEntry *to = (SessionEntry *)block;
    for (DWORD i = 0; i < list.count; i++) {
        lstrcpyA(to[i].clientName, list.sessions[i].clientName);
        to[i].sessionWord = list.sessions[i].sessionWord;
        to[i].sessionId = list.sessions[i].sessionId;
    }
    return NDDE_NO_ERROR;
}

static WORD WINAPI connectionEnum(const DWORD *args)
{
    const char *clientName = textArgument(args[1]);
    BYTE *block = pointerArgument<BYTE>(args[4]);
    DWORD size = bufferSize(args[4], args[5]);
    DWORD *total = pointerArgument<DWORD>(args[6]), *entries = pointerArgument<DWORD>(args[7]);
    WORD elsewhere;
    if (runsElsewhere(PartnerConnectionEnum, args, &elsewhere))
        return elsewhere;
    if (args[3] != 1)
        return NDDE_INVALID_LEVEL;
    if (!total || !entries)
        return NDDE_INVALID_PARAMETER;
    if (!clientName)
        return NDDE_INVALID_SESSION;
    AgentList list;
    UINT result = AgentListConnectionsOf(clientName, args[2], &list);
    if (result != NDDE_NO_ERROR)
        return result;

    // The entries, then the share names they point to by offset.
    DWORD needed = list.count * sizeof(ConnectionBlockEntry);
    for (DWORD i = 0; i < list.count; i++)
        needed += lstrlenA(list.connections[i].shareName) + 1;
    result = reportListSize(needed, list.count, size, total, entries);
    if (result != NDDE_NO_ERROR)
        return result;
    ConnectionBlockEntry *to = (ConnectionBlockEntry *)block;
    DWORD position = list.count * sizeof(ConnectionBlockEntry);
    for (DWORD i = 0; i < list.count; i++) {
        const AgentConnection &from = list.connections[i];
        to[i].nameOffset = position;
        to[i].connectionWord1 = from.connectionWord1;
        to[i].connectionWord2 = from.connectionWord2;
        lstrcpyA((char *)block + position, from.shareName);
        position += lstrlenA(from.shareName) + 1;
    }
    return NDDE_NO_ERROR;
}

// ---- Shares ----------------------------------------------------------------

static WORD WINAPI shareSetInfo(const DWORD *args)
{
    WORD elsewhere;
    if (runsElsewhere(PartnerShareSetInfo, args, &elsewhere))
        return elsewhere;
    if (args[2] != 2)
        return NDDE_INVALID_LEVEL;
    // Only the whole share can be replaced.
    if (args[5] != 0)
        return NDDE_INVALID_PARAMETER;
    const char *shareName = textArgument(args[1]);
    if (!IsValidShareName(shareName))
        return NDDE_INVALID_SHARE;
    ShareView share;
    UINT result = readShareArgument(args[3], &share);
    return result != NDDE_NO_ERROR ? result : StoreReplaceShare(shareName, &share);
}

static WORD WINAPI shareGetInfo(const DWORD *args)
{
    BYTE *block = pointerArgument<BYTE>(args[3]);
    DWORD size = bufferSize(args[3], args[4]);
    DWORD *total = pointerArgument<DWORD>(args[5]);
    WORD *itemCount = pointerArgument<WORD>(args[6]);
    WORD elsewhere;
    if (runsElsewhere(PartnerShareGetInfo, args, &elsewhere))
        return elsewhere;
    if (args[2] != 2)
        return NDDE_INVALID_LEVEL;
    if (!total || !itemCount)
        return NDDE_INVALID_PARAMETER;
    StoredShare share;
    UINT result = StoreReadShare(textArgument(args[1]), &share);
    if (result != NDDE_NO_ERROR)
        return result;
    DWORD needed = ShareBlockSize(&share.view);
    *total = needed;
    *itemCount = (WORD)share.view.addItemCount;    // at most MaxAddItems
    if (needed <= size)
        WriteShareBlock(&share.view, block);
    else
        result = NDDE_BUF_TOO_SMALL;
    ReleaseStoredShare(&share);
    return result;
}

static WORD WINAPI shareEnum(const DWORD *args)
{
    DWORD *entries = pointerArgument<DWORD>(args[4]), *total = pointerArgument<DWORD>(args[5]);
    WORD elsewhere;
    if (runsElsewhere(PartnerShareEnum, args, &elsewhere))
        return elsewhere;
    if (args[1] != 0)
        return NDDE_INVALID_LEVEL;
    if (!entries || !total)
        return NDDE_INVALID_PARAMETER;
    return StoreListShares(pointerArgument<char>(args[2]), bufferSize(args[2], args[3]),
                           entries, total);
}

static WORD WINAPI shareDel(const DWORD *args)
{
    WORD elsewhere;
    if (runsElsewhere(PartnerShareDel, args, &elsewhere))
        return elsewhere;
    if (args[2] != 0)
        return NDDE_INVALID_PARAMETER;
    return StoreDeleteShare(textArgument(args[1]));
}

static WORD WINAPI shareAdd(const DWORD *args)
{
    WORD elsewhere;
    if (runsElsewhere(PartnerShareAdd, args, &elsewhere))
        return elsewhere;
    if (args[1] != 2)
        return NDDE_INVALID_LEVEL;
    ShareView share;
    UINT result = readShareArgument(args[2], &share);
    return result != NDDE_NO_ERROR ? result : StoreAddShare(&share);
}

// ---- The thunk block -------------------------------------------------------

static const PartnerOperation Operations[PartnerOperationCount] = {
    isValidTopic, isValidPassword, isValidShareName, getWindow, getErrorString,
    getNodeName, getClientInfo, sessionClose, connectionEnum, sessionEnum,
    shareSetInfo, shareGetInfo, shareEnum, shareDel, shareAdd,
};

extern "C" const PartnerThunkBlock thk_ThunkData16 = {
    {'L', 'S', '0', '1'}, ThunkChecksum, PartnerOperationCount, Operations,
};
