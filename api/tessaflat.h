// Tessaflat: the Network DDE share-management interface for 32-bit programs.
//
// The fifteen NDde functions, by name and by ordinal 100 to 114, with the
// records that cross the library boundary. Every record is laid out to the
// byte; the static_asserts below hold the layout fixed.
#ifndef TESSAFLAT_H
#define TESSAFLAT_H

#include <windows.h>
#include <stddef.h>

// Result codes. Every function except the validity checks and NDdeGetWindow
// returns one of these, widened from the partner's 16-bit result.
enum NDdeResult : UINT {
    NDDE_NO_ERROR = 0,
    NDDE_ACCESS_DENIED = 1,
    NDDE_BUF_TOO_SMALL = 2,
    NDDE_ERROR_MORE_DATA = 3,
    NDDE_INVALID_SERVER = 4,
    NDDE_INVALID_SHARE = 5,
    NDDE_INVALID_PARAMETER = 6,
    NDDE_INVALID_LEVEL = 7,
    NDDE_INVALID_PASSWORD = 8,
    NDDE_INVALID_ITEMNAME = 9,
    NDDE_INVALID_TOPIC = 10,
    NDDE_INTERNAL_ERROR = 11,
    NDDE_OUT_OF_MEMORY = 12,
    NDDE_INVALID_APPNAME = 13,
    NDDE_NOT_IMPLEMENTED = 14,
    NDDE_SHARE_ALREADY_EXIST = 15,
    NDDE_SHARE_NOT_EXIST = 16,
    NDDE_INVALID_FILENAME = 17,
    NDDE_NOT_RUNNING = 18,
    NDDE_INVALID_WINDOW = 19,
    NDDE_INVALID_SESSION = 20,
    NDDE_INVALID_ITEM_LIST = 21,
    NDDE_SHARE_DATA_CORRUPTED = 22,
    NDDE_REGISTRY_ERROR = 23,
    NDDE_CANT_ACCESS_SERVER = 24,
};

// What a client holding a share's password (or reading an item) may do.
typedef DWORD SharePermissions;
enum SharePermission : DWORD {
    Request = 0x01,
    Advise = 0x02,
    Poke = 0x04,
    Execute = 0x08,
    StartApp = 0x10,
};

const int ShareNameSize = 68;       // shareName with its terminator
const int ClientNameSize = 18;      // SessionEntry clientName with its terminator
const int ShareInfoHeaderSize = 112;

#pragma pack(push, 1)

// One additional item of a share.
struct AddItemInfo {
    char *itemName;
    SharePermissions permissions;
};

// A DDE share as callers hand it over (NDdeShareAdd, NDdeShareSetInfo) and
// receive it (NDdeShareGetInfo, level 2). The caller owns the strings.
struct ShareInfo {
    char shareName[ShareNameSize];
    char *appName;
    char *topicName;
    BYTE *password1;
    DWORD password1Length;
    SharePermissions permissions1;
    BYTE *password2;
    DWORD password2Length;
    SharePermissions permissions2;
    char *firstItem;
    LONG addItemCount;
    AddItemInfo *addItems;
};

// Level-1 session information (NDdeSessionEnum).
struct SessionEntry {
    char clientName[ClientNameSize];
    WORD sessionWord;
    DWORD sessionId;
};

// Level-1 connection information (NDdeConnectionEnum); connectedShare points
// into the same caller buffer.
struct ConnectionEntry {
    char *connectedShare;
    WORD connectionWord1;
    WORD connectionWord2;
};

#pragma pack(pop)

static_assert(sizeof(AddItemInfo) == 8, "AddItemInfo is 8 bytes");
static_assert(offsetof(AddItemInfo, permissions) == 4, "AddItemInfo.permissions");
static_assert(sizeof(ShareInfo) == ShareInfoHeaderSize, "ShareInfo header is 112 bytes");
static_assert(offsetof(ShareInfo, appName) == 68, "ShareInfo.appName");
static_assert(offsetof(ShareInfo, topicName) == 72, "ShareInfo.topicName");
static_assert(offsetof(ShareInfo, password1) == 76, "ShareInfo.password1");
static_assert(offsetof(ShareInfo, password1Length) == 80, "ShareInfo.password1Length");
static_assert(offsetof(ShareInfo, permissions1) == 84, "ShareInfo.permissions1");
static_assert(offsetof(ShareInfo, password2) == 88, "ShareInfo.password2");
static_assert(offsetof(ShareInfo, password2Length) == 92, "ShareInfo.password2Length");
static_assert(offsetof(ShareInfo, permissions2) == 96, "ShareInfo.permissions2");
static_assert(offsetof(ShareInfo, firstItem) == 100, "ShareInfo.firstItem");
static_assert(offsetof(ShareInfo, addItemCount) == 104, "ShareInfo.addItemCount");
static_assert(offsetof(ShareInfo, addItems) == 108, "ShareInfo.addItems");
static_assert(sizeof(SessionEntry) == 24, "SessionEntry is 24 bytes");
static_assert(offsetof(SessionEntry, sessionWord) == 18, "SessionEntry.sessionWord");
static_assert(offsetof(SessionEntry, sessionId) == 20, "SessionEntry.sessionId");
static_assert(sizeof(ConnectionEntry) == 8, "ConnectionEntry is 8 bytes");
static_assert(offsetof(ConnectionEntry, connectionWord1) == 4, "ConnectionEntry.connectionWord1");
static_assert(offsetof(ConnectionEntry, connectionWord2) == 6, "ConnectionEntry.connectionWord2");

