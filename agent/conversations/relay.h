// What both sides of a carried DDE conversation share: the conversation
// record, the list of conversations, DDE memory blocks and the queues of
// transactions waiting for their answers. The files, each calling only
// those below it:
//   conversations.cpp      the entry points of the sessions and the program,
//                          the conversation windows, the checks of time;
//   outage.cpp             the client's side through an outage of its session;
//   clientside.cpp         stands in for a remote DDE server on the client's node;
//   servingside.cpp        stands in for a remote DDE client on the serving node;
//   clientlinks.cpp, serverfinding.cpp, serveritems.cpp, waitingvalues.cpp
//                          what the sides keep and find;
//   conversationlist.cpp   the list, creating and ending conversations, and
//                          the helpers both sides share.
// A lower file reaches a higher one only through the tables conversations.cpp
// registers: ConversationEnding (what the sides do as a conversation ends)
// and ClientOutage (the client's side handing over to outage.cpp).
#ifndef RELAY_H
#define RELAY_H

#include "administration.h"
#include "conversations.h"
#include "permissions.h"
#include "postedblock.h"
#include <dde.h>

// Each side has slots of its own, so that peers a node serves cannot take
// the slots of this node's own outgoing conversations, nor the reverse.
const int MaxClientConversations = 1024;
const int MaxServedConversations = 1024;
const int MaxConversations = MaxClientConversations + MaxServedConversations;
// A serving node proves at most this many conversations of one session at
// once and refuses more Opens for want of room; the client's side sends
// the others once earlier ones are answered.
const int MaxUnprovedPerSession = 4;
const UINT WM_CONVERSATION_START = WM_APP + 20;
const UINT WM_SERVE_NEXT = WM_APP + 21;        // serving: the next transaction may go
const UINT WM_FREE_CONVERSATIONS = WM_APP + 22; // conversations ended meanwhile are freed
const UINT_PTR ReconnectTimer = 1;             // client: the next try to reach the node again
const char ConversationClass[] = "NDdeConversation";

// DDE flag bits (dde.h bit-fields as words).
const WORD DdeResponse = 0x1000, DdeRelease = 0x2000, DdeAckReq = 0x8000;
const WORD DdeAdviseFlags = 0xC000;        // fAckReq, fDeferUpd
const WORD AdviseOfThisAgent = 0x0001;     // a queued Advise this agent made to pace a link

enum ConversationState {
    WaitingForSession,   // client: the session to the node is being opened
    Opening,             // client: Open sent, Challenge or Refused to come
    Proving,             // client: Proof sent; serving: Challenge sent
    AskingPassword,      // client: the user is asked
    StartingServer,      // serving: the share's application was started, or the
                         // search for its server is made again (searchUnfinished)
    Standing,
    Reconnecting,        // client: its session dropped; the node is tried again
};

enum PasswordSource { FromMemory, EmptyPassword, FromUser };

// A link's newest value not yet sent to the client node (serving side): its
// Data frame as laid out for the wire, charged to the session's budget.
struct WaitingValue {
    WORD format;
    char item[MaxWireName + 1];
    ByteBuffer frame;
};

// A transaction waiting for its answer, or Data waiting for the client's ack.
struct Pending {
    BYTE kind;
    bool release;            // poke or data: fRelease
    bool refusedHere;        // refused by this agent: answered in its turn
    bool answeredEarly;      // client: an advise the client had its ack for at once, or
                             // this agent's own transaction after an outage: its
                             // answer goes to no client
    bool ackOurs;            // client: data whose ack this agent asked for (never relayed)
    WORD updates;            // client: the link updates its ack shows were taken
    WORD format;             // client: an advise's, unadvise's or link update's format
    WORD options;            // client: an advise's options (AdviseAckReq, AdviseDeferUpd)
    HGLOBAL handle;          // poke data, advise options, execute commands, data
    char item[MaxWireName + 1];
};

struct ClientLink;

