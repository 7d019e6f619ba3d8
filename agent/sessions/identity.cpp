// A node's identity and its pins of other nodes (identity.h).
#include "identity.h"
#include "agentlink.h"
#include "tlsrandom.h"
#include "nodemap.h"
#include <mbedtls/pk.h>
#include <mbedtls/sha256.h>
#include <mbedtls/x509_crt.h>

const char CertificateValue[] = "Certificate";
const char PrivateKeyValue[] = "PrivateKey";
const char FingerprintValue[] = "Fingerprint";
const char FirstContactValue[] = "PinnedAtFirstContact";
const char IdentityMutex[] = "NDdeAgent.Identity";   // one maker at a time
const DWORD IdentityMutexTimeout = 10000;
const char CertificateName[] = "CN=Network DDE node";
const DWORD SerialLength = 16;

// ---- Fingerprints ----------------------------------------------------------

void ComputeFingerprint(const BYTE *certificate, DWORD length, BYTE fingerprint[FingerprintLength])
{
    mbedtls_sha256_ret(certificate, length, fingerprint, 0);
}

void FormatFingerprint(const BYTE fingerprint[FingerprintLength], char text[FingerprintTextSize])
{
    const char digits[] = "0123456789ABCDEF";
    char *next = text;
    for (DWORD i = 0; i < FingerprintLength; i++) {
        if (i > 0 && i % 2 == 0)
            *next++ = ' ';
        *next++ = digits[fingerprint[i] >> 4];
        *next++ = digits[fingerprint[i] & 15];
    }
    *next = 0;
}

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = asciiUpper(c);
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool ParseFingerprint(const char *text, BYTE fingerprint[FingerprintLength])
{
    DWORD digitCount = 0;
    for (const char *c = text; *c; c++) {
        if (*c == ' ' || *c == ':')
            continue;
        int value = hexValue(*c);
        if (value < 0 || digitCount == FingerprintLength * 2)
            return false;
        if (digitCount % 2 == 0)
            fingerprint[digitCount / 2] = (BYTE)(value << 4);
        else
            fingerprint[digitCount / 2] |= (BYTE)value;
        digitCount++;
    }
    return digitCount == FingerprintLength * 2;
}

// ---- Access to the identity's key ------------------------------------------
// Windows NT: only Administrators and the system may read or change the key.
// The security functions are looked up, not imported: Windows 95's advapi32
// need not have them, and has no access control to set.

template <typename Function>
static bool lookUp(HMODULE module, const char *name, Function *function)
{
    *function = (Function)(void (*)())GetProcAddress(module, name);
    return *function != 0;
}

static bool restrictToAdministrators(HKEY key)
{
    if (GetVersion() & 0x80000000)      // Windows 95: no access control
        return true;
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    decltype(&AllocateAndInitializeSid) allocateSid;
    decltype(&FreeSid) freeSid;
    decltype(&GetLengthSid) lengthOfSid;
    decltype(&InitializeAcl) initializeAcl;
    decltype(&AddAccessAllowedAce) addAllowedAce;
    decltype(&InitializeSecurityDescriptor) initializeDescriptor;
    decltype(&SetSecurityDescriptorDacl) setDescriptorDacl;
    decltype(&RegSetKeySecurity) setKeySecurity;
    if (!advapi || !lookUp(advapi, "AllocateAndInitializeSid", &allocateSid) ||
        !lookUp(advapi, "FreeSid", &freeSid) || !lookUp(advapi, "GetLengthSid", &lengthOfSid) ||
        !lookUp(advapi, "InitializeAcl", &initializeAcl) ||
        !lookUp(advapi, "AddAccessAllowedAce", &addAllowedAce) ||
        !lookUp(advapi, "InitializeSecurityDescriptor", &initializeDescriptor) ||
        !lookUp(advapi, "SetSecurityDescriptorDacl", &setDescriptorDacl) ||
        !lookUp(advapi, "RegSetKeySecurity", &setKeySecurity))
        return false;
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators = 0, system = 0;
    bool restricted = false;
    if (allocateSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                    0, 0, 0, 0, 0, 0, &administrators) &&
        allocateSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) {
        BYTE aclBytes[256];
        ACL *acl = (ACL *)aclBytes;
        SECURITY_DESCRIPTOR descriptor;
        restricted = initializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
                     addAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, administrators) &&
                     addAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, system) &&
                     initializeDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                     setDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
                     setKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
    }
    if (administrators)
        freeSid(administrators);
    if (system)
        freeSid(system);
    return restricted;
}

