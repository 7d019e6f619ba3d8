// netdde_ddemlserver.exe: a DDE server made with DDEML, for the tests of
// conversations with such servers (Wine's DDEML server sends a stray
// acknowledgement after each request it answers).
//
//   netdde_ddemlserver.exe SERVICE TOPIC [TOPIC...] [/log:PATH]
//
// Every topic serves the same items. Text items (CF_TEXT) start with
// "Price" = "1"; a poke sets or adds one. "Refused" is refused for requests
// and pokes alike. "Blob" answers the registered format "TessaDdemlFormat"
// (bytes "B1 B2") and nothing else. The execute "[terminate]" ends its
// conversation from this side (Wine's DdeDisconnect does nothing on a
// server: the server's conversation window posts WM_DDE_TERMINATE itself).
// Every poke taken and every execute is logged as a line "poke ITEM=VALUE"
// (the item upper-cased)
// or "execute COMMAND" to PATH. Text items can be linked (hot or warm).
// Its window (class NetDdeDdemlServer, title SERVICE) ends every
// conversation from this side on WM_APP + 2 and closes the server on
// WM_CLOSE; it ends by itself after 120 s.
#include <windows.h>
#include <ddeml.h>

#include <map>
#include <set>
#include <string>
#include <vector>

const UINT WM_END_CONVERSATION = WM_APP + 1;
const UINT WM_END_EVERY_CONVERSATION = WM_APP + 2;
const UINT WM_UPDATE_LINKS = WM_APP + 3;

static DWORD instance;
static HSZ serviceName, refusedName, blobName;
static std::vector<HSZ> topicNames;
static UINT blobFormat;
static std::map<std::string, std::string> items = {{"PRICE", "1"}};
static std::string logPath;
static HWND mainWindow;
static std::set<HCONV> conversations;     // every conversation that asked for something

static std::string upper(std::string text)
{
    CharUpperBuffA(&text[0], (DWORD)text.size());
    return text;
}

static std::string stringOf(HSZ name)
{
    char text[256] = "";
    DdeQueryStringA(instance, name, text, sizeof text, CP_WINANSI);
    return text;
}

static void logLine(const std::string &line)
{
    if (logPath.empty())
        return;
    HANDLE file = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, NULL,
                              OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
}

static bool isOurTopic(HSZ topic)
{
    for (HSZ name : topicNames)
        if (DdeCmpStringHandles(topic, name) == 0)
            return true;
    return false;
}

static HDDEDATA request(UINT format, HSZ item)
{
    if (DdeCmpStringHandles(item, refusedName) == 0)
        return NULL;
    if (DdeCmpStringHandles(item, blobName) == 0) {
        static const BYTE blob[] = {0xB1, 0xB2};
        return format == blobFormat
                   ? DdeCreateDataHandle(instance, (LPBYTE)blob, sizeof blob, 0, item, format, 0)
                   : NULL;
    }
    auto found = items.find(upper(stringOf(item)));
    if (format != CF_TEXT || found == items.end())
        return NULL;
    return DdeCreateDataHandle(instance, (LPBYTE)found->second.c_str(),
                               (DWORD)found->second.size() + 1, 0, item, CF_TEXT, 0);
}

static HDDEDATA poke(UINT format, HSZ item, HDDEDATA data)
{
    if (format != CF_TEXT || DdeCmpStringHandles(item, refusedName) == 0 ||
        DdeCmpStringHandles(item, blobName) == 0)
        return (HDDEDATA)DDE_FNOTPROCESSED;
    DWORD size = DdeGetData(data, NULL, 0, 0);
    std::string value(size, '\0');
    DdeGetData(data, (LPBYTE)&value[0], size, 0);
    value = value.c_str();
    std::string name = upper(stringOf(item));
    items[name] = value;
    logLine("poke " + name + "=" + value);
    return (HDDEDATA)DDE_FACK;
}

