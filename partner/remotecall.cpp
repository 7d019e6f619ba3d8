// Calls made on another node (remotecall.h).
#include "remotecall.h"
#include "sharestore.h"

enum ArgumentKind : BYTE {
    NoArgument,
    ServerArgument,
    TextArgument,
    ValueArgument,
    BlockArgument,      // a share's transfer block, in
    BufferArgument,     // the result buffer; its size is the next argument
    CountArgument,      // a 32-bit count, out
    WordCountArgument,  // the 16-bit item count, out
};

const int MaxArguments = 8;

struct RemoteOperation {
    const char *name;
    ArgumentKind kinds[MaxArguments];
    int writtenCount;   // the count that says how many bytes a success wrote; -1: no buffer
};

const DWORD FirstRemoteOperation = PartnerSessionClose;

static const RemoteOperation RemoteOperations[] = {
    {"NDdeSessionClose", {ServerArgument, TextArgument, ValueArgument}, -1},
    {"NDdeConnectionEnum", {ServerArgument, TextArgument, ValueArgument, ValueArgument,
                            BufferArgument, ValueArgument, CountArgument, CountArgument}, 6},
    {"NDdeSessionEnum", {ServerArgument, ValueArgument, BufferArgument, ValueArgument,
                         CountArgument, CountArgument}, 4},
    {"NDdeShareSetInfo", {ServerArgument, TextArgument, ValueArgument, BlockArgument,
                          ValueArgument, ValueArgument}, -1},
    {"NDdeShareGetInfo", {ServerArgument, TextArgument, ValueArgument, BufferArgument,
                          ValueArgument, CountArgument, WordCountArgument}, 5},
    {"NDdeShareEnum", {ServerArgument, ValueArgument, BufferArgument, ValueArgument,
                       CountArgument, CountArgument}, 5},
    {"NDdeShareDel", {ServerArgument, TextArgument, ValueArgument}, -1},
    {"NDdeShareAdd", {ServerArgument, ValueArgument, BlockArgument, ValueArgument}, -1},
};

bool IsRemoteOperation(DWORD operation)
{
    return operation >= FirstRemoteOperation && operation <= PartnerShareAdd;
}

static const RemoteOperation &remoteOperation(DWORD operation)
{
    return RemoteOperations[operation - FirstRemoteOperation];
}

const char *RemoteOperationName(DWORD operation)
{
    return IsRemoteOperation(operation) ? remoteOperation(operation).name : "?";
}

void FreeRemoteBytes(RemoteBytes *bytes)
{
    if (bytes->bytes)
        HeapFree(GetProcessHeap(), 0, bytes->bytes);
    bytes->bytes = 0;
    bytes->length = 0;
}

static bool allocateRemoteBytes(DWORD length, RemoteBytes *bytes)
{
    bytes->bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, length ? length : 1);
    bytes->length = length;
    return bytes->bytes != 0;
}

// ---- Laying out and reading ------------------------------------------------
// A writer without bytes only counts, so that a layout is measured by the
// same code that writes it.

struct Writer {
    BYTE *to;
    DWORD at;
};

static void put(Writer *writer, const void *bytes, DWORD count)
{
    if (writer->to && count)
        memcpy(writer->to + writer->at, bytes, count);
    writer->at += count;
}

static void putByte(Writer *writer, BYTE value)
{
    put(writer, &value, 1);
}

struct Reader {
    const BYTE *from;
    DWORD length, at;
    bool broken;
};

static const BYTE *take(Reader *reader, DWORD count)
{
    if (reader->broken || count > reader->length - reader->at) {
        reader->broken = true;
        return 0;
    }
    const BYTE *bytes = reader->from + reader->at;
    reader->at += count;
    return bytes;
}

static DWORD takeNumber(Reader *reader, DWORD size)
{
    const BYTE *bytes = take(reader, size);
    DWORD value = 0;
    for (DWORD i = 0; bytes && i < size; i++)
        value |= (DWORD)bytes[i] << (8 * i);
    return value;
}

// A presence byte: 0 or 1, anything else breaks the layout.
static bool takePresence(Reader *reader)
{
    DWORD present = takeNumber(reader, 1);
    if (present > 1)
        reader->broken = true;
    return present == 1;
}

