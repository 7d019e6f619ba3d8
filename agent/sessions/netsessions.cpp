// TCP sessions between agents (netsessions.h).
#include "netsessions.h"
#include "sessionlayer.h"

// Served sessions, connections not yet greeted (as many again), then outgoing ones.
const int MaxSessionSlots = 2 * AgentMaxSessions + AgentMaxOutgoingSessions;
const DWORD ReceiveChunk = 64 * 1024;
// Plaintext handed to the channel at a time: it is encrypted only as the
// socket takes what the channel made before.
const DWORD EncryptChunk = 64 * 1024;
const int MaxReadsPerEvent = 16;
const int MaxFramesPerEvent = 32;        // then the rest from WM_SESSION_CONTINUE
// Unsent bytes a node may leave queued (two of the largest frames) before
// its session ends: it does not read what is sent to it.
const DWORD MaxUnsentBytes = 2 * MaxFrameData;
const int FeedSendBuffer = 32 * 1024;      // bytes the system holds of what a feed's session sends
const int OutgoingReceiveBuffer = 64 * 1024;  // bytes the system holds of what arrives
const DWORD ReadAhead = 64 * 1024;         // received bytes held before they are handled
const DWORD BehindMark = 16 * 1024;        // received bytes not yet handled that put a session behind

static Session *sessions[MaxSessionSlots];
static int sessionCount;
static DWORD nextSessionId;
static DWORD nextSerial = 1;
static int sessionLimit = AgentDefaultSessionLimit;
static bool flushPosted;                // WM_FLUSH_SESSIONS is on its way
static bool endPosted;                  // WM_END_FAILED_SESSIONS is on its way
static const SessionUser *user;

void SetSessionUser(const SessionUser *sessionUser)
{
    user = sessionUser;
}

// ---- The list of sessions --------------------------------------------------

int SessionCount()
{
    return sessionCount;
}

Session *SessionAt(int index)
{
    return sessions[index];
}

Session *SessionOfSerial(DWORD serial)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->serial == serial)
            return sessions[i];
    return 0;
}

void NoteSessionWork(Session *session)
{
    session->idleSince = GetTickCount() | 1;        // 0 means not idle
}

void SetSessionLimit(int limit)
{
    sessionLimit = limit < 1 ? 1 : limit > AgentMaxSessions ? AgentMaxSessions : limit;
}

int SessionLimit()
{
    return sessionLimit;
}

bool IsStandingSession(const Session *session)
{
    return !session->endReason;
}

int CountSessions(bool incoming, bool ready)
{
    int count = 0;
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->incoming == incoming && IsStandingSession(sessions[i]) &&
            (sessions[i]->state == SessionReady) == ready)
            count++;
    return count;
}

static int greetedSessionsFrom(DWORD address)
{
    int count = 0;
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->incoming && IsStandingSession(sessions[i]) &&
            sessions[i]->state == SessionReady && sessions[i]->peerAddress == address)
            count++;
    return count;
}

Session *FindServedSession(const char *node, DWORD id)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->incoming && sessions[i]->state == SessionReady && IsStandingSession(sessions[i]) &&
            sessions[i]->id == id && isSameNodeName(sessions[i]->node, node))
            return sessions[i];
    return 0;
}

bool IsSessionSocketMessage(UINT message)
{
    return message >= WM_SESSION_SOCKET_FIRST &&
           message < WM_SESSION_SOCKET_FIRST + SessionSocketMessages;
}

Session *AddSession(SOCKET socket, bool incoming, SessionState state)
{
    if (sessionCount == MaxSessionSlots)
        return 0;
    // Frames go out as soon as they are flushed: a request's answer never
    // waits for the acknowledgement of the one before.
    BOOL noDelay = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay, sizeof noDelay);
    // An outgoing session's system buffer holds little of what arrives: a
    // node slower than the serving one leaves the rest there, where that
    // node's links merge (with ReadAhead below).
    int receiveBuffer = OutgoingReceiveBuffer;
    if (!incoming)
        setsockopt(socket, SOL_SOCKET, SO_RCVBUF, (const char *)&receiveBuffer, sizeof receiveBuffer);
    Session *session = (Session *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Session));
    if (!session)
        return 0;
    session->serial = nextSerial++;
    session->socket = socket;
    // Each session's socket reports with a message of its own among many, so
    // that a report still queued for a closed socket is never taken for one
    // of the session that has the same socket value now.
    session->socketMessage = WM_SESSION_SOCKET_FIRST + session->serial % SessionSocketMessages;
    session->incoming = incoming;
    session->state = state;
    session->startedAt = session->lastReceived = session->lastSent = GetTickCount();
    session->nextConversation = 1;
    session->received.account = session->toSend.account = &session->budget;
    sessions[sessionCount++] = session;
    return session;
}

