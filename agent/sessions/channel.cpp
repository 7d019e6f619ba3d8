// The TLS channel of a session, on Mbed TLS (channel.h).
#include "channel.h"
#include "netdde_wire.h"
#include "tlsrandom.h"
#include <mbedtls/ssl.h>
#include <mbedtls/ssl_internal.h>
#include <mbedtls/version.h>

#if MBEDTLS_VERSION_NUMBER < 0x021C0000 || MBEDTLS_VERSION_NUMBER >= 0x021D0000
#error "tlsconfig.h and this channel are written for Mbed TLS 2.28"
#endif

static_assert(ChannelBindingLength == ProofBindingLength, "share proofs cover the whole binding");

const char BindingLabel[] = "EXPORTER-Network-DDE-channel-binding";
const BYTE TlsHandshakeRecord = 0x16;

struct Channel {
    mbedtls_ssl_config config;
    mbedtls_ssl_context ssl;
    mbedtls_x509_crt certificate;
    mbedtls_pk_context privateKey;
    ChannelState state;
    ChannelFailure failure;
    ByteBuffer input, output;
    const BYTE *expectedPeer;           // points at pinned, or null
    BYTE pinned[FingerprintLength];
    bool peerKnown, bindingMade;
    bool canStep;                       // the handshake may go on without more bytes
    BYTE peer[FingerprintLength];
    BYTE binding[ChannelBindingLength];
};

// ---- Mbed TLS's callbacks --------------------------------------------------

static int sendCiphertext(void *context, const unsigned char *bytes, size_t count)
{
    Channel *channel = (Channel *)context;
    DWORD pending = channel->output.length - channel->output.start;
    if (count > MaxChannelOutput - pending || !AppendBytes(&channel->output, bytes, (DWORD)count))
        return MBEDTLS_ERR_SSL_ALLOC_FAILED;
    return (int)count;
}

static int receiveCiphertext(void *context, unsigned char *bytes, size_t size)
{
    Channel *channel = (Channel *)context;
    DWORD available = channel->input.length - channel->input.start;
    if (!available)
        return MBEDTLS_ERR_SSL_WANT_READ;
    DWORD count = size < available ? (DWORD)size : available;
    CopyMemory(bytes, channel->input.bytes + channel->input.start, count);
    ConsumeBytes(&channel->input, count);
    return (int)count;
}

// The peer's certificate: its fingerprint, which must be the pinned one if
// there is a pin. There are no certificate authorities: every other check
// of the chain is waived.
static int verifyPeer(void *context, mbedtls_x509_crt *certificate, int depth, uint32_t *flags)
{
    Channel *channel = (Channel *)context;
    *flags = 0;
    if (depth != 0)
        return 0;
    ComputeFingerprint(certificate->raw.p, (DWORD)certificate->raw.len, channel->peer);
    channel->peerKnown = true;
    if (channel->expectedPeer && memcmp(channel->peer, channel->expectedPeer, FingerprintLength) != 0) {
        channel->failure = ChannelWrongPeer;
        return MBEDTLS_ERR_X509_FATAL_ERROR;    // fatal even where verification is optional
    }
    return 0;
}

// The master secret, once made: the channel binding is exported from it.
static int exportBinding(void *context, const unsigned char *masterSecret, const unsigned char *,
                         size_t, size_t, size_t, const unsigned char clientRandom[32],
                         const unsigned char serverRandom[32], mbedtls_tls_prf_types prf)
{
    Channel *channel = (Channel *)context;
    unsigned char randoms[64];
    CopyMemory(randoms, clientRandom, 32);
    CopyMemory(randoms + 32, serverRandom, 32);
    channel->bindingMade = mbedtls_ssl_tls_prf(prf, masterSecret, 48, BindingLabel, randoms,
                                               sizeof randoms, channel->binding,
                                               ChannelBindingLength) == 0;
    return 0;
}

// ---- Opening and closing ---------------------------------------------------

