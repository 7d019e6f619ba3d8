#include "partnertest.h"
#include "agentlink.h"
#include <winsock.h>
#include <stdio.h>

namespace pt {

// ---- Shares ----------------------------------------------------------------

ShareInfo *TestShare::record()
{
    info_ = {};
    lstrcpynA(info_.shareName, name.c_str(), ShareNameSize);
    info_.appName = &app[0];
    info_.topicName = &topic[0];
    info_.password1 = (BYTE *)&password1[0];
    info_.password1Length = password1.size();
    info_.permissions1 = permissions1;
    info_.password2 = (BYTE *)&password2[0];
    info_.password2Length = password2.size();
    info_.permissions2 = permissions2;
    info_.firstItem = &firstItem[0];
    itemInfos_.clear();
    for (auto &item : items)
        itemInfos_.push_back({&item.first[0], item.second});
    info_.addItemCount = itemInfos_.size();
    info_.addItems = itemInfos_.empty() ? nullptr : itemInfos_.data();
    return &info_;
}

DWORD TestShare::packedSize() const
{
    DWORD size = 117 + app.size() + topic.size() + password1.size() + password2.size() +
                 firstItem.size() + 1;
    for (auto &item : items)
        size += 9 + item.first.size();
    return size;
}

UINT addShare(TestShare &share)
{
    return NDdeShareAdd(nullptr, 2, (LPBYTE)share.record(), share.packedSize());
}

UINT setShare(const std::string &name, TestShare &share)
{
    return NDdeShareSetInfo(nullptr, (LPSTR)name.c_str(), 2, (LPBYTE)share.record(),
                            share.packedSize(), 0);
}

UINT deleteShare(const std::string &name)
{
    return NDdeShareDel(nullptr, (LPSTR)name.c_str(), 0);
}

ReadShare readShare(const std::string &name, DWORD size)
{
    ReadShare read;
    read.buffer.assign(size, 0);
    read.result = NDdeShareGetInfo(nullptr, (LPSTR)name.c_str(), 2,
                                   size ? read.buffer.data() : nullptr, size, &read.total,
                                   &read.itemCount);
    return read;
}

ReadShare readShare(const std::string &name)
{
    DWORD size = 113;
    ReadShare read;
    for (int attempt = 0; attempt < 4; attempt++) {
        read = readShare(name, size);
        if (read.result != NDDE_BUF_TOO_SMALL)
            break;
        size = std::max<DWORD>(8 * read.itemCount + 112, read.total) + 1;
    }
    return read;
}

std::vector<std::string> listShares()
{
    std::vector<std::string> names;
    DWORD size = 0, entries = 0, total = 0;
    std::vector<char> buffer;
    UINT result = NDDE_BUF_TOO_SMALL;
    for (int attempt = 0; attempt < 4 && result == NDDE_BUF_TOO_SMALL; attempt++) {
        buffer.assign(size + 1, 0);
        result = NDdeShareEnum(nullptr, 0, size ? (LPBYTE)buffer.data() : nullptr, size,
                               &entries, &total);
        size = total;
    }
    if (result != NDDE_NO_ERROR)
        return names;
    for (DWORD position = 0; position < total; position += names.back().size() + 1)
        names.push_back(&buffer[position]);
    return names;
}

bool hasShare(const std::string &name)
{
    for (auto &listed : listShares())
        if (listed == name)
            return true;
    return false;
}

ShareCleanup::~ShareCleanup()
{
    for (auto &name : names_)
        deleteShare(name);
}

const std::string &ShareCleanup::operator()(const std::string &name)
{
    deleteShare(name);      // a leftover of an earlier, broken run
    names_.push_back(name);
    return names_.back();
}

// ---- Programs --------------------------------------------------------------

std::string pathBeside(const std::string &fileName)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + fileName;
}

bool waitUntil(const std::function<bool()> &condition, DWORD timeout)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeout)
            return condition();
        Sleep(20);
    }
    return true;
}

ChildProcess::~ChildProcess()
{
    terminate();
    if (!outputPath_.empty())
        DeleteFileA(outputPath_.c_str());
}

bool ChildProcess::start(const std::string &program, const std::string &arguments)
{
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    if (!GetTempFileNameA(folder, "ptc", 0, path))
        return false;
    outputPath_ = path;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return false;

    std::string commandLine = "\"" + pathBeside(program) + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION started;
    BOOL ok = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startup, &started);
    CloseHandle(output);
    if (!ok)
        return false;
    process_ = started.hProcess;
    thread_ = started.hThread;
    return true;
}