static void postOnce(bool *posted, UINT message)
{
    if (!*posted)
        *posted = PostMessageA(AgentWindowHandle, message, 0, 0) != 0;
}

// Bytes queued for the peer and not yet taken by the socket: frames not yet
// encrypted and the channel's output.
static DWORD unsentBytes(const Session *session)
{
    DWORD output = 0;
    if (session->channel)
        ChannelOutput(session->channel, &output);
    return session->toSend.length - session->toSend.start + output;
}

void EndSessionSoon(Session *session, const char *reason)
{
    if (session->endReason)
        return;
    session->endReason = reason;
    session->endAfterSending = false;
    postOnce(&endPosted, WM_END_FAILED_SESSIONS);
}

void EndSessionAfterSending(Session *session, const char *reason)
{
    EndSessionSoon(session, reason);
    session->endAfterSending = true;
    session->endingSince = GetTickCount();
}

static int writeSocket(Session *session, const BYTE *bytes, DWORD size);

// Tells the peer the channel ends, as far as the socket takes it now, and
// frees the channel.
static void closeChannel(Session *session)
{
    if (!session->channel)
        return;
    EndChannel(session->channel);
    DWORD count;
    const BYTE *output = ChannelOutput(session->channel, &count);
    if (count)
        writeSocket(session, output, count);
    CloseChannel(session->channel);
    session->channel = 0;
}

static void endSession(Session *session)
{
    int index = 0;
    while (index < sessionCount && sessions[index] != session)
        index++;
    if (index == sessionCount)
        return;
    if (session->state == SessionReady || !session->incoming)
        LogEvent("session %s %s ended: %s", session->incoming ? "from" : "to",
                 session->node[0] ? session->node : "?", session->endReason);
    if (user)
        user->sessionEnds(session, session->endReason);
    closeChannel(session);
    closesocket(session->socket);
    FreeBuffer(&session->received);
    FreeBuffer(&session->toSend);
    sessions[index] = sessions[--sessionCount];
    HeapFree(GetProcessHeap(), 0, session);
    ShowAgentState();
}

void EndEndingSessions()
{
    endPosted = false;
    DWORD now = GetTickCount();
    for (int i = sessionCount - 1; i >= 0; i--) {
        if (i >= sessionCount)
            continue;
        Session *session = sessions[i];
        if (session->endReason &&
            (!session->endAfterSending || unsentBytes(session) == 0 ||
             now - session->endingSince >= SessionClosingTimeout))
            endSession(session);
    }
}

void EndAllSessions()
{
    while (sessionCount > 0) {
        sessions[0]->endReason = "the agent closes";
        endSession(sessions[0]);
    }
}

// ---- The socket ------------------------------------------------------------
// The only two places bytes pass between a session and its socket: the
// channel's ciphertext (or a protocol-1 peer's clear frames). Each gives the
// count moved, 0 when the socket takes or has nothing now, -1 when the
// connection is closed or broken.

