// The serving side of a carried DDE conversation: a conversation window of
// this agent stands in for the remote DDE client.
//
// A client node opens a conversation on a share by name and proves a
// password against a fresh challenge; the conversation window then initiates
// to the share's application and topic and relays. Transactions reach the
// server one at a time, so that every answer is known to belong to the one at
// the server, and a transaction the share does not grant is refused in its
// turn without reaching it.
#include "relay.h"

// Conversations served at once, and those waiting for their proof: per
// session, per client node (its key, whatever name it greets with) and per
// peer address, so that no one peer takes every slot, and a peer that
// claims another node's name never counts against that node.
const int MaxConversationsPerSession = 256;
const int MaxConversationsPerPeer = 512;
const int MaxUnprovedPerNode = 8;
const int MaxUnprovedPerAddress = 16;
// A proof may come late from a client node whose challenge crossed a slow
// network behind a feed's data: it has as long as that node's conversation
// has to stand, and a refusal for lateness says so (never "wrong password",
// which would have its user asked for a password).
const DWORD ProvingTimeout = 20000;       // ms a client node has to send its proof
// Wrong proofs (a password guessed online) slow the checking of the next
// proofs for the same share: the first few are checked at once, then each
// proof waits, unchecked, twice as long as the one before, whether it turns
// out right or wrong, so that a right proof is never answered sooner than a
// wrong one would have been. They are counted per session and share and per
// peer address and share (a new session does not start afresh; a neighbour
// behind the same address proving another share is not held up), and only
// a right proof on that share clears them. After a handful on one session
// no more proofs are checked there and the session ends.
const int ImmediateRefusals = 3;
const DWORD FirstRefusalDelay = 1000;     // ms
const DWORD LongestRefusalDelay = 60000;  // ms
const int MaxWrongProofs = 7;             // on one session, held ones included
const DWORD AddressRefusalMemory = 600000;  // ms an address's wrong proofs slow its next sessions
const int MaxShareCounts = 8;             // shares with wrong proofs counted per session
const int MaxAddressCounts = 64;          // (address, share) pairs counted
// Other refusals (no such share, permissions, no server, limits) tell a
// guesser nothing a password protects: they are answered at once, and only
// their rate is bounded so that share names cannot be listed quickly.
const int MaxRefusedOpensPerMinute = 60;  // more on one session end it
const int NewFormatNamesPerSession = 16;  // clipboard format names a session may add here
const int MaxQueuedTransactions = 256;    // waiting for one server
const DWORD MaxQueuedTransactionBytes = 32 * 1024 * 1024;
// A window that did not answer an initiate in time may answer it late, as
// on a loaded machine: the conversation waits this long for that answer.
const DWORD LateInitiateAnswerWait = 2000;  // ms

// ---- Served sessions --------------------------------------------------------
// What this side counts per served session: wrong proofs per share and the
// proofs held until their delay has passed, refused Opens in the current
// minute, and the clipboard format names it added to this node's table.

struct ShareCount {
    char share[ShareNameSize];
    int wrongProofs;
};

struct HeldProof {
    DWORD serial;                 // its conversation's
    DWORD dueAt;                  // when it is checked
    char share[ShareNameSize];
};

struct AddressShareCount {
    DWORD address;
    char share[ShareNameSize];
    int wrongProofs;              // 0: the entry is free
    DWORD lastAt;
};

struct ServedSession {
    Session *session;
    DWORD sessionSerial;          // the record is stale once no session has it
    ShareCount shares[MaxShareCounts];
    HeldProof held[MaxWrongProofs];
    int heldCount;
    DWORD refusedSince;           // the minute refused Opens are counted in
    int refusedOpens;
    bool ending;                  // no more proofs: ends once its held proofs are answered
    int newFormatNames;
};

// Each record is made when its session first needs one, and dropped once
// the session has ended (CheckServedSessions).
static ServedSession *servedSessions[AgentMaxSessions];
static int servedSessionCount;
static AddressShareCount addressCounts[MaxAddressCounts];

static void dropServedSession(int index)
{
    HeapFree(GetProcessHeap(), 0, servedSessions[index]);
    servedSessions[index] = servedSessions[--servedSessionCount];
}

static void dropEndedServedSessions()
{
    for (int i = servedSessionCount - 1; i >= 0; i--)
        if (!SessionOfSerial(servedSessions[i]->sessionSerial))
            dropServedSession(i);
}

// The record of a served session, made when there is none; null when the
// system has no memory for it.
static ServedSession *servedSessionOf(Session *session)
{
    for (int i = 0; i < servedSessionCount; i++)
        if (servedSessions[i]->sessionSerial == session->serial)
            return servedSessions[i];
    if (servedSessionCount == AgentMaxSessions)
        dropEndedServedSessions();
    ServedSession *served =
        servedSessionCount < AgentMaxSessions
            ? (ServedSession *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *served)
            : 0;
    if (!served)
        return 0;
    served->session = session;
    served->sessionSerial = session->serial;
    servedSessions[servedSessionCount++] = served;
    return served;
}

