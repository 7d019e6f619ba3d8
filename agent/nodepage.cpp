// The Nodes page of the agent's window (agentui.h): the node map, a line a
// node, and its commands. What they change is written where the agent reads
// it for every new session (nodemap.h, identity.h), so it takes effect at
// the next session without a restart.
#include "agentui.h"
#include <commctrl.h>
#include <stdlib.h>

const int MaxListedNodes = 256;
const int MaxRememberedContacts = 64;

// When each node was last seen with a session open, since the agent started.
struct Contact {
    char node[MaxNodeNameLength + 1];
    char time[20];
};
static Contact contacts[MaxRememberedContacts];
static int contactCount;

static void noteContacts()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char time[20];
    wsprintfA(time, "%04u-%02u-%02u %02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute);
    for (int i = 0; i < SessionCount(); i++) {
        const Session *session = SessionAt(i);
        if (session->state != SessionReady || session->endReason)
            continue;
        int found = 0;
        while (found < contactCount && !isSameNodeName(contacts[found].node, session->node))
            found++;
        if (found == contactCount && contactCount < MaxRememberedContacts)
            lstrcpyA(contacts[contactCount++].node, session->node);
        if (found < contactCount)
            lstrcpyA(contacts[found].time, time);
    }
}

static const char *lastContact(const char *node)
{
    for (int i = 0; i < contactCount; i++)
        if (isSameNodeName(contacts[i].node, node))
            return contacts[i].time;
    return 0;
}

// The node chosen in the list into `node`; false when none is.
static bool chosenNode(HWND list, char node[MaxNodeNameLength + 1])
{
    int index = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    if (index < 0)
        return false;
    LVITEMA item;
    ZeroMemory(&item, sizeof item);
    item.iSubItem = 0;
    item.pszText = node;
    item.cchTextMax = MaxNodeNameLength + 1;
    SendMessageA(list, LVM_GETITEMTEXTA, index, (LPARAM)&item);
    return node[0] != 0;
}

// The chosen node, or a notice to the user that none is chosen.
static bool chosenNodeOrNotice(HWND window, HWND list, char node[MaxNodeNameLength + 1])
{
    if (chosenNode(list, node))
        return true;
    ShowNotice(window, IDS_NO_NODE_CHOSEN);
    return false;
}

static void chooseNode(HWND list, const char *node)
{
    LVFINDINFOA find;
    ZeroMemory(&find, sizeof find);
    find.flags = LVFI_STRING;
    find.psz = node;
    int index = (int)SendMessageA(list, LVM_FINDITEMA, (WPARAM)-1, (LPARAM)&find);
    if (index < 0)
        return;
    LVITEMA item;
    ZeroMemory(&item, sizeof item);
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, index, (LPARAM)&item);
    SendMessageA(list, LVM_ENSUREVISIBLE, index, FALSE);
}

static bool isListed(char (*nodes)[MaxNodeNameLength + 1], int count, const char *node)
{
    for (int i = 0; i < count; i++)
        if (isSameNodeName(nodes[i], node))
            return true;
    return false;
}

// The nodes of the sessions first, so that a map that grew by many client
// nodes met once leaves them room; then the rest of the map.
static int listNodes(char (*nodes)[MaxNodeNameLength + 1])
{
    int count = 0;
    for (int i = 0; i < SessionCount() && count < MaxListedNodes; i++) {
        const Session *session = SessionAt(i);
        if (session->state == SessionReady && !session->endReason &&
            !isListed(nodes, count, session->node))
            CopyNodeName(nodes[count++], session->node);
    }
    static char mapped[MaxListedNodes][MaxNodeNameLength + 1];
    int mappedCount = ListMappedNodes(mapped, MaxListedNodes);
    for (int i = 0; i < mappedCount && count < MaxListedNodes; i++)
        if (!isListed(nodes, count, mapped[i]))
            CopyNodeName(nodes[count++], mapped[i]);
    return count;
}