static int readSocket(Session *session, BYTE *bytes, DWORD size)
{
    int count = recv(session->socket, (char *)bytes, (int)size, 0);
    if (count > 0) {
        session->bytesIn += count;
        return count;
    }
    return count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

static int writeSocket(Session *session, const BYTE *bytes, DWORD size)
{
    int count = send(session->socket, (const char *)bytes, (int)size, 0);
    if (count >= 0) {
        session->bytesOut += count;
        return count;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

// ---- Sending ---------------------------------------------------------------

// Hands the channel the next queued frames, once it has sent what it made
// before; false when there is nothing to hand it now.
static bool encryptQueued(Session *session)
{
    ByteBuffer &queue = session->toSend;
    DWORD queued = queue.length - queue.start;
    if (!queued || session->state < SessionGreeting)
        return false;
    DWORD count = queued < EncryptChunk ? queued : EncryptChunk;
    if (!WriteChannel(session->channel, queue.bytes + queue.start, count)) {
        EndSessionSoon(session, "the TLS channel failed");
        return false;
    }
    ConsumeBytes(&queue, count, true);
    return true;
}

// Sends what the socket takes now; the rest waits for FD_WRITE. Through the
// channel, or in clear to a protocol-1 peer (its refusal only).
static void sendQueued(Session *session)
{
    for (;;) {
        DWORD count;
        const BYTE *bytes;
        if (session->channel) {
            bytes = ChannelOutput(session->channel, &count);
            if (!count && encryptQueued(session))
                continue;
        } else {
            bytes = session->toSend.bytes + session->toSend.start;
            count = session->toSend.length - session->toSend.start;
        }
        if (!count)
            break;
        int sent = writeSocket(session, bytes, count);
        if (sent < 0) {
            EndSessionSoon(session, "the connection failed");
            session->endAfterSending = false;
            return;
        }
        if (sent == 0)
            return;
        if (session->channel)
            ConsumeChannelOutput(session->channel, sent);
        else
            ConsumeBytes(&session->toSend, sent);
        session->lastSent = GetTickCount();
    }
    if (session->endReason)
        postOnce(&endPosted, WM_END_FAILED_SESSIONS);
    else if (session->state == SessionReady && SessionUnsentBytes(session) < SessionRoomMark)
        user->sessionHasRoom(session);
}

DWORD SessionUnsentBytes(const Session *session)
{
    return unsentBytes(session);
}

bool SessionIsBehind(const Session *session)
{
    return session->behind;
}

static bool holdsWholeFrame(const Session *session)
{
    const ByteBuffer &buffer = session->received;
    Frame frame;
    DWORD size;
    return ReadFrame(buffer.bytes + buffer.start, buffer.length - buffer.start, &frame, &size) ==
           FrameComplete;
}

void SessionsCaughtUp()
{
    for (int i = 0; i < sessionCount; i++)
        if (!holdsWholeFrame(sessions[i]))
            sessions[i]->behind = false;
}

void HoldLittleInSystem(Session *session)
{
    if (session->holdsLittle)
        return;
    int size = FeedSendBuffer;
    setsockopt(session->socket, SOL_SOCKET, SO_SNDBUF, (const char *)&size, sizeof size);
    session->holdsLittle = true;
}

bool SendFrame(Session *session, const Frame *frame)
{
    if (session->endReason || !FrameKeepsRules(frame))
        return false;
    if (unsentBytes(session) + frame->dataLength > MaxUnsentBytes) {
        EndSessionSoon(session, "the node does not take what is sent to it");
        return false;
    }
    if (!AppendFrame(&session->toSend, frame)) {
        EndSessionSoon(session, "out of memory");
        return false;
    }
    // A link's updates queued while the window handles the messages waiting
    // now go out together, once those are done: fewer, fuller sends. A
    // transaction or its answer goes at once, with whatever waits before it.
    if (frame->kind == FrameData && !(frame->word & DataResponse))
        postOnce(&flushPosted, WM_FLUSH_SESSIONS);
    else if (session->state >= SessionSecuring)
        sendQueued(session);
    return true;
}

void FlushSessions()
{
    flushPosted = false;
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->state >= SessionSecuring)
            sendQueued(sessions[i]);
}

// A served connection whose first bytes are not TLS: a node of protocol 1,
// whose Hello is answered with a refusal in clear (netdde_wire.h); anything
// else ends the connection.
static void answerOlderVersion(Session *session)
{
    ByteBuffer &buffer = session->received;
    BYTE *bytes = buffer.bytes + buffer.start;
    DWORD available = buffer.length - buffer.start;
    if (available == 0 || session->endReason)
        return;
    Frame hello;
    DWORD size;
    FrameRead read = FrameMalformed;
    // The frame layout is the same in both versions: read as one of this version.
    if (bytes[0] == OlderWireVersion) {
        bytes[0] = WireVersion;
        read = ReadFrame(bytes, available, &hello, &size);
        bytes[0] = OlderWireVersion;
    }
    if (read == FrameIncomplete)
        return;
    if (read == FrameMalformed || hello.kind != FrameHello || !IsValidNodeName(hello.name)) {
        LogEvent("refused: %s speaks neither TLS nor protocol 1", SessionPeerName(session));
        EndSessionSoon(session, "malformed frame");
        return;
    }
    LogWarning("refused: node %s speaks protocol 1", hello.name);
    Frame refusal;
    InitFrame(&refusal, FrameRefused, 0);
    refusal.word = NDDE_NOT_IMPLEMENTED;
    ConsumeBytes(&buffer, available);
    if (AppendFrame(&session->toSend, &refusal))
        session->toSend.bytes[session->toSend.start] = OlderWireVersion;
    sendQueued(session);
    EndSessionAfterSending(session, "the node speaks protocol 1");
}

// ---- Session frames --------------------------------------------------------

// Kinds a client node sends, and those a serving node sends; Terminate and
// Ping go both ways.
static bool isKindFromClient(BYTE kind)
{
    switch (kind) {
    case FrameHello: case FrameOpen: case FrameProof: case FrameRequest: case FramePoke:
    case FrameExecute: case FrameAdvise: case FrameUnadvise: case FrameDataAck:
    case FrameTerminate: case FramePing: case FrameAdminOpen: case FrameAdminProof:
    case FrameAdminCall:
        return true;
    }
    return false;
}

static bool isKindFromServer(BYTE kind)
{
    return kind == FrameTerminate || kind == FramePing || !isKindFromClient(kind);
}

static bool isSessionIdInUse(DWORD id)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->incoming && sessions[i]->state == SessionReady && sessions[i]->id == id)
            return true;
    return false;
}

