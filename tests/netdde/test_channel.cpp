// The TLS channel of sessions: two channels, client and server, talking over
// in-memory byte pipes, as two agents' session layers will feed them.
#include "channel.h"
#include "netdde_wire.h"
#include <doctest/doctest.h>
#include <mbedtls/ssl.h>

#include <string>
#include <vector>

namespace {

// Test identities of their own, made once and kept like an agent's.
const char ServerKey[] = "Software\\Tessaseg\\Test\\ChannelServer";
const char ClientKey[] = "Software\\Tessaseg\\Test\\ChannelClient";
const char ImpostorKey[] = "Software\\Tessaseg\\Test\\ChannelImpostor";
const int MaxRounds = 20;               // a handshake takes 2 round trips
const DWORD ReceiveSize = 64 * 1024;    // what the session layer receives at once

NodeIdentity identityAt(const char *key)
{
    NodeIdentity identity;
    const char *failure = "";
    INFO(failure);
    REQUIRE(LoadNodeIdentity(key, &identity, &failure));
    return identity;
}

std::string bytesOf(const void *bytes, DWORD count)
{
    return std::string((const char *)bytes, count);
}

// Moves what `from` has to send to `to`, at most `limit` bytes, adding it
// to `recording`.
DWORD carry(Channel *from, Channel *to, std::string *recording, DWORD limit = MaxChannelInput)
{
    DWORD count;
    const BYTE *bytes = ChannelOutput(from, &count);
    if (count > limit)
        count = limit;
    if (!count)
        return 0;
    recording->append((const char *)bytes, count);
    REQUIRE(FeedChannel(to, bytes, count));
    ConsumeChannelOutput(from, count);
    return count;
}

// A client and a server channel joined by two pipes; every byte that crosses
// is kept in `wire`.
struct Pair {
    Channel *client = nullptr, *server = nullptr;
    std::string wire;
    DWORD peakMemory = 0;               // of Mbed TLS during the handshake
    Pair(const NodeIdentity &clientIdentity, const NodeIdentity &serverIdentity,
         const BYTE *pin = nullptr)
    {
        client = OpenChannel(false, &clientIdentity, pin, nullptr);
        server = OpenChannel(true, &serverIdentity, nullptr, nullptr);
        REQUIRE(client);
        REQUIRE(server);
    }
    ~Pair()
    {
        CloseChannel(client);
        CloseChannel(server);
    }
    // Runs both sides until both are open or one has failed.
    bool handshake()
    {
        for (int round = 0; round < MaxRounds; round++) {
            AdvanceChannel(client);
            carry(client, server, &wire);
            AdvanceChannel(server);
            carry(server, client, &wire);
            if (TlsMemoryInUse() > peakMemory)
                peakMemory = TlsMemoryInUse();
            if (StateOfChannel(client) == ChannelFailed || StateOfChannel(server) == ChannelFailed)
                return false;
            if (StateOfChannel(client) == ChannelOpen && StateOfChannel(server) == ChannelOpen)
                return true;
        }
        return false;
    }
    // `text` written on one side, read whole on the other, the ciphertext
    // crossing in pieces of one receive as a session layer feeds it.
    std::string send(Channel *from, Channel *to, const std::string &text)
    {
        REQUIRE(WriteChannel(from, text.data(), (DWORD)text.size()));
        std::string read;
        char chunk[4096];
        DWORD count;
        while (carry(from, to, &wire, ReceiveSize) > 0)
            while ((count = ReadChannel(to, chunk, sizeof chunk)) > 0)
                read.append(chunk, count);
        return read;
    }
};

std::string bindingOf(Channel *channel)
{
    BYTE binding[ChannelBindingLength];
    REQUIRE(ChannelBinding(channel, binding));
    return bytesOf(binding, ChannelBindingLength);
}

// A server channel fed `bytes` in chunks of `chunk` until it fails; the
// bytes it took to fail (0 when it never did).
DWORD bytesUntilFailure(const NodeIdentity &identity, const std::string &bytes, DWORD chunk)
{
    Channel *server = OpenChannel(true, &identity, nullptr, nullptr);
    REQUIRE(server);
    DWORD fed = 0, failedAfter = 0;
    while (fed < bytes.size() && !failedAfter) {
        DWORD count = (DWORD)bytes.size() - fed < chunk ? (DWORD)bytes.size() - fed : chunk;
        if (!FeedChannel(server, bytes.data() + fed, count))
            break;
        fed += count;
        if (AdvanceChannel(server) == ChannelFailed)
            failedAfter = fed;
    }
    if (failedAfter)
        CHECK(FailureOfChannel(server) == ChannelProtocolError);
    CloseChannel(server);
    return failedAfter;
}

std::string randomBytes(DWORD count)
{
    std::string bytes(count, 0);
    const DWORD MaxRequest = 1024;      // CTR-DRBG gives at most this much at once
    for (DWORD made = 0; made < count; made += MaxRequest)
        REQUIRE(TlsRandom(TlsRandomState(), (unsigned char *)&bytes[made],
                          count - made < MaxRequest ? count - made : MaxRequest) == 0);
    return bytes;
}

// A TLS client made directly with Mbed TLS, to play a peer our channel
// would never be: without a certificate, or without the extended master
// secret. Fed to a serving channel; true when that channel opened.
bool servingChannelOpensFor(const NodeIdentity &serverIdentity, const NodeIdentity *clientIdentity,
                            bool extendedMasterSecret, ChannelFailure *failure)
{
    Channel *server = OpenChannel(true, &serverIdentity, nullptr, nullptr);
    REQUIRE(server);
    mbedtls_ssl_config config;
    mbedtls_ssl_context ssl;
    mbedtls_x509_crt certificate;
    mbedtls_pk_context key;
    mbedtls_ssl_config_init(&config);
    mbedtls_ssl_init(&ssl);
    mbedtls_x509_crt_init(&certificate);
    mbedtls_pk_init(&key);
    REQUIRE(mbedtls_ssl_config_defaults(&config, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                        MBEDTLS_SSL_PRESET_DEFAULT) == 0);
    mbedtls_ssl_conf_rng(&config, TlsRandom, TlsRandomState());
    mbedtls_ssl_conf_authmode(&config, MBEDTLS_SSL_VERIFY_NONE);
    mbedtls_ssl_conf_extended_master_secret(&config, extendedMasterSecret ? MBEDTLS_SSL_EXTENDED_MS_ENABLED
                                                                          : MBEDTLS_SSL_EXTENDED_MS_DISABLED);
    if (clientIdentity) {
        REQUIRE(mbedtls_x509_crt_parse_der(&certificate, clientIdentity->certificate,
                                           clientIdentity->certificateLength) == 0);
        REQUIRE(mbedtls_pk_parse_key(&key, clientIdentity->privateKey, clientIdentity->privateKeyLength,
                                     nullptr, 0) == 0);
        REQUIRE(mbedtls_ssl_conf_own_cert(&config, &certificate, &key) == 0);
    }
    REQUIRE(mbedtls_ssl_setup(&ssl, &config) == 0);
    // The raw client's pipe: what the server sent, and what it sends.
    std::string toClient, toServer;
    struct Pipes {
        std::string *in, *out;
    } pipes = {&toClient, &toServer};
    auto send = [](void *context, const unsigned char *bytes, size_t count) {
        ((Pipes *)context)->out->append((const char *)bytes, count);
        return (int)count;
    };
    auto receive = [](void *context, unsigned char *bytes, size_t size) {
        std::string *in = ((Pipes *)context)->in;
        if (in->empty())
            return MBEDTLS_ERR_SSL_WANT_READ;
        size_t count = in->size() < size ? in->size() : size;
        memcpy(bytes, in->data(), count);
        in->erase(0, count);
        return (int)count;
    };
    mbedtls_ssl_set_bio(&ssl, &pipes, send, receive, nullptr);
    for (int round = 0; round < MaxRounds && StateOfChannel(server) == ChannelHandshaking; round++) {
        mbedtls_ssl_handshake(&ssl);
        if (!toServer.empty()) {
            REQUIRE(FeedChannel(server, toServer.data(), (DWORD)toServer.size()));
            toServer.clear();
        }
        AdvanceChannel(server);
        DWORD count;
        const BYTE *bytes = ChannelOutput(server, &count);
        toClient.append((const char *)bytes, count);
        ConsumeChannelOutput(server, count);
    }
    bool opened = StateOfChannel(server) == ChannelOpen;
    *failure = FailureOfChannel(server);
    mbedtls_ssl_free(&ssl);
    mbedtls_ssl_config_free(&config);
    mbedtls_x509_crt_free(&certificate);
    mbedtls_pk_free(&key);
    CloseChannel(server);
    return opened;
}

// ---- A relay that terminates TLS on both legs with its own key ----------
// It plays the server to the client and the client to the server with
// Mbed TLS directly, and gives each leg the other leg's hello random, so
// that everything a binding could take from the wire is the same on both.

const DWORD HelloRandomOffset = 11;     // record header, handshake header, version
const DWORD HelloRandomLength = 32;

// A generator that first hands out `script`, then real random bytes.
struct ScriptedRandom {
    std::string script;
};

int scriptedRandom(void *context, unsigned char *bytes, size_t count)
{
    std::string &script = ((ScriptedRandom *)context)->script;
    size_t scripted = script.size() < count ? script.size() : count;
    memcpy(bytes, script.data(), scripted);
    script.erase(0, scripted);
    return scripted == count ? 0 : TlsRandom(TlsRandomState(), bytes + scripted, count - scripted);
}

// One leg of the relay: an Mbed TLS endpoint with the relay's identity.
struct RelayLeg {
    mbedtls_ssl_config config;
    mbedtls_ssl_context ssl;
    mbedtls_x509_crt certificate;
    mbedtls_pk_context key;
    ScriptedRandom random;
    std::string in, out;                // ciphertext from and to the other end
    std::string firstSent;              // its first flight

