// Frames of the Network DDE wire protocol (netdde_wire.h): laying them out,
// reading them back, and checking every rule before anything is trusted.
#include "netdde_wire.h"

void InitFrame(Frame *frame, BYTE kind, DWORD conversation)
{
    ZeroMemory(frame, sizeof *frame);
    frame->kind = kind;
    frame->conversation = conversation;
}

// ---- Byte buffers ----------------------------------------------------------

// A buffer grows by doubling up to this size, beyond it by what is needed
// (in steps of GrowthStep), and an empty buffer larger than it is freed.
const DWORD DoublingLimit = 1024 * 1024;
const DWORD GrowthStep = 64 * 1024;

static DWORD grownCapacity(DWORD capacity, DWORD needed)
{
    if (needed > DoublingLimit)
        return (needed + GrowthStep - 1) / GrowthStep * GrowthStep;
    capacity = capacity ? capacity : 4096;
    while (capacity < needed)
        capacity *= 2;
    return capacity;
}

// Makes room for `count` more bytes: moves the unread bytes to the front, or
// grows (charging the growth to the buffer's account).
static bool makeRoom(ByteBuffer *buffer, DWORD count)
{
    if (buffer->start > 0 && buffer->start == buffer->length)
        buffer->start = buffer->length = 0;
    if (count > FrameHeaderSize + 2 * MaxWireName + MaxFrameData)
        return false;
    if (buffer->length + count > buffer->capacity && buffer->start > 0) {
        MoveMemory(buffer->bytes, buffer->bytes + buffer->start, buffer->length - buffer->start);
        buffer->length -= buffer->start;
        buffer->start = 0;
    }
    if (buffer->length + count <= buffer->capacity)
        return true;
    DWORD capacity = grownCapacity(buffer->capacity, buffer->length + count);
    if (buffer->account && !ChargeBudget(buffer->account, capacity - buffer->capacity))
        return false;
    BYTE *grown = buffer->bytes ? (BYTE *)HeapReAlloc(GetProcessHeap(), 0, buffer->bytes, capacity)
                                : (BYTE *)HeapAlloc(GetProcessHeap(), 0, capacity);
    if (!grown) {
        if (buffer->account)
            ReleaseBudget(buffer->account, capacity - buffer->capacity);
        return false;
    }
    buffer->bytes = grown;
    buffer->capacity = capacity;
    return true;
}

bool ReserveBytes(ByteBuffer *buffer, DWORD count)
{
    return makeRoom(buffer, count);
}

bool AppendBytes(ByteBuffer *buffer, const void *bytes, DWORD count)
{
    if (!makeRoom(buffer, count))
        return false;
    CopyMemory(buffer->bytes + buffer->length, bytes, count);
    buffer->length += count;
    return true;
}

void ConsumeBytes(ByteBuffer *buffer, DWORD count, bool keepRoom)
{
    buffer->start += count;
    if (buffer->start == buffer->length) {
        buffer->start = buffer->length = 0;
        if (!keepRoom)
            TrimEmptyBuffer(buffer);
    }
}

void TrimEmptyBuffer(ByteBuffer *buffer)
{
    if (buffer->start == buffer->length && buffer->capacity > DoublingLimit)
        FreeBuffer(buffer);
}

void DetachBuffer(ByteBuffer *buffer)
{
    if (buffer->account)
        ReleaseBudget(buffer->account, buffer->capacity);
    buffer->account = 0;
}

void FreeBuffer(ByteBuffer *buffer)
{
    if (buffer->bytes)
        HeapFree(GetProcessHeap(), 0, buffer->bytes);
    if (buffer->account)
        ReleaseBudget(buffer->account, buffer->capacity);
    buffer->bytes = 0;
    buffer->start = buffer->length = buffer->capacity = 0;
}

// ---- Node names --------------------------------------------------------------

void CopyNodeName(char *to, const char *name)
{
    int i = 0;
    for (; name[i] && i < MaxNodeNameLength; i++)
        to[i] = asciiUpper(name[i]);
    to[i] = 0;
}

