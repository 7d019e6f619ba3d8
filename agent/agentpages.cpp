// The agent's window (agentui.h): a tab a page, each page a list in report
// mode with its buttons below it: Sessions, Conversations, Nodes, Events
// and This node (with remote administration's check box). Besides them, a hidden list holds the same state as plain
// lines (AgentStateListId, agentlink.h) for tools that watch the agent.
// Only the page shown is drawn, and only while the window is shown; the
// window's loop draws at most every RedrawInterval.
#include "agentui.h"
#include "conversations.h"
#include "administration.h"
#include <commctrl.h>

const int MaxPageButtons = 4;
const int Margin = 6;
const int DigestEventCount = 12;         // events the plain lines keep
const char PlacementKey[] = "Software\\Tessaseg\\Agent";
const char PlacementValue[] = "WindowPlacement";

enum PageIndex { SessionsPage, ConversationsPage, NodesPage, EventsPage, ThisNodePage, PageCount };

struct Page {
    UINT columnsId;                      // the column titles, separated by '|'
    UINT buttonTextsId;                  // the buttons' texts, separated by '|'
    int buttons[MaxPageButtons];         // their commands; 0 past the last
};

static const Page pages[PageCount] = {
    {IDS_SESSION_COLUMNS, 0, {0}},
    {IDS_CONVERSATION_COLUMNS, 0, {0}},
    {IDS_NODE_COLUMNS, IDS_NODE_BUTTONS, {IDM_ADD_NODE, IDM_EDIT_NODE, IDM_REMOVE_NODE, IDM_FORGET_KEY}},
    {IDS_EVENT_COLUMNS, IDS_COPY_BUTTON, {IDM_COPY_PAGE}},
    {IDS_THIS_NODE_COLUMNS, IDS_THIS_NODE_BUTTONS, {IDM_COPY_FINGERPRINT, IDM_ADMINISTRATION_PASSWORD}},
};

static HWND tabs, lists[PageCount], digest;

// The next part of `text` up to '|' (or its end), into `part`; null past the last.
static const char *nextPart(const char *text, char *part, int size)
{
    if (!text)
        return 0;
    int length = 0;
    while (text[length] && text[length] != '|')
        length++;
    lstrcpynA(part, text, length + 1 < size ? length + 1 : size);
    return text[length] ? text + length + 1 : 0;
}

static HWND createChild(HWND window, const char *windowClass, const char *text, DWORD style,
                        int id)
{
    HWND child = CreateWindowExA(lstrcmpA(windowClass, WC_LISTVIEWA) == 0 ? WS_EX_CLIENTEDGE : 0,
                                 windowClass, text, WS_CHILD | style, 0, 0, 0, 0, window,
                                 (HMENU)(INT_PTR)id, AgentInstance, 0);
    if (child)
        SendMessageA(child, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), 0);
    return child;
}

static bool createPage(HWND window, int index)
{
    char titles[256], title[64];
    LoadText(IDS_PAGE_TITLES, titles, sizeof titles);
    const char *rest = titles;
    for (int i = 0; i <= index; i++)
        rest = nextPart(rest, title, sizeof title);
    TCITEMA tab;
    tab.mask = TCIF_TEXT;
    tab.pszText = title;
    SendMessageA(tabs, TCM_INSERTITEMA, index, (LPARAM)&tab);

    lists[index] = createChild(window, WC_LISTVIEWA, "", WS_TABSTOP | LVS_REPORT |
                               LVS_SINGLESEL | LVS_SHOWSELALWAYS, FirstPageListId + index);
    if (!lists[index])
        return false;
    char columns[256], column[64];
    LoadText(pages[index].columnsId, columns, sizeof columns);
    LVCOLUMNA entry;
    ZeroMemory(&entry, sizeof entry);
    entry.mask = LVCF_TEXT | LVCF_WIDTH;
    entry.cx = 60;
    entry.pszText = column;
    rest = columns;
    for (int i = 0; rest; i++) {
        rest = nextPart(rest, column, sizeof column);
        SendMessageA(lists[index], LVM_INSERTCOLUMNA, i, (LPARAM)&entry);
    }
    if (index == NodesPage &&
        !createChild(window, "EDIT", "", WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, ChosenFingerprintId))
        return false;
    if (index == ThisNodePage) {
        // Ticked by the agent alone, from what the registry holds, so it
        // never shows a state that could not be written.
        char allow[64];
        LoadText(IDS_ALLOW_ADMINISTRATION, allow, sizeof allow);
        if (!createChild(window, "BUTTON", allow, WS_TABSTOP | BS_CHECKBOX, AllowAdministrationId))
            return false;
    }
    char texts[128], text[32];
    rest = 0;
    if (pages[index].buttonTextsId) {
        LoadText(pages[index].buttonTextsId, texts, sizeof texts);
        rest = texts;
    }
    for (int i = 0; i < MaxPageButtons && pages[index].buttons[i] && rest; i++) {
        rest = nextPart(rest, text, sizeof text);
        if (!createChild(window, "BUTTON", text, WS_TABSTOP | BS_PUSHBUTTON, pages[index].buttons[i]))
            return false;
    }
    return true;
}

