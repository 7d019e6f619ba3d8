// The agent's record of what it does (eventlog.h).
#include "eventlog.h"
#include <stdarg.h>

static char events[EventCount][EventLength];
static int nextEvent;                      // where the next event goes
static int eventsKept;
static bool stateChanged = true;

void LogEvent(const char *format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    wvsprintfA(text, format, arguments);
    va_end(arguments);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char *event = events[nextEvent];
    nextEvent = (nextEvent + 1) % EventCount;
    if (eventsKept < EventCount)
        eventsKept++;
    wsprintfA(event, "%02u:%02u:%02u ", now.wHour, now.wMinute, now.wSecond);
    lstrcpynA(event + 9, text, EventLength - 9);
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

int RecentEventCount()
{
    return eventsKept;
}

const char *RecentEvent(int index)
{
    return events[(nextEvent - eventsKept + index + EventCount) % EventCount];
}