struct Conversation {
    DWORD serial;            // unique while the agent runs
    bool serving;
    bool connectOnly;        // serving: a share held without a DDE server
    ConversationState state;
    Session *session;
    DWORD id;                // in its session
    HWND window, partner;    // ours; the DDE client or server
    bool partnerTerminated;  // the partner posted WM_DDE_TERMINATE first
    bool partnerGetsCopies;  // client: DDE blocks reach the client as copies (postedblock.h)
    bool windowKept;         // ended: the window waits for the partner's terminate
    char node[MaxNodeNameLength + 1];
    char share[ShareNameSize];
    DWORD startedAt;
    // Client side.
    PasswordSource passwordSource;
    char password[MaxPasswordLength + 1];
    ByteBuffer held;         // frames waiting for the conversation to stand, or for
                             // fewer transactions to be on their way
    int transactionsSent;    // sent to the node and not yet answered
    bool fastAdvise;         // advises are acknowledged at once (node setting)
    bool probeSent;          // asked whether its client takes its messages
    DWORD clientAnsweredAt;  // when the client answered (0: not since it was asked)
    ClientLink **linkBuckets;   // the advise links (clientlinks.cpp)
    int linkBucketCount, linkCount;
    int dueBucket;           // where the next round of updates waiting for this node starts
    DWORD linkBytes;         // what the links hold, charged to linkAccount
    BudgetAccount *linkAccount;
    // Through an outage of its session (outage.cpp): kept for a grace period
    // from `outageSince` (0 when none) while the node is reached again.
    DWORD outageSince;
    DWORD gracePeriod;       // ms
    DWORD retryDelay;        // ms until the next try after this one fails
    // Serving side.
    StoredShare stored;
    bool hasStored;
    ShareGrant grant;
    BYTE challenge[ChallengeLength];
    BYTE proof[ProofLength];    // the proof that granted: the grant is checked again with it;
                                // while proofHeld, the proof that waits to be checked
    bool proofHeld;             // its proof waits for the delay its share's wrong proofs owe
    bool serveNextPosted;       // WM_SERVE_NEXT is on its way
    bool serverOutruns;         // the server fed a link faster than this agent takes it:
                                // every hot link of the conversation is paced
    bool searchUnfinished;      // a search for the server could not hear every window
                                // in time: made again each check
    ByteBuffer itemSlots;    // the server's item atoms held by this agent (serveritems.cpp)
    ByteBuffer itemNames;
    int itemCount;
    bool atServer;           // the queue's first transaction is at the server
    HGLOBAL atServerHandle;
    DWORD atServerSince;
    bool aliveAsked;         // the server was asked whether it takes messages
    DWORD aliveAskedAt;
    DWORD turnWaitedSince;   // its session had its turns at the servers taken (0: not)
    ByteBuffer queue;        // serving: transactions as frames, oldest first; an Ack
                             // frame for one refused here, answered in its turn
    int queuedCount;
    ByteBuffer waiting;      // WaitingValue entries, the longest waiting first
    // Both sides.
    DWORD mergedValues;      // link values replaced by a newer one before they were sent
                             // to the client's node (serving) or posted to the client
    ByteBuffer pending;      // client: Pending transactions sent on
    ByteBuffer dataAcks;     // Pending data sent with fAckReq
    Conversation *nextEnded; // ended, waiting to be freed
};

// ---- The list of conversations ---------------------------------------------

int ConversationCount();
Conversation *ConversationAt(int index);
Conversation *FindConversation(const Session *session, DWORD id);
Conversation *ConversationOfSerial(DWORD serial);
// A new conversation with its window, listed last; null when there is no room.
Conversation *NewConversation(bool serving, Session *session, DWORD id);
// Forgets the conversation; its DDE partner has been told already. It is no
// longer listed (ConversationOfSerial does not find it) but stays allocated
// until a posted message frees it: a caller up the stack that waited in a
// call that dispatches sent messages may still hold it.
void DeleteConversation(Conversation *conversation);
// Ends a conversation from this side: its DDE partner gets WM_DDE_TERMINATE
// (client side: after a negative ack for every transaction still waiting),
// and the other node is told when `tellNode`.
void EndConversation(Conversation *conversation, bool tellNode);

// Whether a limit reached, whose last event was logged at *loggedAt (0:
// never), is to be logged now: once a minute at most. Sets *loggedAt when so.
bool IsLimitLogDue(DWORD *loggedAt);
// "\\NODE\NDDE$" gives NODE; false for any other application, or with a
// node name no node may have (`named` set when it is "\\...\NDDE$" all the same).
bool ReadNetworkApplication(const char *application, char *node, bool *named);