void SetFirstSessionId(DWORD id)
{
    nextSessionId = id;
}

static DWORD newSessionId()
{
    while (nextSessionId == 0 || isSessionIdInUse(nextSessionId))
        nextSessionId++;
    return nextSessionId++;
}

// Refuses the Hello: the session ends once the Refused is sent.
static void refuseSession(Session *session, UINT code, const char *reason)
{
    Frame refusal;
    InitFrame(&refusal, FrameRefused, 0);
    refusal.word = (WORD)code;
    SendFrame(session, &refusal);
    LogEvent("refused: a node's greeting: %s", reason);
    EndSessionAfterSending(session, reason);
}

// The served session idle longest without a conversation (from `address`
// only, unless INADDR_ANY), or null.
static Session *longestIdleServed(DWORD address)
{
    Session *idlest = 0;
    DWORD now = GetTickCount(), longest = 0;
    for (int i = 0; i < sessionCount; i++) {
        Session *session = sessions[i];
        if (!session->incoming || session->state != SessionReady || !IsStandingSession(session) ||
            (address != INADDR_ANY && session->peerAddress != address) ||
            user->conversationCount(session) > 0)
            continue;
        DWORD idle = session->idleSince ? now - session->idleSince : 0;
        if (!idlest || idle > longest) {
            idlest = session;
            longest = idle;
        }
    }
    return idlest;
}

bool HasIdleServedSession()
{
    return longestIdleServed(INADDR_ANY) != 0;
}

// Room for one more served session (from `address`): while every place is
// taken, the session idle longest without a conversation makes room.
static bool makeRoomForSession(DWORD address)
{
    bool addressFull = greetedSessionsFrom(address) >= AgentMaxSessionsPerAddress;
    if (!addressFull && CountSessions(true, true) < sessionLimit)
        return true;
    Session *idlest = longestIdleServed(addressFull ? address : INADDR_ANY);
    if (!idlest)
        return false;
    EndSessionSoon(idlest, "room for another node");
    return true;
}

static void greetClient(Session *session, const Frame *hello)
{
    if (!IsValidNodeName(hello->name)) {
        refuseSession(session, NDDE_INVALID_PARAMETER, "not a node name");
        return;
    }
    const char *keyRefusal = CheckClientKey(session, hello->name);
    if (keyRefusal) {
        refuseSession(session, NDDE_ACCESS_DENIED, keyRefusal);
        return;
    }
    if (!makeRoomForSession(session->peerAddress)) {
        refuseSession(session, NodeBusy, "no room for another session");
        return;
    }
    CopyNodeName(session->node, hello->name);
    session->id = newSessionId();
    session->state = SessionReady;
    session->idleSince = GetTickCount();
    Frame welcome;
    InitFrame(&welcome, FrameWelcome, 0);
    BYTE id[4] = {(BYTE)session->id, (BYTE)(session->id >> 8), (BYTE)(session->id >> 16),
                  (BYTE)(session->id >> 24)};
    welcome.data = id;
    welcome.dataLength = sizeof id;
    SendFrame(session, &welcome);
    char key[FingerprintTextSize];
    FormatFingerprint(session->peerKey, key);
    LogEvent("session %08lX from %s, key %s", session->id, session->node, key);
    ShowAgentState();
}