static DWORD countSize(ArgumentKind kind)
{
    return kind == WordCountArgument ? 2 : 4;
}

static bool isCount(ArgumentKind kind)
{
    return kind == CountArgument || kind == WordCountArgument;
}

// The bytes of a transfer block handed over in a global memory block, as
// the partner reads them.
static DWORD blockLength(DWORD block)
{
    HGLOBAL memory = block ? GlobalHandle((LPCVOID)(UINT_PTR)block) : 0;
    return memory ? (DWORD)GlobalSize(memory) : 0;
}

// Lays the call out; false when an argument is too large to carry.
static bool layOutCall(DWORD operation, const DWORD *args, Writer *writer)
{
    const RemoteOperation &remote = remoteOperation(operation);
    putByte(writer, (BYTE)operation);
    for (int i = 0; i < MaxArguments; i++) {
        const void *pointer = (const void *)(UINT_PTR)args[i];
        switch (remote.kinds[i]) {
        case NoArgument:
        case ServerArgument:
            break;
        case TextArgument: {
            DWORD length = pointer ? lstrlenA((const char *)pointer) : 0;
            if (length > MaxRemoteText)
                return false;
            WORD header = pointer ? (WORD)length : NullText;
            put(writer, &header, 2);
            put(writer, pointer, length);
            break;
        }
        case ValueArgument:
            put(writer, &args[i], 4);
            break;
        case BlockArgument: {
            DWORD length = blockLength(args[i]);
            if (length > MaxRemoteBlock)
                return false;
            put(writer, &length, 4);
            put(writer, pointer, length);
            break;
        }
        case BufferArgument:
            putByte(writer, pointer != 0);
            break;
        case CountArgument:
        case WordCountArgument:
            putByte(writer, pointer != 0);
            if (pointer)
                put(writer, pointer, countSize(remote.kinds[i]));
            break;
        }
    }
    return true;
}

bool PackRemoteCall(DWORD operation, const DWORD *args, RemoteBytes *call, UINT *failure)
{
    call->bytes = 0;
    call->length = 0;
    Writer measure = {0, 0};
    if (!IsRemoteOperation(operation) || !layOutCall(operation, args, &measure)) {
        *failure = NDDE_INVALID_PARAMETER;
        return false;
    }
    if (!allocateRemoteBytes(measure.at, call)) {
        *failure = NDDE_OUT_OF_MEMORY;
        return false;
    }
    Writer writer = {call->bytes, 0};
    layOutCall(operation, args, &writer);
    return true;
}

// ---- Serving node ------------------------------------------------------------

// What one call holds while it runs: its texts, share block, result buffer
// and counts, each where the partner's argument points.
struct CallArguments {
    DWORD args[MaxArguments];
    char texts[MaxArguments][MaxRemoteText + 1];
    DWORD counts[MaxArguments];
    WORD words[MaxArguments];
    HGLOBAL block;
    BYTE *buffer;
    DWORD bufferCapacity;
    int bufferArgument;         // -1: none given
    const char *name;           // the share or client the call names, for events
};

static void releaseArguments(CallArguments *call)
{
    if (call->block)
        GlobalFree(call->block);
    if (call->buffer)
        HeapFree(GetProcessHeap(), 0, call->buffer);
}

