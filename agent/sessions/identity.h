// A node's identity and the identities of the nodes it has met.
//
// Each agent makes its own key pair (ECDSA on P-256) and a self-signed
// certificate for it the first time it needs them, and keeps both under
// HKLM\Software\Tessaseg\Agent (REG_BINARY values "Certificate", DER, and
// "PrivateKey", DER of the EC private key with its public point). Where the
// system has access control (Windows NT) that key is readable and writable
// only by Administrators and the system; Windows 95 has none.
//
// A node is known by its fingerprint: SHA-256 of its certificate (DER),
// written as 64 upper-case hex digits in 16 groups of 4 separated by one
// space ("AB12 CD34 ... 9F0E"). When reading one, case, spaces and colons do
// not matter.
//
// Pins: a client's agent remembers each serving node's fingerprint at first
// contact (trust on first use), or an administrator writes it beforehand.
// It lives in the node map's key, HKLM\Software\Tessaseg\Nodes, in a subkey
// named after the node: Nodes\NODE, REG_SZ value "Fingerprint" (the written
// form above). The node map itself is values of Nodes (value NODE = REG_SZ
// "host:port"), which a subkey of the same name does not disturb.
#ifndef IDENTITY_H
#define IDENTITY_H

#include <windows.h>

const DWORD FingerprintLength = 32;
const int FingerprintTextSize = 80;      // 64 digits, 15 spaces, the zero
const DWORD MaxCertificateSize = 1024;   // ours are about 320 bytes
const DWORD MaxPrivateKeySize = 256;     // a P-256 key in DER: 121 bytes

const char AgentIdentityKey[] = "Software\\Tessaseg\\Agent";

struct NodeIdentity {
    BYTE certificate[MaxCertificateSize];
    DWORD certificateLength;
    BYTE privateKey[MaxPrivateKeySize];
    DWORD privateKeyLength;
    BYTE fingerprint[FingerprintLength];
};

// The identity kept under HKLM\`keyPath` (AgentIdentityKey for the agent),
// made and kept there when the key holds none. False, with the reason in
// *failure, when it cannot be made or kept, or when what is kept is not a
// sound identity (it is then left as it is: an identity is never replaced
// behind the administrator's back).
bool LoadNodeIdentity(const char *keyPath, NodeIdentity *identity, const char **failure);

void ComputeFingerprint(const BYTE *certificate, DWORD length, BYTE fingerprint[FingerprintLength]);
void FormatFingerprint(const BYTE fingerprint[FingerprintLength], char text[FingerprintTextSize]);
// False unless `text` holds exactly 64 hex digits (besides spaces and colons).
bool ParseFingerprint(const char *text, BYTE fingerprint[FingerprintLength]);

enum PinLookup { NoPin, Pinned, PinUnreadable };

// The fingerprint pinned for `node`. PinUnreadable: the node's key or its
// value is there but cannot be read, or is no fingerprint; the node must
// then be refused, as it cannot be verified.
PinLookup FindPin(const char *node, BYTE fingerprint[FingerprintLength]);
// Pins `node` at first use, marked so (REG_DWORD "PinnedAtFirstContact" = 1
// beside the fingerprint). False when it cannot be stored, or when a pin
// exists already (a pin is never replaced at first use; only forgotten).
bool PinNode(const char *node, const BYTE fingerprint[FingerprintLength]);
// Pins `node` to `fingerprint` on the administrator's word, replacing any pin.
bool SetPin(const char *node, const BYTE fingerprint[FingerprintLength]);
// Whether the pin of `node` was made at first contact rather than set.
bool PinnedAtFirstContact(const char *node);
// Drops the pin of `node`; false when it had none.
bool ForgetPin(const char *node);

#endif