Channel *OpenChannel(bool serving, const NodeIdentity *identity,
                     const BYTE expectedPeer[FingerprintLength], BudgetAccount *account)
{
    void *random = TlsRandomState();
    if (!random)
        return 0;
    Channel *channel = (Channel *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Channel));
    if (!channel)
        return 0;
    mbedtls_ssl_config_init(&channel->config);
    mbedtls_ssl_init(&channel->ssl);
    mbedtls_x509_crt_init(&channel->certificate);
    mbedtls_pk_init(&channel->privateKey);
    channel->input.account = channel->output.account = account;
    if (expectedPeer) {
        CopyMemory(channel->pinned, expectedPeer, FingerprintLength);
        channel->expectedPeer = channel->pinned;
    }
    mbedtls_ssl_config *config = &channel->config;
    bool made =
        mbedtls_x509_crt_parse_der(&channel->certificate, identity->certificate,
                                   identity->certificateLength) == 0 &&
        mbedtls_pk_parse_key(&channel->privateKey, identity->privateKey,
                             identity->privateKeyLength, 0, 0) == 0 &&
        mbedtls_ssl_config_defaults(config, serving ? MBEDTLS_SSL_IS_SERVER : MBEDTLS_SSL_IS_CLIENT,
                                    MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT) == 0;
    if (made) {
        mbedtls_ssl_conf_min_version(config, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
        mbedtls_ssl_conf_max_version(config, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
        mbedtls_ssl_conf_rng(config, TlsRandom, random);
        // Optional here only in Mbed TLS's sense (no authority vouches for
        // anyone): verifyPeer decides, and a handshake without the peer's
        // certificate fails in AdvanceChannel.
        mbedtls_ssl_conf_authmode(config, MBEDTLS_SSL_VERIFY_OPTIONAL);
        mbedtls_ssl_conf_extended_master_secret(config, MBEDTLS_SSL_EXTENDED_MS_ENABLED);
        mbedtls_ssl_conf_export_keys_ext_cb(config, exportBinding, channel);
        made = mbedtls_ssl_conf_own_cert(config, &channel->certificate, &channel->privateKey) == 0 &&
               mbedtls_ssl_setup(&channel->ssl, config) == 0;
    }
    if (!made) {
        CloseChannel(channel);
        return 0;
    }
    mbedtls_ssl_set_bio(&channel->ssl, channel, sendCiphertext, receiveCiphertext, 0);
    mbedtls_ssl_set_verify(&channel->ssl, verifyPeer, channel);
    channel->state = ChannelHandshaking;
    return channel;
}

void CloseChannel(Channel *channel)
{
    if (!channel)
        return;
    mbedtls_ssl_free(&channel->ssl);
    mbedtls_ssl_config_free(&channel->config);
    mbedtls_x509_crt_free(&channel->certificate);
    mbedtls_pk_free(&channel->privateKey);
    FreeBuffer(&channel->input);
    FreeBuffer(&channel->output);
    SecureZeroMemory(channel, sizeof *channel);
    HeapFree(GetProcessHeap(), 0, channel);
}

// ---- Running it ------------------------------------------------------------

static ChannelState failChannel(Channel *channel, ChannelFailure failure)
{
    if (channel->failure == ChannelNoFailure)
        channel->failure = failure;
    channel->state = ChannelFailed;
    return ChannelFailed;
}

// An Mbed TLS result other than "more bytes needed" ends the channel.
static ChannelState failFor(Channel *channel, int result)
{
    return failChannel(channel, result == MBEDTLS_ERR_SSL_ALLOC_FAILED ? ChannelOutOfMemory
                                                                         : ChannelProtocolError);
}

bool FeedChannel(Channel *channel, const void *bytes, DWORD count)
{
    DWORD unread = channel->input.length - channel->input.start;
    if (channel->state == ChannelFailed || channel->state == ChannelClosed ||
        count > MaxChannelInput - unread)
        return false;
    return AppendBytes(&channel->input, bytes, count);
}

// Takes the handshake one step; true when it may take the next at once,
// without more bytes from the peer.
static bool stepHandshake(Channel *channel)
{
    mbedtls_ssl_context *ssl = &channel->ssl;
    if (channel->state != ChannelHandshaking)
        return false;
    if (ssl->state == MBEDTLS_SSL_HANDSHAKE_OVER) {
        if (!channel->peerKnown)
            failChannel(channel, ChannelNoPeerIdentity);
        else if (!channel->bindingMade)
            failChannel(channel, ChannelProtocolError);
        else
            channel->state = ChannelOpen;
        return false;
    }
    int result = mbedtls_ssl_handshake_step(ssl);
    if (result == MBEDTLS_ERR_SSL_WANT_READ)
        return false;
    if (result != 0) {
        failFor(channel, result);
        return false;
    }
    // Past the hellos both sides know whether the extended master
    // secret was agreed; without it the binding would not be unique.
    if (ssl->state > MBEDTLS_SSL_SERVER_HELLO && ssl->handshake &&
        ssl->handshake->extended_ms != MBEDTLS_SSL_EXTENDED_MS_ENABLED) {
        failChannel(channel, ChannelProtocolError);
        return false;
    }
    return true;
}

ChannelState AdvanceChannel(Channel *channel)
{
    while (stepHandshake(channel))
        continue;
    channel->canStep = false;
    return channel->state;
}

ChannelState StepChannel(Channel *channel)
{
    channel->canStep = stepHandshake(channel);
    return channel->state;
}

bool ChannelCanStep(const Channel *channel)
{
    return channel->canStep;
}

ChannelState StateOfChannel(const Channel *channel)
{
    return channel->state;
}

ChannelFailure FailureOfChannel(const Channel *channel)
{
    return channel->failure;
}

DWORD ReadChannel(Channel *channel, void *bytes, DWORD size)
{
    if (channel->state != ChannelOpen || size == 0)
        return 0;
    int result = mbedtls_ssl_read(&channel->ssl, (unsigned char *)bytes, size);
    if (result > 0)
        return (DWORD)result;
    if (result == MBEDTLS_ERR_SSL_WANT_READ)
        return 0;
    if (result == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || result == 0)
        channel->state = ChannelClosed;
    else
        failFor(channel, result);
    return 0;
}

bool WriteChannel(Channel *channel, const void *bytes, DWORD count)
{
    if (channel->state != ChannelOpen)
        return false;
    const unsigned char *next = (const unsigned char *)bytes;
    while (count > 0) {
        int result = mbedtls_ssl_write(&channel->ssl, next, count);
        if (result <= 0) {
            failFor(channel, result);
            return false;
        }
        next += result;
        count -= (DWORD)result;
    }
    return true;
}

void EndChannel(Channel *channel)
{
    if (channel->state == ChannelOpen)
        mbedtls_ssl_close_notify(&channel->ssl);
    if (channel->state != ChannelFailed)
        channel->state = ChannelClosed;
}

const BYTE *ChannelOutput(const Channel *channel, DWORD *count)
{
    *count = channel->output.length - channel->output.start;
    return *count ? channel->output.bytes + channel->output.start : 0;
}

void ConsumeChannelOutput(Channel *channel, DWORD count)
{
    DWORD pending = channel->output.length - channel->output.start;
    ConsumeBytes(&channel->output, count < pending ? count : pending);
}

bool PeerFingerprint(const Channel *channel, BYTE fingerprint[FingerprintLength])
{
    if (channel->peerKnown)
        CopyMemory(fingerprint, channel->peer, FingerprintLength);
    return channel->peerKnown;
}

bool ChannelBinding(const Channel *channel, BYTE binding[ChannelBindingLength])
{
    if (channel->state != ChannelOpen)
        return false;
    CopyMemory(binding, channel->binding, ChannelBindingLength);
    return true;
}

bool StartsAsTls(const BYTE *bytes, DWORD count)
{
    return count >= 1 && bytes[0] == TlsHandshakeRecord;
}