#ifdef TESSAFLAT_BUILD
#define TESSAFLAT_API extern "C"   // exported by name and ordinal through Tessaflat.def
#else
#define TESSAFLAT_API extern "C" __declspec(dllimport)
#endif

// Ordinal 100. Adds a share (level 2) described by share; bufferSize is the
// caller's size of the record and its data. May set share->addItemCount to 0
// when it is positive and addItems is null.
TESSAFLAT_API UINT WINAPI NDdeShareAdd(LPSTR server, UINT level, LPBYTE share, DWORD bufferSize);
// Ordinal 101. Deletes the share named shareName; reserved is 0.
TESSAFLAT_API UINT WINAPI NDdeShareDel(LPSTR server, LPSTR shareName, UINT reserved);
// Ordinal 102. Lists the share names (level 0) into buffer, each ended by a
// zero byte; on code 2 the counts tell the size needed.
TESSAFLAT_API UINT WINAPI NDdeShareEnum(LPSTR server, UINT level, LPBYTE buffer, DWORD bufferSize,
                                        LPDWORD entriesRead, LPDWORD totalAvailable);
// Ordinal 103. Reads a share (level 2) into buffer as a ShareInfo whose
// pointers point into buffer. Buffer is written only on success.
TESSAFLAT_API UINT WINAPI NDdeShareGetInfo(LPSTR server, LPSTR shareName, UINT level, LPBYTE buffer,
                                           DWORD bufferSize, LPDWORD totalAvailable, LPWORD itemCount);
// Ordinal 104. Replaces the share named shareName by the record share.
TESSAFLAT_API UINT WINAPI NDdeShareSetInfo(LPSTR server, LPSTR shareName, UINT level, LPBYTE share,
                                           DWORD bufferSize, UINT parameterNumber);
// Ordinal 105. Names the node and the task behind window.
TESSAFLAT_API UINT WINAPI NDdeGetClientInfo(HWND window, LPSTR clientBuffer, LONG clientBufferSize,
                                            LPSTR taskBuffer, LONG taskBufferSize);
// Ordinal 106. The local node name.
TESSAFLAT_API UINT WINAPI NDdeGetNodeName(LPSTR nodeNameBuffer, DWORD nodeNameBufferSize);
// Ordinal 107. The text for a result code.
TESSAFLAT_API UINT WINAPI NDdeGetErrorString(UINT errorCode, LPSTR errorBuffer, DWORD errorBufferSize);
// Ordinal 108. Lists the connections (level 1) of one session into buffer as
// ConnectionEntry records followed by their share names.
TESSAFLAT_API UINT WINAPI NDdeConnectionEnum(LPSTR server, LPSTR clientName, LONG sessionId, UINT level,
                                             LPBYTE buffer, DWORD bufferSize, LPDWORD totalAvailable,
                                             LPDWORD entriesRead);
// Ordinals 109 to 111. Non-zero when the text is acceptable.
TESSAFLAT_API BOOL WINAPI NDdeIsValidShareName(LPSTR shareName);
TESSAFLAT_API BOOL WINAPI NDdeIsValidPassword(LPSTR password);
TESSAFLAT_API BOOL WINAPI NDdeIsValidTopic(LPSTR topicName);
// Ordinal 112. Lists the sessions (level 1) into buffer as SessionEntry records.
TESSAFLAT_API UINT WINAPI NDdeSessionEnum(LPSTR server, UINT level, LPBYTE buffer, DWORD bufferSize,
                                          LPDWORD totalAvailable, LPDWORD entriesRead);
// Ordinal 113. Ends the session sessionId of the client clientName.
TESSAFLAT_API UINT WINAPI NDdeSessionClose(LPSTR server, LPSTR clientName, LONG sessionId);
// Ordinal 114. The window of the Network DDE agent, or null.
TESSAFLAT_API HWND WINAPI NDdeGetWindow(void);

#endif
