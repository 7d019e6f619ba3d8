// What crosses between Tessaflat and its partner library Tessaseg.
//
// The partner DLL ("Tessaseg.DLL", found by the normal DLL search) exports the
// data symbol thk_ThunkData16, a PartnerThunkBlock naming its operation table.
// Each operation receives its arguments as an array of 32-bit values, in the
// order of the partner table, each in partner form:
//   far pointer  - the caller's flat 32-bit address (0 for null);
//   16-bit value - the low 16 bits of the caller's argument, widened with zeros;
//   32-bit value - unchanged.
// It returns a 16-bit result: a code, a truth value or a window handle.
//
// Share records cross as one flat ShareTransferBlock: the ShareInfo header
// with byte offsets from the block's first byte in place of pointers.
#ifndef PARTNERLINK_H
#define PARTNERLINK_H

#include "tessaflat.h"

// Indices of the partner table, with the argument forms each receives.
enum PartnerOperationIndex {
    PartnerIsValidTopic = 0,       // topic: far
    PartnerIsValidPassword = 1,    // password: far
    PartnerIsValidShareName = 2,   // shareName: far
    PartnerGetWindow = 3,          // no arguments
    PartnerGetErrorString = 4,     // errorCode: 16; buffer: far; size: 32
    PartnerGetNodeName = 5,        // buffer: far; size: 32
    PartnerGetClientInfo = 6,      // window: 16; client: far; size: 32; task: far; size: 32
    PartnerSessionClose = 7,       // server: far; clientName: far; sessionId: 32
    PartnerConnectionEnum = 8,     // server: far; clientName: far; sessionId: 32; level: 16;
                                   // block: far; size: 32; totalAvailable: far; entriesRead: far
    PartnerSessionEnum = 9,        // server: far; level: 16; block: far; size: 32;
                                   // totalAvailable: far; entriesRead: far
    PartnerShareSetInfo = 10,      // server: far; shareName: far; level: 16; block: far;
                                   // size: 32; parameterNumber: 16
    PartnerShareGetInfo = 11,      // server: far; shareName: far; level: 16; block: far;
                                   // size: 32; totalAvailable: far; itemCount: far
    PartnerShareEnum = 12,         // server: far; level: 16; buffer: far; size: 32;
                                   // entriesRead: far; totalAvailable: far
    PartnerShareDel = 13,          // server: far; shareName: far; reserved: 16
    PartnerShareAdd = 14,          // server: far; level: 16; block: far; size: 32
    PartnerOperationCount = 15
};

typedef WORD(WINAPI *PartnerOperation)(const DWORD *args);

const DWORD ThunkChecksum = 0x00023575;

#pragma pack(push, 1)

// The partner's exported thk_ThunkData16.
struct PartnerThunkBlock {
    char signature[4];             // "LS01"
    DWORD checksum;                // ThunkChecksum
    DWORD operationCount;          // PartnerOperationCount
    const PartnerOperation *operations;
};

// Header of a ShareTransferBlock: ShareInfo with offsets for pointers.
struct ShareTransferHeader {
    char shareName[ShareNameSize];
    DWORD appName;
    DWORD topicName;
    DWORD password1;
    DWORD password1Length;
    SharePermissions permissions1;
    DWORD password2;
    DWORD password2Length;
    SharePermissions permissions2;
    DWORD firstItem;
    LONG addItemCount;
    DWORD addItems;                // 0 when there is no item table
};

// One entry of a transfer block's item table.
struct AddItemEntry {
    DWORD nameOffset;
    SharePermissions permissions;
};

// A connection entry as the partner writes it into its block.
struct ConnectionBlockEntry {
    DWORD nameOffset;
    WORD connectionWord1;
    WORD connectionWord2;
};

#pragma pack(pop)

static_assert(sizeof(PartnerThunkBlock) == 16, "thk_ThunkData16 is 16 bytes");
static_assert(sizeof(ShareTransferHeader) == ShareInfoHeaderSize, "transfer header is 112 bytes");
static_assert(offsetof(ShareTransferHeader, appName) == offsetof(ShareInfo, appName), "appName");
static_assert(offsetof(ShareTransferHeader, firstItem) == offsetof(ShareInfo, firstItem), "firstItem");
static_assert(offsetof(ShareTransferHeader, addItems) == offsetof(ShareInfo, addItems), "addItems");
static_assert(sizeof(AddItemEntry) == 8, "AddItemEntry is 8 bytes");
static_assert(sizeof(ConnectionBlockEntry) == 8, "ConnectionBlockEntry is 8 bytes");

#endif
