// Checks of what the setup program leaves behind, run by install_test.sh in
// a Wine prefix of the test's own between the steps of an installation's
// life (install, upgrade, an older setup run again, uninstall), and of the
// version resources of the build's own binaries. The script picks one suite
// (--test-suite=NAME) and says what to expect through the environment:
//   CHECK_FOLDER           the program folder (a Windows path)
//   CHECK_VERSION          the version the installed programs carry
//   CHECK_LIBRARY_VERSION  the version the shared libraries carry
//   CHECK_SHARE            the share added before the upgrade
//   CHECK_OTHER_USERS      how many other programs count on Tessaflat.dll
//   CHECK_SYSTEM_HELP      the text of the Windows folder's own winhelp.hlp,
//                          empty when Windows had none before Setup ran
//   CHECK_SETUP            the current setup program (a Windows path)
//   BIN_FOLDER             the build's bin folder
// This program imports nothing of the product: it runs before the
// installation, and loads Tessaflat.dll by name where a suite says so.
#include <windows.h>
#include <shlobj.h>

#include <doctest/doctest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "resource.h"
#include "sharestore.h"
#include "shipped.h"
#include "status_program.h"
#include "tessaflat.h"
#include "uidriver.h"

namespace {

const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NetworkDdeShares";
const char SharedLibrariesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char HelpFoldersKey[] = "Software\\Microsoft\\Windows\\Help";
// The main windows of the agent, the status program and Marrowby.
struct ProgramWindow {
    const char *className;
    const char *title;
    HWND find() const { return FindWindowA(className, title); }
};
const ProgramWindow ProgramWindows[] = {
    {"NDdeAgent", NULL},
    {MainWindowClass, MainWindowTitle},
    {"#32770", MainWindowTitle},
};
const char ShareListCaption[] = "List Shares...";
const char KeptShareTopic[] = "Kept over upgrades";
// Room for a share record and its strings when the library packs it.
const DWORD ShareRecordRoom = 4096;

// ---- Places and values -----------------------------------------------------------

std::string environment(const char *name)
{
    char value[MAX_PATH] = "";
    GetEnvironmentVariableA(name, value, sizeof value);
    return value;
}

bool sameText(const std::string &a, const std::string &b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

bool exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD fileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

std::string systemPath(const std::string &name)
{
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\" + name;
}

std::string programPath(const std::string &name)
{
    return environment("CHECK_FOLDER") + "\\" + name;
}

std::string shellFolder(int folderId)
{
    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(NULL, folder, folderId, FALSE);
    return folder;
}

std::string menuEntry(const std::string &linkName)
{
    return shellFolder(CSIDL_COMMON_PROGRAMS) + "\\" + ProductName + "\\" + linkName;
}

std::string startupEntry()
{
    return shellFolder(CSIDL_COMMON_STARTUP) + "\\Network DDE Agent.lnk";
}

// The help files the build made (*.hlp of its bin folder).
std::vector<std::string> builtHelpFiles()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((environment("BIN_FOLDER") + "\\*.hlp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string windowsPath(const std::string &name)
{
    char folder[MAX_PATH] = "";
    GetWindowsDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\" + name;
}

// A file's contents; empty when it cannot be read.
std::string fileText(const std::string &path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

// Checks help on help in the Windows folder: the system's own is never
// replaced or removed; without one, Setup's is there while installed.
void checkHelpOnHelp(bool installed)
{
    for (const std::string &name : builtHelpFiles())
        if (sameText(name, "winhelp.hlp")) {
            std::string systemHelp = environment("CHECK_SYSTEM_HELP");
            if (!systemHelp.empty())
                CHECK(fileText(windowsPath(name)) == systemHelp);
            else
                CHECK(exists(windowsPath(name)) == installed);
        }
}

bool isLibrary(const std::string &name)
{
    return sameText(name.substr(name.size() - 4), ".dll");
}

// The file a shortcut starts; empty when it cannot be read.
std::string shortcutTarget(const std::string &linkPath)
{
    std::string target;
    CoInitialize(NULL);
    IShellLinkA *link = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link))) {
        IPersistFile *file = NULL;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
            WCHAR widePath[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH);
            char path[MAX_PATH] = "";
            if (SUCCEEDED(file->Load(widePath, STGM_READ)) && SUCCEEDED(link->GetPath(path, MAX_PATH, NULL, 0)))
                target = path;
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return target;
}

// A value of the local machine's registry: a string, or a number as text;
// empty when the key or value is missing.
std::string machineValue(const char *keyName, const std::string &valueName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    BYTE data[MAX_PATH] = {};
    DWORD type = 0, size = sizeof data - 1;
    std::string value;
    if (RegQueryValueExA(key, valueName.c_str(), NULL, &type, data, &size) == ERROR_SUCCESS)
        value = type == REG_DWORD ? std::to_string(*(DWORD *)data) : std::string((const char *)data);
    RegCloseKey(key);
    return value;
}

bool keyExists(const char *keyName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool valueExists(const char *keyName, const std::string &valueName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExA(key, valueName.c_str(), NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

// How many installations count on a shared library ("" when none does).
std::string sharedCount(const std::string &name)
{
    return machineValue(SharedLibrariesKey, systemPath(name));
}

// How many other programs count on a library, as the test arranged it
// (only ever on Tessaflat.dll).
int otherUsers(const std::string &name)
{
    return sameText(name, "Tessaflat.dll") ? atoi(environment("CHECK_OTHER_USERS").c_str()) : 0;
}

// ---- Version resources -------------------------------------------------------------

struct VersionInfo {
    bool read = false;
    DWORD fileMS = 0, fileLS = 0, productMS = 0, productLS = 0;
    std::string fileVersion, productVersion, description, productName, originalName, internalName;
};

VersionInfo readVersion(const std::string &path)
{
    VersionInfo info;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        return info;
    VS_FIXEDFILEINFO *fixed = NULL;
    WORD *translation = NULL;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", (void **)&fixed, &length) ||
        !VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void **)&translation, &length))
        return info;
    info.read = true;
    info.fileMS = fixed->dwFileVersionMS;
    info.fileLS = fixed->dwFileVersionLS;
    info.productMS = fixed->dwProductVersionMS;
    info.productLS = fixed->dwProductVersionLS;
    char table[64];
    wsprintfA(table, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    auto text = [&](const char *name) {
        char *value = NULL;
        UINT valueLength = 0;
        return VerQueryValueA(block.data(), (std::string(table) + name).c_str(), (void **)&value, &valueLength)
                   ? std::string(value)
                   : std::string();
    };
    info.fileVersion = text("FileVersion");
    info.productVersion = text("ProductVersion");
    info.description = text("FileDescription");
    info.productName = text("ProductName");
    info.originalName = text("OriginalFilename");
    info.internalName = text("InternalName");
    return info;
}

// Checks the version resource of the file `name` at `path` against `version`
// ("x.y.z"), in its numbers and its texts.
void checkVersion(const std::string &path, const std::string &name, const std::string &version)
{
    CAPTURE(path);
    VersionInfo info = readVersion(path);
    REQUIRE(info.read);
    unsigned major = 0, minor = 0, patch = 0;
    REQUIRE(sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch) == 3);
    CHECK(info.fileMS == MAKELONG(minor, major));
    CHECK(info.fileLS == MAKELONG(0, patch));
    CHECK(info.productMS == info.fileMS);
    CHECK(info.productLS == info.fileLS);
    CHECK(info.fileVersion == version);
    CHECK(info.productVersion == version);
    CHECK(info.productName == ProductName);
    CHECK(info.originalName == name);
    CHECK(info.internalName == name.substr(0, name.size() - 4));
    CHECK(info.description.size() > 8);
}

// ---- The library, loaded by name -----------------------------------------------------

typedef UINT(WINAPI *ShareAddFunction)(LPSTR, UINT, LPBYTE, DWORD);
typedef UINT(WINAPI *ShareGetInfoFunction)(LPSTR, LPSTR, UINT, LPBYTE, DWORD, LPDWORD, LPWORD);

// Tessaflat.dll as the system's DLL search finds it for a program of
// another folder.
struct LibraryByName {
    HMODULE module = LoadLibraryA("Tessaflat.dll");
    ~LibraryByName()
    {
        if (module)
            FreeLibrary(module);
    }
    // A function of the library by name (the cast through a plain function
    // pointer type is how GetProcAddress's result is meant to be cast).
    template <typename Function> Function function(const char *name) const
    {
        return (Function)(void (*)())GetProcAddress(module, name);
    }
    std::string path() const
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(module, path, sizeof path);
        return path;
    }
    // The topic of a stored share; empty when the library does not find it.
    std::string topicOf(const std::string &shareName) const
    {
        auto getInfo = function<ShareGetInfoFunction>("NDdeShareGetInfo");
        std::vector<BYTE> buffer(ShareRecordRoom);
        DWORD total = 0;
        WORD items = 0;
        if (!getInfo || getInfo(NULL, (LPSTR)shareName.c_str(), 2, buffer.data(), (DWORD)buffer.size(), &total,
                                &items) != NDDE_NO_ERROR)
            return "";
        return ((const ShareInfo *)buffer.data())->topicName;
    }
};

} // namespace

TEST_SUITE("binaries")
{
    TEST_CASE("every shipped binary of the build carries the product's version resource")
    {
        for (const char *name : ShippedFiles)
            checkVersion(environment("BIN_FOLDER") + "\\" + name, name, ProductVersion);
    }
}

TEST_SUITE("installed")
{
    TEST_CASE("the programs are in the program folder with their version")
    {
        for (const char *name : ShippedFiles)
            if (!isLibrary(name))
                checkVersion(programPath(name), name, environment("CHECK_VERSION"));
        CHECK(exists(programPath("Uninstall.exe")));
        // Help files beside the programs; help on help also where the help
        // engine looks for it, when Windows has none of its own.
        for (const std::string &name : builtHelpFiles())
            CHECK(exists(programPath(name)));
        checkHelpOnHelp(true);
        // The help engine is told where the product's help lies; Wine's
        // viewer, which reads no such list, finds a copy in the Windows folder.
        CHECK(sameText(machineValue(HelpFoldersKey, "quorvhelp.hlp"), environment("CHECK_FOLDER")));
        CHECK(fileText(windowsPath("quorvhelp.hlp")) == fileText(programPath("quorvhelp.hlp")));
    }

    TEST_CASE("the libraries are in the system folder, counted once (beside other programs' counts)")
    {
        for (const char *name : ShippedFiles)
            if (isLibrary(name)) {
                checkVersion(systemPath(name), name, environment("CHECK_LIBRARY_VERSION"));
                CHECK(sharedCount(name) == std::to_string(1 + otherUsers(name)));
                CHECK_FALSE(exists(programPath(name)));
            }
    }

    TEST_CASE("Start menu entries start the status program, Marrowby and the agent; the agent starts with Windows")
    {
        CHECK(sameText(shortcutTarget(menuEntry("Network DDE Status.lnk")), programPath("quorvstat.exe")));
        CHECK(sameText(shortcutTarget(menuEntry("Marrowby.lnk")), programPath("Marrowby.exe")));
        CHECK(sameText(shortcutTarget(menuEntry("Network DDE Agent.lnk")), programPath("nddeagent.exe")));
        CHECK(sameText(shortcutTarget(startupEntry()), programPath("nddeagent.exe")));
    }

    TEST_CASE("Add/Remove Programs lists the product with its version, uninstall command and size")
    {
        std::string version = environment("CHECK_VERSION");
        CHECK(machineValue(UninstallKey, "DisplayName") == std::string(ProductName) + " " + version);
        CHECK(machineValue(UninstallKey, "DisplayVersion") == version);
        CHECK(sameText(machineValue(UninstallKey, "UninstallString"), "\"" + programPath("Uninstall.exe") + "\""));
        DWORD installedBytes = 0;
        for (const char *name : ShippedFiles)
            installedBytes += fileSize(isLibrary(name) ? systemPath(name) : programPath(name));
        CHECK(std::stoul("0" + machineValue(UninstallKey, "EstimatedSize")) >= installedBytes / 1024);
    }
}

TEST_SUITE("library_by_name")
{
    TEST_CASE("a program of another folder loads Tessaflat.dll from the system folder and adds a share")
    {
        REQUIRE_FALSE(exists(ui::pathBeside("Tessaflat.dll")));
        LibraryByName library;
        REQUIRE(library.module != NULL);
        CHECK(sameText(library.path(), systemPath("Tessaflat.dll")));

        auto shareAdd = library.function<ShareAddFunction>("NDdeShareAdd");
        REQUIRE(shareAdd != NULL);
        std::string name = environment("CHECK_SHARE");
        ShareInfo share = {};
        lstrcpynA(share.shareName, name.c_str(), sizeof share.shareName);
        share.appName = (char *)"KEPTAPP";
        share.topicName = (char *)KeptShareTopic;
        share.firstItem = (char *)"";
        share.permissions1 = share.permissions2 = 0x01;   // Request
        CHECK(shareAdd(NULL, 2, (LPBYTE)&share, ShareRecordRoom) == NDDE_NO_ERROR);
        CHECK(library.topicOf(name) == KeptShareTopic);
    }
}

TEST_SUITE("share_kept")
{
    TEST_CASE("the share added before is still there")
    {
        LibraryByName library;
        REQUIRE(library.module != NULL);
        CHECK(library.topicOf(environment("CHECK_SHARE")) == KeptShareTopic);
    }
}

TEST_SUITE("status_program")
{
    TEST_CASE("the installed status program starts and lists the shares")
    {
        StatusProgram status;
        REQUIRE(status.start(environment("CHECK_FOLDER") + "\\"));
        REQUIRE(ui::chooseCommand(status.main, IDM_LIST_SHARES));
        HWND shareList = ui::waitForDialog(status.processId(), ShareListCaption);
        REQUIRE(shareList != NULL);
        std::vector<std::string> lines;
        ui::waitUntil([&] {
            lines = ui::listLines(shareList, IDC_SHARE_LIST);
            return !lines.empty();
        });
        CHECK(std::find(lines.begin(), lines.end(), environment("CHECK_SHARE")) != lines.end());
    }
}

TEST_SUITE("running")
{
    TEST_CASE("the installed agent, status program and Marrowby run")
    {
        for (const ProgramWindow &program : ProgramWindows) {
            CAPTURE(program.className);
            CHECK(ui::waitUntil([&] { return program.find() != NULL; }));
        }
    }
}

TEST_SUITE("closed")
{
    TEST_CASE("the running programs were asked to close before their files were replaced")
    {
        for (const ProgramWindow &program : ProgramWindows) {
            CAPTURE(program.className);
            CHECK(program.find() == NULL);
        }
    }
}

// An agent's main window that ignores requests to close, as a program busy
// with a modal dialog may.
LRESULT CALLBACK stubbornWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return message == WM_CLOSE ? 0 : DefWindowProcA(window, message, wParam, lParam);
}

