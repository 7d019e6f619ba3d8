// The agent's record of what it does, which its window reads: the last
// events, and whether the sessions or conversations changed since the window
// last showed them. The layers below the window write here and never call
// the window; it draws what changed at most every RedrawInterval.
#ifndef EVENTLOG_H
#define EVENTLOG_H

#include <windows.h>

const int EventCount = 12;                // last events kept
const int EventLength = 160;

// Adds a line to the last events (a refusal says its reason).
void LogEvent(const char *format, ...);
// Marks the sessions and conversations as changed, to be shown again.
void ShowAgentState();
// Whether anything changed since the last call.
bool TakeStateChange();
int RecentEventCount();
// The last events, oldest first.
const char *RecentEvent(int index);

#endif