// The conversation cannot stand, for `reason`: logged, ended, the node told.
void FailConversation(Conversation *conversation, const char *reason);
// Frees the conversations ended since; only from a posted message (or the
// timer), where no caller holds one.
void FreeEndedConversations();

// What the sides do as a conversation ends (EndConversation) and is deleted
// and freed; registered by conversations.cpp before any conversation.
struct ConversationEnding {
    void (*refuseClientPending)(Conversation *conversation, WORD status);  // clientside.cpp
    void (*sendEveryWaitingValue)(Conversation *conversation);             // waitingvalues.cpp
    void (*dropWaitingValues)(Conversation *conversation);                 // waitingvalues.cpp
    void (*releaseServerItems)(Conversation *conversation);                // serveritems.cpp
    void (*chargeClientConversationTo)(Conversation *conversation, BudgetAccount *account);
    void (*freeClientLinks)(Conversation *conversation);                   // clientlinks.cpp
};
void SetConversationEnding(const ConversationEnding *sides);

// ---- Windows whose conversation has ended ----------------------------------

// Destroys the closing windows whose partner has gone or kept silent too long.
void CheckClosingWindows(DWORD now);
// What the partner of a window whose conversation has ended sends.
void ClosingWindowMessage(HWND window, UINT message, HWND sender, LPARAM lParam);
// Frees what a DDE message from the partner carries, for a message this side
// will not act on.
void DiscardDdeMessage(UINT message, LPARAM lParam, bool serving);
// Whether `message` goes the way of the conversation.
bool IsFromPartnerSide(UINT message, bool serving);

// ---- The queue of a serving conversation's transactions -------------------
// Transactions as frames, oldest first; the first is at the server while
// atServer.

const char *TransactionName(BYTE kind);
// The oldest queued transaction: the one at the server, or the next to go to it.
bool FirstQueued(Conversation *conversation, Frame *frame, DWORD *size);
void ConsumeFirstQueued(Conversation *conversation, DWORD size);
// Queues `frame` ahead of the transactions that wait (behind the one at
// the server); false when the queue cannot take it.
bool QueueAheadOfWaiting(Conversation *conversation, const Frame *frame);

// ---- Queues of Pending entries ---------------------------------------------

int PendingCount(const ByteBuffer *queue);
Pending *FirstPending(ByteBuffer *queue);
bool PushPending(ByteBuffer *queue, BYTE kind, HGLOBAL handle, bool release, const char *item);
// Takes the oldest entry of `kind` for `item` out of the queue; false when none waits.
bool TakePending(ByteBuffer *queue, BYTE kind, const char *item, Pending *taken);

// ---- The client's advise links (clientlinks.cpp) ----------------------------
// Every advise link the DDE client of a client conversation asked for, with
// its options and the last value the server sent on it: a request on a
// linked item is answered from that value, updates reach the client at its
// own pace, and the links can be made again on another session. What the
// links hold (records, values, updates waiting for the client) and the held
// frames are charged to one account, the conversation's session's.

enum ClientLinkState : BYTE {
    LinkAsked,               // its Advise waits for the server's answer
    LinkStanding,            // the server took it
};

struct ClientLink {
    ClientLink *nextInBucket;
    DWORD hash;
    UINT format;             // the link's clipboard format on this node
    WORD options;            // AdviseAckReq, AdviseDeferUpd, as the client asked
    ClientLinkState state;
    // The last value the server sent on a hot link (none on a warm one).
    bool hasValue;
    UINT valueFormat;
    DWORD valueLength;
    BYTE *value;
    // Updates toward the client.
    int posted;              // posted and not yet known to be taken by the client
    int unasked;             // the last of those, posted without fAckReq
    DWORD fullSince;         // when MaxPostedUpdates were last reached (0: since taken)
    bool unpaced;            // its client takes updates but answers no ack asked of it
    ByteBuffer waiting;      // Data frames not yet posted, oldest first
    char item[1];            // the item's name, allocated to its length
};

