// Password proofs of the Network DDE wire protocol: a fresh random challenge
// from the serving agent, answered with HMAC-SHA1 keyed with the password, so
// that a password never crosses the network. Both made with the CryptoAPI
// (advapi32) of the system.
#include "netdde_wire.h"
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