    RelayLeg(bool serving, const NodeIdentity &identity)
    {
        mbedtls_ssl_config_init(&config);
        mbedtls_ssl_init(&ssl);
        mbedtls_x509_crt_init(&certificate);
        mbedtls_pk_init(&key);
        REQUIRE(mbedtls_ssl_config_defaults(&config, serving ? MBEDTLS_SSL_IS_SERVER : MBEDTLS_SSL_IS_CLIENT,
                                            MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT) == 0);
        mbedtls_ssl_conf_rng(&config, scriptedRandom, &random);
        mbedtls_ssl_conf_authmode(&config, MBEDTLS_SSL_VERIFY_NONE);
        REQUIRE(mbedtls_x509_crt_parse_der(&certificate, identity.certificate, identity.certificateLength) == 0);
        REQUIRE(mbedtls_pk_parse_key(&key, identity.privateKey, identity.privateKeyLength, nullptr, 0) == 0);
        REQUIRE(mbedtls_ssl_conf_own_cert(&config, &certificate, &key) == 0);
        REQUIRE(mbedtls_ssl_setup(&ssl, &config) == 0);
        mbedtls_ssl_set_bio(&ssl, this, send, receive, nullptr);
    }
    ~RelayLeg()
    {
        mbedtls_ssl_free(&ssl);
        mbedtls_ssl_config_free(&config);
        mbedtls_x509_crt_free(&certificate);
        mbedtls_pk_free(&key);
    }
    static int send(void *context, const unsigned char *bytes, size_t count)
    {
        ((RelayLeg *)context)->out.append((const char *)bytes, count);
        return (int)count;
    }
    static int receive(void *context, unsigned char *bytes, size_t size)
    {
        std::string &in = ((RelayLeg *)context)->in;
        if (in.empty())
            return MBEDTLS_ERR_SSL_WANT_READ;
        size_t count = in.size() < size ? in.size() : size;
        memcpy(bytes, in.data(), count);
        in.erase(0, count);
        return (int)count;
    }
    // Runs the handshake on what came in; what it sends goes to `peer`.
    void advance(Channel *peer)
    {
        mbedtls_ssl_handshake(&ssl);
        if (!out.empty()) {
            if (firstSent.empty())
                firstSent = out;
            REQUIRE(FeedChannel(peer, out.data(), (DWORD)out.size()));
            out.clear();
        }
    }
};

// What a channel has to send, moved into a relay leg's input.
std::string takeOutput(Channel *channel)
{
    DWORD count;
    const BYTE *bytes = ChannelOutput(channel, &count);
    std::string taken((const char *)bytes, count);
    ConsumeChannelOutput(channel, count);
    return taken;
}

} // namespace