bool CreateAgentPages(HWND window)
{
    InitCommonControls();
    tabs = createChild(window, WC_TABCONTROLA, "", WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, AgentTabId);
    digest = createChild(window, "LISTBOX", "", LBS_NOINTEGRALHEIGHT | LBS_NOSEL, AgentStateListId);
    if (!tabs || !digest)
        return false;
    for (int i = 0; i < PageCount; i++)
        if (!createPage(window, i))
            return false;
    ShowSelectedPage(window);
    return true;
}

static int selectedPage()
{
    int page = (int)SendMessageA(tabs, TCM_GETCURSEL, 0, 0);
    return page >= 0 && page < PageCount ? page : 0;
}

void LayoutAgentPages(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    MoveWindow(tabs, Margin, Margin, client.right - 2 * Margin, client.bottom - 2 * Margin, TRUE);
    RECT inside = {Margin, Margin, client.right - Margin, client.bottom - Margin};
    SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, (LPARAM)&inside);
    // Buttons in a row at the bottom of the page, the system's size for them.
    HDC context = GetDC(window);
    HGDIOBJ previous = SelectObject(context, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA metrics;
    GetTextMetricsA(context, &metrics);
    SelectObject(context, previous);
    ReleaseDC(window, context);
    int buttonHeight = metrics.tmHeight * 7 / 4, buttonWidth = metrics.tmAveCharWidth * 14;
    for (int page = 0; page < PageCount; page++) {
        int bottom = inside.bottom;
        for (int i = 0; i < MaxPageButtons && pages[page].buttons[i]; i++) {
            bottom = inside.bottom - buttonHeight - Margin;
            MoveWindow(GetDlgItem(window, pages[page].buttons[i]),
                       inside.left + i * (buttonWidth + Margin), bottom + Margin, buttonWidth,
                       buttonHeight, TRUE);
        }
        // The Nodes page's fingerprint box and the This node page's check
        // box sit in a row of their own above the buttons.
        int rowId = page == NodesPage ? ChosenFingerprintId : page == ThisNodePage ? AllowAdministrationId : 0;
        if (rowId) {
            bottom -= metrics.tmHeight * 3 / 2 + Margin;
            MoveWindow(GetDlgItem(window, rowId), inside.left, bottom + Margin,
                       inside.right - inside.left, metrics.tmHeight * 3 / 2, TRUE);
        }
        MoveWindow(lists[page], inside.left, inside.top, inside.right - inside.left,
                   bottom - inside.top, TRUE);
    }
}