// Whether the frame whose head is `head` is wanted (netdde_wire.h).
static FrameVerdict judgeFrame(Session *session, const Frame *head)
{
    if (session->incoming ? !isKindFromClient(head->kind) : !isKindFromServer(head->kind))
        return FrameBreaksRules;
    bool greeting = session->state != SessionReady;
    switch (head->kind) {
    case FramePing:
        return greeting ? FrameBreaksRules : FrameWanted;
    case FrameHello:
    case FrameWelcome:
        return greeting ? FrameWanted : FrameBreaksRules;
    case FrameRefused:
        if (head->conversation == 0)
            return FrameWanted;
        break;
    }
    return greeting ? FrameBreaksRules : user->judgeFrame(session, head);
}

// The node this agent called serves as many sessions as it may.
static const char *refusedAsBusy(Session *session)
{
    LogWarning("refused: node %s is busy: it serves as many sessions as it may", session->node);
    session->refusedByNode = true;
    return "the node is busy";
}

// Handles one wanted frame; false when it breaks the protocol.
static bool handleFrame(Session *session, const Frame *frame)
{
    switch (frame->kind) {
    case FramePing:
        return true;
    case FrameHello:
        greetClient(session, frame);
        return true;
    case FrameWelcome:
        session->id = frame->data[0] | frame->data[1] << 8 | frame->data[2] << 16 |
                      (DWORD)frame->data[3] << 24;
        session->state = SessionReady;
        ShowAgentState();
        user->sessionReady(session);
        return true;
    case FrameRefused:
        if (frame->conversation == 0 && frame->word == NodeBusy) {
            EndSessionSoon(session, refusedAsBusy(session));
            return true;
        }
        if (frame->conversation == 0) {
            LogEvent("refused: %s would not open a session (code %u)", session->node, frame->word);
            session->refusedByNode = true;
            EndSessionSoon(session, "refused by the node");
            return true;
        }
        break;
    }
    return user->handleFrame(session, frame);
}

static void continueLater(Session *session)
{
    if (!session->continuePosted)
        session->continuePosted =
            PostMessageA(AgentWindowHandle, WM_SESSION_CONTINUE, session->serial, 0) != 0;
}

// Drops what is buffered of an unwanted frame's data.
static void dropBufferedUnwanted(Session *session)
{
    ByteBuffer &buffer = session->received;
    DWORD available = buffer.length - buffer.start;
    DWORD dropped = available < session->unwantedData ? available : session->unwantedData;
    ConsumeBytes(&buffer, dropped);
    session->unwantedData -= dropped;
}