// The conversation's link on `item` in `format`, or null.
ClientLink *FindClientLink(Conversation *conversation, const char *item, UINT format);
// The conversation's warm link on `item`, in whatever format (a warm link's
// notice names none), or null.
ClientLink *FindWarmClientLink(Conversation *conversation, const char *item);
// The links in no particular order: the first, then each next one until null.
ClientLink *FirstClientLink(Conversation *conversation);
ClientLink *NextClientLink(Conversation *conversation, const ClientLink *link);
// The link on `item` in `format`, added as LinkAsked with `options` when
// there is none; null when memory or the budget runs out.
ClientLink *AddClientLink(Conversation *conversation, const char *item, UINT format, WORD options);
void RemoveClientLink(Conversation *conversation, ClientLink *link);
// Every link and what it holds (the conversation is freed).
void FreeClientLinks(Conversation *conversation);
// Keeps a copy of `data` as the link's last value; false when the budget
// does not take it (the link then has no value).
bool SetClientLinkValue(Conversation *conversation, ClientLink *link, UINT format,
                        const BYTE *data, DWORD length);
void ForgetClientLinkValue(Conversation *conversation, ClientLink *link);
// Adds a Data frame to the link's waiting updates. One that asks for no ack
// comes after at most `keep` - 1 waiting ones that ask for none either: the
// newer of those give way to it (latest value wins; nothing is reordered),
// counted in the conversation's mergedValues. False when the budget does
// not take it.
bool QueueClientLinkUpdate(Conversation *conversation, ClientLink *link, const Frame *frame,
                           int keep);
// The oldest waiting update, without taking it; false when none waits.
bool FirstClientLinkUpdate(ClientLink *link, Frame *frame, DWORD *size);
void TakeClientLinkUpdate(ClientLink *link, DWORD size);
// Charges what the links and held frames hold to `account` instead of the
// one they were charged to: the session's account once it is known, null
// before that session goes (on deleting the conversation, or keeping it
// over a session that ended).
void ChargeClientConversationTo(Conversation *conversation, BudgetAccount *account);

// ---- Names, formats and DDE blocks -----------------------------------------

// The atom's name, or "" for none (a buffer of MaxWireName + 1 bytes).
void AtomName(ATOM atom, char *name);
// The clipboard format of a frame: registered ones by name on this node.
UINT FormatOfFrame(const Frame *frame);
// Sets the frame's format, a registered one with its name; false when it has none.
bool SetFrameFormat(Frame *frame, UINT format);
// Formats whose data is a GDI or memory handle: meaningless on another node,
// and a receiver could be made to free a handle a peer chose.
bool IsHandleFormat(UINT format);
// Global memory for a DDE message: a 4-byte header (flags, format), then data.
HGLOBAL MakeDdeBlock(WORD flags, UINT format, const BYTE *data, DWORD length);

// The header and data of a locked DDE block.
struct DdeBlock {
    WORD flags;
    UINT format;
    const BYTE *data;
    DWORD length;
};
// Locks `block` and reads it; false when it is not one (nothing locked then).
bool LockDdeBlock(HGLOBAL block, DdeBlock *read);

// Refuses the Open of conversation `id` on `session` with `code`.
void SendRefusal(Session *session, DWORD id, UINT code);
// The words of a refusal's code, for events.
const char *RefusalReason(UINT code);
// A frame of the conversation with only its word and a name (an ack's item).
void SendSimpleFrame(Conversation *conversation, BYTE kind, WORD word, const char *name = "");

// ---- The two sides ----------------------------------------------------------

// Which frames a conversation takes in which states, and what they do.
struct FrameRule {
    BYTE kind;
    int states;               // bits: 1 << ConversationState
    void (*handle)(Conversation *, const Frame *);
};

const int BeforeStanding = 1 << WaitingForSession | 1 << Opening | 1 << Proving |
                           1 << AskingPassword | 1 << StartingServer;
const int WhenStanding = 1 << Standing;

// One link value replaced by a newer one before it went on: counted in the
// conversation's mergedValues, which its line in the agent window shows.
void CountMergedValue(Conversation *conversation);

// How the updates of a hot link are paced. A server that posts faster than
// this agent takes its updates would fill the agent's queue, and every
// session and answer would wait behind them. Once one of its links outruns
// the agent, each hot link of the conversation is advised again with
// fAckReq by this agent (an advise of its own, answered to no client), and
// so is every later one from the start; each update is acked as it is
// taken, so that the server merges what comes meanwhile. Links whose client
// asks for acks are paced by its acks.
enum LinkPacing {
    NotPaceable,         // no hot link without acks, or not known
    Paceable,            // a hot link whose client asks for no acks
    PacedHere,           // asked for acks by this agent, which gives them
};

