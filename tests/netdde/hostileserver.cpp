// netdde_hostileserver.exe: a DDE "server" that misbehaves while it is
// initiated to, for the tests of the agent's serving side.
//
//   netdde_hostileserver.exe APPLICATION [/closesessions | /burst:N]
//
// Its window (class NetDdeHostileServer, title APPLICATION) answers a
// WM_DDE_INITIATE for APPLICATION with WM_DDE_ACK and then, still inside the
// initiate, SENDS WM_DDE_TERMINATE to the initiating window: the initiator
// is still waiting in its SendMessage when its conversation ends. With
// /closesessions it closes every session this node serves instead (through
// the library, whose request the agent handles while it waits). With
// /burst:N it stays in the conversation and takes every advise; an advise
// of item "Done" makes it post N updates of item "Price" (CF_TEXT "1" to
// "N"), asking for acks when Price's advise did, without waiting for any
// (notices without data when it asked for a warm link), then one update of
// "Done". Its window closes it; it ends by itself after 120 s.
#include "partnertest.h"
#include "postedblock.h"
#include <dde.h>
#include <stdlib.h>

static char application[256];
static bool closesSessions;
static DWORD burst;              // /burst:N; 0 without
static bool priceAsksAcks;       // the advise of Price asked for acks
static bool priceIsWarm;         // ... for notices without data

// Posts an update of `item` with `value` to `client`; a warm link's notice
// (no data) when `warm`.
static void postUpdate(HWND window, HWND client, const char *item, DWORD value, bool ackRequested,
                       bool warm = false)
{
    if (warm) {
        ATOM atom = GlobalAddAtomA(item);
        if (!PostMessageA(client, WM_DDE_DATA, (WPARAM)window, PackDDElParam(WM_DDE_DATA, 0, atom)))
            GlobalDeleteAtom(atom);
        return;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(DDEDATA) + 16);
    DDEDATA *data = (DDEDATA *)GlobalLock(block);
    data->unused = 0;
    data->fResponse = 0;
    data->fRelease = 1;
    data->reserved = 0;
    data->fAckReq = ackRequested;
    data->cfFormat = CF_TEXT;
    wsprintfA((char *)data->Value, "%lu", value);
    GlobalUnlock(block);
    ATOM atom = GlobalAddAtomA(item);
    if (PostMessageA(client, WM_DDE_DATA, (WPARAM)window,
                     PackDDElParam(WM_DDE_DATA, (UINT_PTR)block, atom)))
        ReleasePostedBlock(client, block);
}

// /burst:N: the conversation's DDE messages.
static void burstMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND client = (HWND)wParam;
    UINT_PTR low = 0, high = 0;
    if (message == WM_DDE_ADVISE) {
        UnpackDDElParam(WM_DDE_ADVISE, lParam, &low, &high);
        char item[256] = "";
        GlobalGetAtomNameA((ATOM)high, item, sizeof item);
        DDEADVISE *options = (DDEADVISE *)GlobalLock((HGLOBAL)low);
        if (options && lstrcmpiA(item, "Price") == 0) {
            priceAsksAcks = options->fAckReq;
            priceIsWarm = options->fDeferUpd;
        }
        GlobalUnlock((HGLOBAL)low);
        GlobalFree((HGLOBAL)low);
        PostMessageA(client, WM_DDE_ACK, (WPARAM)window,
                     ReuseDDElParam(lParam, WM_DDE_ADVISE, WM_DDE_ACK, 0x8000, high));
        if (lstrcmpiA(item, "Done") != 0)
            return;
        for (DWORD value = 1; value <= burst; value++)
            postUpdate(window, client, "Price", value, priceAsksAcks, priceIsWarm);
        postUpdate(window, client, "Done", 1, false);
    } else if (message == WM_DDE_ACK) {
        UnpackDDElParam(WM_DDE_ACK, lParam, &low, &high);
        FreeDDElParam(WM_DDE_ACK, lParam);
        if (high)
            GlobalDeleteAtom((ATOM)high);
    } else if (message == WM_DDE_TERMINATE) {
        PostMessageA(client, WM_DDE_TERMINATE, (WPARAM)window, 0);
    }
}

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
        if (burst)
            return 0;
        if (closesSessions)
            closeEverySession();
        else
            SendMessageA(client, WM_DDE_TERMINATE, (WPARAM)window, 0);
        return 0;
    }
    if (burst && message > WM_DDE_INITIATE && message <= WM_DDE_LAST) {
        burstMessage(window, message, wParam, lParam);
        return 0;
    }
    if (message == WM_CLOSE)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

int main(int argc, char **argv)
{
    if (argc == 3 && _strnicmp(argv[2], "/burst:", 7) == 0)
        burst = strtoul(argv[2] + 7, NULL, 10);
    if (argc < 2 || argc > 3 ||
        (argc == 3 && lstrcmpA(argv[2], "/closesessions") != 0 && (burst < 1 || burst > 1000)))
        return 1;
    closesSessions = argc == 3 && !burst;
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
