// nddeclient.exe: a Network DDE client node that holds shares without DDE
// conversations, speaking the agents' wire protocol (netdde_wire.h).
//
//   nddeclient.exe [/port:N] NODE SHARE[:PASSWORD]...
//
// Opens a session with the agent on 127.0.0.1 as node NODE, inside TLS as
// agents do (netdde_wire.h): it presents this machine's node key and takes
// only an agent that presents the same key, the agent of this machine
// (identity.h). It connects to each
// share (the password, upper-cased as the front ends store it, follows the
// first colon; none means an empty password) by answering the agent's
// challenge, and reports on stdout:
//   session <id> opened as <NODE>
//   granted <SHARE> by password #<1|2> with permissions 0x<hex>
//   refused <SHARE> with code <code>
//   ready
// It then stays until the agent ends the session ("session closed", exit
// code 0) or it is stopped. Exit code 1: no session; 2: wrong command line.
#include "agentlink.h"
#include "channel.h"
#include "netdde_wire.h"
#include <winsock.h>
#include <stdlib.h>

static SOCKET agent = INVALID_SOCKET;
static Channel *channel;
static ByteBuffer received;             // plaintext from the agent
static BYTE binding[ChannelBindingLength];

static void print(const char *format, ...)
{
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    int length = wvsprintfA(line, format, arguments);
    va_end(arguments);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, length, &written, 0);
}

// Sends the ciphertext the channel has made; false when the agent has gone.
static bool sendOutput()
{
    DWORD count;
    const BYTE *bytes;
    while ((bytes = ChannelOutput(channel, &count)) != 0) {
        int sent = send(agent, (const char *)bytes, (int)count, 0);
        if (sent <= 0)
            return false;
        ConsumeChannelOutput(channel, sent);
    }
    return true;
}

// Feeds the channel what comes next from the agent (waits for it); false
// when the agent has gone.
static bool receiveCiphertext()
{
    char chunk[4096];
    int count = recv(agent, chunk, sizeof chunk, 0);
    return count > 0 && FeedChannel(channel, chunk, count);
}

// The TLS handshake with the agent; false when it fails.
static bool secureSession(const NodeIdentity *identity)
{
    channel = OpenChannel(false, identity, identity->fingerprint, 0);
    if (!channel)
        return false;
    for (;;) {
        ChannelState state = AdvanceChannel(channel);
        if (!sendOutput() || state == ChannelFailed)
            return false;
        if (state == ChannelOpen)
            return ChannelBinding(channel, binding);
        if (!receiveCiphertext())
            return false;
    }
}

static bool sendFrame(const Frame *frame)
{
    ByteBuffer bytes = {};
    bool sent = AppendFrame(&bytes, frame) && WriteChannel(channel, bytes.bytes, bytes.length) &&
                sendOutput();
    FreeBuffer(&bytes);
    return sent;
}

// Reads the next frame that is not a Ping; false when the agent has gone or
// sent something malformed. The frame's data stays valid until the next read.
static bool readFrame(Frame *frame)
{
    for (;;) {
        DWORD size;
        FrameRead read = ReadFrame(received.bytes + received.start,
                                   received.length - received.start, frame, &size);
        if (read == FrameMalformed)
            return false;
        if (read == FrameComplete) {
            ConsumeBytes(&received, size);
            if (frame->kind != FramePing)
                return true;
            continue;
        }
        BYTE plaintext[4096];
        DWORD count = ReadChannel(channel, plaintext, sizeof plaintext);
        if (count ? !AppendBytes(&received, plaintext, count)
                  : StateOfChannel(channel) != ChannelOpen || !receiveCiphertext())
            return false;
    }
}

static bool openSession(const char *node)
{
    Frame frame;
    InitFrame(&frame, FrameHello, 0);
    lstrcpynA(frame.name, node, sizeof frame.name);
    if (!sendFrame(&frame) || !readFrame(&frame)) {
        print("no answer from the Network DDE agent\r\n");
        return false;
    }
    if (frame.kind != FrameWelcome) {
        print("session refused with code %u\r\n",
              frame.kind == FrameRefused ? (UINT)frame.word : (UINT)NDDE_INTERNAL_ERROR);
        return false;
    }
    DWORD id = frame.data[0] | frame.data[1] << 8 | frame.data[2] << 16 |
               (DWORD)frame.data[3] << 24;
    print("session %08lX opened as %s\r\n", id, node);
    return true;
}