// ---- Counts of wrong proofs ---------------------------------------------------

static ShareCount *shareCountOf(ServedSession *served, const char *share, bool make)
{
    ShareCount *free = 0;
    for (int i = 0; i < MaxShareCounts; i++) {
        ShareCount &count = served->shares[i];
        if (count.wrongProofs && isSameDdeName(count.share, share))
            return &count;
        if (!count.wrongProofs && !free)
            free = &count;
    }
    if (!make)
        return 0;
    // Full: the share with the fewest gives its place.
    if (!free) {
        free = &served->shares[0];
        for (int i = 1; i < MaxShareCounts; i++)
            if (served->shares[i].wrongProofs < free->wrongProofs)
                free = &served->shares[i];
    }
    lstrcpynA(free->share, share, ShareNameSize);
    free->wrongProofs = 0;
    return free;
}

// Every wrong proof counted on the session, on whatever share.
static int wrongProofsOf(const ServedSession *served)
{
    int total = 0;
    for (int i = 0; i < MaxShareCounts; i++)
        total += served->shares[i].wrongProofs;
    return total;
}

// Past the handful of wrong proofs a session's proofs are no longer checked
// and it ends: a security event, once.
static void stopCheckingProofs(ServedSession *served, const char *node)
{
    if (!served->ending)
        LogAlarm("ended: %s made %d wrong proofs: no more are checked on its session", node,
                 MaxWrongProofs);
    served->ending = true;
}

static AddressShareCount *addressCountOf(DWORD address, const char *share, DWORD now, bool make)
{
    AddressShareCount *free = 0, *oldest = &addressCounts[0];
    for (int i = 0; i < MaxAddressCounts; i++) {
        AddressShareCount &count = addressCounts[i];
        if (count.wrongProofs && now - count.lastAt >= AddressRefusalMemory)
            count.wrongProofs = 0;
        if (count.wrongProofs && count.address == address && isSameDdeName(count.share, share))
            return &count;
        if (!count.wrongProofs && !free)
            free = &count;
        if (now - count.lastAt > now - oldest->lastAt)
            oldest = &count;
    }
    if (!make)
        return 0;
    AddressShareCount *entry = free ? free : oldest;
    entry->address = address;
    lstrcpynA(entry->share, share, ShareNameSize);
    entry->wrongProofs = 0;
    entry->lastAt = now;
    return entry;
}

// The wrong proofs a proof for `share` on `served`'s session follows: the
// session's or its address's, whichever is more.
static int wrongProofsBefore(ServedSession *served, const char *share, DWORD now)
{
    const ShareCount *ofSession = shareCountOf(served, share, false);
    const AddressShareCount *ofAddress =
        addressCountOf(served->session->peerAddress, share, now, false);
    int session = ofSession ? ofSession->wrongProofs : 0;
    int address = ofAddress ? ofAddress->wrongProofs : 0;
    return session > address ? session : address;
}

static void countWrongProof(ServedSession *served, const char *share, DWORD now)
{
    if (!served)
        return;
    shareCountOf(served, share, true)->wrongProofs++;
    AddressShareCount *ofAddress = addressCountOf(served->session->peerAddress, share, now, true);
    ofAddress->wrongProofs++;
    ofAddress->lastAt = now;
}

// A right proof on `share` clears what was counted against it, and only that.
static void clearWrongProofs(ServedSession *served, const char *share, DWORD now)
{
    ShareCount *ofSession = served ? shareCountOf(served, share, false) : 0;
    if (ofSession)
        ofSession->wrongProofs = 0;
    AddressShareCount *ofAddress =
        served ? addressCountOf(served->session->peerAddress, share, now, false) : 0;
    if (ofAddress)
        ofAddress->wrongProofs = 0;
}

// How long the check of a proof that follows `wrongProofs` wrong ones waits.
static DWORD refusalDelay(int wrongProofs)
{
    int refusals = wrongProofs + 1;
    if (refusals <= ImmediateRefusals)
        return 0;
    int doublings = refusals - ImmediateRefusals - 1;
    return doublings >= 6 ? LongestRefusalDelay : FirstRefusalDelay << doublings;
}

// ---- Other proofs under the same rules (administration.cpp) ------------------

DWORD ProofDelayOn(Session *session, const char *name)
{
    ServedSession *served = servedSessionOf(session);
    return served ? refusalDelay(wrongProofsBefore(served, name, GetTickCount())) : 0;
}

bool ProofsStoppedOn(Session *session)
{
    ServedSession *served = servedSessionOf(session);
    if (served && !served->ending && wrongProofsOf(served) + served->heldCount >= MaxWrongProofs)
        stopCheckingProofs(served, session->node);
    return served && served->ending;
}

void CountProof(Session *session, const char *name, bool right)
{
    ServedSession *served = servedSessionOf(session);
    DWORD now = GetTickCount();
    if (right) {
        clearWrongProofs(served, name, now);
        return;
    }
    countWrongProof(served, name, now);
    if (served && wrongProofsOf(served) >= MaxWrongProofs)
        stopCheckingProofs(served, session->node);
}