// Reads the call's arguments; false when it breaks the layout.
static bool readCall(const RemoteOperation &remote, Reader *reader, CallArguments *call)
{
    for (int i = 0; i < MaxArguments && !reader->broken; i++) {
        switch (remote.kinds[i]) {
        case NoArgument:
        case ServerArgument:
            break;
        case TextArgument: {
            DWORD length = takeNumber(reader, 2);
            if (length == NullText)
                break;
            const BYTE *text = length <= MaxRemoteText ? take(reader, length) : 0;
            if (!text)
                return false;
            memcpy(call->texts[i], text, length);
            call->texts[i][length] = 0;
            call->args[i] = (DWORD)(UINT_PTR)call->texts[i];
            if (!call->name)
                call->name = call->texts[i];
            break;
        }
        case ValueArgument:
            call->args[i] = takeNumber(reader, 4);
            break;
        case BlockArgument: {
            DWORD length = takeNumber(reader, 4);
            const BYTE *bytes = length <= MaxRemoteBlock ? take(reader, length) : 0;
            if (!bytes)
                return false;
            if (length == 0)
                break;
            // The partner finds a block's bound by its global memory block.
            call->block = GlobalAlloc(GMEM_FIXED, length);
            if (!call->block)
                return false;
            memcpy(call->block, bytes, length);
            call->args[i] = (DWORD)(UINT_PTR)call->block;
            break;
        }
        case BufferArgument:
            if (takePresence(reader))
                call->bufferArgument = i;
            break;
        case CountArgument:
            if (takePresence(reader)) {
                call->counts[i] = takeNumber(reader, 4);
                call->args[i] = (DWORD)(UINT_PTR)&call->counts[i];
            }
            break;
        case WordCountArgument:
            if (takePresence(reader)) {
                call->words[i] = (WORD)takeNumber(reader, 2);
                call->args[i] = (DWORD)(UINT_PTR)&call->words[i];
            }
            break;
        }
    }
    if (reader->broken || reader->at != reader->length)
        return false;
    if (call->bufferArgument >= 0) {
        // A result larger than an answer carries is answered as too large
        // for a buffer of this size.
        DWORD &size = call->args[call->bufferArgument + 1];
        if (size > MaxRemoteBlock)
            size = MaxRemoteBlock;
        call->buffer = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
        if (!call->buffer)
            return false;
        call->bufferCapacity = size;
        call->args[call->bufferArgument] = (DWORD)(UINT_PTR)call->buffer;
    }
    return true;
}

// Lays out the answer; false when the operation claims more bytes than its buffer.
static bool layOutAnswer(const RemoteOperation &remote, const CallArguments *call, WORD code,
                         Writer *writer)
{
    put(writer, &code, 2);
    for (int i = 0; i < MaxArguments; i++)
        if (isCount(remote.kinds[i]) && call->args[i])
            put(writer, (const void *)(UINT_PTR)call->args[i], countSize(remote.kinds[i]));
    if (code != NDDE_NO_ERROR || call->bufferArgument < 0)
        return true;
    DWORD written = call->counts[remote.writtenCount];
    if (!call->args[remote.writtenCount] || written > call->bufferCapacity)
        return false;
    put(writer, call->buffer, written);
    return true;
}

UINT RunRemoteCall(const PartnerOperation *operations, const BYTE *bytes, DWORD length,
                   RemoteBytes *answer, char what[96])
{
    answer->bytes = 0;
    answer->length = 0;
    lstrcpyA(what, "a call that breaks the layout");
    Reader reader = {bytes, length, 0, false};
    DWORD operation = takeNumber(&reader, 1);
    if (reader.broken || !IsRemoteOperation(operation))
        return NDDE_INVALID_PARAMETER;
    const RemoteOperation &remote = remoteOperation(operation);
    CallArguments *call = (CallArguments *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                     sizeof(CallArguments));
    if (!call)
        return NDDE_OUT_OF_MEMORY;
    call->bufferArgument = -1;
    UINT result = NDDE_INVALID_PARAMETER;
    if (readCall(remote, &reader, call)) {
        wsprintfA(what, "%s %.60s", remote.name, call->name ? call->name : "");
        WORD code = operations[operation](call->args);
        Writer measure = {0, 0};
        if (!layOutAnswer(remote, call, code, &measure)) {
            code = NDDE_INTERNAL_ERROR;
            measure.at = 0;
            layOutAnswer(remote, call, code, &measure);
        }
        result = NDDE_OUT_OF_MEMORY;
        if (allocateRemoteBytes(measure.at, answer)) {
            Writer writer = {answer->bytes, 0};
            layOutAnswer(remote, call, code, &writer);
            result = code;
        }
    }
    releaseArguments(call);
    HeapFree(GetProcessHeap(), 0, call);
    return result;
}

// ---- Calling node --------------------------------------------------------------

// Whether `bytes` are `entries` names, each ended by a zero byte, and nothing else.
static bool isNameList(const BYTE *bytes, DWORD length, DWORD entries)
{
    DWORD names = 0;
    for (DWORD i = 0; i < length; i++)
        if (bytes[i] == 0)
            names++;
    return names == entries && (length == 0 || bytes[length - 1] == 0);
}

