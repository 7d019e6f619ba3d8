// The Network DDE wire protocol: how two agents carry DDE conversations over
// one TCP connection (a session) per pair of nodes.
//
// The session (protocol version 2) runs inside TLS 1.2 (channel.h):
//  1. The client's agent connects and starts TLS at once: its first byte is
//     0x16, a TLS handshake record. Both sides present their node's
//     self-signed certificate (ECDSA P-256, identity.h), and both must: cipher
//     suite ECDHE-ECDSA-CHACHA20-POLY1305-SHA256, with the extended master
//     secret. Nothing else is accepted, and no frame crosses the connection
//     outside the channel.
//  2. The client's agent knows a node by its certificate's fingerprint. A
//     node with a pin (HKLM\Software\Tessaseg\Nodes\NODE, value
//     "Fingerprint": written there by an administrator, or at first contact)
//     must present that certificate: any other fails the handshake itself,
//     before any frame is sent either way; the agent logs both fingerprints
//     and leaves DDE initiates to that node unanswered for a while
//     (RefusedNodeMemory). A node without a pin is pinned once the
//     handshake completes (trust on first use).
//     A serving agent that serves as many sessions as it may (agentlink.h)
//     answers a new connection at once, before any TLS work, with a Refused
//     frame of this version in clear (conversation 0, word NodeBusy), and
//     closes it; the client's agent that reads a frame of this version where
//     TLS should begin takes the node for busy. A node that filled up while
//     the handshake ran refuses the Hello with NodeBusy instead.
//  3. Inside the channel: Hello and Welcome, then everything below. The
//     frames are the same plaintext they would be on a bare connection.
//  4. Share proofs are bound to the channel: HMAC-SHA-256 keyed with the
//     password over the challenge, the channel binding and the share name
//     (ProveBoundPassword), so that a proof made in one session is worth
//     nothing in another. The binding is 32 bytes exported from the TLS
//     master secret (channel.h).
// Agents of protocol 1 (no TLS): a serving agent whose first byte from a
// connection is not 0x16 reads a plaintext frame of version 1; a Hello is
// answered with a plaintext version-1 Refused (NDDE_NOT_IMPLEMENTED) and
// "node X speaks protocol 1" is logged; the connection then closes. An agent
// of protocol 1 serving ends the connection at the client's first byte (a
// version it does not know): the client that sees the connection end before
// any byte came back logs "node X speaks protocol 1" and answers its DDE
// clients as for a node that cannot be reached.
//
// Every message is a frame: a 16-byte header, then three byte strings whose
// lengths the header gives, in this order: the format name, the name, the
// data. Numbers are little-endian. Nothing ends with a zero byte on the wire.
//
//   offset size  field
//   0      1     version            WireVersion; any other value ends the session
//   1      1     kind               FrameKind
//   2      2     word               flags or status, by kind (below)
//   4      4     conversation       chosen by the client's agent, unique in its session; 0 for the session
//   8      2     format             clipboard format; 0 where the kind carries none
//   10     1     formatNameLength   registered formats (>= 0xC000) travel by name: 1..255, else 0
//   11     1     nameLength         item, share or node name
//   12     4     dataLength         at most MaxFrameData (16 MB), less by kind
//
// Session (conversation 0):
//   Hello    c->s  name: the client's node name (refused unless a node name, below)
//   Welcome  s->c  data: the session id (4 bytes)
//   Refused  s->c  word: an NDde code, or NodeBusy; conversation 0 refuses the Hello, and
//                  the serving agent closes the connection once the Refused is sent
//   Ping     both  sent after 3 s without sending; the client's agent ends a session it hears
//                  nothing on for 10 s (the serving agent: 60 s, while it holds conversations);
//                  the serving agent ends a session that holds no conversation for 60 s,
//                  Pings or not (deadlines.h)
// Opening a conversation on a share (the password never travels):
//   Open      c->s  name: the share; word: OpenConnectOnly to hold the share without a DDE server
//   Challenge s->c  data: ChallengeLength fresh random bytes
//   Proof     c->s  data: the bound proof of the password (ProveBoundPassword, ProofLength bytes)
//   Opened    s->c  data: access number (2 bytes: 1 or 2) and its permission bits (2 bytes);
//                   sent once the serving node's DDE server has answered
//   Refused   s->c  word: NDde code (SHARE_NOT_EXIST, ACCESS_DENIED, CANT_ACCESS_SERVER, ...)
// DDE transactions, relayed as the DDE messages of the same name (DDE flag bits unchanged):
//   Request   c->s  format, name: item
//   Poke      c->s  format, name: item, data
//   Execute   c->s  data: the command bytes
//   Advise    c->s  format, name: item; word: DDEADVISE bits (AdviseAckReq, AdviseDeferUpd)
//   Unadvise  c->s  format, name: item (format 0 and no name: every link)
//   Data      s->c  format, name: item, data; word: DataResponse, DataAckReq, DataWarm (no data)
//   Ack       s->c  word: DDEACK status (fAck, fBusy, bAppReturnCode); name: item; the answer to the
//                   oldest unanswered transaction of the conversation (a Request answered by Data
//                   counts as answered)
//   DataAck   c->s  word: DDEACK status; name: item; the client's answer to Data sent with DataAckReq
//   Terminate both  the conversation ends
// Administering the serving node: the NDde share-management functions run
// there for a program of the client's node (remotecall.h). Each exchange has
// a conversation number of its own, chosen as for conversations. Once per
// session the client proves the serving node's administration password:
//   AdminOpen      c->s  no data
//   AdminChallenge s->c  data: ChallengeLength fresh random bytes, the salt
//                        (AdminSaltLength bytes) and the iteration count (4
//                        bytes) of the node's stored password
//   AdminProof     c->s  data: ProveAdministration of the key the password
//                        derives with that salt and count (ProofLength bytes)
//   AdminAnswer    s->c  word: NDDE_NO_ERROR, the session may administer; else
//                        NDDE_ACCESS_DENIED (remote administration is off, the
//                        proof is wrong, or came without its challenge)
// Wrong proofs are slowed and counted as wrong share proofs are, under the
// name AdminProofName, and end the session as those do.
// Then any number of calls, each answered in its turn or out of it:
//   AdminCall      c->s  data: the call (remotecall.h), at most MaxAdminCall bytes
//   AdminAnswer    s->c  word: the result code; data: the call's answer
//                        (remotecall.h), at most MaxAdminAnswer bytes; a call
//                        on a session that has not proved the password, or
//                        after the node turned remote administration off or
//                        changed the password, is answered NDDE_ACCESS_DENIED
//                        with no data
// The serving node runs at most MaxAdminCallsQueued calls of one session at
// a time; more break the rules.
// A frame that breaks any rule here ends its session, and with it every
// conversation of the session; the agent goes on serving everyone else.
//
// Whether a frame is wanted is decided from its head (the header and the two
// names) before its data is read:
// - a kind the sender may not send, or one its conversation does not take in
//   its state, breaks the rules (the session ends);
// - a frame of a conversation that has just ended here is read and dropped;
// - a Poke or Execute on a serving conversation whose grant does not permit
//   it is unwanted: its data is read and thrown away as it arrives (never
//   kept), and the transaction is refused in its turn like any other the
//   share does not permit.
// The data of a wanted frame is charged to the session's memory budget
// (budget.h); a session over its share is not read from until it drains.
//
// Node names (Hello, and every \\NODE a DDE client names): 1 to 15 bytes,
// each a visible ASCII character 0x21..0x7E other than
// NodeNameBreakingCharacters, which break a name where it is used (the UNC
// form \\NODE\NDDE$, the node map's "host:port", file names). No space, no
// control character, no byte above 0x7E (0xA0, 0xAD, 0xFF and every
// multi-byte character are refused). ASCII letters compare in any case and
// are kept upper-cased.
#ifndef NETDDE_WIRE_H
#define NETDDE_WIRE_H