// Refuses an Open (or a conversation that cannot stand) for any reason but
// a wrong proof: at once. A session refused more than
// MaxRefusedOpensPerMinute times in a minute ends.
static void refuseOpen(Session *session, DWORD id, const char *share, UINT code,
                       bool logged = true)
{
    ServedSession *served = servedSessionOf(session);
    if (served && served->ending)
        return;
    if (logged)
        LogEvent("refused: %s asked for share %s: %s", session->node, share,
                 RefusalReason(code));
    DWORD now = GetTickCount();
    if (served && now - served->refusedSince >= 60000) {
        served->refusedSince = now;
        served->refusedOpens = 0;
    }
    if (served && ++served->refusedOpens > MaxRefusedOpensPerMinute) {
        LogEvent("ended: %s was refused more than %d conversations within a minute",
                 session->node, MaxRefusedOpensPerMinute);
        served->ending = true;
        EndSessionAfterSending(session, "too many refused conversations");
        return;
    }
    SendRefusal(session, id, code);
}

static void checkHeldProof(DWORD serial);

void CheckServedSessions(DWORD now)
{
    CheckGrantsIfStoreChanged();
    dropEndedServedSessions();
    for (int i = servedSessionCount - 1; i >= 0; i--) {
        ServedSession *served = servedSessions[i];
        while (served->heldCount > 0 && (LONG)(now - served->held[0].dueAt) >= 0) {
            DWORD serial = served->held[0].serial;
            MoveMemory(&served->held[0], &served->held[1],
                       --served->heldCount * sizeof served->held[0]);
            checkHeldProof(serial);
            // Checking may have ended sessions and moved this table's entries.
            if (i >= servedSessionCount || servedSessions[i] != served)
                break;
        }
        if (i < servedSessionCount && servedSessions[i] == served && served->ending &&
            served->heldCount == 0)
            EndSessionAfterSending(served->session, "too many wrong passwords");
    }
}

// The clipboard format of a frame from the client node, registered here by
// name only when this node knows the name already (Wine keeps format names
// in the global atom table) or within the session's small budget: format
// names are never freed, and a full table breaks every DDE conversation
// on this node. False when the frame's format cannot be used here.
static bool servingFormatOf(Conversation *conversation, const Frame *frame, UINT *format)
{
    *format = frame->format;
    if (!frame->formatName[0])
        return frame->format < 0xC000;
    if (!GlobalFindAtomA(frame->formatName)) {
        ServedSession *served = servedSessionOf(conversation->session);
        if (!served || served->newFormatNames >= NewFormatNamesPerSession)
            return false;
        served->newFormatNames++;
    }
    *format = RegisterClipboardFormatA(frame->formatName);
    return *format != 0;
}

// ---- Opening ---------------------------------------------------------------

enum PeerScope { SameSession, SameNode, SameAddress };

// The served conversations (or only the unproved ones) of `session`'s peer,
// as far as `scope` reaches.
static int servedCountOf(const Session *session, PeerScope scope, bool unprovedOnly)
{
    int count = 0;
    for (int i = 0; i < ConversationCount(); i++) {
        const Conversation *conversation = ConversationAt(i);
        const Session *of = conversation->session;
        if (!conversation->serving || !of || (unprovedOnly && conversation->state != Proving))
            continue;
        if (scope == SameSession ? of == session
            : scope == SameNode ? memcmp(of->peerKey, session->peerKey, FingerprintLength) == 0
                                : of->peerAddress == session->peerAddress)
            count++;
    }
    return count;
}

// The bounds of what one peer may hold, each logged once a minute at most
// when reached (a peer that keeps asking would fill the events otherwise).
struct OpenLimit {
    PeerScope scope;
    bool unprovedOnly;
    int most;
    const char *name;
    DWORD loggedAt;
};
static OpenLimit openLimits[] = {
    {SameSession, false, MaxConversationsPerSession, "conversations per session", 0},
    {SameNode, false, MaxConversationsPerPeer, "conversations per node", 0},
    {SameAddress, false, MaxConversationsPerPeer, "conversations per address", 0},
    {SameSession, true, MaxUnprovedPerSession, "unproved conversations per session", 0},
    {SameNode, true, MaxUnprovedPerNode, "unproved conversations per node", 0},
    {SameAddress, true, MaxUnprovedPerAddress, "unproved conversations per address", 0},
};

