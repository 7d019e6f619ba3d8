// A scripted Tessaflat.dll for Marrowby's session, connection and task
// dialogs: it answers what the real library never gives, so the tests can
// see how the program reads such answers. The tests copy it beside a copy of
// Marrowby.exe, which binds it by name. The variable MARROWBY_SCRIPT chooses
// the script:
//   "long-name"           two sessions: SHORT (id 7) and a client name of 18
//                         characters without a terminator, its sessionWord
//                         bytes 'X' and 'Y' behind it (id 0x80000042);
//   "stalled-sessions"    the session list answers 2 with no entries and a
//                         total of 40 bytes, whatever it is offered;
//   "covered-sessions"    the session list answers 2 with one entry and a
//                         total of 10 bytes, whatever it is offered;
//   "growing-sessions"    the session list answers 2 with one entry and a
//                         total 100 bytes above each offer;
//   "stray-connection"    one session, NODEA; its connection list holds a
//                         name inside the buffer and one placed outside it;
//   "stalled-connections" one session, NODEA; its connection list answers 2
//                         with no entries and a total of 40 bytes;
//   "client-info-fails"   the first NDdeGetClientInfo call names the task
//                         SCRIPTED, every later one answers code 23;
//   "properties-fail"     NDdeGetClientInfo names the task SCRIPTED when
//                         its task buffer comes with the window's title (the
//                         task list's call) and answers code 23 when it comes
//                         empty (the properties' call).
//   "full-task-name"      NDdeGetClientInfo fills the whole task buffer with
//                         'T', leaving no NUL in it.
// Every error text counts the calls so far and the size last offered to
// the session list, so a test that reads the program's report sees what
// the program asked.
#define TESSAFLAT_BUILD
#include <tessaflat.h>

const UINT ScriptedError = NDDE_REGISTRY_ERROR;
// What the program must never show: it lies outside every buffer.
static char strayName[] = "STRAY$";

static int sessionCalls, connectionCalls, clientInfoCalls;
static DWORD lastSessionSize;

static bool scriptIs(const char *script)
{
    char chosen[32] = "";
    GetEnvironmentVariableA("MARROWBY_SCRIPT", chosen, sizeof chosen);
    return lstrcmpA(chosen, script) == 0;
}

// Answers a list: code 2 with the counts when the entries do not fit size,
// otherwise the entries copied into buffer.
static UINT answerList(const BYTE *entries, DWORD length, DWORD count, LPBYTE buffer, DWORD size,
                       LPDWORD totalAvailable, LPDWORD entriesRead)
{
    *totalAvailable = length;
    *entriesRead = count;
    if (!buffer || size < length)
        return NDDE_BUF_TOO_SMALL;
    CopyMemory(buffer, entries, length);
    return NDDE_NO_ERROR;
}

static void putSession(BYTE *entry, const char *name, DWORD nameLength, WORD sessionWord, DWORD sessionId)
{
    SessionEntry *session = (SessionEntry *)entry;
    CopyMemory(session->clientName, name, nameLength);
    session->sessionWord = sessionWord;
    session->sessionId = sessionId;
}

extern "C" UINT WINAPI NDdeSessionEnum(LPSTR, UINT, LPBYTE buffer, DWORD bufferSize, LPDWORD totalAvailable,
                                       LPDWORD entriesRead)
{
    ++sessionCalls;
    lastSessionSize = bufferSize;
    if (scriptIs("stalled-sessions")) {
        *totalAvailable = 40;
        *entriesRead = 0;
        return NDDE_BUF_TOO_SMALL;
    }
    if (scriptIs("covered-sessions")) {
        *totalAvailable = 10;
        *entriesRead = 1;
        return NDDE_BUF_TOO_SMALL;
    }
    if (scriptIs("growing-sessions")) {
        *totalAvailable = bufferSize + 100;
        *entriesRead = 1;
        return NDDE_BUF_TOO_SMALL;
    }
    BYTE entries[2 * sizeof(SessionEntry)] = {};
    if (scriptIs("long-name")) {
        putSession(entries, "SHORT", 5, 0, 7);
        putSession(entries + sizeof(SessionEntry), "ABCDEFGHIJKLMNOPQR", ClientNameSize, 'X' + 256 * 'Y', 0x80000042);
        return answerList(entries, sizeof entries, 2, buffer, bufferSize, totalAvailable, entriesRead);
    }
    putSession(entries, "NODEA", 5, 0, 0x80000001);
    return answerList(entries, sizeof(SessionEntry), 1, buffer, bufferSize, totalAvailable, entriesRead);
}

extern "C" UINT WINAPI NDdeConnectionEnum(LPSTR, LPSTR, LONG, UINT, LPBYTE buffer, DWORD bufferSize,
                                          LPDWORD totalAvailable, LPDWORD entriesRead)
{
    ++connectionCalls;
    if (scriptIs("stalled-connections")) {
        *totalAvailable = 40;
        *entriesRead = 0;
        return NDDE_BUF_TOO_SMALL;
    }
    // Two entries, then the name INSIDE$ that the first points to; the
    // second points at a name of this library.
    const DWORD tableSize = 2 * sizeof(ConnectionEntry);
    static const char inside[] = "INSIDE$";
    DWORD total = tableSize + sizeof inside;
    *totalAvailable = total;
    *entriesRead = 2;
    if (!buffer || bufferSize < total)
        return NDDE_BUF_TOO_SMALL;
    ConnectionEntry *entries = (ConnectionEntry *)buffer;
    CopyMemory(buffer + tableSize, inside, sizeof inside);
    entries[0].connectedShare = (char *)buffer + tableSize;
    entries[1].connectedShare = strayName;
    return NDDE_NO_ERROR;
}

extern "C" UINT WINAPI NDdeGetClientInfo(HWND, LPSTR clientBuffer, LONG clientBufferSize, LPSTR taskBuffer,
                                         LONG taskBufferSize)
{
    if (++clientInfoCalls > 1 && scriptIs("client-info-fails"))
        return ScriptedError;
    if (taskBuffer[0] == 0 && scriptIs("properties-fail"))
        return ScriptedError;
    lstrcpynA(clientBuffer, "SCRIPTNODE", clientBufferSize);
    if (scriptIs("full-task-name"))
        FillMemory(taskBuffer, taskBufferSize, 'T');
    else
        lstrcpynA(taskBuffer, "SCRIPTED", taskBufferSize);
    return NDDE_NO_ERROR;
}

extern "C" UINT WINAPI NDdeGetErrorString(UINT errorCode, LPSTR errorBuffer, DWORD errorBufferSize)
{
    char text[128];
    wsprintfA(text, "code %u; calls %d/%d/%d; offered %lu", errorCode, sessionCalls, connectionCalls,
              clientInfoCalls, lastSessionSize);
    lstrcpynA(errorBuffer, text, (int)errorBufferSize);
    return NDDE_NO_ERROR;
}

extern "C" BOOL WINAPI NDdeIsValidShareName(LPSTR shareName)
{
    return shareName != nullptr;
}

extern "C" HWND WINAPI NDdeGetWindow(void)
{
    return nullptr;
}