TEST_SUITE("stays_open")
{
    TEST_CASE("a program that stays open stops a silent setup before any file is replaced")
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = stubbornWindowProcedure;
        windowClass.hInstance = GetModuleHandleA(NULL);
        windowClass.lpszClassName = ProgramWindows[0].className;
        REQUIRE(RegisterClassA(&windowClass));
        HWND stubborn = CreateWindowA(windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL,
                                      windowClass.hInstance, NULL);
        REQUIRE(stubborn != NULL);

        ui::Program setup;
        REQUIRE(setup.start(environment("CHECK_SETUP"), "/S"));
        DWORD exitCode = 0;
        REQUIRE(setup.waitForExit(&exitCode, 60000));
        CHECK(exitCode == 2);
        CHECK(IsWindow(stubborn));
        for (const char *name : ShippedFiles)
            checkVersion(isLibrary(name) ? systemPath(name) : programPath(name), name,
                         environment("CHECK_VERSION"));
        DestroyWindow(stubborn);
    }
}

TEST_SUITE("another_program_counts")
{
    TEST_CASE("another program's setup counts on Tessaflat.dll too")
    {
        std::string path = systemPath("Tessaflat.dll");
        DWORD count = std::stoul("0" + sharedCount("Tessaflat.dll")) + 1;
        HKEY key;
        REQUIRE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, SharedLibrariesKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                                NULL) == ERROR_SUCCESS);
        CHECK(RegSetValueExA(key, path.c_str(), 0, REG_DWORD, (const BYTE *)&count, sizeof count) == ERROR_SUCCESS);
        RegCloseKey(key);
    }
}

