// The agent's icon in the notification area (agentui.h): its tooltip names
// the node and what it carries, its picture whether it is idle, carries
// conversations, or calls for attention (a node refused for its key, or
// repeated wrong passwords, within the last ten minutes and not yet seen in
// the window). Double-click opens the window; the right button opens the
// icon's menu.
#include "agentui.h"
#include "conversations.h"
#include <shellapi.h>

const UINT IconId = 1;
const DWORD AttentionSpan = 10 * 60 * 1000;   // ms an alarm keeps the icon's attention

enum IconState { IconIdle, IconCarrying, IconAttention, IconAbsent };

static IconState shownState = IconAbsent;
static char shownTip[64];

static void describe(NOTIFYICONDATAA *icon, HWND window, IconState *state)
{
    ZeroMemory(icon, sizeof *icon);
    icon->cbSize = NOTIFYICONDATAA_V1_SIZE;    // the size the Windows 95 shell knows
    icon->hWnd = window;
    icon->uID = IconId;
    icon->uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    icon->uCallbackMessage = WM_NOTIFY_ICON;
    int sessions = 0;
    for (int i = 0; i < SessionCount(); i++)
        if (IsShownSession(SessionAt(i)))
            sessions++;
    int conversations = CarriedConversationCount();
    char format[64];
    LoadText(IDS_TIP, format, sizeof format);
    wsprintfA(icon->szTip, format, OwnNodeName, sessions, conversations);
    *state = AttentionCalledWithin(AttentionSpan) ? IconAttention
             : conversations > 0                  ? IconCarrying
                                                  : IconIdle;
    static const int pictures[] = {IDI_AGENT_IDLE, IDI_AGENT_CARRYING, IDI_AGENT_ATTENTION};
    icon->hIcon = (HICON)LoadImageA(AgentInstance, MAKEINTRESOURCEA(pictures[*state]), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED);
}

bool AddNotifyIcon(HWND window)
{
    NOTIFYICONDATAA icon;
    IconState state;
    describe(&icon, window, &state);
    if (!Shell_NotifyIconA(NIM_ADD, &icon)) {
        shownState = IconAbsent;
        return false;
    }
    shownState = state;
    lstrcpyA(shownTip, icon.szTip);
    return true;
}

void UpdateNotifyIcon(HWND window)
{
    if (shownState == IconAbsent)
        return;
    NOTIFYICONDATAA icon;
    IconState state;
    describe(&icon, window, &state);
    if (state == shownState && lstrcmpA(icon.szTip, shownTip) == 0)
        return;
    if (Shell_NotifyIconA(NIM_MODIFY, &icon)) {
        shownState = state;
        lstrcpyA(shownTip, icon.szTip);
        ShowAgentState();               // the window names the icon's state too
    }
}

void RemoveNotifyIcon(HWND window)
{
    if (shownState == IconAbsent)
        return;
    NOTIFYICONDATAA icon;
    ZeroMemory(&icon, sizeof icon);
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = window;
    icon.uID = IconId;
    Shell_NotifyIconA(NIM_DELETE, &icon);
    shownState = IconAbsent;
}

const char *NotifyIconState()
{
    static const char *const names[] = {"idle", "carrying", "attention", "none"};
    return names[shownState];
}

// The icon's menu at the mouse; its command goes to the window.
static void showIconMenu(HWND window)
{
    HMENU menus = LoadMenuA(AgentInstance, MAKEINTRESOURCEA(IDR_NOTIFY_MENU));
    if (!menus)
        return;
    HMENU menu = GetSubMenu(menus, 0);
    SetMenuDefaultItem(menu, IDM_OPEN, FALSE);
    POINT at;
    GetCursorPos(&at);
    // In front, so that the menu closes when the user clicks elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window, 0);
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menus);
}

void HandleNotifyIcon(HWND window, LPARAM mouseMessage)
{
    if (mouseMessage == WM_LBUTTONDBLCLK)
        SendMessageA(window, WM_COMMAND, IDM_OPEN, 0);     // as the menu's Open
    else if (mouseMessage == WM_RBUTTONUP)
        showIconMenu(window);
}
