// Administering other nodes, and being administered (administration.h).
#include "administration.h"
#include "relay.h"

static_assert(MaxRemoteCall <= MaxAdminCall, "a call fits an AdminCall frame");
static_assert(MaxRemoteAnswer <= MaxAdminAnswer, "an answer fits an AdminAnswer frame");

const int MaxAdminLinks = 32;           // nodes this agent administers at once
const int MaxPendingCalls = 64;         // programs' calls waiting for their answers
const int MaxServedCalls = 256;         // client nodes' calls waiting to run here

static const AdministrationKeeper *keeper;

void SetAdministrationKeeper(const AdministrationKeeper *lent)
{
    keeper = lent;
}

static void postAdministration()
{
    PostMessageA(AgentWindowHandle, WM_ADMINISTRATION, 0, 0);
}

static void sendAnswer(Session *session, DWORD conversation, WORD code, const BYTE *data,
                       DWORD length)
{
    Frame answer;
    InitFrame(&answer, FrameAdminAnswer, conversation);
    answer.word = code;
    answer.data = data;
    answer.dataLength = length;
    SendFrame(session, &answer);
}

// ---- The setting -------------------------------------------------------------

struct StoredAdministration {
    bool on;
    BYTE salt[AdminSaltLength];
    DWORD iterations;
    BYTE key[ProofLength];
    bool hasKey;
};

static void readAdministration(StoredAdministration *stored)
{
    ZeroMemory(stored, sizeof *stored);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AdministrationKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD enabled = 0, size = sizeof enabled, saltSize = AdminSaltLength, keySize = ProofLength;
    DWORD iterationsSize = sizeof stored->iterations, type;
    RegQueryValueExA(key, "Enabled", 0, 0, (BYTE *)&enabled, &size);
    stored->hasKey =
        RegQueryValueExA(key, "Salt", 0, &type, stored->salt, &saltSize) == ERROR_SUCCESS &&
        type == REG_BINARY && saltSize == AdminSaltLength &&
        RegQueryValueExA(key, "Key", 0, &type, stored->key, &keySize) == ERROR_SUCCESS &&
        type == REG_BINARY && keySize == ProofLength &&
        RegQueryValueExA(key, "Iterations", 0, 0, (BYTE *)&stored->iterations,
                         &iterationsSize) == ERROR_SUCCESS &&
        stored->iterations >= MinAdminIterations && stored->iterations <= MaxAdminIterations;
    stored->on = enabled == 1 && stored->hasKey;
    RegCloseKey(key);
}

bool IsRemoteAdministrationOn()
{
    StoredAdministration stored;
    readAdministration(&stored);
    return stored.on;
}

bool HasAdministrationPassword()
{
    StoredAdministration stored;
    readAdministration(&stored);
    return stored.hasKey;
}

bool SetRemoteAdministration(bool on, const char *password)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, AdministrationKey, 0, 0, 0, KEY_WRITE, 0, &key, 0) !=
        ERROR_SUCCESS)
        return false;
    bool written = true;
    if (password) {
        BYTE salt[AdminSaltLength], derived[ProofLength];
        DWORD iterations = AdminIterations;
        // The challenges' random source makes the salt.
        static_assert(AdminSaltLength == ChallengeLength, "a salt is one challenge's bytes");
        written = MakeChallenge(salt) && DeriveAdministrationKey(password, salt, iterations, derived) &&
                  RegSetValueExA(key, "Salt", 0, REG_BINARY, salt, sizeof salt) == ERROR_SUCCESS &&
                  RegSetValueExA(key, "Iterations", 0, REG_DWORD, (const BYTE *)&iterations,
                                 sizeof iterations) == ERROR_SUCCESS &&
                  RegSetValueExA(key, "Key", 0, REG_BINARY, derived, sizeof derived) ==
                      ERROR_SUCCESS;
        SecureZeroMemory(derived, sizeof derived);
    }
    DWORD enabled = on ? 1 : 0;
    written = written && RegSetValueExA(key, "Enabled", 0, REG_DWORD, (const BYTE *)&enabled,
                                        sizeof enabled) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written && (!on || HasAdministrationPassword());
}

// ---- The client's node: calls of this node's programs ---------------------------