bool ChildProcess::isRunning() const
{
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::waitForExit(DWORD *exitCode, DWORD timeout)
{
    if (!process_ || WaitForSingleObject(process_, timeout) != WAIT_OBJECT_0)
        return false;
    return GetExitCodeProcess(process_, exitCode) != 0;
}

void ChildProcess::terminate()
{
    if (!process_)
        return;
    if (isRunning()) {
        TerminateProcess(process_, 255);
        WaitForSingleObject(process_, ProcessTimeout);
    }
    CloseHandle(process_);
    CloseHandle(thread_);
    process_ = thread_ = NULL;
}

std::string ChildProcess::output() const
{
    std::string text;
    HANDLE file = CreateFileA(outputPath_.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD count;
    while (ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count > 0)
        text.append(chunk, count);
    CloseHandle(file);
    return text;
}

std::vector<std::string> ChildProcess::outputLines() const
{
    std::vector<std::string> lines;
    std::string text = output(), line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    return lines;
}

// A program that ended without the line will never write it: the wait ends
// then, and what the program wrote goes to the test's output.
bool ChildProcess::waitForLine(const std::string &line, DWORD timeout)
{
    auto written = [&] {
        for (auto &each : outputLines())
            if (each == line)
                return true;
        return false;
    };
    waitUntil([&] { return written() || !isRunning(); }, timeout);
    if (written())
        return true;
    fprintf(stderr, "no line \"%s\" from a program (%s) that wrote:\n%s\n", line.c_str(),
            isRunning() ? "still running" : "ended", output().c_str());
    return false;
}

unsigned short freePort()
{
    WSADATA winsock;
    WSAStartup(MAKEWORD(1, 1), &winsock);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    unsigned short port = 0;
    if (bind(probe, (sockaddr *)&address, sizeof address) == 0 &&
        getsockname(probe, (sockaddr *)&address, &length) == 0)
        port = ntohs(address.sin_port);
    closesocket(probe);
    WSACleanup();
    return port;
}

// The keys that agents of tests run before in this prefix pinned at first
// contact (the client nodes here all present this machine's key); pins and
// settings a test wrote itself stay.
static void forgetFirstContacts()
{
    HKEY nodes;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tessaseg\\Nodes", 0, KEY_ALL_ACCESS, &nodes) !=
        ERROR_SUCCESS)
        return;
    char name[256];
    for (DWORD index = 0; index < 1000 && RegEnumKeyA(nodes, index, name, sizeof name) == ERROR_SUCCESS;
         index++) {
        HKEY node;
        if (RegOpenKeyExA(nodes, name, 0, KEY_ALL_ACCESS, &node) != ERROR_SUCCESS)
            continue;
        DWORD firstContact = 0, size = sizeof firstContact;
        if (RegQueryValueExA(node, "PinnedAtFirstContact", nullptr, nullptr, (BYTE *)&firstContact,
                             &size) == ERROR_SUCCESS && firstContact == 1) {
            RegDeleteValueA(node, "Fingerprint");
            RegDeleteValueA(node, "PinnedAtFirstContact");
        }
        RegCloseKey(node);
    }
    RegCloseKey(nodes);
}

static void setSessionLimit(DWORD limit)
{
    HKEY settings;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tessaseg\\Agent", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &settings, nullptr) != ERROR_SUCCESS)
        return;
    if (limit)
        RegSetValueExA(settings, AgentSessionLimitValue, 0, REG_DWORD, (const BYTE *)&limit,
                       sizeof limit);
    else
        RegDeleteValueA(settings, AgentSessionLimitValue);
    RegCloseKey(settings);
}

bool RunningAgent::start(const std::string &options, DWORD sessionLimit)
{
    forgetFirstContacts();
    setSessionLimit(sessionLimit);
    port_ = freePort();
    return port_ != 0 &&
           process_.start("nddeagent.exe", "/port:" + std::to_string(port_) + " " + options) &&
           waitUntil([this] { return window() != NULL || !process_.isRunning(); }) &&
           window() != NULL;
}

bool RunningAgent::startClient(ChildProcess &client, const std::string &arguments) const
{
    return client.start("nddeclient.exe", "/port:" + std::to_string(port_) + " " + arguments);
}

HWND RunningAgent::window() const
{
    return FindWindowA(AgentWindowClass, nullptr);
}

bool RunningAgent::stop()
{
    if (!process_.isRunning())
        return true;
    HWND agent = window();
    if (agent)
        PostMessageA(agent, WM_CLOSE, 0, 0);
    DWORD exitCode = 0;
    bool closed = process_.waitForExit(&exitCode);
    process_.terminate();
    return closed;
}

void closeStrayAgent()
{
    HWND agent = FindWindowA(AgentWindowClass, nullptr);
    if (agent)
        PostMessageA(agent, WM_CLOSE, 0, 0);
    waitUntil([] { return FindWindowA(AgentWindowClass, nullptr) == NULL; });
}

} // namespace pt