void OpenShare(Session *session, const Frame *open)
{
    ServedSession *served = servedSessionOf(session);
    // A session past the handful of wrong proofs is ending: nothing more is opened.
    if (served && served->ending)
        return;
    for (OpenLimit &limit : openLimits) {
        if (servedCountOf(session, limit.scope, limit.unprovedOnly) < limit.most)
            continue;
        if (IsLimitLogDue(&limit.loggedAt))
            LogWarning("refused: %s asked for share %s: no room, %d %s reached",
                       session->node, open->name, limit.most, limit.name);
        refuseOpen(session, open->conversation, open->name, NDDE_OUT_OF_MEMORY, false);
        return;
    }
    if (FindConversation(session, open->conversation)) {
        refuseOpen(session, open->conversation, open->name, NDDE_INVALID_PARAMETER);
        return;
    }
    if (!IsValidShareName(open->name)) {
        refuseOpen(session, open->conversation, open->name, NDDE_INVALID_SHARE);
        return;
    }
    StoredShare stored;
    UINT result = StoreReadShare(open->name, &stored);
    // The store finds names by their upper-cased form; over the wire only
    // ASCII letters ignore case.
    if (result == NDDE_NO_ERROR && !isSameDdeName(open->name, stored.view.shareName)) {
        ReleaseStoredShare(&stored);
        result = NDDE_SHARE_NOT_EXIST;
    }
    if (result != NDDE_NO_ERROR) {
        refuseOpen(session, open->conversation, open->name, result);
        return;
    }
    Conversation *conversation = NewConversation(true, session, open->conversation);
    bool challenged = conversation && MakeChallenge(conversation->challenge);
    if (!challenged) {
        ReleaseStoredShare(&stored);
        if (conversation)
            DeleteConversation(conversation);
        refuseOpen(session, open->conversation, open->name,
                   conversation ? NDDE_INTERNAL_ERROR : NDDE_OUT_OF_MEMORY);
        return;
    }
    conversation->queue.account = conversation->waiting.account = &session->budget;
    conversation->stored = stored;
    conversation->hasStored = true;
    conversation->connectOnly = (open->word & OpenConnectOnly) != 0;
    lstrcpyA(conversation->node, session->node);
    lstrcpynA(conversation->share, stored.view.shareName, ShareNameSize);
    conversation->state = Proving;
    Frame challenge;
    InitFrame(&challenge, FrameChallenge, conversation->id);
    challenge.data = conversation->challenge;
    challenge.dataLength = ChallengeLength;
    SendFrame(session, &challenge);
}

// ---- Proving ---------------------------------------------------------------

static void conversationStands(Conversation *conversation)
{
    conversation->state = Standing;
    Frame opened;
    InitFrame(&opened, FrameOpened, conversation->id);
    BYTE words[4] = {(BYTE)conversation->grant.access, 0, (BYTE)conversation->grant.permissions,
                     (BYTE)(conversation->grant.permissions >> 8)};
    opened.data = words;
    opened.dataLength = sizeof words;
    SendFrame(conversation->session, &opened);
    LogEvent("%s opened share %s with access #%u", conversation->node, conversation->share,
             conversation->grant.access);
    ShowAgentState();
}

// Serving side: the conversation cannot stand; the client's node is told why.
static void refuseConversation(Conversation *conversation, UINT code)
{
    if (conversation->session)
        refuseOpen(conversation->session, conversation->id, conversation->share, code);
    DeleteConversation(conversation);
}

// Checks the proof the conversation holds: a wrong one is counted and
// refused at once (its delay, if any, was spent before the check).
static void checkProof(Conversation *conversation)
{
    Session *session = conversation->session;
    ServedSession *served = servedSessionOf(session);
    DWORD now = GetTickCount();
    UINT result = GrantShareAccess(&conversation->stored.view, conversation->challenge,
                                   session->binding, conversation->proof, &conversation->grant);
    if (result != NDDE_NO_ERROR) {
        countWrongProof(served, conversation->share, now);
        LogEvent("refused: %s asked for share %s: %s", session->node,
                 conversation->share, RefusalReason(result));
        SendRefusal(session, conversation->id, result);
        DeleteConversation(conversation);
        if (served && wrongProofsOf(served) >= MaxWrongProofs)
            stopCheckingProofs(served, session->node);
        return;
    }
    clearWrongProofs(served, conversation->share, now);
    // An access that grants nothing is answered as such at once: no server
    // is looked for, and the client may ask its user for a password.
    if (!conversation->grant.permissions)
        conversation->connectOnly = true;
    if (conversation->connectOnly) {
        conversationStands(conversation);
        return;
    }
    bool found, unfinished;
    DWORD serial = conversation->serial;
    conversation = FindServer(serial, true, &found, &unfinished);
    if (!conversation)
        return;
    if (found) {
        conversationStands(conversation);
        return;
    }
    const char *application = conversation->stored.view.appName;
    DWORD startedAt = GetTickCount();
    if ((conversation->grant.permissions & StartApp) &&
        StartServer(application, conversation->share, startedAt)) {
        conversation->state = StartingServer;
        conversation->startedAt = startedAt;
        return;
    }
    // A server may be among the windows that did not answer in time: it is
    // looked for again rather than refused.
    if (unfinished) {
        conversation->state = StartingServer;
        conversation->startedAt = startedAt;
        conversation->searchUnfinished = true;
        return;
    }
    refuseConversation(conversation, NDDE_CANT_ACCESS_SERVER);
}

