// Password proofs of the Network DDE wire protocol: a fresh random challenge
// from the serving agent, answered with an HMAC keyed with the password, so
// that a password never crosses the network. The challenge comes from the
// CryptoAPI (advapi32) of the system; the HMAC-SHA1 proof of sessions without
// a channel is made with it too, the bound HMAC-SHA-256 proof with Mbed TLS
// (the CryptoAPI of Windows 95 has no SHA-256).
#include "netdde_wire.h"
#include <mbedtls/md.h>
#include <wincrypt.h>

const DWORD HmacBlockSize = 64;          // SHA-1's block
const DWORD Sha1Length = 20;

static bool openProvider(HCRYPTPROV *provider)
{
    return CryptAcquireContextA(provider, 0, 0, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) != 0;
}

bool MakeChallenge(BYTE challenge[ChallengeLength])
{
    HCRYPTPROV provider;
    if (!openProvider(&provider))
        return false;
    bool made = CryptGenRandom(provider, ChallengeLength, challenge) != 0;
    CryptReleaseContext(provider, 0);
    return made;
}

// SHA-1 of `first` followed by `second`.
static bool sha1(HCRYPTPROV provider, const BYTE *first, DWORD firstLength, const BYTE *second,
                 DWORD secondLength, BYTE digest[Sha1Length])
{
    HCRYPTHASH hash;
    if (!CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash))
        return false;
    DWORD digestLength = Sha1Length;
    bool made = CryptHashData(hash, first, firstLength, 0) &&
                CryptHashData(hash, second, secondLength, 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, digest, &digestLength, 0) &&
                digestLength == Sha1Length;
    CryptDestroyHash(hash);
    return made;
}

bool ProvePassword(const char *password, const BYTE challenge[ChallengeLength],
                   BYTE proof[ProofLength])
{
    // Passwords hold at most 14 bytes: the key is always shorter than a block.
    BYTE inner[HmacBlockSize], outer[HmacBlockSize];
    ZeroMemory(inner, sizeof inner);
    lstrcpynA((char *)inner, password, HmacBlockSize);
    CopyMemory(outer, inner, sizeof outer);
    for (DWORD i = 0; i < HmacBlockSize; i++) {
        inner[i] ^= 0x36;
        outer[i] ^= 0x5C;
    }
    HCRYPTPROV provider;
    if (!openProvider(&provider))
        return false;
    BYTE innerDigest[Sha1Length];
    bool made = sha1(provider, inner, HmacBlockSize, challenge, ChallengeLength, innerDigest) &&
                sha1(provider, outer, HmacBlockSize, innerDigest, Sha1Length, proof);
    CryptReleaseContext(provider, 0);
    return made;
}

const int MaxBoundMessage = ChallengeLength + ProofBindingLength + MaxWireName;

bool ProveBoundPassword(const char *password, const BYTE challenge[ChallengeLength],
                        const char *shareName, const BYTE binding[ProofBindingLength],
                        BYTE proof[BoundProofLength])
{
    int nameLength = lstrlenA(shareName);
    if (nameLength > MaxWireName)
        return false;
    BYTE message[MaxBoundMessage];
    CopyMemory(message, challenge, ChallengeLength);
    CopyMemory(message + ChallengeLength, binding, ProofBindingLength);
    BYTE *name = message + ChallengeLength + ProofBindingLength;
    for (int i = 0; i < nameLength; i++)
        name[i] = (BYTE)asciiUpper(shareName[i]);
    return mbedtls_md_hmac(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), (const BYTE *)password,
                           lstrlenA(password), message,
                           ChallengeLength + ProofBindingLength + nameLength, proof) == 0;
}

bool CheckBoundProof(const char *password, const BYTE challenge[ChallengeLength],
                     const char *shareName, const BYTE binding[ProofBindingLength],
                     const BYTE proof[BoundProofLength])
{
    BYTE expected[BoundProofLength];
    if (!ProveBoundPassword(password, challenge, shareName, binding, expected))
        return false;
    BYTE difference = 0;
    for (DWORD i = 0; i < BoundProofLength; i++)
        difference |= (BYTE)(expected[i] ^ proof[i]);
    return difference == 0;
}