#include "agentlink.h"
#include "budget.h"

const BYTE WireVersion = 2;
const BYTE OlderWireVersion = 1;          // answered with a refusal, in clear
const DWORD FrameHeaderSize = 16;
const DWORD MaxFrameData = 16 * 1024 * 1024;
const int MaxWireName = 255;
const DWORD ChallengeLength = 16;
const DWORD ProofLength = 32;               // HMAC-SHA-256
const DWORD ProofBindingLength = 32;        // the channel's binding (channel.h)
const DWORD AdminSaltLength = 16;
const DWORD AdminChallengeLength = ChallengeLength + AdminSaltLength + 4;
const DWORD MaxAdminCall = 4 * 1024 * 1024 + 4096;
const DWORD MaxAdminAnswer = 4 * 1024 * 1024 + 64;
const int MaxAdminCallsQueued = 16;
// Iteration counts of the stored password a client accepts: fewer would
// make the stored key cheap to guess, more would let a node stall its clients.
const DWORD MinAdminIterations = 1000;
const DWORD MaxAdminIterations = 1000000;
const char AdminProofName[] = "\\ADMIN";  // never a share's name

enum FrameKind : BYTE {
    FrameHello = 1,
    FrameWelcome,
    FrameRefused,
    FramePing,
    FrameOpen,
    FrameChallenge,
    FrameProof,
    FrameOpened,
    FrameRequest,
    FramePoke,
    FrameExecute,
    FrameAdvise,
    FrameUnadvise,
    FrameData,
    FrameAck,
    FrameDataAck,
    FrameTerminate,
    FrameAdminOpen,
    FrameAdminChallenge,
    FrameAdminProof,
    FrameAdminCall,
    FrameAdminAnswer,
    FrameKindCount
};

// Word bits by kind.
const WORD NodeBusy = 0x0100;           // Refused word, not an NDde code: try later
const WORD OpenConnectOnly = 0x0001;
const WORD AdviseDeferUpd = 0x4000;     // as in DDEADVISE
const WORD AdviseAckReq = 0x8000;
const WORD DataResponse = 0x1000;       // as in DDEDATA
const WORD DataAckReq = 0x8000;
const WORD DataWarm = 0x0001;           // a warm link's notice: no data
const WORD AckPositive = 0x8000;        // as in DDEACK
const WORD AckBusy = 0x4000;

