// Result texts, the node name and the task behind a window.
#include "localinfo.h"
#include "agentlink.h"
#include <tlhelp32.h>

// Texts for NDDE_NO_ERROR to NDDE_CANT_ACCESS_SERVER, in code order. The
// front ends show them inside a sentence of their own, so none ends with a
// full stop.
static const char *const ErrorTexts[] = {
    "No error",
    "Access is denied",
    "The buffer is too small for the information",
    "More data is available",
    "The server name is not valid",
    "The share name is not valid",
    "A parameter is not valid",
    "The information level is not valid",
    "The password is not valid",
    "The item name is not valid",
    "The topic name is not valid",
    "Internal error in Network DDE",
    "Not enough memory",
    "The application name is not valid",
    "The function is not implemented",
    "A share of this name already exists",
    "The share does not exist",
    "The file name is not valid",
    "The Network DDE agent is not running",
    "The window is not valid",
    "The session is not valid",
    "The item list is not valid",
    "The stored data of the share is corrupted",
    "The registry cannot be read or written",
    "The server cannot be reached",
};

// Copies as much of `text` as fits `size` bytes, with its terminator.
static void copyCut(char *buffer, LONG size, const char *text)
{
    if (buffer && size > 0)
        lstrcpynA(buffer, text, size);
}

UINT ErrorText(UINT code, char *buffer, DWORD size)
{
    if (!buffer || size == 0)
        return NDDE_BUF_TOO_SMALL;
    char unknown[64];
    const char *text = unknown;
    if (code < sizeof ErrorTexts / sizeof ErrorTexts[0])
        text = ErrorTexts[code];
    else
        wsprintfA(unknown, "Unknown Network DDE error %u", code);
    copyCut(buffer, size > 0x7FFFFFFF ? 0x7FFFFFFF : size, text);
    return NDDE_NO_ERROR;
}

// The computer name in upper case, cut to a node name's length.
static void localNodeName(char *name)
{
    char computer[MAX_PATH];
    DWORD length = sizeof computer;
    if (!GetComputerNameA(computer, &length))
        lstrcpyA(computer, "LOCALHOST");
    lstrcpynA(name, computer, MaxNodeNameLength + 1);
    CharUpperBuffA(name, lstrlenA(name));
}

UINT NodeName(char *buffer, DWORD size)
{
    char name[MaxNodeNameLength + 1];
    localNodeName(name);
    if (!buffer || size < (DWORD)lstrlenA(name) + 1)
        return NDDE_BUF_TOO_SMALL;
    lstrcpyA(buffer, name);
    return NDDE_NO_ERROR;
}

// The base name of a program file, without folder and extension, upper-case.
static void taskNameOf(const char *path, char *task)
{
    const char *base = path;
    for (const char *c = path; *c; c++)
        if (*c == '\\' || *c == '/' || *c == ':')
            base = c + 1;
    lstrcpyA(task, base);
    char *dot = 0;
    for (char *c = task; *c; c++)
        if (*c == '.')
            dot = c;
    if (dot && dot != task)
        *dot = 0;
    CharUpperBuffA(task, lstrlenA(task));
}

// The task name of process `processId`, from the system's process list.
static bool findTaskName(DWORD processId, char *task)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == processId) {
            entry.szExeFile[MAX_PATH - 1] = 0;
            taskNameOf(entry.szExeFile, task);
            found = true;
        }
    }
    CloseHandle(snapshot);
    return found;
}

UINT ClientInfo(WORD window, char *client, LONG clientSize, char *task, LONG taskSize)
{
    // The low 16 bits of a window handle identify the window.
    HWND handle = (HWND)(UINT_PTR)window;
    DWORD processId = 0;
    if (!window || !IsWindow(handle) || !GetWindowThreadProcessId(handle, &processId))
        return NDDE_INVALID_WINDOW;
    char taskName[MAX_PATH];
    if (!findTaskName(processId, taskName))
        return NDDE_INVALID_WINDOW;     // its task ended under our hands
    char node[MaxNodeNameLength + 1];
    localNodeName(node);
    copyCut(client, clientSize, node);
    copyCut(task, taskSize, taskName);
    return NDDE_NO_ERROR;
}
