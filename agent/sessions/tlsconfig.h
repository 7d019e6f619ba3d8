// Mbed TLS configured down to what the agents' channel uses (channel.h,
// identity.h): TLS 1.2 only, client and server, one cipher suite,
// ECDHE-ECDSA on P-256 with ChaCha20-Poly1305 and SHA-256, self-signed
// certificates written and read in DER, randomness from the CryptoAPI.
//
// Left out on purpose: file access, the network module (the agent feeds the
// channel bytes from its own sockets), time of day (certificates are pinned
// by fingerprint, not checked for dates, and msvcrt's gmtime variants are
// not all in Windows 95's msvcrt), PEM, session resumption, renegotiation.
//
// ChaCha20-Poly1305 rather than AES-GCM: 32-bit x86 has no AES instructions
// that Mbed TLS uses there (its AES-NI code is for x86-64 only), so AES runs
// from lookup tables and GCM's multiplication by 4-bit tables; ChaCha20 and
// Poly1305 are made of 32-bit additions, rotations and multiplications and
// run at several times that speed in software, in constant time.
#ifndef TLSCONFIG_H
#define TLSCONFIG_H

// ---- System ----------------------------------------------------------------
#define MBEDTLS_HAVE_ASM                    // bignum multiplication in i386 assembly
#define MBEDTLS_PLATFORM_C                  // required on Windows
// msvcrt's old _snprintf, not its vsnprintf_s (newer than Windows 95) nor
// MinGW's own (which imports more). Mbed TLS takes its -1 on truncation
// and a result of the full size as failures, so the missing terminator
// of a cut string is never read.
#define MBEDTLS_PLATFORM_SNPRINTF_MACRO _snprintf
#define MBEDTLS_PLATFORM_VSNPRINTF_MACRO _vsnprintf
// Every allocation is charged to the channels' memory budget (tlsmemory.cpp,
// built into the mbedcrypto library).
#define MBEDTLS_PLATFORM_MEMORY
#define MBEDTLS_PLATFORM_CALLOC_MACRO ChargedCalloc
#define MBEDTLS_PLATFORM_FREE_MACRO ChargedFree
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
void *ChargedCalloc(size_t count, size_t size);
void ChargedFree(void *block);
#ifdef __cplusplus
}
#endif

// ---- Randomness ------------------------------------------------------------
// The platform source is CryptGenRandom on Windows; SHA-256 mixes the pool.
#define MBEDTLS_ENTROPY_C
#define MBEDTLS_ENTROPY_FORCE_SHA256
#define MBEDTLS_CTR_DRBG_C
#define MBEDTLS_AES_C                       // CTR-DRBG's block cipher

// ---- Primitives ------------------------------------------------------------
#define MBEDTLS_MD_C
#define MBEDTLS_SHA256_C
#define MBEDTLS_PKCS5_C                     // PBKDF2: the stored administration password
#define MBEDTLS_CIPHER_C
#define MBEDTLS_CHACHA20_C
#define MBEDTLS_POLY1305_C
#define MBEDTLS_CHACHAPOLY_C
#define MBEDTLS_BIGNUM_C
#define MBEDTLS_ECP_C
#define MBEDTLS_ECP_DP_SECP256R1_ENABLED
#define MBEDTLS_ECP_NIST_OPTIM              // P-256's fast reduction
#define MBEDTLS_ECDH_C
#define MBEDTLS_ECDSA_C
#define MBEDTLS_ASN1_PARSE_C
#define MBEDTLS_ASN1_WRITE_C
#define MBEDTLS_OID_C
#define MBEDTLS_PK_C
#define MBEDTLS_PK_PARSE_C
#define MBEDTLS_PK_WRITE_C

// ---- Certificates ----------------------------------------------------------
#define MBEDTLS_X509_USE_C
#define MBEDTLS_X509_CRT_PARSE_C
#define MBEDTLS_X509_CREATE_C
#define MBEDTLS_X509_CRT_WRITE_C

// ---- TLS -------------------------------------------------------------------
#define MBEDTLS_SSL_TLS_C
#define MBEDTLS_SSL_CLI_C
#define MBEDTLS_SSL_SRV_C
#define MBEDTLS_SSL_PROTO_TLS1_2
#define MBEDTLS_KEY_EXCHANGE_ECDHE_ECDSA_ENABLED
#define MBEDTLS_SSL_CIPHERSUITES MBEDTLS_TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256
// The channel binding is derived from the master secret; the extended
// master secret ties that secret to the whole handshake.
#define MBEDTLS_SSL_EXTENDED_MASTER_SECRET
#define MBEDTLS_SSL_EXPORT_KEYS
// MBEDTLS_SSL_KEEP_PEER_CERTIFICATE stays off: the peer's certificate is
// fingerprinted while it is verified, and the session need not keep it.
// Records of up to 16 KB each way, as TLS allows a peer to send.
#define MBEDTLS_SSL_MAX_CONTENT_LEN 16384

#include "mbedtls/check_config.h"

#endif
