// The random generator of channels and identities (tlsrandom.h).
#include "tlsrandom.h"
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>

static mbedtls_entropy_context entropy;
static mbedtls_ctr_drbg_context generator;
static bool generatorSeeded;

void *TlsRandomState()
{
    if (generatorSeeded)
        return &generator;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&generator);
    const char personal[] = "Network DDE agent";
    if (mbedtls_ctr_drbg_seed(&generator, mbedtls_entropy_func, &entropy,
                              (const unsigned char *)personal, sizeof personal - 1) != 0) {
        mbedtls_ctr_drbg_free(&generator);
        mbedtls_entropy_free(&entropy);
        return 0;
    }
    generatorSeeded = true;
    return &generator;
}

int TlsRandom(void *state, unsigned char *bytes, size_t count)
{
    return mbedtls_ctr_drbg_random(state, bytes, count);
}