// Handles the frames received, at most MaxFramesPerEvent at a time (the rest
// continue from a posted message). The session's user may dispatch sent
// messages: the session is looked up again after each of its calls.
static void handleReceived(Session *session)
{
    if (!session->channel) {
        answerOlderVersion(session);
        return;
    }
    DWORD serial = session->serial;
    for (int handled = 0; session && !session->endReason; handled++) {
        if (handled == MaxFramesPerEvent) {
            continueLater(session);
            return;
        }
        if (session->unwantedPending) {
            dropBufferedUnwanted(session);
            if (session->unwantedData)
                return;
            session->unwantedPending = false;
            user->unwantedFrame(session, &session->unwantedHead);
            session = SessionOfSerial(serial);
            continue;
        }
        ByteBuffer &buffer = session->received;
        DWORD available = buffer.length - buffer.start;
        Frame frame;
        DWORD size;
        if (!session->headJudged) {
            FrameRead read = ReadFrameHead(buffer.bytes + buffer.start, available, &frame, &size);
            if (read == FrameIncomplete)
                return;
            FrameVerdict verdict = read == FrameComplete ? judgeFrame(session, &frame)
                                                         : FrameBreaksRules;
            session = SessionOfSerial(serial);
            if (!session || session->endReason)
                return;
            if (verdict == FrameBreaksRules) {
                LogEvent("refused: malformed frame from %s",
                         session->node[0] ? session->node : "a new connection");
                EndSessionSoon(session, "malformed frame");
                return;
            }
            if (verdict == FrameUnwanted) {
                ConsumeBytes(&session->received, size);
                session->unwantedHead = frame;
                session->unwantedHead.dataLength = 0;
                session->unwantedData = frame.dataLength;
                session->unwantedPending = true;
                continue;
            }
            session->headJudged = true;
            // The rest of a wanted frame is known: room for it at once, when
            // the session's share allows (else reading waits as it drains).
            DWORD missing = size + frame.dataLength > available ? size + frame.dataLength - available : 0;
            if (missing && IsWithinShare(&session->budget, missing))
                ReserveBytes(&session->received, missing);
        }
        if (ReadFrame(buffer.bytes + buffer.start, available, &frame, &size) != FrameComplete)
            return;
        session->headJudged = false;
        bool sound = handleFrame(session, &frame);
        session = SessionOfSerial(serial);
        if (!session)
            return;
        if (!sound) {
            LogEvent("refused: malformed frame from %s", session->node[0] ? session->node : "?");
            EndSessionSoon(session, "malformed frame");
            return;
        }
        ConsumeBytes(&session->received, size, true);
    }
}

// How many bytes the session may read now: data being dropped is never
// kept, and what is kept stays within the session's share of the budget.
static DWORD readableNow(const Session *session)
{
    if (session->unwantedData && session->received.length == session->received.start)
        return session->unwantedData < ReceiveChunk ? session->unwantedData : ReceiveChunk;
    const ByteBuffer &buffer = session->received;
    DWORD spare = buffer.capacity - (buffer.length - buffer.start);
    if (spare >= ReceiveChunk || IsWithinShare(&session->budget, ReceiveChunk - spare))
        return ReceiveChunk;
    return spare;
}

// ---- Receiving -------------------------------------------------------------

// Keeps plaintext that arrived, or counts it off an unwanted frame's data
// being dropped; false when memory runs out.
static bool keepArrived(Session *session, const BYTE *bytes, DWORD count)
{
    if (session->unwantedData && session->received.length == session->received.start) {
        session->unwantedData -= count;
        return true;
    }
    return AppendBytes(&session->received, bytes, count);
}

// Moves the channel's plaintext into the session, as far as its share of the
// budget allows (readPaused when it does not); the reason the session ends,
// or null.
static const char *takePlaintext(Session *session)
{
    static BYTE plaintext[ReceiveChunk];
    for (;;) {
        if (session->unwantedPending)
            dropBufferedUnwanted(session);
        DWORD wanted = readableNow(session);
        // Over its share: the session is read again once it drains (CheckSessions).
        session->readPaused = wanted == 0;
        if (wanted == 0)
            return 0;
        DWORD count = ReadChannel(session->channel, plaintext, wanted);
        if (count == 0)
            break;
        if (!keepArrived(session, plaintext, count))
            return "out of memory";
    }
    ChannelState state = StateOfChannel(session->channel);
    if (state == ChannelClosed)
        return "the other node closed the connection";
    if (state == ChannelFailed) {
        LogEvent("refused: the TLS channel with %s failed", SessionPeerName(session));
        return "the TLS channel failed";
    }
    return 0;
}

// The first bytes from a node this agent called are not TLS: a node too
// busy for another session says so in clear (netdde_wire.h); anything else
// ends the session too.
static const char *refusedInClear(Session *session, const BYTE *bytes, DWORD count)
{
    Frame refusal;
    DWORD size;
    if (ReadFrame(bytes, count, &refusal, &size) == FrameComplete &&
        refusal.kind == FrameRefused && refusal.conversation == 0 && refusal.word == NodeBusy)
        return refusedAsBusy(session);
    LogEvent("refused: node %s answered outside TLS", session->node);
    return "the node answered outside TLS";
}