static HDDEDATA execute(HCONV conversation, HDDEDATA data)
{
    DWORD size = DdeGetData(data, NULL, 0, 0);
    std::string command(size, '\0');
    DdeGetData(data, (LPBYTE)&command[0], size, 0);
    command = command.c_str();
    logLine("execute " + command);
    if (command == "[terminate]")
        PostMessageA(mainWindow, WM_END_CONVERSATION, 0, (LPARAM)conversation);
    return (HDDEDATA)DDE_FACK;
}

static HDDEDATA CALLBACK serve(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ item,
                               HDDEDATA data, ULONG_PTR, ULONG_PTR)
{
    if (type != XTYP_CONNECT)
        conversations.insert(conversation);
    switch (type) {
    case XTYP_CONNECT:
        return (HDDEDATA)(ULONG_PTR)isOurTopic(topic);
    case XTYP_ADVSTART:
        if (format != CF_TEXT || !items.count(upper(stringOf(item))))
            return NULL;
        // The link's first value, once this transaction is answered.
        DdeKeepStringHandle(instance, topic);
        DdeKeepStringHandle(instance, item);
        PostMessageA(mainWindow, WM_UPDATE_LINKS, (WPARAM)topic, (LPARAM)item);
        return (HDDEDATA)TRUE;
    case XTYP_REQUEST:
    case XTYP_ADVREQ:
        return request(format, item);
    case XTYP_POKE:
        return poke(format, item, data);
    case XTYP_EXECUTE:
        return execute(conversation, data);
    }
    return NULL;
}

// Ends a conversation from the server's side once its execute is answered.
static void endConversation(HCONV conversation)
{
    CONVINFO info = {};
    info.cb = sizeof info;
    if (DdeQueryConvInfo(conversation, QID_SYNC, &info) && IsWindow(info.hwndPartner))
        PostMessageA(info.hwndPartner, WM_DDE_TERMINATE, (WPARAM)info.hwnd, 0);
    conversations.erase(conversation);
}

int main(int argc, char **argv)
{
    std::vector<std::string> topics;
    for (int i = 2; i < argc; i++) {
        std::string argument = argv[i];
        if (argument.rfind("/log:", 0) == 0)
            logPath = argument.substr(5);
        else
            topics.push_back(argument);
    }
    if (argc < 3 || topics.empty() ||
        DdeInitializeA(&instance, serve, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0) !=
            DMLERR_NO_ERROR)
        return 1;
    serviceName = DdeCreateStringHandleA(instance, argv[1], CP_WINANSI);
    for (const std::string &topic : topics)
        topicNames.push_back(DdeCreateStringHandleA(instance, topic.c_str(), CP_WINANSI));
    refusedName = DdeCreateStringHandleA(instance, "Refused", CP_WINANSI);
    blobName = DdeCreateStringHandleA(instance, "Blob", CP_WINANSI);
    blobFormat = RegisterClipboardFormatA("TessaDdemlFormat");
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "NetDdeDdemlServer";
    RegisterClassA(&windowClass);
    mainWindow = CreateWindowA("NetDdeDdemlServer", argv[1], WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                               windowClass.hInstance, NULL);
    if (!mainWindow || !DdeNameService(instance, serviceName, 0, DNS_REGISTER))
        return 2;
    SetTimer(mainWindow, 1, 120000, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0 && message.message != WM_TIMER &&
           !(message.hwnd == mainWindow && message.message == WM_CLOSE)) {
        if (message.hwnd == mainWindow && message.message == WM_END_CONVERSATION) {
            endConversation((HCONV)message.lParam);
            continue;
        }
        if (message.hwnd == mainWindow && message.message == WM_UPDATE_LINKS) {
            DdePostAdvise(instance, (HSZ)message.wParam, (HSZ)message.lParam);
            DdeFreeStringHandle(instance, (HSZ)message.wParam);
            DdeFreeStringHandle(instance, (HSZ)message.lParam);
            continue;
        }
        if (message.hwnd == mainWindow && message.message == WM_END_EVERY_CONVERSATION) {
            std::set<HCONV> ending = conversations;
            for (HCONV conversation : ending)
                endConversation(conversation);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DdeNameService(instance, 0, 0, DNS_UNREGISTER);
    DdeUninitialize(instance);
    return 0;
}