// ---- Rules -----------------------------------------------------------------

// The largest data a frame of `kind` may carry.
static DWORD maxDataOfKind(BYTE kind)
{
    switch (kind) {
    case FrameWelcome:
    case FrameOpened:
        return 4;
    case FrameChallenge:
        return ChallengeLength;
    case FrameProof:
    case FrameAdminProof:
        return ProofLength;
    case FrameAdminChallenge:
        return AdminChallengeLength;
    case FrameAdminCall:
        return MaxAdminCall;
    case FrameAdminAnswer:
        return MaxAdminAnswer;
    case FramePoke:
    case FrameExecute:
    case FrameData:
        return MaxFrameData;
    }
    return 0;
}

// Kinds whose data has one exact length.
static bool hasFixedData(BYTE kind)
{
    return kind == FrameWelcome || kind == FrameOpened || kind == FrameChallenge ||
           kind == FrameProof || kind == FrameAdminChallenge || kind == FrameAdminProof;
}

static bool carriesFormat(BYTE kind)
{
    return kind == FrameRequest || kind == FramePoke || kind == FrameAdvise ||
           kind == FrameUnadvise || kind == FrameData;
}

static bool needsName(BYTE kind)
{
    return kind == FrameHello || kind == FrameOpen || kind == FrameRequest ||
           kind == FramePoke || kind == FrameAdvise || kind == FrameData ||
           kind == FrameDataAck;
}

static bool mayHaveName(BYTE kind)
{
    return needsName(kind) || kind == FrameUnadvise || kind == FrameAck;
}

static bool isSessionKind(BYTE kind)
{
    return kind == FrameHello || kind == FrameWelcome || kind == FramePing;
}

struct HeaderFields {
    BYTE version, kind;
    WORD word;
    DWORD conversation;
    WORD format;
    BYTE formatNameLength, nameLength;
    DWORD dataLength;
};

static DWORD readNumber(const BYTE *bytes, int size)
{
    DWORD value = 0;
    for (int i = size - 1; i >= 0; i--)
        value = (value << 8) | bytes[i];
    return value;
}

static void writeNumber(BYTE *bytes, DWORD value, int size)
{
    for (int i = 0; i < size; i++, value >>= 8)
        bytes[i] = (BYTE)value;
}

static void readHeader(const BYTE *bytes, HeaderFields *header)
{
    header->version = bytes[0];
    header->kind = bytes[1];
    header->word = (WORD)readNumber(bytes + 2, 2);
    header->conversation = readNumber(bytes + 4, 4);
    header->format = (WORD)readNumber(bytes + 8, 2);
    header->formatNameLength = bytes[10];
    header->nameLength = bytes[11];
    header->dataLength = readNumber(bytes + 12, 4);
}

static void writeHeader(const HeaderFields *header, BYTE *bytes)
{
    bytes[0] = header->version;
    bytes[1] = header->kind;
    writeNumber(bytes + 2, header->word, 2);
    writeNumber(bytes + 4, header->conversation, 4);
    writeNumber(bytes + 8, header->format, 2);
    bytes[10] = header->formatNameLength;
    bytes[11] = header->nameLength;
    writeNumber(bytes + 12, header->dataLength, 4);
}

// Every rule the header alone can break.
static bool isSoundHeader(const HeaderFields *header)
{
    BYTE kind = header->kind;
    if (header->version != WireVersion || kind == 0 || kind >= FrameKindCount)
        return false;
    if (isSessionKind(kind) != (header->conversation == 0) && kind != FrameRefused)
        return false;
    if (carriesFormat(kind)) {
        bool registered = header->format >= 0xC000;
        if (registered != (header->formatNameLength > 0))
            return false;
        // Only an unadvise of every link, and a warm link's notice, name no format.
        bool warm = kind == FrameData && (header->word & DataWarm);
        if (header->format == 0 && kind != FrameUnadvise && !warm)
            return false;
    } else if (header->format != 0 || header->formatNameLength != 0) {
        return false;
    }
    if (needsName(kind) ? header->nameLength == 0 : !mayHaveName(kind) && header->nameLength)
        return false;
    if (hasFixedData(kind) ? header->dataLength != maxDataOfKind(kind)
                           : header->dataLength > maxDataOfKind(kind))
        return false;
    return !(kind == FrameData && (header->word & DataWarm) && header->dataLength != 0);
}