// The name of the server's item atom `item` ("" for none; a buffer of
// MaxWireName + 1 bytes), from the conversation's table of the items its
// server named before, which holds a reference to each; *pacing is the
// pacing of the link on it.
void ServerItemName(Conversation *conversation, ATOM item, char *name, LinkPacing *pacing);
// Counts an update of the paceable link on `item`, posted by the server at
// `postedAt` and taken `waited` ms later; true when the link outruns this
// agent and is to be paced from now on.
bool LinkOutrunsAgent(Conversation *conversation, ATOM item, DWORD postedAt, DWORD waited);
// Records the pacing and format of the link on `item` (named `name`);
// nothing when the table cannot hold the item (the link is then never paced).
void SetLinkPacing(Conversation *conversation, ATOM item, const char *name, UINT format,
                   LinkPacing pacing);
// The link on `item` (every link for 0) ends: it is never advised again
// to pace it.
void EndLinkPacing(Conversation *conversation, ATOM item);
// Marks one paceable link as paced here, with its item's name (MaxWireName
// + 1 bytes) and format; false when none is left.
bool TakePaceableLink(Conversation *conversation, char *name, UINT *format);
// Lets go of every item atom the table holds (the conversation ends).
void ReleaseServerItems(Conversation *conversation);

// A Terminate from the other node, on either side.
void EndedByNode(Conversation *conversation, const Frame *frame);

extern const FrameRule ClientFrameRules[];
extern const int ClientFrameRuleCount;
extern const FrameRule ServingFrameRules[];
extern const int ServingFrameRuleCount;

// Client side (clientside.cpp).
void StartClientConversation(Conversation *conversation);
// Opens the conversation on its node with a new id, the session opened when
// there is none; false when none can be opened (the reason logged).
bool OpenOnNode(Conversation *conversation);
// Tells the client of a warm link that its item may have changed (after an
// outage), as the link's update.
void NotifyClientOfLink(Conversation *conversation, ClientLink *link);
// Sends (or holds in turn) this agent's own Advise or Request for `link`
// after an outage: its answer goes to no client; a Request's data becomes
// the link's update. False when it cannot travel.
bool SendForLink(Conversation *conversation, BYTE kind, const ClientLink *link);
void ClientWindowMessage(Conversation *conversation, UINT message, LPARAM lParam);
void CheckClientConversation(Conversation *conversation, DWORD now);
// A standing conversation's links whose client takes its messages but
// acknowledges none of the updates asked of it are no longer paced
// (clientlinks.cpp); true when some were let go, whose waiting updates
// are then to be posted.
bool CheckClientPace(Conversation *conversation, DWORD now);
// Answers every transaction still waiting with a negative ack of `status`.
void RefuseClientPending(Conversation *conversation, WORD status);

// What the client's side hands over to outage.cpp, which stands above it:
// registered by conversations.cpp before any conversation.
struct ClientOutage {
    bool (*keepThroughOutage)(Conversation *conversation, const Session *session,
                              const char *reason);
    void (*conversationRecovered)(Conversation *conversation);
    void (*checkOutage)(Conversation *conversation, DWORD now);
};
void SetClientOutage(const ClientOutage *outage);

// Client side through an outage of its session (outage.cpp).
// The session of a standing conversation dropped, or the node found no
// server for it when it was opened again: true when the conversation is
// kept (its transactions answered busy) while the node is tried again
// within the node's grace period; false when it is to end now (no grace
// period, or the node refused the session).
bool KeepThroughOutage(Conversation *conversation, const Session *session, const char *reason);
// ReconnectTimer: the next try to reach the node.
void TryNodeAgain(Conversation *conversation);
// The conversation stands again: its links are made again and their items'
// current values asked for (a warm link's client is told its item may have
// changed).
void ConversationRecovered(Conversation *conversation);
// Once a second: a conversation whose grace period is over ends.
void CheckOutage(Conversation *conversation, DWORD now);
// "reconnecting, N s left" for a conversation in an outage.
void DescribeOutage(const Conversation *conversation, DWORD now, char *text);

// Serving side (servingside.cpp).
void OpenShare(Session *session, const Frame *open);
void ServingWindowMessage(Conversation *conversation, UINT message, LPARAM lParam);
// WM_SERVE_NEXT: the next queued transaction goes to the server.
void ServeNextTransaction(Conversation *conversation);