// Bytes from the socket: a served connection's first ones tell TLS from a
// protocol-1 Hello. A served handshake is run once everything the socket
// holds has been read (securingServed). The reason the session ends, or null.
static const char *arrived(Session *session, const BYTE *bytes, DWORD count)
{
    if (!session->incoming && !session->heardFrom && !StartsAsTls(bytes, count))
        return refusedInClear(session, bytes, count);
    if (session->incoming && !session->heardFrom && StartsAsTls(bytes, count) &&
        !OpenServedChannel(session))
        return "out of memory";
    session->heardFrom = true;
    if (!session->channel)
        return AppendBytes(&session->received, bytes, count) ? 0 : "out of memory";
    return FeedChannel(session->channel, bytes, count) ? 0 : "out of memory";
}

// Whether the session holds enough received frames not yet handled: it is
// not read from until they are, so that the node waits (the connection
// holds the rest) and a node slower than its peer keeps no backlog of its
// own: a serving peer's links then merge where their updates come from.
static bool holdsEnoughReceived(const Session *session)
{
    const ByteBuffer &buffer = session->received;
    return buffer.length - buffer.start >= ReadAhead && !session->unwantedPending &&
           holdsWholeFrame(session);
}

// Whether a served connection is in its TLS handshake.
static bool securingServed(const Session *session)
{
    return session->incoming && session->state == SessionSecuring && session->channel;
}

// A handshake goes on with what was read, a step a turn: the next step
// comes from a posted message, after what else waits, so that many
// handshakes at once leave room for the sessions, the clients and the
// window. A served one goes on once the connection has its address's turn;
// none is run for a peer that has closed already (its bytes were replayed,
// or it gave up), nor while it waits for its turn.
static const char *advanceHandshake(Session *session, const char *closing)
{
    if (closing || session->state != SessionSecuring || !session->channel ||
        (session->incoming && !TakeHandshakeTurn(session)))
        return closing;
    const char *failure = AdvanceHandshake(session);
    sendQueued(session);
    if (!failure && session->channel && ChannelCanStep(session->channel))
        continueLater(session);
    return failure;
}

// Reads what arrived (as far as the budget allows), then handles the frames.
static void receive(Session *session)
{
    static BYTE chunk[ReceiveChunk];
    const char *closing = 0;
    bool drained = false;               // the socket has nothing more now
    bool heldBack = false;
    for (int reads = 0; !closing && !session->endReason; reads++) {
        heldBack = holdsEnoughReceived(session);
        if (heldBack)
            break;
        if (session->channel && session->state >= SessionGreeting) {
            closing = takePlaintext(session);
            if (closing || session->readPaused)
                break;
        }
        if (drained || reads == MaxReadsPerEvent)
            break;
        DWORD wanted = session->channel ? ReceiveChunk : readableNow(session);
        session->readPaused = wanted == 0;
        if (wanted == 0)
            break;
        int count = readSocket(session, chunk, wanted);
        if (count < 0) {
            closing = "the other node closed the connection";
            // A node of protocol 1 ends the connection at the first byte of TLS.
            if (!session->incoming && !session->heardFrom) {
                LogWarning("refused: node %s speaks protocol 1 (it ended the connection at the TLS handshake)",
                         session->node);
                closing = "the node speaks protocol 1";
            }
        }
        if (count <= 0)
            break;
        session->lastReceived = GetTickCount();
        closing = arrived(session, chunk, count);
        // A handshake reads on until the socket is empty or closed, so that
        // a peer that sent its bytes and left is seen to have left.
        drained = (DWORD)count < wanted && !securingServed(session);
    }
    closing = advanceHandshake(session, closing);
    if (!closing && session->incoming && session->state == SessionGreeting)
        closing = takePlaintext(session);   // a Hello that came with the handshake's end
    if (session->received.length - session->received.start >= BehindMark)
        session->behind = true;
    DWORD serial = session->serial;
    handleReceived(session);
    session = SessionOfSerial(serial);
    if (session && closing)
        EndSessionSoon(session, closing);
    else if (session && heldBack)
        continueLater(session);      // reading goes on once the frames are handled
}

void ContinueSession(DWORD serial)
{
    Session *session = SessionOfSerial(serial);
    if (!session)
        return;
    session->continuePosted = false;
    if (session->state >= SessionSecuring)
        receive(session);
}