// The proofs held on the session for `share`, and when the last of them is due.
static int heldProofsOn(const ServedSession *served, const char *share, DWORD *lastDue)
{
    int count = 0;
    for (int i = 0; i < served->heldCount; i++)
        if (isSameDdeName(served->held[i].share, share)) {
            count++;
            *lastDue = served->held[i].dueAt;
        }
    return count;
}

// A proof from the client node: checked now, or held unchecked while the
// session or its address owes a delay for wrong proofs on this share, as
// if every proof held before it were wrong too.
static void proveShare(Conversation *conversation, const Frame *proof)
{
    if (conversation->proofHeld)
        return;                   // one proof per conversation
    CopyMemory(conversation->proof, proof->data, ProofLength);
    ServedSession *served = servedSessionOf(conversation->session);
    if (!served) {
        checkProof(conversation);
        return;
    }
    // Past the handful: not checked, not answered; the session ends.
    if (served->ending || wrongProofsOf(served) + served->heldCount >= MaxWrongProofs) {
        stopCheckingProofs(served, conversation->node);
        DeleteConversation(conversation);
        return;
    }
    DWORD now = GetTickCount(), after = now;
    int held = heldProofsOn(served, conversation->share, &after);
    DWORD delay = refusalDelay(wrongProofsBefore(served, conversation->share, now) + held);
    if (delay == 0) {
        checkProof(conversation);
        return;
    }
    if (!held)
        after = now;
    DWORD dueAt = after + delay;
    // Kept in the order they fall due.
    int at = served->heldCount;
    while (at > 0 && (LONG)(served->held[at - 1].dueAt - dueAt) > 0)
        at--;
    MoveMemory(&served->held[at + 1], &served->held[at],
               (served->heldCount - at) * sizeof served->held[0]);
    served->heldCount++;
    served->held[at].serial = conversation->serial;
    served->held[at].dueAt = dueAt;
    lstrcpynA(served->held[at].share, conversation->share, ShareNameSize);
    conversation->proofHeld = true;
}

static void checkHeldProof(DWORD serial)
{
    Conversation *conversation = ConversationOfSerial(serial);
    if (!conversation || !conversation->serving || conversation->state != Proving ||
        !conversation->proofHeld)
        return;
    conversation->proofHeld = false;
    checkProof(conversation);
}

// ---- Transactions ----------------------------------------------------------

// Sends the oldest queued transaction to the server, or its refusal when it
// was refused on arrival; one at a time.
static void serveNextTransaction(Conversation *conversation)
{
    Frame frame;
    DWORD size;
    while (!conversation->atServer && !conversation->serveNextPosted &&
           FirstQueued(conversation, &frame, &size)) {
        if (frame.kind == FrameAck) {
            SendSimpleFrame(conversation, FrameAck, frame.word, frame.name);
            ConsumeFirstQueued(conversation, size);
            continue;
        }
        if (!TakesTurnAtServer(conversation))
            return;
        // Registered on arrival: known here now.
        UINT format = FormatOfFrame(&frame);
        ATOM item = frame.name[0] ? GlobalAddAtomA(frame.name) : 0;
        HGLOBAL handle = 0;
        LPARAM lParam = 0;
        UINT message = 0;
        switch (frame.kind) {
        case FrameRequest:
            message = WM_DDE_REQUEST;
            lParam = MAKELPARAM(format, item);
            break;
        case FrameUnadvise:
            EndLinkPacing(conversation, item);
            message = WM_DDE_UNADVISE;
            lParam = MAKELPARAM(format, item);
            break;
        case FramePoke:
            message = WM_DDE_POKE;
            handle = MakeDdeBlock(DdeRelease, format, frame.data, frame.dataLength);
            lParam = PackDDElParam(message, (UINT_PTR)handle, item);
            break;
        case FrameAdvise: {
            WORD options = frame.word & DdeAdviseFlags;
            if (!(frame.word & AdviseOfThisAgent)) {
                bool paceable = options == 0;
                if (paceable && conversation->serverOutruns)
                    options |= AdviseAckReq;
                SetLinkPacing(conversation, item, frame.name, format,
                              !paceable ? NotPaceable : conversation->serverOutruns ? PacedHere : Paceable);
            }
            message = WM_DDE_ADVISE;
            handle = MakeDdeBlock(options, format, 0, 0);
            lParam = PackDDElParam(message, (UINT_PTR)handle, item);
            break;
        }
        case FrameExecute: {
            message = WM_DDE_EXECUTE;
            handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, frame.dataLength + 1);
            BYTE *command = handle ? (BYTE *)GlobalLock(handle) : 0;
            if (command) {
                CopyMemory(command, frame.data, frame.dataLength);
                command[frame.dataLength] = 0;
                GlobalUnlock(handle);
            }
            lParam = (LPARAM)handle;
            break;
        }
        }
        conversation->atServer = true;
        conversation->atServerHandle = handle;
        conversation->atServerSince = GetTickCount();
        if ((frame.kind != FrameRequest && frame.kind != FrameUnadvise && !handle) ||
            !PostMessageA(conversation->partner, message, (WPARAM)conversation->window, lParam)) {
            // The server cannot be given it: the client is refused in turn.
            LogEvent("refused: %s \"%s\" on share %s for %s: the server takes no message",
                     TransactionName(frame.kind), frame.name, conversation->share,
                     conversation->node);
            if (message == WM_DDE_POKE || message == WM_DDE_ADVISE)
                FreeDDElParam(message, lParam);
            if (handle)
                GlobalFree(handle);
            if (item)
                GlobalDeleteAtom(item);
            conversation->atServer = false;
            conversation->atServerHandle = 0;
            SendSimpleFrame(conversation, FrameAck, 0, frame.name);
            ConsumeFirstQueued(conversation, size);
        } else if (message == WM_DDE_POKE || message == WM_DDE_ADVISE) {
            // Poke data and advise options are the server's once posted;
            // an execute's commands come back with its ack.
            conversation->atServerHandle = ReleasePostedBlock(conversation->partner, handle);
        }
    }
}

