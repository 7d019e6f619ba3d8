// Password proofs of the Network DDE wire protocol: a fresh random challenge
// from the serving agent, answered with an HMAC keyed with the password and
// bound to the session's channel, so that a password never crosses the
// network and a proof is worth nothing outside its session. The challenge
// comes from the CryptoAPI (advapi32) of the system, the HMAC-SHA-256 from
// Mbed TLS (the CryptoAPI of Windows 95 has no SHA-256).
#include "netdde_wire.h"
#include <mbedtls/md.h>
#include <mbedtls/pkcs5.h>
#include <wincrypt.h>

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

const int MaxBoundMessage = ChallengeLength + ProofBindingLength + MaxWireName;

bool ProveBoundPassword(const char *password, const BYTE challenge[ChallengeLength],
                        const char *shareName, const BYTE binding[ProofBindingLength],
                        BYTE proof[ProofLength])
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

static bool isSameProof(const BYTE expected[ProofLength], const BYTE proof[ProofLength])
{
    BYTE difference = 0;
    for (DWORD i = 0; i < ProofLength; i++)
        difference |= (BYTE)(expected[i] ^ proof[i]);
    return difference == 0;
}

bool CheckBoundProof(const char *password, const BYTE challenge[ChallengeLength],
                     const char *shareName, const BYTE binding[ProofBindingLength],
                     const BYTE proof[ProofLength])
{
    BYTE expected[ProofLength];
    return ProveBoundPassword(password, challenge, shareName, binding, expected) &&
           isSameProof(expected, proof);
}

bool DeriveAdministrationKey(const char *password, const BYTE salt[AdminSaltLength],
                             DWORD iterations, BYTE key[ProofLength])
{
    mbedtls_md_context_t context;
    mbedtls_md_init(&context);
    bool derived =
        mbedtls_md_setup(&context, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 1) == 0 &&
        mbedtls_pkcs5_pbkdf2_hmac(&context, (const BYTE *)password, lstrlenA(password), salt,
                                  AdminSaltLength, iterations, ProofLength, key) == 0;
    mbedtls_md_free(&context);
    return derived;
}

bool ProveAdministration(const BYTE key[ProofLength], const BYTE challenge[ChallengeLength],
                         const BYTE binding[ProofBindingLength], BYTE proof[ProofLength])
{
    const DWORD nameLength = sizeof AdminProofName - 1;
    BYTE message[ChallengeLength + ProofBindingLength + nameLength];
    CopyMemory(message, challenge, ChallengeLength);
    CopyMemory(message + ChallengeLength, binding, ProofBindingLength);
    CopyMemory(message + ChallengeLength + ProofBindingLength, AdminProofName, nameLength);
    return mbedtls_md_hmac(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), key, ProofLength,
                           message, sizeof message, proof) == 0;
}

bool CheckAdministrationProof(const BYTE key[ProofLength], const BYTE challenge[ChallengeLength],
                              const BYTE binding[ProofBindingLength],
                              const BYTE proof[ProofLength])
{
    BYTE expected[ProofLength];
    return ProveAdministration(key, challenge, binding, expected) && isSameProof(expected, proof);
}