// A frame, decoded or to be sent. Names end with a zero byte here.
struct Frame {
    BYTE kind;
    WORD word;
    DWORD conversation;
    WORD format;
    char formatName[MaxWireName + 1];
    char name[MaxWireName + 1];
    const BYTE *data;
    DWORD dataLength;
};

// A frame of `kind` for `conversation`, every other field empty.
void InitFrame(Frame *frame, BYTE kind, DWORD conversation);

// DDE names (applications, topics, items) and share names compare as node
// names do: ASCII letters in any case, every other byte as it is.
inline bool isSameDdeName(const char *a, const char *b)
{
    return isSameNodeName(a, b);
}

// ---- Byte buffers ----------------------------------------------------------
// Bytes waiting to be sent or read: taken from `start`, added at `length`.
// A buffer with an account charges what it holds to it (budget.h). It grows
// by doubling up to 1 MB and by what is needed beyond; once emptied, a buffer
// beyond 1 MB is freed, unless asked to keep its room for the next large
// frame (its owner trims it once it stays empty).
struct ByteBuffer {
    BYTE *bytes;
    DWORD start, length, capacity;
    BudgetAccount *account;
};

bool AppendBytes(ByteBuffer *buffer, const void *bytes, DWORD count);
// Makes room for `count` more bytes at once (a frame whose size is known),
// so that they arrive without the buffer growing step by step.
bool ReserveBytes(ByteBuffer *buffer, DWORD count);
void ConsumeBytes(ByteBuffer *buffer, DWORD count, bool keepRoom = false);
// Frees the room of an empty buffer beyond 1 MB.
void TrimEmptyBuffer(ByteBuffer *buffer);
// Takes what the buffer holds off its account, which it no longer charges.
void DetachBuffer(ByteBuffer *buffer);
// Frees the bytes; the buffer stays charged to its account for what it holds later.
void FreeBuffer(ByteBuffer *buffer);

// ---- Node names --------------------------------------------------------------

// Copies a node name (at most MaxNodeNameLength bytes) with ASCII letters upper-cased.
void CopyNodeName(char *to, const char *name);

// ---- Frames ----------------------------------------------------------------

enum FrameRead { FrameIncomplete, FrameComplete, FrameMalformed };

// Whether `frame` keeps every rule of the wire (names, format, data length).
bool FrameKeepsRules(const Frame *frame);
// Appends `frame` laid out for the wire; false when it breaks a rule or
// memory runs out (nothing appended then).
bool AppendFrame(ByteBuffer *buffer, const Frame *frame);

// Reads the frame at the start of `bytes` (`available` of them): complete
// (its size in *frameSize, its data pointing into `bytes`), incomplete (more
// bytes are needed; the header read so far is sound), or malformed.
FrameRead ReadFrame(const BYTE *bytes, DWORD available, Frame *frame, DWORD *frameSize);
// Reads only the head (header and names) of that frame, checked: complete
// (its size in *headSize, `head` with no data but dataLength as declared),
// incomplete or malformed.
FrameRead ReadFrameHead(const BYTE *bytes, DWORD available, Frame *head, DWORD *headSize);

// ---- Passwords -------------------------------------------------------------
// Fresh random bytes from the system's CryptoAPI provider.
bool MakeChallenge(BYTE challenge[ChallengeLength]);
// A proof bound to the session's channel: HMAC-SHA-256 keyed with `password`
// (its bytes as given) over the challenge, the channel binding and the share
// name (ASCII letters upper-cased, as share names compare), in that order.
bool ProveBoundPassword(const char *password, const BYTE challenge[ChallengeLength],
                        const char *shareName, const BYTE binding[ProofBindingLength],
                        BYTE proof[ProofLength]);
// Whether `proof` is the bound proof of `password`; every byte is compared,
// whichever differs.
bool CheckBoundProof(const char *password, const BYTE challenge[ChallengeLength],
                     const char *shareName, const BYTE binding[ProofBindingLength],
                     const BYTE proof[ProofLength]);
// The key an administration password derives with the node's salt:
// PBKDF2-HMAC-SHA-256 of the password's bytes, `iterations` rounds.
bool DeriveAdministrationKey(const char *password, const BYTE salt[AdminSaltLength],
                             DWORD iterations, BYTE key[ProofLength]);
// The administration proof: HMAC-SHA-256 keyed with the derived key over the
// challenge, the channel binding and AdminProofName, in that order.
bool ProveAdministration(const BYTE key[ProofLength], const BYTE challenge[ChallengeLength],
                         const BYTE binding[ProofBindingLength], BYTE proof[ProofLength]);
// Whether `proof` is that proof; every byte is compared, whichever differs.
bool CheckAdministrationProof(const BYTE key[ProofLength], const BYTE challenge[ChallengeLength],
                              const BYTE binding[ProofBindingLength],
                              const BYTE proof[ProofLength]);

#endif