void ServeNextTransaction(Conversation *conversation)
{
    conversation->serveNextPosted = false;
    serveNextTransaction(conversation);
}

// The transaction at the server has its answer. A next one already waiting
// goes at once, ahead of the links' data queued meanwhile, unless an ack of
// the server waits: what the server posted together with this answer (a
// DDEML server's stray acknowledgement) must not be taken for the next
// one's answer, which then goes from a posted message, after it.
static void transactionAnswered(Conversation *conversation)
{
    Frame frame;
    DWORD size;
    if (FirstQueued(conversation, &frame, &size))
        ConsumeFirstQueued(conversation, size);
    conversation->atServer = false;
    conversation->atServerHandle = 0;
    conversation->aliveAsked = false;
    if (YieldsTurnAtServer(conversation))
        return;
    if (conversation->queuedCount > 0) {
        // Looking may handle sent messages, which may end the conversation.
        DWORD serial = conversation->serial;
        MSG waiting;
        bool ackWaits =
            PeekMessageA(&waiting, conversation->window, WM_DDE_ACK, WM_DDE_ACK, PM_NOREMOVE) != 0;
        if (!ConversationOfSerial(serial))
            return;
        if (ackWaits)
            conversation->serveNextPosted =
                PostMessageA(conversation->window, WM_SERVE_NEXT, 0, 0) != 0;
    }
    serveNextTransaction(conversation);
}

// Why this agent refuses a transaction from the client node without giving
// it to the server; null when it goes to the server. `format` is set.
static const char *transactionRefusal(Conversation *conversation, const Frame *frame,
                                      UINT *format)
{
    *format = 0;
    if (conversation->connectOnly ||
        !AllowsTransaction(&conversation->stored.view, &conversation->grant, frame->kind,
                           frame->name))
        return "permission";
    if (frame->kind == FrameExecute)
        return 0;
    if (IsHandleFormat(frame->format) && !frame->formatName[0])
        return "a format of handles, meaningless on another node";
    if (!servingFormatOf(conversation, frame, format))
        return "a clipboard format this node does not take";
    return 0;
}

static void queueTransaction(Conversation *conversation, const Frame *frame)
{
    ByteBuffer &queue = conversation->queue;
    if (conversation->queuedCount >= MaxQueuedTransactions) {
        LogEvent("%s sent share %s more than its server takes: conversation ended",
                 conversation->node, conversation->share);
        EndConversation(conversation, true);
        return;
    }
    UINT format;
    const char *refusal = transactionRefusal(conversation, frame, &format);
    if (!refusal && queue.length - queue.start + frame->dataLength > MaxQueuedTransactionBytes)
        refusal = "more data waiting for the server than it takes";
    bool queued;
    if (refusal) {
        LogEvent("refused: %s \"%s\" on share %s for %s: %s", TransactionName(frame->kind),
                 frame->name, conversation->share, conversation->node, refusal);
        // Refused here: its place in the order of answers, not its data.
        Frame answer;
        InitFrame(&answer, FrameAck, conversation->id);
        lstrcpyA(answer.name, frame->name);
        queued = AppendFrame(&queue, &answer);
    } else {
        // Only this agent's own advises carry more than the DDEADVISE bits.
        Frame transaction = *frame;
        if (transaction.kind == FrameAdvise)
            transaction.word &= DdeAdviseFlags;
        queued = AppendFrame(&queue, &transaction);
    }
    if (!queued) {
        LogEvent("%s sent share %s more than its server takes: conversation ended",
                 conversation->node, conversation->share);
        EndConversation(conversation, true);
        return;
    }
    conversation->queuedCount++;
    serveNextTransaction(conversation);
}

bool ServingTakesData(Conversation *conversation, const Frame *head)
{
    return !conversation->connectOnly &&
           AllowsTransaction(&conversation->stored.view, &conversation->grant, head->kind,
                             head->name);
}

void ServingDataDropped(Conversation *conversation, const Frame *head)
{
    queueTransaction(conversation, head);
}