TEST_SUITE("uninstalled")
{
    TEST_CASE("the program folder, its Start menu entries and the Add/Remove Programs entry are gone")
    {
        // The uninstaller runs on from a copy of itself; its last step
        // removes the Add/Remove Programs entry.
        REQUIRE(ui::waitUntil([] { return !keyExists(UninstallKey); }, 60000));
        CHECK_FALSE(exists(environment("CHECK_FOLDER")));
        CHECK_FALSE(exists(shellFolder(CSIDL_COMMON_PROGRAMS) + "\\" + ProductName));
        CHECK_FALSE(exists(startupEntry()));
        CHECK_FALSE(keyExists(UninstallKey));
    }

    TEST_CASE("a library is removed only when no other program counts on it")
    {
        for (const char *name : ShippedFiles)
            if (isLibrary(name)) {
                CAPTURE(name);
                int others = otherUsers(name);
                CHECK(exists(systemPath(name)) == (others > 0));
                CHECK(sharedCount(name) == (others > 0 ? std::to_string(others) : ""));
            }
    }

    TEST_CASE("help on help leaves the Windows folder only when Setup put it there")
    {
        checkHelpOnHelp(false);
        CHECK_FALSE(valueExists(HelpFoldersKey, "quorvhelp.hlp"));
        CHECK_FALSE(exists(windowsPath("quorvhelp.hlp")));
    }

    TEST_CASE("the share store keeps the user's share")
    {
        CHECK(valueExists(ShareStoreKey, environment("CHECK_SHARE")));
    }
}
