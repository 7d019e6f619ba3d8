// The parts of nddeagent.exe's window, each a file of the program: the
// notification icon (notifyicon.cpp), the window's pages of lists
// (agentpages.cpp), the node map's page and its commands (nodepage.cpp), the
// node dialog (nodedialog.cpp) and the helpers they share (agentui.cpp).
// agent.cpp owns the window and sends each message to its part.
#ifndef AGENTUI_H
#define AGENTUI_H

#include "agentres.h"
#include "identity.h"
#include "netsessions.h"
#include "nodemap.h"

extern HINSTANCE AgentInstance;

// Controls of the window: the tabs, and a list a page in the tabs' order
// (Sessions, Conversations, Nodes, Events, This node).
const int AgentTabId = 101;
const int FirstPageListId = 110;
const int NodeListId = FirstPageListId + 2;
// The Nodes page's read-only box of the chosen node's full fingerprint.
const int ChosenFingerprintId = 120;
// The This node page's check box "Allow remote administration" carries its
// command's id, as the pages' buttons do.
const int AllowAdministrationId = IDM_ALLOW_ADMINISTRATION;

// ---- Helpers (agentui.cpp) -------------------------------------------------

// Reads string `id` into `text` (`size` bytes).
void LoadText(UINT id, char *text, int size);
// Shows string `formatId` filled with the arguments (exclamation icon),
// owned by `owner`, captioned with the window's title.
void ShowNotice(HWND owner, UINT formatId, ...);
// Asks string `formatId` filled with the arguments (Yes/No); true for Yes.
bool AskQuestion(HWND owner, UINT formatId, ...);
// Puts `text` on the clipboard; false when the clipboard cannot be had.
bool CopyToClipboard(HWND owner, const char *text);
// This node's fingerprint, written out.
void OwnFingerprintText(char *text);
// The short form of a fingerprint the lists show: its first four groups.
const int ShortFingerprintLength = 19;
// The sessions shown: served once ready, and the outgoing ones, until they end.
bool IsShownSession(const Session *session);
// Adds a line to a list view in report mode: `cells` holds its columns'
// texts separated by tabs.
void AddListRow(HWND list, const char *cells);
// Makes each column of a list view as wide as its widest text or title.
void FitListColumns(HWND list);

// ---- The notification icon (notifyicon.cpp) -------------------------------

// Adds the icon; false where the system has no notification area.
bool AddNotifyIcon(HWND window);
// Shows what the agent carries and whether it calls for attention, when
// either changed since the icon last showed it.
void UpdateNotifyIcon(HWND window);
void RemoveNotifyIcon(HWND window);
// WM_NOTIFY_ICON: the mouse on the icon (`mouseMessage`).
void HandleNotifyIcon(HWND window, LPARAM mouseMessage);
// What the icon shows: "idle", "carrying", "attention", or "none" where the
// system took no icon.
const char *NotifyIconState();

// ---- The window's pages (agentpages.cpp) ----------------------------------

// WM_CREATE: the tabs, one list a page, the pages' buttons and the list of
// lines that tools read (AgentStateListId, kept hidden). False on failure.
bool CreateAgentPages(HWND window);
void LayoutAgentPages(HWND window);
// The tab shown changed (TCN_SELCHANGE).
void ShowSelectedPage(HWND window);
// Draws the lines that tools read, and the pages while the window is shown.
void DrawAgentPages(HWND window);
// Shows the window, restored and in front, and clears the attention.
void OpenAgentWindow(HWND window);
// Keeps where the window is and its size (for the next start), and reads
// it back: false when nothing sound is kept.
void RememberPlacement(HWND window);
bool ReadPlacement(RECT *place);
// Copies the lines of the page shown to the clipboard, its columns
// separated by tabs.
void CopyShownPage(HWND window);
// Ticks the This node page's "Allow remote administration" as remote
// administration of this node is now on or off.
void ShowAdministrationSetting(HWND window);

// ---- The node map's page (nodepage.cpp) -----------------------------------

// The Nodes list's lines from the node map, the one chosen kept chosen.
void FillNodeList(HWND list);
// Shows the chosen node's full fingerprint below the list (the list shows
// its first groups), where it can be selected and copied.
void ShowChosenFingerprint(HWND window, HWND list);
// The page's commands: Add..., Edit..., Remove..., Forget Key...
void AddNode(HWND window, HWND list);
void EditNode(HWND window, HWND list);
void RemoveNodeFromMap(HWND window, HWND list);
void ForgetNodeKey(HWND window, HWND list);

// ---- The node dialog (nodedialog.cpp) -------------------------------------

// What a user sets about a node.
struct NodeSettings {
    char name[MaxNodeNameLength + 1];
    char host[MaxNodeAddressLength + 1];
    unsigned short port;
    char fingerprint[FingerprintTextSize];  // "" for none set here
    DWORD gracePeriod;                      // s
    bool fastAdvise;
};
// Runs the dialog over `settings`; `adding` lets the name be typed. True
// when the user chose OK (the settings are then sound).
bool RunNodeDialog(HWND owner, NodeSettings *settings, bool adding);

#endif