TEST_CASE("two channels complete a handshake and carry data both ways, never in clear")
{
    NodeIdentity client = identityAt(ClientKey), server = identityAt(ServerKey);
    Pair pair(client, server);
    REQUIRE(pair.handshake());

    std::string request = "Request PRICES$ item Price of share QUOTES, password SECRET14";
    std::string answer = "Data Price=41.50 from PRICESRV|QUOTES";
    std::string bulk(100000, 0);
    for (size_t i = 0; i < bulk.size(); i++)
        bulk[i] = "Hot link update "[i % 16];
    CHECK(pair.send(pair.client, pair.server, request) == request);
    CHECK(pair.send(pair.server, pair.client, answer) == answer);
    CHECK(pair.send(pair.client, pair.server, bulk) == bulk);

    // Each side knows the other by its certificate's fingerprint.
    BYTE seen[FingerprintLength];
    REQUIRE(PeerFingerprint(pair.client, seen));
    CHECK(bytesOf(seen, FingerprintLength) == bytesOf(server.fingerprint, FingerprintLength));
    REQUIRE(PeerFingerprint(pair.server, seen));
    CHECK(bytesOf(seen, FingerprintLength) == bytesOf(client.fingerprint, FingerprintLength));

    // The wire carries the data, but none of it readable.
    CHECK(pair.wire.size() > bulk.size());
    for (const char *word : {"PRICES$", "Price", "QUOTES", "SECRET14", "41.50", "PRICESRV", "Hot link"})
        CHECK_MESSAGE(pair.wire.find(word) == std::string::npos, word);
}

