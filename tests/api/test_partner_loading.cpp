// Loading Tessaflat.dll beside different partners: it loads only when the
// partner it finds exports a thunk block it can connect to.
//
// This program lives in a folder without any Tessaseg.dll. Each case copies
// the library and one partner (as Tessaseg.dll) into a fresh temporary
// folder, makes that the current folder so the DLL search finds the partner
// there, and loads the library from it.
#include <string.h>
#include <string>
#include <doctest/doctest.h>
#include "partnerlink.h"

namespace {

// The folder of this program, with a trailing backslash.
std::string programFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    REQUIRE(length > 0);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// A fresh empty folder under the temporary folder.
std::string makeTemporaryFolder()
{
    char base[MAX_PATH], name[MAX_PATH];
    REQUIRE(GetTempPathA(sizeof base, base) > 0);
    REQUIRE(GetTempFileNameA(base, "tfl", 0, name) != 0);
    DeleteFileA(name);
    REQUIRE(CreateDirectoryA(name, nullptr));
    return std::string(name) + "\\";
}

// What a load of the library beside one partner gave.
struct LoadOutcome {
    bool loaded;
    DWORD connectedBlock;       // bytes 8-11 of thk_ThunkData32 while loaded
    DWORD partnerBlock;         // the partner's thk_ThunkData16 while loaded
    bool partnerLeftLoaded;     // Tessaseg.dll still in the process afterwards
};

// Loads the library from a temporary folder holding `partnerFile` (relative
// to this program's folder) as Tessaseg.dll, or no partner for null.
LoadOutcome loadBeside(const char *partnerFile)
{
    REQUIRE(GetModuleHandleA("Tessaseg.dll") == nullptr);
    const std::string here = programFolder();
    const std::string folder = makeTemporaryFolder();
    const std::string library = folder + "Tessaflat.dll";
    const std::string partner = folder + "Tessaseg.dll";
    REQUIRE(CopyFileA((here + "..\\Tessaflat.dll").c_str(), library.c_str(), FALSE));
    if (partnerFile)
        REQUIRE(CopyFileA((here + partnerFile).c_str(), partner.c_str(), FALSE));

    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(folder.c_str());
    LoadOutcome outcome = {};
    HMODULE module = LoadLibraryA(library.c_str());
    SetCurrentDirectoryA(previous);
    if (module) {
        outcome.loaded = true;
        const BYTE *block = (const BYTE *)GetProcAddress(module, "thk_ThunkData32");
        REQUIRE(block != nullptr);
        memcpy(&outcome.connectedBlock, block + 8, sizeof outcome.connectedBlock);
        HMODULE partnerModule = GetModuleHandleA("Tessaseg.dll");
        if (partnerModule)
            outcome.partnerBlock = (DWORD)(UINT_PTR)GetProcAddress(partnerModule, "thk_ThunkData16");
        FreeLibrary(module);
    }
    outcome.partnerLeftLoaded = GetModuleHandleA("Tessaseg.dll") != nullptr;
    DeleteFileA(library.c_str());
    DeleteFileA(partner.c_str());
    RemoveDirectoryA(folder.c_str());
    return outcome;
}

} // namespace

TEST_SUITE("partner_loading") {

TEST_CASE("beside a usable partner the library loads, connects and lets go when unloaded")
{
    LoadOutcome outcome = loadBeside("..\\Tessaseg.dll");
    REQUIRE(outcome.loaded);
    CHECK(outcome.partnerBlock != 0);
    CHECK(outcome.connectedBlock == outcome.partnerBlock);
    CHECK_FALSE(outcome.partnerLeftLoaded);
}

TEST_CASE("without a partner the library does not load")
{
    LoadOutcome outcome = loadBeside(nullptr);
    CHECK_FALSE(outcome.loaded);
    CHECK(GetModuleHandleA("Tessaflat.dll") == nullptr);
}

TEST_CASE("a partner the library cannot connect to keeps it from loading")
{
    const char *partner = nullptr;
    SUBCASE("no thunk block")
    {
        partner = "partner_no_block.dll";
    }
    SUBCASE("wrong signature")
    {
        partner = "partner_signature.dll";
    }
    SUBCASE("wrong checksum")
    {
        partner = "partner_checksum.dll";
    }
    SUBCASE("fewer operations")
    {
        partner = "partner_fewer_operations.dll";
    }
    SUBCASE("more operations")
    {
        partner = "partner_more_operations.dll";
    }
    SUBCASE("an operation missing from the table")
    {
        partner = "partner_missing_operation.dll";
    }
    INFO(partner);
    LoadOutcome outcome = loadBeside(partner);
    CHECK_FALSE(outcome.loaded);
    CHECK_FALSE(outcome.partnerLeftLoaded);
    CHECK(GetModuleHandleA("Tessaflat.dll") == nullptr);
}

}
