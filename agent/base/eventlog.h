// The agent's record of what it does, which its window reads: the last
// events (warnings and security events marked among them), the last security
// events also kept apart, whether the user's attention is called, and whether the
// sessions or conversations changed since the window last showed them. The
// layers below the window write here and never call the window; it draws
// what changed at most every RedrawInterval.
//
// Every event also goes to the agent's log file, a line each with the date
// and time, so that a user who reports a fault can send it. The file is
// HKLM\Software\Tessaseg\Agent, REG_SZ value "LogFile" (default:
// nddeagent.log beside the program); once a line would take it past its
// bound (REG_DWORD value "LogFileLimit" in bytes, default 1 MB, at least
// 4 KB) it is renamed to the same name with ".1" added, replacing the one
// before, and a new file is begun. The file can be read while the agent
// holds it; a line that cannot be written
// there (the file cannot be opened) is still kept for the window, and the
// file is tried again at the next line.
#ifndef EVENTLOG_H
#define EVENTLOG_H

#include <windows.h>

const int EventCount = 300;               // last events kept
const int SecurityEventCount = 12;        // last security events kept, apart
const int EventLength = 160;
const DWORD DefaultLogFileLimit = 1024 * 1024;
const DWORD SmallestLogFileLimit = 4096;

enum EventKind { OrdinaryEvent, WarningEvent, SecurityEvent };

// Adds a line to the last events (a refusal says its reason).
void LogEvent(const char *format, ...);
// Adds a line marked as a warning (a node speaking protocol 1, a memory or
// room limit reached).
void LogWarning(const char *format, ...);
// Adds a line to the last security events (first contact with a node, a
// key refused, proofs refused past the handful, limits of handshakes): no
// number of ordinary events pushes these out. It is among the last events too.
void LogSecurityEvent(const char *format, ...);
// A security event that calls for the user (a node refused for its key,
// repeated wrong passwords): logged as LogSecurityEvent does, and remembered
// until AttentionCalledWithin is asked past it or the user looks (ClearAttention).
void LogAlarm(const char *format, ...);
// Whether an alarm was logged within the last `milliseconds` and not cleared.
bool AttentionCalledWithin(DWORD milliseconds);
void ClearAttention();
// Marks the sessions and conversations as changed, to be shown again.
void ShowAgentState();
// Whether anything changed since the last call.
bool TakeStateChange();
int RecentEventCount();
// The last events, oldest first, each "HH:MM:SS text".
const char *RecentEvent(int index);
EventKind RecentEventKind(int index);
int RecentSecurityEventCount();
const char *RecentSecurityEvent(int index);

// The time of day `milliseconds` from now, "HH:MM:SS" (9 bytes with the zero).
void FormatTimeFromNow(DWORD milliseconds, char text[9]);
// A DWORD setting of the agent (HKLM\Software\Tessaseg\Agent); `fallback`
// when it is not set, not a DWORD, or 0.
DWORD ReadAgentSetting(const char *name, DWORD fallback);
// Reads where the log file goes, and its bound, from the registry (before
// the first event).
void ReadLogFileSetting();
// Writes the events to `path` from now on, rolled over to `path`.1 past
// `limit` bytes (at least SmallestLogFileLimit); an empty path writes none.
void SetLogFile(const char *path, DWORD limit);

#endif