enum LinkState { LinkIdle, LinkOpening, LinkAsking, LinkPrompting, LinkProving, LinkProven };

// A node administered: its session, and how far its password is proved there.
struct AdminLink {
    char node[MaxNodeNameLength + 1];
    DWORD sessionSerial;
    LinkState state;
    DWORD conversation;                 // of its AdminOpen and AdminProof
    BYTE challenge[AdminChallengeLength];
};

struct PendingCall {
    DWORD serial;                       // the program's request
    char node[MaxNodeNameLength + 1];
    RemoteBytes call;
    DWORD sessionSerial, conversation;  // once sent
    DWORD startedAt;
};

static AdminLink links[MaxAdminLinks];
static int linkCount;
static PendingCall pendingCalls[MaxPendingCalls];
static int pendingCount;

static AdminLink *linkOf(const char *node)
{
    for (int i = 0; i < linkCount; i++)
        if (isSameNodeName(links[i].node, node))
            return &links[i];
    return 0;
}

static AdminLink *linkOnSession(const Session *session, DWORD conversation)
{
    for (int i = 0; i < linkCount; i++)
        if (links[i].sessionSerial == session->serial && links[i].conversation == conversation)
            return &links[i];
    return 0;
}

static PendingCall *callOnSession(const Session *session, DWORD conversation)
{
    for (int i = 0; i < pendingCount; i++)
        if (pendingCalls[i].sessionSerial == session->serial &&
            pendingCalls[i].conversation == conversation)
            return &pendingCalls[i];
    return 0;
}

static void dropCall(PendingCall *call)
{
    FreeRemoteBytes(&call->call);
    *call = pendingCalls[--pendingCount];
}

// Refuses every call waiting for `node` (or only those sent on `sessionSerial`).
static void refuseCallsOf(const char *node, DWORD sessionSerial, UINT code)
{
    for (int i = pendingCount - 1; i >= 0; i--) {
        PendingCall &call = pendingCalls[i];
        if (!isSameNodeName(call.node, node) || (sessionSerial && call.sessionSerial != sessionSerial))
            continue;
        DWORD serial = call.serial;
        dropCall(&call);
        keeper->callAnswered(serial, (WORD)code, 0, 0);
    }
}

static void dropLink(AdminLink *link)
{
    *link = links[--linkCount];
}

static void sendCalls(AdminLink *link, Session *session)
{
    for (int i = 0; i < pendingCount; i++) {
        PendingCall &call = pendingCalls[i];
        if (call.conversation || !isSameNodeName(call.node, link->node))
            continue;
        Frame frame;
        InitFrame(&frame, FrameAdminCall, session->nextConversation++);
        frame.data = call.call.bytes;
        frame.dataLength = call.call.length;
        call.sessionSerial = session->serial;
        call.conversation = frame.conversation;
        NoteSessionWork(session);
        if (!SendFrame(session, &frame)) {
            DWORD serial = call.serial;
            dropCall(&call);
            keeper->callAnswered(serial, NDDE_CANT_ACCESS_SERVER, 0, 0);
            i--;
        }
    }
}

// Takes the calls for `node` as far as they can go now: the session opened,
// the password proved, the calls sent.
static void advanceNode(const char *node)
{
    AdminLink *link = linkOf(node);
    if (!link) {
        if (linkCount == MaxAdminLinks) {
            refuseCallsOf(node, 0, NDDE_CANT_ACCESS_SERVER);
            return;
        }
        link = &links[linkCount++];
        ZeroMemory(link, sizeof *link);
        CopyNodeName(link->node, node);
    }
    Session *session = link->sessionSerial ? SessionOfSerial(link->sessionSerial) : 0;
    if (!session || session->endReason) {
        char name[MaxNodeNameLength + 1];
        lstrcpyA(name, link->node);
        session = SessionToNode(name);
        link = linkOf(name);
        if (!session || !link) {
            if (link)
                dropLink(link);
            refuseCallsOf(name, 0, NDDE_CANT_ACCESS_SERVER);
            return;
        }
        link->sessionSerial = session->serial;
        link->state = LinkIdle;
    }
    if (session->state != SessionReady)
        return;
    if (link->state == LinkIdle) {
        Frame open;
        InitFrame(&open, FrameAdminOpen, session->nextConversation++);
        link->conversation = open.conversation;
        link->state = LinkOpening;
        if (!SendFrame(session, &open)) {
            char name[MaxNodeNameLength + 1];
            lstrcpyA(name, link->node);
            dropLink(link);
            refuseCallsOf(name, 0, NDDE_CANT_ACCESS_SERVER);
        }
    } else if (link->state == LinkProven) {
        sendCalls(link, session);
    }
}

