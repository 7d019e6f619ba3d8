// The random generator of channels and identities: CTR-DRBG seeded from
// the CryptoAPI, in Mbed TLS's form: TlsRandom(TlsRandomState(), ...).
// The channel draws its handshakes' randomness from it, and an identity its
// key pair and certificate serial.
#ifndef TLSRANDOM_H
#define TLSRANDOM_H

#include <stddef.h>

// The generator, seeded at the first call; null when the system gives no
// randomness.
void *TlsRandomState();
int TlsRandom(void *state, unsigned char *bytes, size_t count);

#endif