static bool isSessionList(const BYTE *bytes, DWORD length, DWORD entries)
{
    if (entries > length / sizeof(SessionEntry) || length != entries * sizeof(SessionEntry))
        return false;
    const SessionEntry *sessions = (const SessionEntry *)bytes;
    for (DWORD i = 0; i < entries; i++)
        if (!memchr(sessions[i].clientName, 0, ClientNameSize))
            return false;
    return true;
}

static bool isConnectionList(const BYTE *bytes, DWORD length, DWORD entries)
{
    if (entries > length / sizeof(ConnectionBlockEntry))
        return false;
    DWORD table = entries * sizeof(ConnectionBlockEntry);
    const ConnectionBlockEntry *connections = (const ConnectionBlockEntry *)bytes;
    for (DWORD i = 0; i < entries; i++) {
        DWORD offset = connections[i].nameOffset;
        if (offset < table || offset >= length || !memchr(bytes + offset, 0, length - offset))
            return false;
    }
    return true;
}

static bool isShareRecord(const BYTE *bytes, DWORD length, WORD itemCount)
{
    ShareView share;
    return ReadShareBlock(bytes, length, &share) == NDDE_NO_ERROR &&
           ShareBlockSize(&share) == length && share.addItemCount == itemCount;
}

// Whether the result bytes hold what `operation` writes, by the counts of
// the answer (`counts`, `words` by argument).
static bool isSoundResult(DWORD operation, const BYTE *bytes, DWORD length, const DWORD *counts,
                          const WORD *words)
{
    switch (operation) {
    case PartnerShareEnum:
        return isNameList(bytes, length, counts[4]);
    case PartnerShareGetInfo:
        return isShareRecord(bytes, length, words[6]);
    case PartnerSessionEnum:
        return isSessionList(bytes, length, counts[5]);
    case PartnerConnectionEnum:
        return isConnectionList(bytes, length, counts[7]);
    }
    return false;
}

UINT DeliverRemoteAnswer(DWORD operation, const DWORD *args, const BYTE *answer, DWORD length)
{
    if (!IsRemoteOperation(operation))
        return NDDE_INTERNAL_ERROR;
    const RemoteOperation &remote = remoteOperation(operation);
    Reader reader = {answer, length, 0, false};
    WORD code = (WORD)takeNumber(&reader, 2);
    if (length == 2 && code != NDDE_NO_ERROR)
        return code;            // refused before it ran: no count is written
    DWORD counts[MaxArguments] = {};
    WORD words[MaxArguments] = {};
    int bufferArgument = -1;
    for (int i = 0; i < MaxArguments; i++) {
        if (remote.kinds[i] == BufferArgument && args[i])
            bufferArgument = i;
        if (remote.kinds[i] == CountArgument && args[i])
            counts[i] = takeNumber(&reader, 4);
        if (remote.kinds[i] == WordCountArgument && args[i])
            words[i] = (WORD)takeNumber(&reader, 2);
    }
    if (reader.broken)
        return NDDE_INTERNAL_ERROR;
    DWORD resultLength = length - reader.at;
    const BYTE *result = answer + reader.at;
    if (code != NDDE_NO_ERROR || bufferArgument < 0) {
        if (resultLength != 0)
            return NDDE_INTERNAL_ERROR;
    } else if (!args[remote.writtenCount] || resultLength != counts[remote.writtenCount] ||
               resultLength > args[bufferArgument + 1] ||
               !isSoundResult(operation, result, resultLength, counts, words)) {
        return NDDE_INTERNAL_ERROR;
    }
    for (int i = 0; i < MaxArguments; i++) {
        if (remote.kinds[i] == CountArgument && args[i])
            *(DWORD *)(UINT_PTR)args[i] = counts[i];
        if (remote.kinds[i] == WordCountArgument && args[i])
            *(WORD *)(UINT_PTR)args[i] = words[i];
    }
    if (bufferArgument >= 0 && resultLength)
        memcpy((void *)(UINT_PTR)args[bufferArgument], result, resultLength);
    return code;
}
