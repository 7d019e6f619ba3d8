// A client node of the tests speaking TLS to an agent (tlspeer.h).
#include "tlspeer.h"

namespace tp {

const NodeIdentity *peerIdentity()
{
    static NodeIdentity identity;
    static bool loaded = false;
    const char *failure;
    if (!loaded)
        loaded = LoadNodeIdentity(PeerIdentityKey, &identity, &failure);
    return loaded ? &identity : nullptr;
}

const NodeIdentity *identityOf(const char *node)
{
    const int MaxIdentities = 16;
    static NodeIdentity identities[MaxIdentities];
    static std::string names[MaxIdentities];
    static int count = 0;
    for (int i = 0; i < count; i++)
        if (names[i] == node)
            return &identities[i];
    const char *failure;
    std::string keyPath = std::string(PeerIdentityKey) + "\\" + node;
    if (count == MaxIdentities || !LoadNodeIdentity(keyPath.c_str(), &identities[count], &failure))
        return nullptr;
    names[count] = node;
    return &identities[count++];
}

std::string clientFirstBytes()
{
    const NodeIdentity *identity = peerIdentity();
    Channel *channel = identity ? OpenChannel(false, identity, nullptr, nullptr) : nullptr;
    if (!channel)
        return "";
    AdvanceChannel(channel);
    DWORD count = 0;
    const BYTE *bytes = ChannelOutput(channel, &count);
    std::string first(bytes ? (const char *)bytes : "", count);
    CloseChannel(channel);
    return first;
}

bool startWinsock()
{
    static const bool started = [] {
        WSADATA winsock;
        return WSAStartup(MAKEWORD(1, 1), &winsock) == 0;
    }();
    return started;
}

std::string frameBytes(const Frame &frame)
{
    ByteBuffer buffer = {};
    std::string bytes;
    if (AppendFrame(&buffer, &frame))
        bytes.assign((const char *)buffer.bytes + buffer.start, buffer.length - buffer.start);
    FreeBuffer(&buffer);
    return bytes;
}

bool TlsPeer::connect(unsigned short port, const char *from)
{
    close();
    closed_ = false;
    if (!startWinsock())
        return false;
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(from);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket_ == INVALID_SOCKET || bind(socket_, (sockaddr *)&local, sizeof local) != 0 ||
        ::connect(socket_, (sockaddr *)&address, sizeof address) != 0) {
        close();
        return false;
    }
    return true;
}

void TlsPeer::close()
{
    if (channel_)
        CloseChannel(channel_);
    channel_ = nullptr;
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    socket_ = INVALID_SOCKET;
    FreeBuffer(&received_);
    received_ = {};
    lastSize_ = 0;
}

bool TlsPeer::sendOutput()
{
    DWORD count;
    const BYTE *bytes;
    while ((bytes = ChannelOutput(channel_, &count)) != nullptr) {
        int sent = send(socket_, (const char *)bytes, (int)count, 0);
        if (sent <= 0)
            return false;
        ConsumeChannelOutput(channel_, sent);
    }
    return true;
}

bool TlsPeer::pump(DWORD wait)
{
    if (socket_ == INVALID_SOCKET || closed_)
        return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval timeout = {(long)(wait / 1000), (long)(wait % 1000 * 1000)};
    if (select(0, &readable, nullptr, nullptr, &timeout) == 1) {
        char chunk[16384];
        int count = recv(socket_, chunk, sizeof chunk, 0);
        if (count <= 0 || !FeedChannel(channel_, chunk, count)) {
            closed_ = true;
            return false;
        }
    }
    if (StateOfChannel(channel_) == ChannelHandshaking)
        AdvanceChannel(channel_);
    BYTE plaintext[16384];
    DWORD count;
    while ((count = ReadChannel(channel_, plaintext, sizeof plaintext)) > 0)
        AppendBytes(&received_, plaintext, count);
    ChannelState state = StateOfChannel(channel_);
    if (state == ChannelFailed || state == ChannelClosed)
        closed_ = true;
    return !closed_ && sendOutput();
}

bool TlsPeer::secure(DWORD timeout)
{
    if (channel_)
        return StateOfChannel(channel_) == ChannelOpen;
    const NodeIdentity *identity = identity_ ? identity_ : peerIdentity();
    if (socket_ == INVALID_SOCKET || !identity)
        return false;
    channel_ = OpenChannel(false, identity, nullptr, nullptr);
    if (!channel_)
        return false;
    DWORD start = GetTickCount();
    AdvanceChannel(channel_);
    if (!sendOutput())
        return false;
    while (StateOfChannel(channel_) == ChannelHandshaking && GetTickCount() - start < timeout)
        if (!pump(100))
            return false;
    return StateOfChannel(channel_) == ChannelOpen && ChannelBinding(channel_, binding_) &&
           PeerFingerprint(channel_, agentFingerprint_);
}

bool TlsPeer::sendBytes(const std::string &bytes)
{
    return secure() && WriteChannel(channel_, bytes.data(), (DWORD)bytes.size()) && sendOutput();
}

bool TlsPeer::sendFrame(const Frame &frame)
{
    std::string bytes = frameBytes(frame);
    return !bytes.empty() && sendBytes(bytes);
}

bool TlsPeer::readFrame(Frame *frame, DWORD timeout)
{
    if (!secure(timeout))
        return false;
    DWORD start = GetTickCount();
    bool alive = true;
    for (;;) {
        ConsumeBytes(&received_, lastSize_);
        lastSize_ = 0;
        DWORD size;
        FrameRead read = ReadFrame(received_.bytes + received_.start,
                                   received_.length - received_.start, frame, &size);
        if (read == FrameMalformed)
            return false;
        if (read == FrameComplete) {
            lastSize_ = size;
            if (frame->kind == FramePing)
                continue;
            return true;
        }
        if (!alive || GetTickCount() - start >= timeout)
            return false;
        alive = pump(100);
    }
}

bool TlsPeer::isClosedByAgent()
{
    if (socket_ == INVALID_SOCKET)
        return true;
    if (!channel_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval none = {0, 0};
        char c;
        return select(0, &readable, nullptr, nullptr, &none) == 1 &&
               recv(socket_, &c, 1, MSG_PEEK) <= 0;
    }
    pump(0);
    return closed_;
}

} // namespace tp