void AdministerNode(DWORD serial, const char *node, const BYTE *bytes, DWORD length)
{
    if (pendingCount == MaxPendingCalls) {
        keeper->callAnswered(serial, NDDE_OUT_OF_MEMORY, 0, 0);
        return;
    }
    PendingCall &call = pendingCalls[pendingCount];
    ZeroMemory(&call, sizeof call);
    call.call.bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, length ? length : 1);
    if (!call.call.bytes) {
        keeper->callAnswered(serial, NDDE_OUT_OF_MEMORY, 0, 0);
        return;
    }
    memcpy(call.call.bytes, bytes, length);
    call.call.length = length;
    call.serial = serial;
    CopyNodeName(call.node, node);
    call.startedAt = GetTickCount();
    pendingCount++;
    advanceNode(call.node);
}

// Proves the password on the link's session; false when it cannot.
static bool provePassword(AdminLink *link, Session *session, const char *password)
{
    const BYTE *salt = link->challenge + ChallengeLength;
    const BYTE *count = salt + AdminSaltLength;
    DWORD iterations = count[0] | count[1] << 8 | count[2] << 16 | (DWORD)count[3] << 24;
    BYTE key[ProofLength], proofBytes[ProofLength];
    if (iterations < MinAdminIterations || iterations > MaxAdminIterations ||
        !DeriveAdministrationKey(password, salt, iterations, key) ||
        !ProveAdministration(key, link->challenge, session->binding, proofBytes))
        return false;
    SecureZeroMemory(key, sizeof key);
    Frame proof;
    InitFrame(&proof, FrameAdminProof, link->conversation);
    proof.data = proofBytes;
    proof.dataLength = ProofLength;
    link->state = LinkProving;
    return SendFrame(session, &proof);
}

// The node refused the password (or administration): its calls are refused
// with `code`, and a password it refused is asked again next time.
static void linkRefused(AdminLink *link, WORD code)
{
    char node[MaxNodeNameLength + 1];
    lstrcpyA(node, link->node);
    bool proving = link->state == LinkProving;
    link->state = LinkIdle;
    if (proving)
        keeper->rememberPassword(node, 0);
    refuseCallsOf(node, 0, code);
}

static void challenged(AdminLink *link, Session *session, const Frame *frame)
{
    CopyMemory(link->challenge, frame->data, AdminChallengeLength);
    const char *password = keeper->rememberedPassword(link->node);
    if (!password) {
        link->state = LinkAsking;
        postAdministration();
        return;
    }
    if (!provePassword(link, session, password))
        linkRefused(link, NDDE_CANT_ACCESS_SERVER);
}

// Asks the user for the password of the node of a link that waits for one.
// The prompt runs its own message loop: everything is looked up again after.
static void askPasswords()
{
    for (int i = 0; i < linkCount; i++) {
        if (links[i].state != LinkAsking)
            continue;
        char node[MaxNodeNameLength + 1], password[MaxPasswordLength + 1];
        lstrcpyA(node, links[i].node);
        links[i].state = LinkPrompting;
        bool given = keeper->askPassword(AgentWindowHandle, node, password);
        AdminLink *link = linkOf(node);
        Session *session = link ? SessionOfSerial(link->sessionSerial) : 0;
        if (!link || link->state != LinkPrompting) {
            SecureZeroMemory(password, sizeof password);
            return;
        }
        if (!given) {
            linkRefused(link, NDDE_ACCESS_DENIED);
        } else {
            keeper->rememberPassword(node, password);
            if (!session || !provePassword(link, session, password))
                linkRefused(link, NDDE_CANT_ACCESS_SERVER);
        }
        SecureZeroMemory(password, sizeof password);
        postAdministration();       // another link may wait
        return;
    }
}

