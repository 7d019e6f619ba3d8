// A share-management call made on another node: the partner's arguments of
// one of the eight functions that take a server (partnerlink.h, indices 7 to
// 14) laid out as bytes that cross to that node's agent, and the answer that
// comes back. The call is run there by the same partner operation a local
// call runs, so its code, counts and bytes are those of a local call there.
//
// Call: the operation index (1 byte), then its arguments in partner order
// (little-endian, packed):
//   server        - nothing: the node that runs the call is the server;
//   text          - 2-byte length (NullText for a null pointer), the bytes;
//   value         - 4 bytes;
//   share block   - 4-byte length (0 for none), the transfer block's bytes;
//   result buffer - 1 byte: 1 when the caller gave one (its size is the
//                   value that follows it);
//   count         - 1 byte: 1 when the caller gave one, then its present
//                   value (4 bytes, or 2 for the item count), so that a count
//                   the operation leaves alone comes back unchanged.
// Answer: the result code (2 bytes), the value of every count the caller
// gave (4 or 2 bytes each, in argument order), then, on success with a
// result buffer, exactly the bytes the operation wrote: as many as its
// total-available count says. A call refused before it ran (no password,
// the node unreachable) is answered with its code alone, and the caller's
// counts are left as they were.
//
// Both sides read what crosses as hostile: a call that breaks the layout is
// refused (NDDE_INVALID_PARAMETER) before anything runs; an answer that
// breaks it or its records (names that do not end, offsets outside the
// bytes, a share record that does not add up, more bytes than the caller's
// size) is NDDE_INTERNAL_ERROR, and nothing of it reaches the caller.
#ifndef REMOTECALL_H
#define REMOTECALL_H

#include "partnerlink.h"

const WORD NullText = 0xFFFF;
const DWORD MaxRemoteText = 1024;                    // bytes of one text argument
// The largest share block a call carries and the most result bytes an answer
// does: a larger result buffer is used up to this size only.
const DWORD MaxRemoteBlock = 4 * 1024 * 1024;
const DWORD MaxRemoteCall = MaxRemoteBlock + 2 * MaxRemoteText + 64;
const DWORD MaxRemoteAnswer = MaxRemoteBlock + 16;

// Bytes of a call or an answer, from the process heap.
struct RemoteBytes {
    BYTE *bytes;
    DWORD length;
};
void FreeRemoteBytes(RemoteBytes *bytes);

// Whether `operation` is one of the eight functions that take a server.
bool IsRemoteOperation(DWORD operation);
// The function's name ("NDdeShareEnum"), for the serving node's events.
const char *RemoteOperationName(DWORD operation);

// The call of `operation` with the partner arguments `args`; false when an
// argument is too large to carry or memory runs out (the code in *failure).
bool PackRemoteCall(DWORD operation, const DWORD *args, RemoteBytes *call, UINT *failure);

// Serving node: runs `call` with `operations` (the partner's table), the
// server null, into `answer`. What it names for events: the function and its
// share or client name, into `what` (at most 96 bytes). The result code, or
// NDDE_INVALID_PARAMETER for a call that breaks the layout (nothing runs).
UINT RunRemoteCall(const PartnerOperation *operations, const BYTE *call, DWORD length,
                   RemoteBytes *answer, char what[96]);

// Calling node: checks the answer to the call of `operation` made with `args`
// and hands it to the caller's counts and buffer; the result code, or
// NDDE_INTERNAL_ERROR (nothing written) for an answer that breaks the rules.
UINT DeliverRemoteAnswer(DWORD operation, const DWORD *args, const BYTE *answer, DWORD length);

#endif