// Connects to "SHARE[:PASSWORD]" as conversation `conversation`; false when
// the agent has gone.
static bool connectShare(const char *argument, DWORD conversation)
{
    char share[ShareNameSize + 1], password[16] = "";  // a password slot holds 14 bytes
    int nameLength = 0;
    while (argument[nameLength] && argument[nameLength] != ':')
        nameLength++;
    lstrcpynA(share, argument, (nameLength < ShareNameSize ? nameLength : ShareNameSize) + 1);
    if (argument[nameLength] == ':')
        lstrcpynA(password, argument + nameLength + 1, sizeof password);
    CharUpperBuffA(password, lstrlenA(password));

    Frame frame;
    InitFrame(&frame, FrameOpen, conversation);
    frame.word = OpenConnectOnly;
    lstrcpyA(frame.name, share);
    if (!share[0]) {
        print("refused %s with code %u\r\n", share, NDDE_INVALID_SHARE);
        return true;
    }
    if (!sendFrame(&frame) || !readFrame(&frame))
        return false;
    if (frame.kind == FrameChallenge) {
        BYTE proof[ProofLength];
        ProveBoundPassword(password, frame.data, share, binding, proof);
        InitFrame(&frame, FrameProof, conversation);
        frame.data = proof;
        frame.dataLength = ProofLength;
        if (!sendFrame(&frame) || !readFrame(&frame))
            return false;
    }
    if (frame.kind == FrameOpened)
        print("granted %s by password #%u with permissions 0x%04X\r\n", share,
              frame.data[0] | frame.data[1] << 8, frame.data[2] | frame.data[3] << 8);
    else
        print("refused %s with code %u\r\n", share,
              frame.kind == FrameRefused ? (UINT)frame.word : (UINT)NDDE_INTERNAL_ERROR);
    return true;
}

// Holds the session, pinging the agent, until the agent ends it.
static void holdSession()
{
    Frame ping;
    InitFrame(&ping, FramePing, 0);
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(agent, &readable);
        timeval wait = {3, 0};
        int ready = select(0, &readable, 0, 0, &wait);
        if (ready < 0 || (ready == 0 && !sendFrame(&ping)))
            return;
        BYTE ignored[4096];
        if (ready > 0 && !receiveCiphertext())
            return;
        while (ReadChannel(channel, ignored, sizeof ignored) > 0)
            continue;
        if (StateOfChannel(channel) != ChannelOpen)
            return;
    }
}

static SOCKET connectAgent(unsigned short port)
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0)
        return INVALID_SOCKET;
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket != INVALID_SOCKET && connect(socket, (sockaddr *)&address, sizeof address) != 0) {
        closesocket(socket);
        socket = INVALID_SOCKET;
    }
    return socket;
}

int main(int argc, char **argv)
{
    unsigned short port = AgentDefaultPort;
    int first = 1;
    if (argc > 1 && startsWith(argv[1], "/port:")) {
        port = (unsigned short)strtoul(argv[1] + 6, 0, 10);
        first = 2;
    }
    if (argc <= first) {
        print("usage: nddeclient [/port:N] NODE SHARE[:PASSWORD]...\r\n");
        return 2;
    }
    NodeIdentity identity;
    const char *failure;
    if (!LoadNodeIdentity(AgentIdentityKey, &identity, &failure)) {
        print("no node key: %s\r\n", failure);
        return 1;
    }
    agent = connectAgent(port);
    if (agent == INVALID_SOCKET) {
        print("cannot reach the Network DDE agent on port %u\r\n", port);
        return 1;
    }
    if (!secureSession(&identity)) {
        print("no secure session with the Network DDE agent\r\n");
        return 1;
    }
    if (!openSession(argv[first]))
        return 1;
    bool open = true;
    for (int i = first + 1; open && i < argc; i++)
        open = connectShare(argv[i], i - first);
    if (open) {
        print("ready\r\n");
        holdSession();
    }
    print("session closed\r\n");
    EndChannel(channel);
    sendOutput();
    CloseChannel(channel);
    closesocket(agent);
    WSACleanup();
    return 0;
}