static bool handleClientFrame(Session *session, const Frame *frame)
{
    AdminLink *link = linkOnSession(session, frame->conversation);
    if (link && frame->kind == FrameAdminChallenge && link->state == LinkOpening) {
        challenged(link, session, frame);
        return true;
    }
    if (link && frame->kind == FrameAdminAnswer && frame->dataLength == 0 &&
        (link->state == LinkOpening || link->state == LinkProving)) {
        if (frame->word != NDDE_NO_ERROR) {
            linkRefused(link, frame->word);
            return true;
        }
        if (link->state != LinkProving)
            return false;
        link->state = LinkProven;
        sendCalls(link, session);
        return true;
    }
    PendingCall *call = callOnSession(session, frame->conversation);
    if (call && frame->kind == FrameAdminAnswer) {
        DWORD serial = call->serial;
        // The answer repeats its code first; an answer that does not is wrong.
        bool sound = frame->dataLength == 0 ||
                     (frame->dataLength >= 2 && (frame->data[0] | frame->data[1] << 8) == frame->word);
        keeper->callAnswered(serial, sound ? frame->word : (WORD)NDDE_INTERNAL_ERROR,
                             sound ? frame->data : 0, sound ? frame->dataLength : 0);
        call = callOnSession(session, frame->conversation);
        if (call)
            dropCall(call);
        return true;
    }
    return false;
}

void AdministrationSessionReady(Session *session)
{
    for (int i = 0; i < linkCount; i++)
        if (links[i].sessionSerial == session->serial) {
            char node[MaxNodeNameLength + 1];
            lstrcpyA(node, links[i].node);
            advanceNode(node);
            return;
        }
}

// ---- The serving node ------------------------------------------------------------

struct ServedAdmin {
    DWORD sessionSerial;
    DWORD conversation;                 // of its AdminOpen
    bool challenged;
    BYTE challenge[ChallengeLength];
    bool proofHeld;                     // a proof waits out the delay of wrong ones
    DWORD proofDueAt;
    BYTE proof[ProofLength];
    bool proven;
    BYTE provenKey[ProofLength];        // the key it proved: a changed password ends it
    int queuedCalls;
};

struct ServedCall {
    DWORD sessionSerial, conversation;
    RemoteBytes call;
};

static ServedAdmin servedAdmins[AgentMaxSessions];
static int servedAdminCount;
static ServedCall servedCalls[MaxServedCalls];
static int servedCallCount;
static DWORD runningOnSerial;           // the session whose call runs now
static bool closeAfterAnswer;           // that call closed its own session

void CloseSessionOnOrder(Session *session)
{
    if (runningOnSerial && session->serial == runningOnSerial)
        closeAfterAnswer = true;
    else
        CloseServedSession(session);
}

static ServedAdmin *servedAdminOf(const Session *session, bool make)
{
    for (int i = 0; i < servedAdminCount; i++)
        if (servedAdmins[i].sessionSerial == session->serial)
            return &servedAdmins[i];
    if (!make)
        return 0;
    for (int i = servedAdminCount - 1; i >= 0; i--)
        if (!SessionOfSerial(servedAdmins[i].sessionSerial))
            servedAdmins[i] = servedAdmins[--servedAdminCount];
    if (servedAdminCount == AgentMaxSessions)
        return 0;
    ServedAdmin *served = &servedAdmins[servedAdminCount++];
    ZeroMemory(served, sizeof *served);
    served->sessionSerial = session->serial;
    return served;
}

static void openAdministration(Session *session, const Frame *frame)
{
    StoredAdministration stored;
    readAdministration(&stored);
    ServedAdmin *served = servedAdminOf(session, true);
    if (!stored.on || !served) {
        LogEvent("refused: %s asked to administer this node: %s", session->node,
                 stored.on ? "no room" : "remote administration is off");
        sendAnswer(session, frame->conversation, NDDE_ACCESS_DENIED, 0, 0);
        return;
    }
    if (!MakeChallenge(served->challenge)) {
        sendAnswer(session, frame->conversation, NDDE_ACCESS_DENIED, 0, 0);
        return;
    }
    served->conversation = frame->conversation;
    served->challenged = true;
    served->proofHeld = false;
    BYTE data[AdminChallengeLength];
    CopyMemory(data, served->challenge, ChallengeLength);
    CopyMemory(data + ChallengeLength, stored.salt, AdminSaltLength);
    CopyMemory(data + ChallengeLength + AdminSaltLength, &stored.iterations, 4);
    Frame challenge;
    InitFrame(&challenge, FrameAdminChallenge, frame->conversation);
    challenge.data = data;
    challenge.dataLength = sizeof data;
    SendFrame(session, &challenge);
}