void ShowSelectedPage(HWND window)
{
    int shown = selectedPage();
    for (int page = 0; page < PageCount; page++) {
        int show = page == shown ? SW_SHOW : SW_HIDE;
        for (int i = 0; i < MaxPageButtons && pages[page].buttons[i]; i++)
            ShowWindow(GetDlgItem(window, pages[page].buttons[i]), show);
        ShowWindow(lists[page], show);
    }
    ShowWindow(GetDlgItem(window, ChosenFingerprintId), shown == NodesPage ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(window, AllowAdministrationId), shown == ThisNodePage ? SW_SHOW : SW_HIDE);
    // Above the tab control, which is a sibling drawn behind them.
    SetWindowPos(lists[shown], HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ShowAgentState();
    DrawAgentPages(window);
}

// ---- The plain lines -------------------------------------------------------

static void addLine(const char *line)
{
    SendMessageA(digest, LB_ADDSTRING, 0, (LPARAM)line);
}

static void drawDigest()
{
    SendMessageA(digest, LB_RESETCONTENT, 0, 0);
    char line[256];
    in_addr address;
    address.s_addr = OwnAddress;
    wsprintfA(line, "Node %s    port %u on %s", OwnNodeName, OwnPort,
              OwnAddress == INADDR_ANY ? "every interface" : inet_ntoa(address));
    addLine(line);
    char fingerprint[FingerprintTextSize];
    OwnFingerprintText(fingerprint);
    wsprintfA(line, "Fingerprint %s", fingerprint);
    addLine(line);
    wsprintfA(line, "Memory of sessions: %lu KB (at most %lu KB so far)", BudgetCharged() / 1024,
              BudgetPeak() / 1024);
    addLine(line);
    wsprintfA(line, "Notification icon: %s", NotifyIconState());
    addLine(line);
    addLine("Sessions:");
    for (int i = 0; i < SessionCount(); i++) {
        const Session *session = SessionAt(i);
        if (!IsShownSession(session))
            continue;
        wsprintfA(line, "  %s %s    session %08lX    %d conversation(s)%s",
                  session->incoming ? "from" : "to", session->node, session->id,
                  ConversationCountOn(session), session->state == SessionReady ? "" : " (opening)");
        addLine(line);
        if (session->incoming) {
            FormatFingerprint(session->peerKey, fingerprint);
            wsprintfA(line, "      key %s", fingerprint);
            addLine(line);
        }
    }
    for (int i = 0; DescribeReconnectingNode(i, line, sizeof line); i++)
        addLine(line);
    addLine("Conversations:");
    for (int i = 0; DescribeConversation(i, line, sizeof line); i++)
        addLine(line);
    addLine("Security events:");
    for (int i = 0; i < RecentSecurityEventCount(); i++)
        addLine(RecentSecurityEvent(i));
    addLine("Last events:");
    int first = RecentEventCount();
    for (int kept = 0; first > 0 && kept < DigestEventCount; first--)
        if (RecentEventKind(first - 1) != SecurityEvent)
            kept++;
    for (int i = first; i < RecentEventCount(); i++)
        if (RecentEventKind(i) != SecurityEvent)
            addLine(RecentEvent(i));
}

// ---- The pages -------------------------------------------------------------

// The local time `ticks` (GetTickCount) stood for, "HH:MM:SS".
static void formatTickTime(DWORD ticks, char *text)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME time;
    SystemTimeToFileTime(&now, &time);
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    value.QuadPart -= (ULONGLONG)(GetTickCount() - ticks) * 10000;
    time.dwLowDateTime = value.LowPart;
    time.dwHighDateTime = value.HighPart;
    SYSTEMTIME then;
    FileTimeToSystemTime(&time, &then);
    wsprintfA(text, "%02u:%02u:%02u", then.wHour, then.wMinute, then.wSecond);
}

