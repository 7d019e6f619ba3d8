// netdde_hostileserver.exe: a DDE "server" that misbehaves while it is
// initiated to, for the tests of the agent's serving side.
//
//   netdde_hostileserver.exe APPLICATION [/closesessions]
//
// Its window (class NetDdeHostileServer, title APPLICATION) answers a
// WM_DDE_INITIATE for APPLICATION with WM_DDE_ACK and then, still inside the
// initiate, SENDS WM_DDE_TERMINATE to the initiating window: the initiator
// is still waiting in its SendMessage when its conversation ends. With
// /closesessions it closes every session this node serves instead (through
// the library, whose request the agent handles while it waits). Its window
// closes it; it ends by itself after 120 s.
#include "partnertest.h"
#include <dde.h>

static char application[256];
static bool closesSessions;

static void closeEverySession()
{
    BYTE buffer[8192];
    DWORD total = 0, entries = 0;
    if (NDdeSessionEnum(NULL, 1, buffer, sizeof buffer, &total, &entries) != NDDE_NO_ERROR)
        return;
    const SessionEntry *sessions = (const SessionEntry *)buffer;
    for (DWORD i = 0; i < entries; i++)
        NDdeSessionClose(NULL, (LPSTR)sessions[i].clientName, sessions[i].sessionId);
}

static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DDE_INITIATE) {
        char asked[256] = "", topic[256] = "";
        GlobalGetAtomNameA(LOWORD(lParam), asked, sizeof asked);
        GlobalGetAtomNameA(HIWORD(lParam), topic, sizeof topic);
        if (lstrcmpiA(asked, application) != 0)
            return 0;
        HWND client = (HWND)wParam;
        SendMessageA(client, WM_DDE_ACK, (WPARAM)window,
                     MAKELPARAM(GlobalAddAtomA(application), GlobalAddAtomA(topic)));
        if (closesSessions)
            closeEverySession();
        else
            SendMessageA(client, WM_DDE_TERMINATE, (WPARAM)window, 0);
        return 0;
    }
    if (message == WM_CLOSE)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3 || (argc == 3 && lstrcmpA(argv[2], "/closesessions") != 0))
        return 1;
    closesSessions = argc == 3;
    lstrcpynA(application, argv[1], sizeof application);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "NetDdeHostileServer";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("NetDdeHostileServer", application, WS_POPUP, 0, 0, 0, 0, NULL,
                                NULL, windowClass.hInstance, NULL);
    if (!window)
        return 2;
    SetTimer(window, 1, 120000, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0 && message.message != WM_TIMER)
        DispatchMessageA(&message);
    return 0;
}
