// How the Network DDE agent (nddeagent.exe) is reached: by the partner
// library through window messages, by other nodes' agents and client nodes
// over TCP (the wire protocol of netdde_wire.h).
//
// Sessions. A node opens one session per TCP connection and names itself;
// the agent gives it a sessionId, unique among the running agent's served
// sessions, counting up from a start value (top bit set by default, so the
// whole 32-bit range is in use) and skipping 0 and ids still in use.
//   sessionWord     - the number of shares the session is connected to.
// Connections. Within a session the node opens conversations on shares by
// name, proving a password against the agent's challenge (the password
// itself never travels). The agent grants an existing share whose password
// #1 or #2 made the proof, compared byte for byte; password #1 is tried
// first. Otherwise it
// refuses: NDDE_SHARE_NOT_EXIST, NDDE_SHARE_DATA_CORRUPTED,
// NDDE_ACCESS_DENIED (no password matches), NDDE_INVALID_SHARE, or
// NDDE_CANT_ACCESS_SERVER (the share's DDE server does not answer). The
// session's connections are the shares it has open conversations on, in the
// order they were first opened; the latest grant of a share gives its words:
//   connectionWord1 - the number of the password that granted it: 1 or 2;
//   connectionWord2 - the permissions that password carries (SharePermissions).
#ifndef AGENTLINK_H
#define AGENTLINK_H

#include "tessaflat.h"
#include "deadlines.h"

// ---- The agent program -----------------------------------------------------

const char AgentWindowClass[] = "NDdeAgent";
const char AgentWindowTitle[] = "Network DDE Agent";
const char AgentRunningMutex[] = "NDdeAgent.Running";     // held while one runs
const unsigned short AgentDefaultPort = 7391;             // TCP, every interface
const DWORD AgentDefaultFirstSession = 0x80000001;

const int AgentStateListId = 100;   // the window's hidden list of its state as lines, for tools
const int MaxNodeNameLength = 15;
// Sessions served at once: the registry's MaxSessions (a DWORD under
// HKLM\Software\Tessaseg\Agent) when a site sets it, else
// AgentDefaultSessionLimit; never more than AgentMaxSessions, and fewer when
// the agent's memory for TLS (TlsMemoryBudget) holds no more. A node over
// the limit is told it is busy before any TLS work (netdde_wire.h).
const char AgentSessionLimitValue[] = "MaxSessions";
const int AgentDefaultSessionLimit = 1024;
const int AgentMaxSessions = 4096;
const int AgentMaxSessionsPerAddress = 32;                // served for one peer address
const int AgentMaxOutgoingSessions = 128;                 // to other nodes, apart from those
const int AgentMaxConnections = 64;                       // per session
// Connections from one address that may wait to greet at once; the rest are
// refused before any TLS work.
const int AgentMaxUngreetedPerAddress = 4;
// Handshakes one address may start at once, then each second: a connection
// over that rate waits for its turn, unread, within its time to greet.
const int AgentHandshakeBurst = 16;
const int AgentHandshakesPerSecond = 8;

// ---- Partner to agent: WM_COPYDATA ----------------------------------------
// The partner sends WM_COPYDATA to the agent's window with SendMessageTimeout
// (AgentReplyTimeout), wParam its own reply window, dwData the request kind,
// the data an AgentRequest. The agent answers with an NDde result code; for
// the two lists it first sends its reply to the reply window as WM_COPYDATA
// with dwData AgentReply and the entries as data.
//
// A call of an NDde function on another node (remotecall.h) goes with
// AgentAdministerNode: the data an AgentAdministration, then the call. The
// agent answers at once: NDDE_NO_ERROR when it takes the call, else the
// code the caller gets. The answer to a call it took comes later, as an
// AgentReply to the reply window whose data is the call's answer; the
// partner waits for it at most RemoteCallTimeout (deadlines.h), taking in
// sent messages meanwhile. The call of a node the agent cannot reach, or
// that does not answer in time, gets NDDE_CANT_ACCESS_SERVER; a node whose
// administrator has not allowed remote administration, or whose password
// the user does not know, NDDE_ACCESS_DENIED.

enum AgentRequestKind : DWORD {
    AgentListSessions = 0x4E440001,     // reply: AgentSession entries
    AgentListConnections = 0x4E440002,  // reply: AgentConnection entries of one session
    AgentCloseSession = 0x4E440003,     // no reply data
    AgentAdministerNode = 0x4E440004,   // reply later: the call's answer
    AgentReply = 0x4E440010,
};

#pragma pack(push, 1)

struct AgentRequest {
    char clientName[ClientNameSize];    // the session's client (list connections, close)
    DWORD sessionId;
};

struct AgentAdministration {
    char node[MaxNodeNameLength + 1];   // the node the call runs on
};

struct AgentSession {
    char clientName[ClientNameSize];
    WORD sessionWord;
    DWORD sessionId;
};

struct AgentConnection {
    char shareName[ShareNameSize];
    WORD connectionWord1;
    WORD connectionWord2;
};

#pragma pack(pop)

// ---- Connections over TCP ---------------------------------------------------
// A connection that has no session AgentGreetingTimeout (deadlines.h) after
// it was made is closed; while every place is taken, a new connection takes
// the place of the longest-waiting one without a session. No handshake is
// run for a connection whose peer has closed it already. A greeting while
// every place of sessions (or of sessions from its address) is taken takes
// the place of the session idle longest without a conversation.
// A served session that holds no conversation for ServedIdleTimeout ends.

// Options, the answer words the client reads and node names ignore the case
// of ASCII letters only, the same on every machine: a locale's collation would also fold
// other letters and ignore some bytes altogether (a soft hyphen).
inline char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Whether the first `length` bytes of `a` and `b` match, ignoring ASCII case.
inline bool matchesIgnoringAsciiCase(const char *a, const char *b, int length)
{
    for (int i = 0; i < length; i++)
        if (asciiUpper(a[i]) != asciiUpper(b[i]))
            return false;
    return true;
}

// Whether `text` begins with `prefix`, ignoring ASCII case.
inline bool startsWith(const char *text, const char *prefix)
{
    int length = lstrlenA(prefix);
    return lstrlenA(text) >= length && matchesIgnoringAsciiCase(text, prefix, length);
}

// Whether two node names are the same: the same length, the same bytes but
// for the case of ASCII letters.
inline bool isSameNodeName(const char *a, const char *b)
{
    int length = lstrlenA(a);
    return lstrlenA(b) == length && matchesIgnoringAsciiCase(a, b, length);
}

// Node names: 1 to MaxNodeNameLength visible ASCII characters but those
// that break a name where it is used (netdde_wire.h).
const char NodeNameBreakingCharacters[] = "\\/:*?\"<>|";

inline bool IsNodeNameCharacter(BYTE c)
{
    if (c < 0x21 || c > 0x7E)
        return false;
    for (const char *breaking = NodeNameBreakingCharacters; *breaking; breaking++)
        if (c == (BYTE)*breaking)
            return false;
    return true;
}

inline bool IsValidNodeName(const char *name)
{
    int length = lstrlenA(name);
    for (int i = 0; i < length; i++)
        if (!IsNodeNameCharacter((BYTE)name[i]))
            return false;
    return length >= 1 && length <= MaxNodeNameLength;
}

#endif