TEST_CASE("the version-2 client begins with a TLS record; a version-1 Hello does not")
{
    NodeIdentity client = identityAt(ClientKey);
    Channel *channel = OpenChannel(false, &client, nullptr, nullptr);
    REQUIRE(channel);
    AdvanceChannel(channel);
    DWORD count;
    const BYTE *first = ChannelOutput(channel, &count);
    CHECK(StartsAsTls(first, count));
    CloseChannel(channel);

    Frame hello;
    InitFrame(&hello, FrameHello, 0);
    lstrcpyA(hello.name, "NODEB");
    ByteBuffer frame = {};
    REQUIRE(AppendFrame(&frame, &hello));
    CHECK_FALSE(StartsAsTls(frame.bytes + frame.start, frame.length - frame.start));
    FreeBuffer(&frame);
}

TEST_CASE("a client pinned to one fingerprint refuses a server with another key before any data")
{
    NodeIdentity client = identityAt(ClientKey), server = identityAt(ServerKey);
    NodeIdentity impostor = identityAt(ImpostorKey);
    REQUIRE(bytesOf(server.fingerprint, FingerprintLength) != bytesOf(impostor.fingerprint, FingerprintLength));

    SUBCASE("the pinned server is taken")
    {
        Pair pair(client, server, server.fingerprint);
        CHECK(pair.handshake());
    }
    SUBCASE("a relay that answers with its own key is refused")
    {
        Pair pair(client, impostor, server.fingerprint);
        CHECK_FALSE(pair.handshake());
        CHECK(StateOfChannel(pair.client) == ChannelFailed);
        CHECK(FailureOfChannel(pair.client) == ChannelWrongPeer);
        // The refused key is known, to be named beside the pinned one.
        BYTE seen[FingerprintLength];
        REQUIRE(PeerFingerprint(pair.client, seen));
        CHECK(bytesOf(seen, FingerprintLength) == bytesOf(impostor.fingerprint, FingerprintLength));
        // Nothing can be written, and the impostor never opens its side.
        std::string proof = "Proof for PRICES$";
        CHECK_FALSE(WriteChannel(pair.client, proof.data(), (DWORD)proof.size()));
        carry(pair.client, pair.server, &pair.wire);
        CHECK(AdvanceChannel(pair.server) != ChannelOpen);
        char read[64];
        CHECK(ReadChannel(pair.server, read, sizeof read) == 0);
        CHECK(pair.wire.find("PRICES$") == std::string::npos);
    }
}