void FillNodeList(HWND list)
{
    noteContacts();
    static char nodes[MaxListedNodes][MaxNodeNameLength + 1];
    int count = listNodes(nodes);
    char chosen[MaxNodeNameLength + 1] = "";
    chosenNode(list, chosen);
    char pinnedFirst[64], pinnedSet[64], yesNo[32], yes[16], no[16], notSeen[32], keyRefused[40];
    LoadText(IDS_KEY_REFUSED, keyRefused, sizeof keyRefused);
    LoadText(IDS_PINNED_FIRST, pinnedFirst, sizeof pinnedFirst);
    LoadText(IDS_PINNED_SET, pinnedSet, sizeof pinnedSet);
    LoadText(IDS_NOT_SEEN, notSeen, sizeof notSeen);
    LoadText(IDS_YES_NO, yesNo, sizeof yesNo);
    lstrcpynA(yes, yesNo, sizeof yes);
    char *split = yes;
    while (*split && *split != '|')
        split++;
    lstrcpynA(no, *split ? split + 1 : "", sizeof no);
    *split = 0;

    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    for (int i = 0; i < count; i++) {
        const char *node = nodes[i];
        char address[MaxNodeAddressLength + 1], fingerprint[FingerprintTextSize] = "";
        NodeMapAddress(node, address, sizeof address);
        BYTE pinned[FingerprintLength];
        const char *pinnedBy = "";
        if (FindPin(node, pinned) == Pinned) {
            FormatFingerprint(pinned, fingerprint);
            pinnedBy = PinnedAtFirstContact(node) ? pinnedFirst : pinnedSet;
        }
        const char *seen = lastContact(node);
        // A node refused for its key: when its next session checks the key again.
        char refused[64];
        DWORD refusedFor = NodeRefusedFor(node);
        if (refusedFor) {
            char until[9];
            FormatTimeFromNow(refusedFor, until);
            wsprintfA(refused, keyRefused, until);
            seen = refused;
        }
        char row[1024];
        fingerprint[ShortFingerprintLength] = 0;
        wsprintfA(row, "%s\t%s\t%s\t%s\t%lu\t%s\t%s", node, address, fingerprint, pinnedBy,
                  NodeSetting(node, GracePeriodSetting, DefaultGracePeriod, MaxGracePeriod),
                  NodeSetting(node, FastAdviseSetting, 0, 1) ? yes : no, seen ? seen : notSeen);
        AddListRow(list, row);
    }
    FitListColumns(list);
    // The first node is chosen until the user chooses another.
    if (chosen[0] || count > 0)
        chooseNode(list, chosen[0] ? chosen : nodes[0]);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, 0, TRUE);
}

void ShowChosenFingerprint(HWND window, HWND list)
{
    char node[MaxNodeNameLength + 1], text[FingerprintTextSize + 32] = "";
    BYTE pinned[FingerprintLength];
    if (chosenNode(list, node) && FindPin(node, pinned) == Pinned) {
        char fingerprint[FingerprintTextSize];
        FormatFingerprint(pinned, fingerprint);
        wsprintfA(text, "%s: %s", node, fingerprint);
    }
    char shown[sizeof text];
    GetDlgItemTextA(window, ChosenFingerprintId, shown, sizeof shown);
    if (lstrcmpA(shown, text) != 0)
        SetDlgItemTextA(window, ChosenFingerprintId, text);
}

// ---- Reading and writing a node's settings -----------------------------------

static void readNode(const char *node, NodeSettings *settings)
{
    ZeroMemory(settings, sizeof *settings);
    lstrcpyA(settings->name, node);
    char address[MaxNodeAddressLength + 1];
    NodeMapAddress(node, address, sizeof address);
    settings->port = AgentDefaultPort;
    char *colon = address;
    while (*colon && *colon != ':')
        colon++;
    if (*colon) {
        *colon = 0;
        settings->port = (unsigned short)strtoul(colon + 1, 0, 10);
    }
    lstrcpyA(settings->host, address);
    BYTE pinned[FingerprintLength];
    if (FindPin(node, pinned) == Pinned)
        FormatFingerprint(pinned, settings->fingerprint);
    settings->gracePeriod = NodeSetting(node, GracePeriodSetting, DefaultGracePeriod, MaxGracePeriod);
    settings->fastAdvise = NodeSetting(node, FastAdviseSetting, 0, 1) != 0;
}

