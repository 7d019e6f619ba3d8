// The agent's record of events: the window's last events, the security
// events kept apart from them, and the log file with its rollover.
#include "eventlog.h"

#include <doctest/doctest.h>

#include <stdlib.h>
#include <string>

namespace {

std::string tempPath(const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name;
}

std::string fileText(const std::string &path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD count;
    while (ReadFile(file, buffer, sizeof buffer, &count, 0) && count)
        text.append(buffer, count);
    CloseHandle(file);
    return text;
}

DWORD fileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

bool windowHolds(const std::string &text)
{
    for (int i = 0; i < RecentEventCount(); i++)
        if (std::string(RecentEvent(i)).find(text) != std::string::npos)
            return true;
    return false;
}

// A log file of its own for one test, removed with its older half.
struct LogFile {
    std::string path, older;
    explicit LogFile(const char *name, DWORD limit) : path(tempPath(name)), older(path + ".1")
    {
        DeleteFileA(path.c_str());
        DeleteFileA(older.c_str());
        SetLogFile(path.c_str(), limit);
    }
    ~LogFile()
    {
        SetLogFile("", 0);
        DeleteFileA(path.c_str());
        DeleteFileA(older.c_str());
    }
};

} // namespace

TEST_CASE("each event goes to the log file on a line of its own, with its date and time")
{
    LogFile log("eventlog-lines.log", DefaultLogFileLimit);
    LogEvent("session %08lX from %s", 0x80000001UL, "NODEB");
    LogSecurityEvent("node %s pinned at first contact", "NODEB");
    std::string text = fileText(log.path);      // read while the agent holds it
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[16];
    wsprintfA(date, "%04u-%02u-", now.wYear, now.wMonth);
    size_t second = text.find("\r\n") + 2;
    REQUIRE(second != std::string::npos + 2);
    CHECK(text.compare(0, 8, date) == 0);
    CHECK(text.substr(19, second - 19) == " session 80000001 from NODEB\r\n");
    CHECK(text.compare(second, 8, date) == 0);
    CHECK(text.substr(second + 19) == " security: node NODEB pinned at first contact\r\n");
}

TEST_CASE("the log file rolls over to .1 at its bound, and stays under it")
{
    const DWORD limit = SmallestLogFileLimit;
    LogFile log("eventlog-roll.log", limit);
    // Enough events to fill the bound more than twice: the file is begun
    // again each time, and the one before is kept as .1.
    const int events = 200;
    for (int i = 0; i < events; i++) {
        LogEvent("event %d of a run that fills the log file", i);
        CHECK(fileSize(log.path) <= limit);
    }
    std::string current = fileText(log.path), older = fileText(log.older);
    CHECK(older.size() > limit - 100);
    CHECK(older.size() <= limit);
    // Nothing lost at the roll: the older file ends where the current begins.
    CHECK(current.find("event 199 of") != std::string::npos);
    size_t first = current.find("event ") + 6;
    int firstInCurrent = atoi(current.c_str() + first);
    char lastInOlder[32];
    wsprintfA(lastInOlder, "event %d of", firstInCurrent - 1);
    CHECK(older.find(lastInOlder) != std::string::npos);
}

TEST_CASE("a line written while the log file cannot be opened is still shown")
{
    // A log file in a folder that is not there yet: no line can be written
    // until it is made.
    std::string folder = tempPath("eventlog-folder");
    std::string path = folder + "\\agent.log";
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
    SetLogFile(path.c_str(), DefaultLogFileLimit);
    LogEvent("while the file cannot be opened");
    CHECK(windowHolds("while the file cannot be opened"));
    REQUIRE(CreateDirectoryA(folder.c_str(), 0));
    LogEvent("once the file can be opened");
    SetLogFile("", 0);
    std::string text = fileText(path);
    CHECK(text.find("while the file cannot be opened") == std::string::npos);
    CHECK(text.find("once the file can be opened") != std::string::npos);
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_CASE("security events are kept apart: ordinary events never push them out")
{
    LogFile log("eventlog-security.log", DefaultLogFileLimit);
    LogSecurityEvent("refused: node %s presents key %s", "VICTIM", "AB12");
    for (int i = 0; i < EventCount * 3; i++)
        LogEvent("refused: the TLS handshake with 127.0.0.%d failed", 2 + i % 4);
    REQUIRE(RecentSecurityEventCount() >= 1);
    CHECK(std::string(RecentSecurityEvent(RecentSecurityEventCount() - 1)).substr(9) ==
          "refused: node VICTIM presents key AB12");
    CHECK(RecentEventCount() == EventCount);
    CHECK_FALSE(windowHolds("VICTIM"));
}