TEST_CASE("a serving channel takes only clients with a certificate and the extended master secret")
{
    NodeIdentity client = identityAt(ClientKey), server = identityAt(ServerKey);
    ChannelFailure failure;
    CHECK(servingChannelOpensFor(server, &client, true, &failure));
    CHECK_FALSE(servingChannelOpensFor(server, nullptr, true, &failure));
    CHECK(failure == ChannelNoPeerIdentity);
    CHECK_FALSE(servingChannelOpensFor(server, &client, false, &failure));
    CHECK(failure == ChannelProtocolError);
}

TEST_CASE("channel bindings: the same on both ends, different for every session, and a proof holds on its own only")
{
    NodeIdentity client = identityAt(ClientKey), server = identityAt(ServerKey);
    Pair first(client, server), second(client, server);
    REQUIRE(first.handshake());
    REQUIRE(second.handshake());
    std::string firstBinding = bindingOf(first.client);
    CHECK(bindingOf(first.server) == firstBinding);
    CHECK(bindingOf(second.server) == bindingOf(second.client));
    CHECK(bindingOf(second.client) != firstBinding);

    BYTE challenge[ChallengeLength];
    REQUIRE(MakeChallenge(challenge));
    BYTE proof[ProofLength];
    REQUIRE(ProveBoundPassword("SECRET", challenge, "PRICES$", (const BYTE *)firstBinding.data(), proof));
    CHECK(CheckBoundProof("SECRET", challenge, "PRICES$", (const BYTE *)firstBinding.data(), proof));
    // Replayed in the other session (same challenge, share and password):
    std::string secondBinding = bindingOf(second.server);
    CHECK_FALSE(CheckBoundProof("SECRET", challenge, "PRICES$", (const BYTE *)secondBinding.data(), proof));
}

TEST_CASE("a relay with its own key, taken at first contact, has two bindings: a proof does not cross it")
{
    NodeIdentity client = identityAt(ClientKey), server = identityAt(ServerKey);
    NodeIdentity relayIdentity = identityAt(ImpostorKey);
    Channel *caller = OpenChannel(false, &client, nullptr, nullptr);      // no pin yet
    Channel *served = OpenChannel(true, &server, nullptr, nullptr);
    REQUIRE(caller);
    REQUIRE(served);
    RelayLeg towardClient(true, relayIdentity), towardServer(false, relayIdentity);
    std::string clientHello, serverHello;
    for (int round = 0; round < MaxRounds; round++) {
        AdvanceChannel(caller);
        std::string sent = takeOutput(caller);
        if (clientHello.empty() && !sent.empty()) {
            clientHello = sent;
            towardServer.random.script = sent.substr(HelloRandomOffset, HelloRandomLength);
        }
        towardClient.in += sent;
        if (!clientHello.empty())
            towardServer.advance(served);
        AdvanceChannel(served);
        sent = takeOutput(served);
        if (serverHello.empty() && !sent.empty()) {
            serverHello = sent;
            towardClient.random.script = sent.substr(HelloRandomOffset, HelloRandomLength);
        }
        towardServer.in += sent;
        if (!serverHello.empty())
            towardClient.advance(caller);
        if (StateOfChannel(caller) != ChannelHandshaking && StateOfChannel(served) != ChannelHandshaking)
            break;
    }
    REQUIRE(StateOfChannel(caller) == ChannelOpen);
    REQUIRE(StateOfChannel(served) == ChannelOpen);
    // Both legs carry the same hello randoms...
    REQUIRE(clientHello.size() > HelloRandomOffset + HelloRandomLength);
    REQUIRE(serverHello.size() > HelloRandomOffset + HelloRandomLength);
    CHECK(towardServer.firstSent.substr(HelloRandomOffset, HelloRandomLength) ==
          clientHello.substr(HelloRandomOffset, HelloRandomLength));
    CHECK(towardClient.firstSent.substr(HelloRandomOffset, HelloRandomLength) ==
          serverHello.substr(HelloRandomOffset, HelloRandomLength));
    // ...yet their bindings differ, and the proof made on one fails on the other.
    std::string callerBinding = bindingOf(caller), servedBinding = bindingOf(served);
    CHECK(callerBinding != servedBinding);
    BYTE challenge[ChallengeLength], proof[ProofLength];
    REQUIRE(MakeChallenge(challenge));
    REQUIRE(ProveBoundPassword("SECRET", challenge, "PRICES$", (const BYTE *)callerBinding.data(), proof));
    CHECK_FALSE(CheckBoundProof("SECRET", challenge, "PRICES$", (const BYTE *)servedBinding.data(), proof));
    CloseChannel(caller);
    CloseChannel(served);
}

