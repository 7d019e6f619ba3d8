// DDE conversations carried between nodes. On the client's node, a
// conversation window of this agent stands in for the remote DDE server; on
// the serving node, one stands in for the remote DDE client. Both relay every
// DDE message as a frame (netdde_wire.h) through their session.
#ifndef CONVERSATIONS_H
#define CONVERSATIONS_H

#include "netsessions.h"
#include "sharestore.h"

// The conversations' window class, and the entry points their files reach
// each other through; before any conversation.
bool RegisterConversationClass(HINSTANCE instance);

// Passwords for shares on other nodes, which the program keeps and asks the
// user for (its password prompt): registered before any conversation.
struct PasswordKeeper {
    // The password granted before for `share` on `node`, or null.
    const char *(*rememberedPassword)(const char *node, const char *share);
    void (*rememberPassword)(const char *node, const char *share, const char *password);
    // Asks the user; false when the user cancels.
    bool (*askPassword)(HWND owner, const char *node, const char *share,
                        char password[MaxPasswordLength + 1]);
};
void SetPasswordKeeper(const PasswordKeeper *keeper);

// WM_DDE_INITIATE to the agent's window: answers one for \\NODE\NDDE$ and a
// share name at once, then opens the conversation with that node.
void AnswerInitiate(HWND client, LPARAM atoms);

// The entry points the sessions call (SetSessionUser).
extern const SessionUser ConversationSessionUser;

// A frame of a conversation; false when it breaks the protocol.
bool HandleConversationFrame(Session *session, const Frame *frame);
void SessionReadyForConversations(Session *session);
// Ends every conversation of the session (its DDE partners get WM_DDE_TERMINATE),
// but for the client conversations kept through an outage (outage.cpp).
void EndConversationsOf(Session *session, const char *reason);
// The agent closes: its DDE clients' conversations end rather than wait for
// their nodes through an outage.
void EndClientConversations();
// Closes a served session on this node's order: its conversations end on
// both nodes (the client node is told, and does not take it for an outage).
void CloseServedSession(Session *session);
int ConversationCountOn(const Session *session);

// WM_POST_DUE_UPDATES: a round of posting the updates that wait while a
// session is behind (SessionIsBehind); another follows while some are left.
void PostDueUpdates();
// WM_ASK_PASSWORD: asks the user for a share's password on the conversation's behalf.
void AskPasswordFor(DWORD serial);
// Once a second: conversations that cannot open in time, servers started for a share.
void CheckConversations();
// Takes a DDE message for a serving conversation with a transaction at its
// server, the answer it waits for (only an ack when an ack alone answers
// it, ahead of the links' data); false when none is queued. A few such
// conversations are looked at each time.
bool TakeAwaitedAnswer(MSG *message);

// The shares a served session has open conversations on (connections).
int ConnectionsOf(const Session *session, AgentConnection *list, int size);
// The conversations this agent carries, on both sides.
int CarriedConversationCount();
// What the agent's window shows of a conversation.
struct ConversationSummary {
    bool serving;
    char share[ShareNameSize];
    char node[MaxNodeNameLength + 1];
    char applicationTopic[2 * 256 + 2]; // "application|topic" of a served share, else ""
    int links;                          // advise links (client) or items held (served)
    DWORD mergedValues;
    char state[64];                     // with the seconds left while reconnecting
};
// Conversation `index`; false past the last.
bool SummarizeConversation(int index, ConversationSummary *summary);
// One line per conversation, for the agent's window.
int DescribeConversation(int index, char *line, int size);
// A node whose session dropped and which is being reached again.
struct ReconnectingNode {
    char node[MaxNodeNameLength + 1];
    DWORD secondsLeft;                  // the shortest of its conversations'
    DWORD conversations;
};
bool ReconnectingNodeAt(int index, ReconnectingNode *node);
// One line per node whose session dropped and which is being reached again,
// with the time left; 0 past the last.
int DescribeReconnectingNode(int index, char *line, int size);

#endif