// Checks the proof the session holds (its delay, if any, spent).
static void checkAdminProof(Session *session, ServedAdmin *served)
{
    StoredAdministration stored;
    readAdministration(&stored);
    served->challenged = false;
    served->proofHeld = false;
    bool right = stored.on &&
                 CheckAdministrationProof(stored.key, served->challenge, session->binding,
                                          served->proof);
    if (right) {
        served->proven = true;
        CopyMemory(served->provenKey, stored.key, ProofLength);
        LogEvent("administration: %s proved the administration password", session->node);
    } else {
        LogEvent("refused: %s asked to administer this node: %s", session->node,
                 stored.on ? "wrong password" : "remote administration is off");
    }
    sendAnswer(session, served->conversation, right ? NDDE_NO_ERROR : NDDE_ACCESS_DENIED, 0, 0);
    if (stored.on)
        CountProof(session, AdminProofName, right);
}

static void proveAdministration(Session *session, const Frame *frame)
{
    ServedAdmin *served = servedAdminOf(session, false);
    if (!served || !served->challenged || served->proofHeld ||
        served->conversation != frame->conversation) {
        LogEvent("refused: %s asked to administer this node: a proof without its challenge",
                 session->node);
        sendAnswer(session, frame->conversation, NDDE_ACCESS_DENIED, 0, 0);
        return;
    }
    // Past the handful of wrong proofs no more are checked; the session ends.
    if (ProofsStoppedOn(session))
        return;
    CopyMemory(served->proof, frame->data, ProofLength);
    DWORD delay = ProofDelayOn(session, AdminProofName);
    if (delay == 0) {
        checkAdminProof(session, served);
        return;
    }
    served->proofHeld = true;
    served->proofDueAt = GetTickCount() + delay;
}

// Whether the session may administer now: it proved the password that is
// still stored, and administration is still on.
static bool mayAdminister(const Session *session)
{
    ServedAdmin *served = servedAdminOf(session, false);
    if (!served || !served->proven)
        return false;
    StoredAdministration stored;
    readAdministration(&stored);
    return stored.on && memcmp(stored.key, served->provenKey, ProofLength) == 0;
}

static void queueCall(Session *session, const Frame *frame)
{
    ServedAdmin *served = servedAdminOf(session, false);
    if (!mayAdminister(session)) {
        LogEvent("refused: %s called a share function here: no administration password proved",
                 session->node);
        sendAnswer(session, frame->conversation, NDDE_ACCESS_DENIED, 0, 0);
        return;
    }
    ServedCall &call = servedCalls[servedCallCount];
    call.call.bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, frame->dataLength ? frame->dataLength : 1);
    if (servedCallCount == MaxServedCalls || !call.call.bytes) {
        if (call.call.bytes)
            FreeRemoteBytes(&call.call);
        sendAnswer(session, frame->conversation, NDDE_OUT_OF_MEMORY, 0, 0);
        return;
    }
    memcpy(call.call.bytes, frame->data, frame->dataLength);
    call.call.length = frame->dataLength;
    call.sessionSerial = session->serial;
    call.conversation = frame->conversation;
    servedCallCount++;
    served->queuedCalls++;
    NoteSessionWork(session);
    postAdministration();
}

