// netdde_ddemlserver.exe: a DDE server made with DDEML, for the tests of
// conversations with such servers (Wine's DDEML server sends a stray
// acknowledgement after each request it answers).
//
//   netdde_ddemlserver.exe SERVICE TOPIC
//
// Item "Price" holds text (initially "1"): requests answer it, pokes set it.
// Its window (class NetDdeDdemlServer, title SERVICE) closes it; it ends by
// itself after 120 s.
#include <windows.h>
#include <ddeml.h>

#include <string>

static DWORD instance;
static HSZ serviceName, topicName, priceName;
static std::string price = "1";

static HDDEDATA CALLBACK serve(UINT type, UINT format, HCONV, HSZ topic, HSZ item, HDDEDATA data,
                               ULONG_PTR, ULONG_PTR)
{
    bool ours = DdeCmpStringHandles(topic, topicName) == 0;
    bool isPrice = item && DdeCmpStringHandles(item, priceName) == 0;
    switch (type) {
    case XTYP_CONNECT:
        return (HDDEDATA)(ULONG_PTR)ours;
    case XTYP_REQUEST:
        if (!ours || !isPrice || format != CF_TEXT)
            return NULL;
        return DdeCreateDataHandle(instance, (LPBYTE)price.c_str(), (DWORD)price.size() + 1, 0,
                                   item, CF_TEXT, 0);
    case XTYP_POKE: {
        if (!ours || !isPrice || format != CF_TEXT)
            return (HDDEDATA)DDE_FNOTPROCESSED;
        DWORD size = DdeGetData(data, NULL, 0, 0);
        std::string value(size, '\0');
        DdeGetData(data, (LPBYTE)&value[0], size, 0);
        price = value.c_str();
        return (HDDEDATA)DDE_FACK;
    }
    }
    return NULL;
}

int main(int argc, char **argv)
{
    if (argc != 3 ||
        DdeInitializeA(&instance, serve, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0) !=
            DMLERR_NO_ERROR)
        return 1;
    serviceName = DdeCreateStringHandleA(instance, argv[1], CP_WINANSI);
    topicName = DdeCreateStringHandleA(instance, argv[2], CP_WINANSI);
    priceName = DdeCreateStringHandleA(instance, "Price", CP_WINANSI);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "NetDdeDdemlServer";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("NetDdeDdemlServer", argv[1], WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                                windowClass.hInstance, NULL);
    if (!window || !DdeNameService(instance, serviceName, 0, DNS_REGISTER))
        return 2;
    SetTimer(window, 1, 120000, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0 && message.message != WM_TIMER &&
           !(message.hwnd == window && message.message == WM_CLOSE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DdeNameService(instance, 0, 0, DNS_UNREGISTER);
    DdeUninitialize(instance);
    return 0;
}