// ---- Making and keeping the identity ---------------------------------------

// A binary value of at most `size` bytes; false when absent (*length 0),
// of another type or too long.
static bool readBinary(HKEY key, const char *name, BYTE *bytes, DWORD size, DWORD *length)
{
    DWORD type = 0;
    *length = size;
    if (RegQueryValueExA(key, name, 0, &type, bytes, length) != ERROR_SUCCESS) {
        *length = 0;
        return false;
    }
    return type == REG_BINARY && *length > 0;
}

// A new key pair and its self-signed certificate, in DER. Mbed TLS writes
// DER at the end of the buffer it is given.
static bool makeIdentity(NodeIdentity *identity)
{
    void *random = TlsRandomState();
    if (!random)
        return false;
    mbedtls_pk_context key;
    mbedtls_x509write_cert writer;
    mbedtls_mpi serial;
    mbedtls_pk_init(&key);
    mbedtls_x509write_crt_init(&writer);
    mbedtls_mpi_init(&serial);
    BYTE der[MaxCertificateSize];
    int keyLength = 0, certificateLength = 0;
    bool made =
        mbedtls_pk_setup(&key, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY)) == 0 &&
        mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, mbedtls_pk_ec(key), TlsRandom, random) == 0 &&
        (keyLength = mbedtls_pk_write_key_der(&key, der, MaxPrivateKeySize)) > 0 &&
        mbedtls_mpi_fill_random(&serial, SerialLength, TlsRandom, random) == 0 &&
        mbedtls_mpi_set_bit(&serial, SerialLength * 8 - 1, 0) == 0;   // a positive serial
    if (made) {
        CopyMemory(identity->privateKey, der + MaxPrivateKeySize - keyLength, keyLength);
        identity->privateKeyLength = (DWORD)keyLength;
        mbedtls_x509write_crt_set_version(&writer, MBEDTLS_X509_CRT_VERSION_3);
        mbedtls_x509write_crt_set_md_alg(&writer, MBEDTLS_MD_SHA256);
        mbedtls_x509write_crt_set_subject_key(&writer, &key);
        mbedtls_x509write_crt_set_issuer_key(&writer, &key);
        // No dates are checked (pins, not dates, decide); these cover every use.
        made = mbedtls_x509write_crt_set_subject_name(&writer, CertificateName) == 0 &&
               mbedtls_x509write_crt_set_issuer_name(&writer, CertificateName) == 0 &&
               mbedtls_x509write_crt_set_serial(&writer, &serial) == 0 &&
               mbedtls_x509write_crt_set_validity(&writer, "20000101000000", "99991231235959") == 0 &&
               (certificateLength = mbedtls_x509write_crt_der(&writer, der, sizeof der, TlsRandom,
                                                              random)) > 0;
    }
    if (made) {
        CopyMemory(identity->certificate, der + sizeof der - certificateLength, certificateLength);
        identity->certificateLength = (DWORD)certificateLength;
    }
    mbedtls_mpi_free(&serial);
    mbedtls_x509write_crt_free(&writer);
    mbedtls_pk_free(&key);
    SecureZeroMemory(der, sizeof der);
    return made;
}

// Whether the certificate is sound and its public key is the private key's.
static bool isSoundIdentity(const NodeIdentity *identity)
{
    mbedtls_x509_crt certificate;
    mbedtls_pk_context key;
    mbedtls_x509_crt_init(&certificate);
    mbedtls_pk_init(&key);
    bool sound = mbedtls_x509_crt_parse_der(&certificate, identity->certificate,
                                            identity->certificateLength) == 0 &&
                 mbedtls_pk_parse_key(&key, identity->privateKey, identity->privateKeyLength, 0, 0) == 0 &&
                 mbedtls_pk_check_pair(&certificate.pk, &key) == 0;
    mbedtls_pk_free(&key);
    mbedtls_x509_crt_free(&certificate);
    return sound;
}

static bool loadOrMake(HKEY key, NodeIdentity *identity, const char **failure)
{
    bool hasCertificate = readBinary(key, CertificateValue, identity->certificate,
                                     MaxCertificateSize, &identity->certificateLength);
    bool hasKey = readBinary(key, PrivateKeyValue, identity->privateKey, MaxPrivateKeySize,
                             &identity->privateKeyLength);
    if (!identity->certificateLength && !identity->privateKeyLength) {
        if (!makeIdentity(identity)) {
            *failure = "no key pair could be made";
            return false;
        }
        if (!restrictToAdministrators(key) ||
            RegSetValueExA(key, PrivateKeyValue, 0, REG_BINARY, identity->privateKey,
                           identity->privateKeyLength) != ERROR_SUCCESS ||
            RegSetValueExA(key, CertificateValue, 0, REG_BINARY, identity->certificate,
                           identity->certificateLength) != ERROR_SUCCESS) {
            RegDeleteValueA(key, PrivateKeyValue);
            *failure = "the key pair could not be kept in the registry";
            return false;
        }
    } else if (!hasCertificate || !hasKey || !isSoundIdentity(identity)) {
        *failure = "the node's key pair in the registry is damaged";
        return false;
    }
    ComputeFingerprint(identity->certificate, identity->certificateLength, identity->fingerprint);
    return true;
}