// Runs the oldest served call; the window's loop runs the next from another
// posted message, so that one client node's calls never hold off the rest.
static void runServedCall()
{
    if (servedCallCount == 0)
        return;
    ServedCall call = servedCalls[0];
    MoveMemory(&servedCalls[0], &servedCalls[1], --servedCallCount * sizeof servedCalls[0]);
    Session *session = SessionOfSerial(call.sessionSerial);
    ServedAdmin *served = session ? servedAdminOf(session, false) : 0;
    if (served)
        served->queuedCalls--;
    if (session && !session->endReason) {
        RemoteBytes answer = {0, 0};
        char what[96];
        UINT code = NDDE_ACCESS_DENIED;
        if (mayAdminister(session)) {
            runningOnSerial = session->serial;
            closeAfterAnswer = false;
            code = keeper->runCall(call.call.bytes, call.call.length, &answer, what);
            runningOnSerial = 0;
        } else
            lstrcpyA(what, "a share function: the administration password changed");
        if (code == NDDE_NO_ERROR)
            LogEvent("administration: %s %s: done", session->node, what);
        else
            LogEvent("administration: %s %s: code %u", session->node, what, code);
        // The partner runs in this thread and may have taken sent messages.
        session = SessionOfSerial(call.sessionSerial);
        if (session)
            sendAnswer(session, call.conversation, (WORD)code, answer.bytes, answer.length);
        if (session && closeAfterAnswer)
            CloseServedSession(session);
        closeAfterAnswer = false;
        FreeRemoteBytes(&answer);
    }
    FreeRemoteBytes(&call.call);
    if (servedCallCount > 0)
        postAdministration();
}

// ---- Both sides --------------------------------------------------------------------

bool IsAdministrationFrame(BYTE kind)
{
    return kind >= FrameAdminOpen && kind <= FrameAdminAnswer;
}

FrameVerdict JudgeAdministrationFrame(Session *session, const Frame *head)
{
    if (!session->incoming)
        return linkOnSession(session, head->conversation) ||
                       callOnSession(session, head->conversation)
                   ? FrameWanted
                   : FrameUnwanted;   // a call given up, or a link refused meanwhile
    if (head->kind == FrameAdminCall) {
        ServedAdmin *served = servedAdminOf(session, false);
        if (served && served->queuedCalls >= MaxAdminCallsQueued)
            return FrameBreaksRules;
    }
    return FrameWanted;
}

bool HandleAdministrationFrame(Session *session, const Frame *frame)
{
    if (!session->incoming)
        return handleClientFrame(session, frame);
    switch (frame->kind) {
    case FrameAdminOpen:
        openAdministration(session, frame);
        return true;
    case FrameAdminProof:
        proveAdministration(session, frame);
        return true;
    case FrameAdminCall:
        queueCall(session, frame);
        return true;
    }
    return false;
}

void AdministrationSessionEnds(Session *session)
{
    for (int i = 0; i < linkCount; i++)
        if (links[i].sessionSerial == session->serial) {
            char node[MaxNodeNameLength + 1];
            lstrcpyA(node, links[i].node);
            dropLink(&links[i]);
            refuseCallsOf(node, session->serial, NDDE_CANT_ACCESS_SERVER);
            // Calls not yet sent try a new session.
            for (int j = 0; j < pendingCount; j++)
                if (isSameNodeName(pendingCalls[j].node, node)) {
                    postAdministration();
                    break;
                }
            break;
        }
    ServedAdmin *served = servedAdminOf(session, false);
    if (served)
        *served = servedAdmins[--servedAdminCount];
}

void RunAdministration()
{
    askPasswords();
    runServedCall();
    // Calls whose node lost its session meanwhile.
    for (int i = 0; i < pendingCount; i++)
        if (!pendingCalls[i].conversation && !linkOf(pendingCalls[i].node)) {
            char node[MaxNodeNameLength + 1];
            lstrcpyA(node, pendingCalls[i].node);
            advanceNode(node);
            break;
        }
}

void CheckAdministration()
{
    DWORD now = GetTickCount();
    for (int i = pendingCount - 1; i >= 0; i--)
        if (i < pendingCount && now - pendingCalls[i].startedAt >= RemoteCallTimeout)
            dropCall(&pendingCalls[i]);         // its program has stopped waiting
    for (int i = 0; i < servedAdminCount; i++) {
        ServedAdmin *served = &servedAdmins[i];
        Session *session = SessionOfSerial(served->sessionSerial);
        if (session && served->proofHeld && (LONG)(now - served->proofDueAt) >= 0) {
            checkAdminProof(session, served);
            return;             // checking may end sessions: the rest next time
        }
    }
}