// Whether the server's WM_DDE_ACK answers the transaction at it: an
// execute's carries its command handle; a poke's, advise's or unadvise's
// names its item; a request is answered by data, or by a negative ack
// naming its item. Anything else is stray (Wine's DDEML server sends a
// positive ack after the data that answers a request).
static bool answersTransactionAtServer(Conversation *conversation, const Frame *atServer,
                                       UINT_PTR status, UINT_PTR high)
{
    if (atServer->kind == FrameExecute)
        return high == (UINT_PTR)conversation->atServerHandle;
    if (atServer->kind == FrameRequest && (status & AckPositive))
        return false;
    if (high && (high < 0xC000 || high > 0xFFFF))
        return false;
    char item[MaxWireName + 1];
    AtomName((ATOM)high, item);
    return isSameDdeName(item, atServer->name);
}

static void serverAcknowledged(Conversation *conversation, LPARAM lParam)
{
    UINT_PTR status = 0, high = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &high);
    FreeDDElParam(WM_DDE_ACK, lParam);
    Frame frame;
    DWORD size;
    bool answers = conversation->atServer && FirstQueued(conversation, &frame, &size) &&
                   answersTransactionAtServer(conversation, &frame, status, high);
    // A stray ack's atom is left alone: Wine's DDEML server names the item
    // of the data it answered with, whose one reference that data carried
    // (and this agent freed), so deleting it would free a reference held by
    // someone else.
    if (!answers)
        return;
    if (frame.kind == FrameExecute)
        GlobalFree((HGLOBAL)high);
    else if (high)
        GlobalDeleteAtom((ATOM)high);
    if (!(status & AckPositive) && (frame.kind == FramePoke || frame.kind == FrameAdvise))
        GlobalFree(conversation->atServerHandle);
    // An ended link's waiting value is not sent after the unadvise's answer.
    if ((status & AckPositive) && frame.kind == FrameUnadvise)
        TakeWaitingValuesOf(conversation, frame.name, false);
    if (!(frame.kind == FrameAdvise && (frame.word & AdviseOfThisAgent)))
        SendSimpleFrame(conversation, FrameAck, (WORD)status, frame.name);
    transactionAnswered(conversation);
}
// Acknowledges the server's data of `item` with `status`.
static void postAckToServer(Conversation *conversation, WORD status, const char *item)
{
    ATOM atom = GlobalAddAtomA(item);
    LPARAM lParam = PackDDElParam(WM_DDE_ACK, status, atom);
    if (!PostMessageA(conversation->partner, WM_DDE_ACK, (WPARAM)conversation->window, lParam)) {
        FreeDDElParam(WM_DDE_ACK, lParam);
        GlobalDeleteAtom(atom);
        LogEvent("the server of share %s takes no acknowledgement of \"%s\" from %s",
                 conversation->share, item, conversation->node);
    }
}

// The server outruns this agent (LinkOutrunsAgent): each of its hot links is
// asked for acks from now on through an advise of this agent's own. These go
// ahead of the client's transactions that wait, which the feed holds up as
// much as anything else.
static void paceServer(Conversation *conversation)
{
    if (!conversation->serverOutruns)
        LogEvent("the server of share %s feeds faster than this node takes its updates: its links are paced",
                 conversation->share);
    conversation->serverOutruns = true;
    Frame advise;
    UINT format;
    InitFrame(&advise, FrameAdvise, conversation->id);
    advise.word = AdviseAckReq | AdviseOfThisAgent;
    while (conversation->queuedCount < MaxQueuedTransactions &&
           TakePaceableLink(conversation, advise.name, &format)) {
        advise.formatName[0] = 0;
        if (SetFrameFormat(&advise, format))
            QueueAheadOfWaiting(conversation, &advise);
    }
    serveNextTransaction(conversation);
}