// ---- A serving conversation's server (serverturns.cpp) ---------------------
// Whether the conversation may give its server a transaction now: its
// session has fewer than MaxAtServersPerSession at servers and no
// conversation of it waited longer. If not, it waits for its turn.
bool TakesTurnAtServer(Conversation *conversation);
// Its transaction was answered while others of its session wait: the one
// that waited longest goes next (from WM_SERVE_NEXT), this one after them.
// False when none waits.
bool YieldsTurnAtServer(Conversation *conversation);
// Once a second: a transaction unanswered for ServerAnswerTimeout has its
// server asked, without waiting, whether it takes messages; one that takes
// none for ServerAliveWait more is hung (a busy answer, the conversation
// ends). A turn freed by a conversation that ended is passed on.
void CheckServerAnswer(Conversation *conversation, DWORD now);
// Whether the transaction at the server is answered by WM_DDE_ACK alone (an
// advise, a poke, an execute): its answer may be taken ahead of the data the
// server sent before it, which it says nothing of. An unadvise's ack is not:
// it tells that no more data of the link follows.
bool AnsweredByAckAlone(Conversation *conversation);
void CheckServingConversation(Conversation *conversation, DWORD now);
// Whether the conversation takes the data of the Poke or Execute whose head
// (names, no data yet) is `head`: false when it would be refused anyway,
// and its data is then dropped unread (netdde_wire.h).
bool ServingTakesData(Conversation *conversation, const Frame *head);
// That Poke or Execute once its data is dropped (`head` carries none): it
// is refused in its turn.
void ServingDataDropped(Conversation *conversation, const Frame *head);
// Once a second, before the conversations: grants checked again when the
// share store changed, served sessions' delayed refusals.
void CheckServedSessions(DWORD now);
// Proofs other than a share's (the administration password) are slowed and
// counted by the same rules, under a name no share has: the delay the
// check of the next proof for `name` waits; whether the session is past
// the handful of wrong proofs (it ends, nothing more is checked); a checked
// proof, right or wrong.
DWORD ProofDelayOn(Session *session, const char *name);
bool ProofsStoppedOn(Session *session);
void CountProof(Session *session, const char *name, bool right);
// Every served conversation's grant made again from its share when the
// store changed since last asked; one that no longer stands ends
// (grants.cpp).
void CheckGrantsIfStoreChanged();

// Finding the server of a served conversation (serverfinding.cpp).
// Initiates to the share's application and topic: the window that answered
// last time first, then (when `mayAskEveryWindow`) every top-level window
// for a bounded time; the first server to answer holds the conversation.
// The conversation again, or null when it ended meanwhile (*found tells
// whether a server took it; *unfinished, that none did but a window did
// not answer in time or was not asked, as on a machine too busy to answer
// fast: its answer may still come).
Conversation *FindServer(DWORD serial, bool mayAskEveryWindow, bool *found, bool *unfinished);
// A message from the window that may become the server: an initiate's answer.
void ServerAnswered(Conversation *conversation, HWND server, LPARAM atoms);
// Starts the share's application (a program on the search path) unless it
// was started for another conversation and may still answer; false when it
// cannot be started.
bool StartServer(const char *application, const char *share, DWORD now);
// Whether every window may be asked now for the server of an application
// started for a share: once a second for all the conversations waiting for it.
bool MaySearchForStarted(const char *application, DWORD now);

// Links' values waiting for room in the session (waitingvalues.cpp).
// A link's value: sent when the session has room and none of this
// conversation's values waits before it, else kept to wait. False when it
// can be neither (memory ran out).
bool RelayLinkValue(Conversation *conversation, const Frame *frame);
// Takes out the waiting values of `item` ("" for every link), queued on the
// session when `send` (before other data of the item, so that its values
// never arrive out of order), dropped when not (their link has ended).
void TakeWaitingValuesOf(Conversation *conversation, const char *item, bool send);
// The session has room: the links' waiting values are queued, one
// conversation after another and one link after another, while it has.
void SendWaitingValues(Session *session);
// Queues every value the conversation's links have waiting, room or not:
// before its Terminate, so that the last values its server sent arrive.
void SendEveryWaitingValue(Conversation *conversation);
// Frees the values the conversation's links have waiting (it ends).
void DropWaitingValues(Conversation *conversation);

#endif