bool LoadNodeIdentity(const char *keyPath, NodeIdentity *identity, const char **failure)
{
    ZeroMemory(identity, sizeof *identity);
    HANDLE maker = CreateMutexA(0, FALSE, IdentityMutex);
    if (!maker || WaitForSingleObject(maker, IdentityMutexTimeout) == WAIT_TIMEOUT) {
        if (maker)
            CloseHandle(maker);
        *failure = "another program holds the node's key pair";
        return false;
    }
    HKEY key;
    DWORD disposition;
    bool loaded = false;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, 0, 0, KEY_READ | KEY_WRITE | WRITE_DAC, 0,
                        &key, &disposition) != ERROR_SUCCESS) {
        *failure = "the registry key of the node's key pair cannot be opened";
    } else {
        loaded = loadOrMake(key, identity, failure);
        RegCloseKey(key);
    }
    ReleaseMutex(maker);
    CloseHandle(maker);
    if (!loaded)
        SecureZeroMemory(identity, sizeof *identity);
    return loaded;
}

// ---- Pins ------------------------------------------------------------------

PinLookup FindPin(const char *node, BYTE fingerprint[FingerprintLength])
{
    HKEY key;
    LONG opened = OpenNodeKey(node, KEY_READ, &key);
    // A name that cannot name a key is never pinned (nor can it be).
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_INVALID_NAME)
        return NoPin;
    // A key that is there but cannot be read (its access, a damaged hive)
    // might hold a pin: the node is not taken on trust.
    if (opened != ERROR_SUCCESS)
        return PinUnreadable;
    char text[FingerprintTextSize * 2];
    DWORD type = 0, size = sizeof text - 1;
    LONG result = RegQueryValueExA(key, FingerprintValue, 0, &type, (BYTE *)text, &size);
    RegCloseKey(key);
    if (result == ERROR_FILE_NOT_FOUND)
        return NoPin;
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return PinUnreadable;
    text[size < sizeof text ? size : sizeof text - 1] = 0;
    return ParseFingerprint(text, fingerprint) ? Pinned : PinUnreadable;
}

// Writes the pin of `node`, marked as made at first contact or not.
static bool writePin(const char *node, const BYTE fingerprint[FingerprintLength], bool atFirstContact)
{
    HKEY key;
    if (!CreateNodeKey(node, &key))
        return false;
    char text[FingerprintTextSize];
    FormatFingerprint(fingerprint, text);
    DWORD marked = 1;
    bool pinnedNow = RegSetValueExA(key, FingerprintValue, 0, REG_SZ, (const BYTE *)text,
                                    lstrlenA(text) + 1) == ERROR_SUCCESS;
    if (atFirstContact)
        RegSetValueExA(key, FirstContactValue, 0, REG_DWORD, (const BYTE *)&marked, sizeof marked);
    else
        RegDeleteValueA(key, FirstContactValue);
    RegCloseKey(key);
    return pinnedNow;
}

bool PinNode(const char *node, const BYTE fingerprint[FingerprintLength])
{
    BYTE pinned[FingerprintLength];
    return FindPin(node, pinned) == NoPin && writePin(node, fingerprint, true);
}

bool SetPin(const char *node, const BYTE fingerprint[FingerprintLength])
{
    return writePin(node, fingerprint, false);
}

bool PinnedAtFirstContact(const char *node)
{
    return NodeSetting(node, FirstContactValue, 0, 1) != 0;
}

bool ForgetPin(const char *node)
{
    HKEY key;
    if (OpenNodeKey(node, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return false;
    bool forgotten = RegDeleteValueA(key, FingerprintValue) == ERROR_SUCCESS;
    if (forgotten)
        RegDeleteValueA(key, FirstContactValue);
    RegCloseKey(key);
    // The node's key goes too when nothing else is kept in it.
    if (forgotten)
        DropNodeKeyIfEmpty(node);
    return forgotten;
}