void HandleSessionSocket(UINT message, SOCKET socket, LPARAM event)
{
    Session *session = 0;
    for (int i = 0; i < sessionCount && !session; i++)
        if (sessions[i]->socket == socket && sessions[i]->socketMessage == message)
            session = sessions[i];
    if (!session || (session->endReason && !session->endAfterSending))
        return;
    if (WSAGETSELECTEVENT(event) == FD_CONNECT) {
        if (session->state != SessionConnecting)
            return;
        if (WSAGETSELECTERROR(event)) {
            LogEvent("refused: node %s cannot be reached", session->node);
            EndSessionSoon(session, "node unreachable");
            return;
        }
        const char *refusal = OpenCallingChannel(session);
        if (refusal) {
            EndSessionSoon(session, refusal);
            return;
        }
        session->state = SessionSecuring;
        const char *failure = advanceHandshake(session, 0);
        if (failure)
            EndSessionSoon(session, failure);
        return;
    }
    if (session->state < SessionSecuring)
        return;
    if (WSAGETSELECTEVENT(event) == FD_WRITE) {
        sendQueued(session);
        return;
    }
    if (!session->endReason)
        receive(session);
}

// ---- Time ------------------------------------------------------------------

// Whether a session that has not been read from for its memory share may be
// read again; it is then read from a posted message.
static void resumeReading(Session *session)
{
    if (session->readPaused && readableNow(session) > 0) {
        session->readPaused = false;
        continueLater(session);
    }
}

// Whether a session being set up waits on its node: this agent sent all it
// had for it and holds none of its bytes unread.
static bool nodeHasTurn(const Session *session)
{
    u_long unread = 0;
    return !session->awaitingTurn && unsentBytes(session) == 0 &&
           !(session->channel && ChannelCanStep(session->channel)) &&
           (ioctlsocket(session->socket, FIONREAD, &unread) != 0 || unread == 0);
}

void CheckSessions()
{
    DWORD now = GetTickCount();
    for (int i = sessionCount - 1; i >= 0; i--) {
        Session *session = sessions[i];
        if (session->endReason)
            continue;
        if (session->state != SessionReady) {
            DWORD lastExchange = session->lastReceived - session->startedAt >
                                      session->lastSent - session->startedAt
                                  ? session->lastReceived : session->lastSent;
            if (now - session->startedAt >= GreetingLimit)
                EndSessionSoon(session, session->incoming ? "no greeting within 60 s"
                                                          : "no welcome from the node within 60 s");
            else if (nodeHasTurn(session) && now - lastExchange >= AgentGreetingTimeout)
                EndSessionSoon(session, session->incoming ? "no greeting: the node was silent for 10 s"
                                                          : "the node did not answer within 10 s");
            else if (session->awaitingTurn)
                continueLater(session);     // its handshake may have its turn now
            continue;
        }
        // A node that stops answering ends the conversations through it in
        // bounded time; a served node gets longer, and only while it holds
        // conversations, since a client node need not send anything else.
        int conversations = user->conversationCount(session);
        // Bytes of the node this agent has not handled yet: it is this agent
        // that is behind, not the node that is silent.
        bool unhandled = session->received.length > session->received.start;
        DWORD silence = unhandled ? 0 : now - session->lastReceived;
        if (session->incoming ? silence >= ServedSilenceTimeout && conversations > 0
                              : silence >= SilenceTimeout) {
            EndSessionSoon(session, "nothing heard from the node");
            continue;
        }
        // Nor does a session without conversations stand for long: Pings
        // alone do not keep it.
        if (conversations > 0)
            session->idleSince = 0;
        else if (!session->idleSince)
            session->idleSince = now;
        else if (now - session->idleSince >= (session->incoming ? ServedIdleTimeout
                                                                : IdleSessionTimeout)) {
            EndSessionSoon(session, "no conversation for 60 s");
            continue;
        }
        if (now - session->lastSent >= PingInterval && unsentBytes(session) == 0) {
            Frame ping;
            InitFrame(&ping, FramePing, 0);
            SendFrame(session, &ping);
        }
        resumeReading(session);
        // Large frames one after another reuse the room of the one before
        // (a block of megabytes is not mapped and faulted in afresh each
        // time); it goes once the session's buffers are found empty.
        TrimEmptyBuffer(&session->received);
        TrimEmptyBuffer(&session->toSend);
    }
    EndEndingSessions();
}
