// Connecting to the partner library at load time and calling its operations.
//
// On this platform there are no 32-to-16 thunks, so the connection is made by
// a stand-in for ThunkConnect32: it loads the partner DLL by its file name,
// finds its thunk block by name and checks it against our own block (signature,
// checksum, number of operations). Pointers cross as flat addresses, so mapping
// a pointer and releasing the mapping are identities here.
#include "thunk.h"

#pragma pack(push, 1)
struct ThunkData32 {
    char signature[4];
    DWORD checksum;
    DWORD partnerBlock;            // the partner's block while connected
    char secondSignature[4];
    DWORD platformReserved[3];
    DWORD firstCodeOffset;
    DWORD secondCodeOffset;
    BYTE firstCode[32];
    BYTE secondCode[32];
};
#pragma pack(pop)
static_assert(sizeof(ThunkData32) == 100, "thk_ThunkData32 is 100 bytes");
static_assert(offsetof(ThunkData32, firstCode) == 0x24, "first code area");
static_assert(offsetof(ThunkData32, secondCode) == 0x44, "second code area");

#define CODE_FILL 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC
extern "C" {
ThunkData32 thk_ThunkData32 = {
    {'L', 'S', '0', '1'}, ThunkChecksum, 0, {'L', 'B', '0', '1'}, {0, 0, 0},
    offsetof(ThunkData32, firstCode), offsetof(ThunkData32, secondCode),
    {CODE_FILL, CODE_FILL, CODE_FILL, CODE_FILL},
    {CODE_FILL, CODE_FILL, CODE_FILL, CODE_FILL},
};
}

static const char PartnerBlockName[] = "thk_ThunkData16";
static const char PartnerFileName[] = "Tessaseg.DLL";
static const char OwnFileName[] = "Tessaflat.DLL";

static HMODULE partnerModule;

static const PartnerThunkBlock *connectedBlock()
{
    return (const PartnerThunkBlock *)(UINT_PTR)thk_ThunkData32.partnerBlock;
}

// A partner block we can call through: our signature and checksum, exactly
// the operations we know, and an entry for each of them.
static bool isUsablePartnerBlock(const ThunkData32 *own, const PartnerThunkBlock *block)
{
    if (!block || memcmp(block->signature, own->signature, sizeof block->signature) != 0 ||
        block->checksum != own->checksum || block->operationCount != PartnerOperationCount ||
        !block->operations)
        return false;
    for (DWORD i = 0; i < PartnerOperationCount; i++)
        if (!block->operations[i])
            return false;
    return true;
}

static BOOL connectPartner(ThunkData32 *own, const char *blockName, const char *partnerFile)
{
    HMODULE module = LoadLibraryA(partnerFile);
    if (!module)
        return FALSE;
    const PartnerThunkBlock *block = (const PartnerThunkBlock *)GetProcAddress(module, blockName);
    if (!isUsablePartnerBlock(own, block)) {
        FreeLibrary(module);
        return FALSE;
    }
    partnerModule = module;
    own->partnerBlock = (DWORD)(UINT_PTR)block;
    return TRUE;
}

static void disconnectPartner(ThunkData32 *own)
{
    own->partnerBlock = 0;
    if (partnerModule)
        FreeLibrary(partnerModule);
    partnerModule = 0;
}

// Stand-in for the platform's ThunkConnect32: connects on process attach,
// disconnects on process detach, and answers every notification with
// whether the connection stands.
static BOOL thunkConnect32(ThunkData32 *own, const char *blockName, const char *partnerFile,
                           const char *ownFile, HINSTANCE instance, DWORD reason)
{
    (void)ownFile;
    (void)instance;
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return connectPartner(own, blockName, partnerFile);
    case DLL_PROCESS_DETACH:
        disconnectPartner(own);
        return TRUE;
    default:
        return connectedBlock() != 0;
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    return thunkConnect32(&thk_ThunkData32, PartnerBlockName, PartnerFileName, OwnFileName,
                          instance, reason) != 0;
}

static WORD callOperation(PartnerOperationIndex index, const DWORD *args)
{
    return connectedBlock()->operations[index](args);
}

UINT callPartner(PartnerOperationIndex index, const DWORD *args)
{
    return callOperation(index, args);
}

BOOL callPartnerCheck(PartnerOperationIndex index, const DWORD *args)
{
    return (SHORT)callOperation(index, args);
}