// A name on the wire: no control characters, and so no zero byte. (Whether
// a node name is a proper one is the greeting's question.)
static bool isSoundName(const BYTE *bytes, DWORD length)
{
    for (DWORD i = 0; i < length; i++)
        if (bytes[i] < 0x20)
            return false;
    return true;
}

// ---- Reading and writing ---------------------------------------------------

FrameRead ReadFrameHead(const BYTE *bytes, DWORD available, Frame *head, DWORD *headSize)
{
    if (available < FrameHeaderSize)
        return FrameIncomplete;
    HeaderFields header;
    readHeader(bytes, &header);
    if (!isSoundHeader(&header))
        return FrameMalformed;
    DWORD size = FrameHeaderSize + header.formatNameLength + header.nameLength;
    if (available < size)
        return FrameIncomplete;
    const BYTE *formatName = bytes + FrameHeaderSize;
    const BYTE *name = formatName + header.formatNameLength;
    if (!isSoundName(formatName, header.formatNameLength) ||
        !isSoundName(name, header.nameLength))
        return FrameMalformed;
    InitFrame(head, header.kind, header.conversation);
    head->word = header.word;
    head->format = header.format;
    CopyMemory(head->formatName, formatName, header.formatNameLength);
    CopyMemory(head->name, name, header.nameLength);
    head->dataLength = header.dataLength;
    *headSize = size;
    return FrameComplete;
}

FrameRead ReadFrame(const BYTE *bytes, DWORD available, Frame *frame, DWORD *frameSize)
{
    DWORD headSize;
    FrameRead read = ReadFrameHead(bytes, available, frame, &headSize);
    if (read != FrameComplete)
        return read;
    if (available - headSize < frame->dataLength)
        return FrameIncomplete;
    frame->data = bytes + headSize;
    *frameSize = headSize + frame->dataLength;
    return FrameComplete;
}

// The header of `frame` laid out; false when a name is too long.
static bool headerOf(const Frame *frame, HeaderFields *header)
{
    int formatNameLength = lstrlenA(frame->formatName), nameLength = lstrlenA(frame->name);
    if (formatNameLength > MaxWireName || nameLength > MaxWireName)
        return false;
    HeaderFields fields = {WireVersion, frame->kind, frame->word, frame->conversation,
                           frame->format, (BYTE)formatNameLength, (BYTE)nameLength,
                           frame->dataLength};
    *header = fields;
    return true;
}

bool FrameKeepsRules(const Frame *frame)
{
    HeaderFields header;
    return headerOf(frame, &header) && isSoundHeader(&header) &&
           isSoundName((const BYTE *)frame->formatName, header.formatNameLength) &&
           isSoundName((const BYTE *)frame->name, header.nameLength);
}

bool AppendFrame(ByteBuffer *buffer, const Frame *frame)
{
    HeaderFields header;
    if (!FrameKeepsRules(frame) || !headerOf(frame, &header))
        return false;
    // Room for the whole frame first, so that the appends below cannot fail.
    if (!makeRoom(buffer, FrameHeaderSize + header.formatNameLength + header.nameLength +
                              frame->dataLength))
        return false;
    BYTE bytes[FrameHeaderSize];
    writeHeader(&header, bytes);
    AppendBytes(buffer, bytes, FrameHeaderSize);
    AppendBytes(buffer, frame->formatName, header.formatNameLength);
    AppendBytes(buffer, frame->name, header.nameLength);
    AppendBytes(buffer, frame->data, frame->dataLength);
    return true;
}