// Writes the settings; a fingerprint other than the one pinned is pinned on
// the user's word, and an emptied one is forgotten. False when any part
// cannot be written.
static bool writeNode(const NodeSettings *settings)
{
    const char *node = settings->name;
    char address[MaxNodeAddressLength + 8];
    if (settings->port == AgentDefaultPort)
        lstrcpyA(address, settings->host);
    else
        wsprintfA(address, "%s:%u", settings->host, settings->port);
    bool written = SetNodeAddress(node, address) &&
                   SetNodeSetting(node, GracePeriodSetting, settings->gracePeriod) &&
                   SetNodeSetting(node, FastAdviseSetting, settings->fastAdvise ? 1 : 0);
    BYTE wanted[FingerprintLength], pinned[FingerprintLength];
    PinLookup pin = FindPin(node, pinned);
    if (settings->fingerprint[0] && ParseFingerprint(settings->fingerprint, wanted)) {
        if (pin != Pinned || memcmp(wanted, pinned, FingerprintLength) != 0) {
            written = SetPin(node, wanted) && written;
            LogSecurityEvent("node %s pinned to key %s by the user", node, settings->fingerprint);
        }
    } else if (!settings->fingerprint[0] && pin != NoPin) {
        written = ForgetPin(node) && written;
        LogSecurityEvent("the key pinned for node %s was forgotten by the user", node);
    }
    return written;
}

static bool isMapped(const char *node)
{
    char address[MaxNodeAddressLength + 1];
    NodeMapAddress(node, address, sizeof address);
    HKEY key;
    bool hasKey = OpenNodeKey(node, KEY_READ, &key) == ERROR_SUCCESS;
    if (hasKey)
        RegCloseKey(key);
    return address[0] || hasKey;
}

// ---- The page's commands -------------------------------------------------------

void AddNode(HWND window, HWND list)
{
    NodeSettings settings;
    ZeroMemory(&settings, sizeof settings);
    settings.port = AgentDefaultPort;
    settings.gracePeriod = DefaultGracePeriod;
    if (!RunNodeDialog(window, &settings, true))
        return;
    if (isMapped(settings.name)) {
        ShowNotice(window, IDS_NODE_EXISTS, settings.name);
        return;
    }
    if (writeNode(&settings))
        LogEvent("node %s added to the node map at %s", settings.name, settings.host);
    else
        ShowNotice(window, IDS_NOT_WRITTEN, settings.name);
    FillNodeList(list);
    chooseNode(list, settings.name);
}

void EditNode(HWND window, HWND list)
{
    char node[MaxNodeNameLength + 1];
    if (!chosenNodeOrNotice(window, list, node))
        return;
    NodeSettings settings;
    readNode(node, &settings);
    if (!RunNodeDialog(window, &settings, false))
        return;
    if (!writeNode(&settings))
        ShowNotice(window, IDS_NOT_WRITTEN, node);
    FillNodeList(list);
}

void RemoveNodeFromMap(HWND window, HWND list)
{
    char node[MaxNodeNameLength + 1];
    if (!chosenNodeOrNotice(window, list, node))
        return;
    if (!AskQuestion(window, IDS_REMOVE_QUESTION, node))
        return;
    if (RemoveNode(node))
        LogEvent("node %s removed from the node map", node);
    else
        ShowNotice(window, IDS_NOT_WRITTEN, node);
    FillNodeList(list);
}

void ForgetNodeKey(HWND window, HWND list)
{
    char node[MaxNodeNameLength + 1];
    if (!chosenNodeOrNotice(window, list, node))
        return;
    BYTE pinned[FingerprintLength];
    if (FindPin(node, pinned) != Pinned) {
        ShowNotice(window, IDS_NO_PIN, node);
        return;
    }
    char fingerprint[FingerprintTextSize];
    FormatFingerprint(pinned, fingerprint);
    if (!AskQuestion(window, IDS_FORGET_QUESTION, node, fingerprint))
        return;
    if (ForgetPin(node))
        LogSecurityEvent("the key pinned for node %s was forgotten by the user", node);
    else
        ShowNotice(window, IDS_NOT_WRITTEN, node);
    FillNodeList(list);
}