TEST_CASE("garbage and cut records end a handshake cleanly within one record's bytes")
{
    NodeIdentity server = identityAt(ServerKey);
    SUBCASE("bytes that are not TLS fail at once")
    {
        DWORD failedAfter = bytesUntilFailure(server, std::string("\x01\x01\x00\x00 not TLS", 12), 1);
        CHECK(failedAfter >= 1);
        CHECK(failedAfter <= 5);
    }
    SUBCASE("a record longer than TLS allows fails at its header")
    {
        CHECK(bytesUntilFailure(server, std::string("\x16\x03\x03\xFF\xFF", 5) + randomBytes(1000), 1) == 5);
    }
    SUBCASE("a handshake record of random bytes fails once it is complete")
    {
        std::string record = std::string("\x16\x03\x03\x40\x00", 5) + randomBytes(0x4000 + 1000);
        DWORD failedAfter = bytesUntilFailure(server, record, 1000);
        CHECK(failedAfter >= 5 + 0x4000);
        CHECK(failedAfter <= MaxTlsRecord + 1000);
    }
    SUBCASE("a cut client hello waits for the rest and answers nothing")
    {
        NodeIdentity client = identityAt(ClientKey);
        Channel *caller = OpenChannel(false, &client, nullptr, nullptr);
        Channel *served = OpenChannel(true, &server, nullptr, nullptr);
        REQUIRE(caller);
        REQUIRE(served);
        AdvanceChannel(caller);
        DWORD count;
        const BYTE *hello = ChannelOutput(caller, &count);
        REQUIRE(count > 10);
        REQUIRE(FeedChannel(served, hello, count / 2));
        CHECK(AdvanceChannel(served) == ChannelHandshaking);
        DWORD answered;
        ChannelOutput(served, &answered);
        CHECK(answered == 0);
        // What follows instead of the rest is read as the hello's end: refused.
        std::string garbage = randomBytes(count);
        REQUIRE(FeedChannel(served, garbage.data(), count));
        CHECK(AdvanceChannel(served) == ChannelFailed);
        CloseChannel(caller);
        CloseChannel(served);
    }
}

TEST_CASE("a channel holds bounded unread ciphertext and gives its memory back")
{
    NodeIdentity client = identityAt(ClientKey), server = identityAt(ServerKey);
    DWORD before = TlsMemoryInUse();
    {
        Pair pair(client, server);
        REQUIRE(pair.handshake());
        DWORD open = TlsMemoryInUse() - before;
        MESSAGE("Mbed TLS memory of two channels: " << open << " bytes open, "
                << pair.peakMemory - before << " at most during the handshake");
        CHECK(open < 2 * 64 * 1024);

        std::string chunk(MaxChannelInput / 4, 'x');
        int taken = 0;
        while (taken < 8 && FeedChannel(pair.server, chunk.data(), (DWORD)chunk.size()))
            taken++;
        CHECK(taken == 4);
    }
    CHECK(TlsMemoryInUse() == before);
}