// The server's WM_DDE_DATA: an answer to a request or a link's update.
static void serverSentData(Conversation *conversation, LPARAM lParam)
{
    UINT_PTR low = 0, high = 0;
    UnpackDDElParam(WM_DDE_DATA, lParam, &low, &high);
    FreeDDElParam(WM_DDE_DATA, lParam);
    HGLOBAL data = (HGLOBAL)low;
    Frame frame;
    InitFrame(&frame, FrameData, conversation->id);
    LinkPacing pacing;
    ServerItemName(conversation, (ATOM)high, frame.name, &pacing);
    DWORD postedAt = (DWORD)GetMessageTime();
    bool outruns = LinkOutrunsAgent(conversation, (ATOM)high, postedAt, GetTickCount() - postedAt);
    if (high)
        GlobalDeleteAtom((ATOM)high);
    DdeBlock block = {};
    bool readable = data ? LockDdeBlock(data, &block) : true;
    if (!data)
        frame.word = DataWarm;
    if (!readable || !frame.name[0]) {
        EndConversation(conversation, true);
        return;
    }
    // Data marked as a response answers only the request at the server for
    // the same item; any other is stray and goes no further.
    Frame request;
    DWORD requestSize;
    bool response = (block.flags & DdeResponse) != 0;
    bool answersRequest = response && conversation->atServer &&
                          FirstQueued(conversation, &request, &requestSize) &&
                          request.kind == FrameRequest && isSameDdeName(request.name, frame.name);
    bool ackedHere = (block.flags & DdeAckReq) && !response && pacing == PacedHere;
    bool clientAcks = (block.flags & DdeAckReq) && !ackedHere;
    frame.word |= (block.flags & DdeResponse) | (clientAcks ? DdeAckReq : 0);
    frame.data = block.data;
    frame.dataLength = block.length;
    // Data that cannot travel (beyond 16 MB, a registered format without a
    // name, a format of handles) is refused in its turn, never cut short.
    bool relayable = (!response || answersRequest) && block.length <= MaxFrameData &&
                     (!data || (!IsHandleFormat(block.format) && SetFrameFormat(&frame, block.format)));
    bool mergeable = !response && !clientAcks;
    if (relayable && !mergeable)
        TakeWaitingValuesOf(conversation, frame.name, true);
    bool sent = relayable && (mergeable ? RelayLinkValue(conversation, &frame)
                                        : SendFrame(conversation->session, &frame));
    if (data)
        GlobalUnlock(data);
    if (!sent)
        LogEvent("refused: data of \"%s\" for share %s cannot be sent to %s", frame.name,
                 conversation->share, conversation->node);
    if (sent && clientAcks) {
        PushPending(&conversation->dataAcks, FrameData, data,
                    (block.flags & DdeRelease) != 0, frame.name);
    } else if (block.flags & DdeAckReq) {
        // Taken here, this agent's positive ack makes a released block its
        // own; a refusal leaves the block to the server.
        bool taken = sent && ackedHere;
        if (taken && (block.flags & DdeRelease))
            GlobalFree(data);
        postAckToServer(conversation, taken ? AckPositive : 0, frame.name);
    } else if (data && (block.flags & DdeRelease)) {
        GlobalFree(data);
    }
    if (answersRequest) {
        if (!sent)
            SendSimpleFrame(conversation, FrameAck, 0, request.name);
        transactionAnswered(conversation);
    } else if (sent && data && outruns) {
        paceServer(conversation);
    }
}

// The client's acknowledgement of data, handed to the server. It names the
// item: the client's node may answer one link's data before another's.
static void relayDataAck(Conversation *conversation, const Frame *frame)
{
    Pending entry;
    if (!TakePending(&conversation->dataAcks, FrameData, frame->name, &entry))
        return;
    if ((frame->word & AckPositive) && entry.release && entry.handle)
        GlobalFree(entry.handle);
    postAckToServer(conversation, frame->word, entry.item);
}

// ---- Frames from the client node -------------------------------------------

const FrameRule ServingFrameRules[] = {
    {FrameProof, 1 << Proving, proveShare},
    {FrameRequest, WhenStanding, queueTransaction},
    {FramePoke, WhenStanding, queueTransaction},
    {FrameExecute, WhenStanding, queueTransaction},
    {FrameAdvise, WhenStanding, queueTransaction},
    {FrameUnadvise, WhenStanding, queueTransaction},
    {FrameDataAck, WhenStanding, relayDataAck},
    {FrameTerminate, BeforeStanding | WhenStanding, EndedByNode},
};
const int ServingFrameRuleCount = sizeof ServingFrameRules / sizeof ServingFrameRules[0];

// ---- Messages from the DDE server and time ---------------------------------

void ServingWindowMessage(Conversation *conversation, UINT message, LPARAM lParam)
{
    if (message == WM_DDE_ACK)
        serverAcknowledged(conversation, lParam);
    else if (message == WM_DDE_DATA)
        serverSentData(conversation, lParam);
}

void CheckServingConversation(Conversation *conversation, DWORD now)
{
    DWORD serial = conversation->serial;
    if (conversation->state == Proving) {
        if (!conversation->proofHeld && now - conversation->startedAt >= ProvingTimeout)
            refuseConversation(conversation, NDDE_INVALID_SESSION);
    } else if (conversation->state == StartingServer) {
        bool found, unfinished;
        bool everyWindow = conversation->searchUnfinished ||
                           MaySearchForStarted(conversation->stored.view.appName, now);
        conversation = FindServer(serial, everyWindow, &found, &unfinished);
        DWORD patience = conversation && conversation->searchUnfinished ? LateInitiateAnswerWait
                                                                         : StartAppTimeout;
        if (conversation && found)
            conversationStands(conversation);
        else if (conversation && now - conversation->startedAt >= patience)
            refuseConversation(conversation, NDDE_CANT_ACCESS_SERVER);
    } else if (conversation->partner && !IsWindow(conversation->partner)) {
        // The server went without WM_DDE_TERMINATE.
        LogEvent("the server of share %s for %s is gone", conversation->share, conversation->node);
        conversation->partner = 0;
        EndConversation(conversation, true);
    } else {
        CheckServerAnswer(conversation, now);
    }
}
