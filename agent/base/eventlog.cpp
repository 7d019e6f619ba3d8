// The agent's record of what it does (eventlog.h).
#include "eventlog.h"
#include <stdarg.h>

const char AgentSettingsKey[] = "Software\\Tessaseg\\Agent";
const char LogFileValue[] = "LogFile";
const char LogFileLimitValue[] = "LogFileLimit";
const char DefaultLogFileName[] = "nddeagent.log";
const int TimeLength = 9;                  // "HH:MM:SS "

// A ring of the last lines, each with its time of day and (the ordinary
// ring's) its kind.
struct EventRing {
    char (*lines)[EventLength];
    EventKind *kinds;
    int size;
    int next;                              // where the next line goes
    int kept;
};

static char events[EventCount][EventLength];
static EventKind eventKinds[EventCount];
static char securityEvents[SecurityEventCount][EventLength];
static EventRing ordinary = {events, eventKinds, EventCount, 0, 0};
static EventRing security = {securityEvents, 0, SecurityEventCount, 0, 0};
static bool stateChanged = true;
static DWORD alarmAt;                      // tick of the last alarm; 0 when none stands
static char logPath[MAX_PATH];
static DWORD logLimit = DefaultLogFileLimit;
static HANDLE logFile = INVALID_HANDLE_VALUE;

static void addToRing(EventRing *ring, const SYSTEMTIME &now, const char *text, EventKind kind)
{
    if (ring->kinds)
        ring->kinds[ring->next] = kind;
    char *line = ring->lines[ring->next];
    ring->next = (ring->next + 1) % ring->size;
    if (ring->kept < ring->size)
        ring->kept++;
    wsprintfA(line, "%02u:%02u:%02u ", now.wHour, now.wMinute, now.wSecond);
    lstrcpynA(line + TimeLength, text, EventLength - TimeLength);
    stateChanged = true;
}

// The log file, kept open for appending (shared, so that it can be read
// meanwhile; Windows 95 knows no sharing for deletion); INVALID_HANDLE_VALUE
// when it cannot be opened, and it is tried again at the next line.
static HANDLE openLogFile()
{
    HANDLE file = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file != INVALID_HANDLE_VALUE)
        SetFilePointer(file, 0, 0, FILE_END);
    return file;
}

static void closeLogFile()
{
    if (logFile != INVALID_HANDLE_VALUE)
        CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
}

// Appends the line to the log file, first moving a file that the line would
// take past its bound to `path`.1. A file that cannot be opened or written
// loses only this line, not the window's copy.
static void writeToFile(const SYSTEMTIME &now, const char *tag, const char *text)
{
    if (!logPath[0])
        return;
    char line[600];
    int length = wsprintfA(line, "%04u-%02u-%02u %02u:%02u:%02u %s", now.wYear, now.wMonth,
                           now.wDay, now.wHour, now.wMinute, now.wSecond, tag);
    lstrcpynA(line + length, text, sizeof line - length - 2);
    length = lstrlenA(line);
    lstrcpyA(line + length, "\r\n");
    length += 2;
    if (logFile == INVALID_HANDLE_VALUE)
        logFile = openLogFile();
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    DWORD size = GetFileSize(logFile, 0);
    if (size != INVALID_FILE_SIZE && size > 0 && size + length > logLimit) {
        closeLogFile();
        char older[MAX_PATH + 2];
        wsprintfA(older, "%s.1", logPath);
        DeleteFileA(older);
        MoveFileA(logPath, older);
        logFile = openLogFile();
        if (logFile == INVALID_HANDLE_VALUE)
            return;
    }
    DWORD written;
    if (!WriteFile(logFile, line, length, &written, 0) || written != (DWORD)length)
        closeLogFile();
}

static void logAs(EventKind kind, const char *format, va_list arguments)
{
    char text[1025];                       // wvsprintfA writes at most 1024 characters
    wvsprintfA(text, format, arguments);
    SYSTEMTIME now;
    GetLocalTime(&now);
    addToRing(&ordinary, now, text, kind);
    if (kind == SecurityEvent)
        addToRing(&security, now, text, kind);
    writeToFile(now, kind == SecurityEvent ? "security: " : kind == WarningEvent ? "warning: " : "",
                text);
}

void LogEvent(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    logAs(OrdinaryEvent, format, arguments);
    va_end(arguments);
}

void LogWarning(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    logAs(WarningEvent, format, arguments);
    va_end(arguments);
}

void LogSecurityEvent(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    logAs(SecurityEvent, format, arguments);
    va_end(arguments);
}

void LogAlarm(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    logAs(SecurityEvent, format, arguments);
    va_end(arguments);
    DWORD now = GetTickCount();
    alarmAt = now ? now : 1;
}

bool AttentionCalledWithin(DWORD milliseconds)
{
    if (alarmAt && GetTickCount() - alarmAt >= milliseconds)
        alarmAt = 0;
    return alarmAt != 0;
}

void ClearAttention()
{
    alarmAt = 0;
    stateChanged = true;
}

void ShowAgentState()
{
    stateChanged = true;
}

bool TakeStateChange()
{
    bool changed = stateChanged;
    stateChanged = false;
    return changed;
}

static int slotOf(const EventRing &ring, int index)
{
    return (ring.next - ring.kept + index + ring.size) % ring.size;
}

int RecentEventCount()
{
    return ordinary.kept;
}

const char *RecentEvent(int index)
{
    return ordinary.lines[slotOf(ordinary, index)];
}

EventKind RecentEventKind(int index)
{
    return ordinary.kinds[slotOf(ordinary, index)];
}

int RecentSecurityEventCount()
{
    return security.kept;
}

const char *RecentSecurityEvent(int index)
{
    return security.lines[slotOf(security, index)];
}

void SetLogFile(const char *path, DWORD limit)
{
    closeLogFile();
    lstrcpynA(logPath, path, sizeof logPath);
    logLimit = limit > SmallestLogFileLimit ? limit : SmallestLogFileLimit;
}

void FormatTimeFromNow(DWORD milliseconds, char text[9])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    DWORD seconds = (now.wHour * 3600 + now.wMinute * 60 + now.wSecond +
                     (milliseconds + 999) / 1000) % 86400;      // of the day
    wsprintfA(text, "%02lu:%02lu:%02lu", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

DWORD ReadAgentSetting(const char *name, DWORD fallback)
{
    DWORD value = 0, type = 0, size = sizeof value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AgentSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return fallback;
    if (RegQueryValueExA(key, name, 0, &type, (BYTE *)&value, &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        value = 0;
    RegCloseKey(key);
    return value ? value : fallback;
}

void ReadLogFileSetting()
{
    char path[MAX_PATH] = "";
    DWORD limit = ReadAgentSetting(LogFileLimitValue, DefaultLogFileLimit);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AgentSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = 0, size = sizeof path - 1;
        if (RegQueryValueExA(key, LogFileValue, 0, &type, (BYTE *)path, &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            size = 0;
        path[size < sizeof path ? size : sizeof path - 1] = 0;
        RegCloseKey(key);
    }
    if (!path[0]) {
        // Beside the program.
        DWORD length = GetModuleFileNameA(0, path, sizeof path);
        while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/')
            length--;
        if (length + sizeof DefaultLogFileName > sizeof path)
            length = 0;
        lstrcpyA(path + length, DefaultLogFileName);
    }
    SetLogFile(path, limit);
}
