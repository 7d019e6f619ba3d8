// How programs bind the library: the fifteen functions by name, by ordinal
// and through the ordinal import library; the thunk data block; the entry
// point's answers while connected.
#include <string.h>
#include <doctest/doctest.h>
#include "library_under_test.h"

namespace {

// The addresses this program's import table received through the ordinal
// import library, in ordinal order.
void importedByOrdinal(const void *addresses[PartnerOperationCount])
{
    const void *imported[PartnerOperationCount] = {
        (const void *)&NDdeShareAdd,        (const void *)&NDdeShareDel,
        (const void *)&NDdeShareEnum,       (const void *)&NDdeShareGetInfo,
        (const void *)&NDdeShareSetInfo,    (const void *)&NDdeGetClientInfo,
        (const void *)&NDdeGetNodeName,     (const void *)&NDdeGetErrorString,
        (const void *)&NDdeConnectionEnum,  (const void *)&NDdeIsValidShareName,
        (const void *)&NDdeIsValidPassword, (const void *)&NDdeIsValidTopic,
        (const void *)&NDdeSessionEnum,     (const void *)&NDdeSessionClose,
        (const void *)&NDdeGetWindow,
    };
    memcpy(addresses, imported, sizeof imported);
}

// An export's address, by name or by ordinal.
const void *exportAt(HMODULE module, const char *nameOrOrdinal)
{
    return (const void *)GetProcAddress(module, nameOrOrdinal);
}

const BYTE *thunkData()
{
    const BYTE *block = (const BYTE *)exportAt(tessaflat().module, "thk_ThunkData32");
    REQUIRE(block != nullptr);
    return block;
}

const void *partnerThunkBlock()
{
    HMODULE partner = GetModuleHandleA("Tessaseg.dll");
    REQUIRE(partner != nullptr);
    return exportAt(partner, "thk_ThunkData16");
}

typedef BOOL(WINAPI *EntryPoint)(HINSTANCE, DWORD, LPVOID);

// The library's own entry point, from its image header.
EntryPoint entryPoint(HMODULE module)
{
    const BYTE *image = (const BYTE *)module;
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)image;
    const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)(image + dos->e_lfanew);
    return (EntryPoint)(void *)(image + nt->OptionalHeader.AddressOfEntryPoint);
}

DWORD WINAPI askNodeName(LPVOID buffer)
{
    return tessaflat().getNodeName((LPSTR)buffer, 32);
}

} // namespace

TEST_SUITE("binding") {

TEST_CASE("ordinals 100 to 114 and the ordinal import library reach the named functions")
{
    HMODULE module = tessaflat().module;
    const void *imported[PartnerOperationCount];
    importedByOrdinal(imported);
    for (int i = 0; i < PartnerOperationCount; i++) {
        INFO(ExportNames[i]);
        const void *byName = exportAt(module, ExportNames[i]);
        REQUIRE(byName != nullptr);
        CHECK(exportAt(module, MAKEINTRESOURCEA(FirstExportOrdinal + i)) == byName);
        CHECK(imported[i] == byName);
    }
    CHECK(exportAt(module, MAKEINTRESOURCEA(2)) == nullptr);
    CHECK(exportAt(module, MAKEINTRESOURCEA(99)) == nullptr);
    CHECK(exportAt(module, MAKEINTRESOURCEA(115)) == nullptr);
}

TEST_CASE("thk_ThunkData32 is ordinal 1 and names the partner's block while connected")
{
    const BYTE *block = thunkData();
    CHECK(exportAt(tessaflat().module, MAKEINTRESOURCEA(1)) == block);
    CHECK(memcmp(block, "LS01", 4) == 0);
    CHECK(dwordAt(block, 4) == 0x00023575);
    CHECK(dwordAt(block, 8) == (DWORD)(UINT_PTR)partnerThunkBlock());
    CHECK(memcmp(block + 12, "LB01", 4) == 0);
    CHECK(dwordAt(block, 16) == 0);
    CHECK(dwordAt(block, 20) == 0);
    CHECK(dwordAt(block, 24) == 0);
    CHECK(dwordAt(block, 28) == 0x24);
    CHECK(dwordAt(block, 32) == 0x44);
    for (int i = 36; i < 100; i++) {
        CAPTURE(i);
        CHECK(block[i] == 0xCC);
    }
}

TEST_CASE("thread notifications answer that the connection stands")
{
    HMODULE module = tessaflat().module;
    EntryPoint entry = entryPoint(module);
    CHECK(entry((HINSTANCE)module, DLL_THREAD_ATTACH, nullptr) == TRUE);
    CHECK(entry((HINSTANCE)module, DLL_THREAD_DETACH, nullptr) == TRUE);
    CHECK(dwordAt(thunkData(), 8) == (DWORD)(UINT_PTR)partnerThunkBlock());
}

TEST_CASE("a second thread calls through the same connection")
{
    PartnerScript &script = resetPartner();
    setReply(script, "NODE2", 6);
    char name[32] = {};
    HANDLE thread = CreateThread(nullptr, 0, askNodeName, name, 0, nullptr);
    REQUIRE(thread != nullptr);
    REQUIRE(WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0);
    DWORD result = 0xFFFFFFFF;
    CHECK(GetExitCodeThread(thread, &result));
    CloseHandle(thread);
    CHECK(result == NDDE_NO_ERROR);
    CHECK(strcmp(name, "NODE2") == 0);
    CHECK(script.callCount == 1);
    // The thread's attach and detach left the connection as it was.
    CHECK(dwordAt(thunkData(), 8) == (DWORD)(UINT_PTR)partnerThunkBlock());
    CHECK(tessaflat().getNodeName(name, sizeof name) == NDDE_NO_ERROR);
}

}
