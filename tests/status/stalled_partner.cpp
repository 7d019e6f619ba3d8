// A scripted partner (Tessaseg.dll of its own folder) whose session or
// connection enumeration keeps answering "buffer too small" without ever
// asking for a larger buffer. The variable STALLED_LIST chooses which:
//   "sessions"     NDdeSessionEnum answers 2 with no entries and a total of
//                  one entry, whatever buffer it is offered;
//   "connections"  NDdeSessionEnum lists one session of node STALLED;
//                  NDdeConnectionEnum answers 2 with no entries and a total
//                  that the offered buffer already covers.
// The error text names how often the list was asked for, so a test reading
// the program's error report can tell that the retry ended at once.
#include <windows.h>

#include "scripted_partner.h"

static const char StalledClient[] = "STALLED";
const DWORD StalledSessionId = 0x80000007;

static int listCalls;

// args: errorCode, buffer, size.
static WORD WINAPI errorString(const DWORD *args)
{
    char text[64];
    wsprintfA(text, "scripted code %u after %d list calls", (unsigned)args[0], listCalls);
    copyErrorText(args, text);
    return NDDE_NO_ERROR;
}

// args: server, level, block, size, totalAvailable, entriesRead.
static WORD WINAPI sessionEnum(const DWORD *args)
{
    ++listCalls;
    DWORD size = args[3];
    DWORD *totalAvailable = (DWORD *)args[4];
    DWORD *entriesRead = (DWORD *)args[5];
    if (variableIs("STALLED_LIST", "sessions")) {
        *totalAvailable = sizeof(SessionEntry);
        *entriesRead = 0;
        return NDDE_BUF_TOO_SMALL;
    }
    *totalAvailable = sizeof(SessionEntry);
    *entriesRead = 1;
    if (size < sizeof(SessionEntry))
        return NDDE_BUF_TOO_SMALL;
    SessionEntry *entry = (SessionEntry *)args[2];
    lstrcpyA(entry->clientName, StalledClient);
    entry->sessionId = StalledSessionId;
    return NDDE_NO_ERROR;
}

// args: server, clientName, sessionId, level, block, size, totalAvailable,
// entriesRead.
static WORD WINAPI connectionEnum(const DWORD *args)
{
    ++listCalls;
    *(DWORD *)args[6] = args[5] > 0 ? args[5] : 8;
    *(DWORD *)args[7] = 0;
    return NDDE_BUF_TOO_SMALL;
}

const PartnerOperation scriptedOperations[PartnerOperationCount] = {
    answerZero,       // IsValidTopic
    answerZero,       // IsValidPassword
    answerZero,       // IsValidShareName
    answerZero,       // GetWindow
    errorString,      // GetErrorString
    notImplemented,   // GetNodeName
    notImplemented,   // GetClientInfo
    notImplemented,   // SessionClose
    connectionEnum,   // ConnectionEnum
    sessionEnum,      // SessionEnum
    notImplemented,   // ShareSetInfo
    notImplemented,   // ShareGetInfo
    notImplemented,   // ShareEnum
    notImplemented,   // ShareDel
    notImplemented,   // ShareAdd
};