static void drawSessions(HWND list)
{
    char row[512], fingerprint[FingerprintTextSize], since[16];
    for (int i = 0; i < SessionCount(); i++) {
        const Session *session = SessionAt(i);
        if (!IsShownSession(session))
            continue;
        BYTE pinned[FingerprintLength];
        fingerprint[0] = 0;
        if (session->incoming)
            FormatFingerprint(session->peerKey, fingerprint);
        else if (FindPin(session->node, pinned) == Pinned)
            FormatFingerprint(pinned, fingerprint);
        fingerprint[ShortFingerprintLength] = 0;
        in_addr address;
        address.s_addr = session->peerAddress;
        char where[32] = "";
        if (session->peerAddress && session->incoming)
            lstrcpyA(where, inet_ntoa(address));
        else if (session->peerAddress)
            wsprintfA(where, "%s:%u", inet_ntoa(address), ntohs(session->nodePort));
        formatTickTime(session->startedAt, since);
        wsprintfA(row, "%s\t%s\t%s\t%s\t%d\t%lu\t%lu\t%s\t%s", session->node,
                  session->incoming ? "in" : "out", where, fingerprint,
                  ConversationCountOn(session), session->bytesIn, session->bytesOut, since,
                  session->state == SessionReady ? "open" : "opening");
        AddListRow(list, row);
    }
    ReconnectingNode node;
    for (int i = 0; ReconnectingNodeAt(i, &node); i++) {
        wsprintfA(row, "%s\tout\t\t\t%lu\t\t\t\treconnecting, %lu s left", node.node,
                  node.conversations, node.secondsLeft);
        AddListRow(list, row);
    }
}

static void drawConversations(HWND list)
{
    ConversationSummary summary;
    char row[1024];
    for (int i = 0; SummarizeConversation(i, &summary); i++) {
        wsprintfA(row, "%s\t%s\t%s\t%s\t%d\t%lu\t%s", summary.share, summary.node,
                  summary.serving ? "served" : "client", summary.applicationTopic, summary.links,
                  summary.mergedValues, summary.state);
        AddListRow(list, row);
    }
}

const int MaxKnownNodes = 64;

// Whether `c` ends a word of an event's text: a character no node name has,
// or a comma, a semicolon or a full stop that ends a clause.
static bool endsWord(const char *c)
{
    bool endsClause = (*c == ',' || *c == ';' || *c == '.') && (c[1] == ' ' || !c[1]);
    return !IsNodeNameCharacter((BYTE)*c) || endsClause;
}

// Whether `name` stands in `text` as a word of its own.
static bool namesWord(const char *text, const char *name)
{
    int length = lstrlenA(name);
    for (const char *at = text; *at; at++) {
        bool startsWord = at == text || !IsNodeNameCharacter((BYTE)at[-1]);
        if (startsWord && matchesIgnoringAsciiCase(at, name, length) && endsWord(at + length))
            return true;
    }
    return false;
}

// The nodes an event may name: those of the sessions first (a node map of
// many nodes would leave them no room), then of the node map.
static int knownNodes(char (*nodes)[MaxNodeNameLength + 1])
{
    int count = 0;
    for (int i = 0; i < SessionCount() && count < MaxKnownNodes; i++) {
        const char *node = SessionAt(i)->node;
        bool listed = !node[0];
        for (int j = 0; j < count && !listed; j++)
            listed = isSameNodeName(nodes[j], node);
        if (!listed)
            lstrcpyA(nodes[count++], node);
    }
    return count + ListMappedNodes(nodes + count, MaxKnownNodes - count);
}

static void drawEvents(HWND list)
{
    static char nodes[MaxKnownNodes][MaxNodeNameLength + 1];
    int nodeCount = knownNodes(nodes);
    char row[EventLength + 48], kinds[64], kind[3][16];
    LoadText(IDS_EVENT_KINDS, kinds, sizeof kinds);
    const char *rest = kinds;
    for (int i = 0; i < 3; i++)
        rest = nextPart(rest, kind[i], sizeof kind[i]);
    for (int i = 0; i < RecentEventCount(); i++) {
        const char *line = RecentEvent(i);
        // "HH:MM:SS text"; the node is the first known one the text names.
        const char *node = "";
        for (int j = 0; j < nodeCount && !node[0]; j++)
            if (namesWord(line + 9, nodes[j]))
                node = nodes[j];
        wsprintfA(row, "%.8s\t%s\t%s\t%s", line, kind[RecentEventKind(i)], node, line + 9);
        AddListRow(list, row);
    }
    SendMessageA(list, LVM_ENSUREVISIBLE, RecentEventCount() - 1, FALSE);
}

