// The agent's record of what it does, which its window reads: the last
// events, the last security events kept apart from them, and whether the
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

const int EventCount = 12;                // last events kept
const int SecurityEventCount = 12;        // last security events kept, apart
const int EventLength = 160;
const DWORD DefaultLogFileLimit = 1024 * 1024;
const DWORD SmallestLogFileLimit = 4096;

// Adds a line to the last events (a refusal says its reason).
void LogEvent(const char *format, ...);
// Adds a line to the last security events (first contact with a node, a
// key refused, proofs refused past the handful, limits of handshakes): no
// number of ordinary events pushes these out.
void LogSecurityEvent(const char *format, ...);
// Marks the sessions and conversations as changed, to be shown again.
void ShowAgentState();
// Whether anything changed since the last call.
bool TakeStateChange();
int RecentEventCount();
// The last events, oldest first.
const char *RecentEvent(int index);
int RecentSecurityEventCount();
const char *RecentSecurityEvent(int index);

// Reads where the log file goes, and its bound, from the registry (before
// the first event).
void ReadLogFileSetting();
// Writes the events to `path` from now on, rolled over to `path`.1 past
// `limit` bytes (at least SmallestLogFileLimit); an empty path writes none.
void SetLogFile(const char *path, DWORD limit);

#endif