static void drawThisNode(HWND list)
{
    char row[256], names[128], name[4][32];
    LoadText(IDS_THIS_NODE_LINES, names, sizeof names);
    const char *rest = names;
    for (int i = 0; i < 4; i++)
        rest = nextPart(rest, name[i], sizeof name[i]);
    wsprintfA(row, "%s\t%s", name[0], OwnNodeName);
    AddListRow(list, row);
    wsprintfA(row, "%s\t%u", name[1], OwnPort);
    AddListRow(list, row);
    in_addr address;
    address.s_addr = OwnAddress;
    wsprintfA(row, "%s\t%s", name[2], OwnAddress == INADDR_ANY ? "0.0.0.0" : inet_ntoa(address));
    AddListRow(list, row);
    char fingerprint[FingerprintTextSize];
    OwnFingerprintText(fingerprint);
    wsprintfA(row, "%s\t%s", name[3], fingerprint);
    AddListRow(list, row);
}

void DrawAgentPages(HWND window)
{
    SendMessageA(digest, WM_SETREDRAW, FALSE, 0);
    drawDigest();
    SendMessageA(digest, WM_SETREDRAW, TRUE, 0);
    if (!IsWindowVisible(window) || IsIconic(window))
        return;
    int page = selectedPage();
    HWND list = lists[page];
    if (page == NodesPage) {
        FillNodeList(list);
        ShowChosenFingerprint(window, list);
        return;
    }
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    if (page == SessionsPage)
        drawSessions(list);
    else if (page == ConversationsPage)
        drawConversations(list);
    else if (page == EventsPage)
        drawEvents(list);
    else {
        drawThisNode(list);
        // /admin:on and /admin:off change it from outside the window.
        ShowAdministrationSetting(window);
    }
    FitListColumns(list);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, 0, TRUE);
}

void ShowAdministrationSetting(HWND window)
{
    CheckDlgButton(window, AllowAdministrationId, IsRemoteAdministrationOn() ? BST_CHECKED : BST_UNCHECKED);
}

void CopyShownPage(HWND window)
{
    // The Events page is the longest: EventCount lines of an event and its time.
    const int RoomPerLine = EventLength + 32;
    static char text[EventCount * RoomPerLine + 1];
    HWND list = lists[selectedPage()];
    HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
    int columns = header ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 0;
    int rows = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    int length = 0;
    for (int row = 0; row < rows && row < EventCount; row++) {
        int lineEnd = length + RoomPerLine - 2;
        for (int column = 0; column < columns && length < lineEnd - 1; column++) {
            if (column > 0)
                text[length++] = '\t';
            LVITEMA item;
            ZeroMemory(&item, sizeof item);
            item.iSubItem = column;
            item.pszText = text + length;
            item.cchTextMax = lineEnd - length;
            length += (int)SendMessageA(list, LVM_GETITEMTEXTA, row, (LPARAM)&item);
        }
        text[length++] = '\r';
        text[length++] = '\n';
    }
    text[length] = 0;
    CopyToClipboard(window, text);
}

// ---- Showing the window ----------------------------------------------------

void OpenAgentWindow(HWND window)
{
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window);
    ClearAttention();
    UpdateNotifyIcon(window);
    DrawAgentPages(window);
}

// Where the window was last, from HKCU\Software\Tessaseg\Agent (a RECT);
// false when nothing sound is kept.
bool ReadPlacement(RECT *place)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, PlacementKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof *place;
    bool read = RegQueryValueExA(key, PlacementValue, 0, &type, (BYTE *)place, &size) ==
                    ERROR_SUCCESS && type == REG_BINARY && size == sizeof *place;
    RegCloseKey(key);
    return read && place->right > place->left && place->bottom > place->top;
}

void RememberPlacement(HWND window)
{
    WINDOWPLACEMENT placement;
    placement.length = sizeof placement;
    HKEY key;
    if (!GetWindowPlacement(window, &placement) ||
        RegCreateKeyExA(HKEY_CURRENT_USER, PlacementKey, 0, 0, 0, KEY_WRITE, 0, &key, 0) !=
            ERROR_SUCCESS)
        return;
    RegSetValueExA(key, PlacementValue, 0, REG_BINARY, (const BYTE *)&placement.rcNormalPosition,
                   sizeof placement.rcNormalPosition);
    RegCloseKey(key);
}
