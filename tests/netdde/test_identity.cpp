// A node's identity (key pair and certificate kept in the registry), its
// fingerprint, the pins of other nodes, and nddeagent's /fingerprint and
// /forget:NODE.
#include "identity.h"
#include "nodemap.h"
#include "partnertest.h"
#include <doctest/doctest.h>
#include <wincrypt.h>

#include <string>

namespace {

const char TestIdentityKey[] = "Software\\Tessaseg\\Test\\Identity";
const char TestNode[] = "PINTESTNODE";
// The CryptoAPI's SHA-256 (newer than the headers of WINVER 0x0400; Wine has it).
const DWORD ProviderRsaAes = 24;         // PROV_RSA_AES
const ALG_ID AlgorithmSha256 = 0x800C;   // CALG_SHA_256

std::string bytesOf(const void *bytes, DWORD count)
{
    return std::string((const char *)bytes, count);
}

void deleteTestIdentity()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, TestIdentityKey);
}

// SHA-256 by the system's CryptoAPI, to check our own.
std::string systemSha256(const BYTE *bytes, DWORD count)
{
    HCRYPTPROV provider;
    HCRYPTHASH hash;
    BYTE digest[32];
    DWORD length = sizeof digest;
    REQUIRE(CryptAcquireContextA(&provider, 0, 0, ProviderRsaAes, CRYPT_VERIFYCONTEXT));
    REQUIRE(CryptCreateHash(provider, AlgorithmSha256, 0, 0, &hash));
    REQUIRE(CryptHashData(hash, bytes, count, 0));
    REQUIRE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0));
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return bytesOf(digest, length);
}

bool isWrittenFingerprint(const std::string &text)
{
    if (text.size() != 79)
        return false;
    for (size_t i = 0; i < text.size(); i++) {
        bool space = i % 5 == 4;
        char c = text[i];
        if (space ? c != ' ' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

std::string written(const BYTE fingerprint[FingerprintLength])
{
    char text[FingerprintTextSize];
    FormatFingerprint(fingerprint, text);
    return text;
}

std::string nodeMapValue(const char *node)
{
    char value[64] = "";
    DWORD size = sizeof value - 1, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    if (RegQueryValueExA(key, node, 0, &type, (BYTE *)value, &size) != ERROR_SUCCESS || type != REG_SZ)
        value[0] = 0;
    RegCloseKey(key);
    return value;
}

void setNodeMapValue(const char *node, const char *value)
{
    HKEY key;
    REQUIRE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, 0, 0, KEY_WRITE, 0, &key, 0) ==
            ERROR_SUCCESS);
    if (value)
        REQUIRE(RegSetValueExA(key, node, 0, REG_SZ, (const BYTE *)value, lstrlenA(value) + 1) ==
                ERROR_SUCCESS);
    else
        RegDeleteValueA(key, node);
    RegCloseKey(key);
}

// nddeagent.exe run with `arguments` to its end: its exit code and output.
DWORD runAgentCommand(const std::string &arguments, std::string *output)
{
    pt::ChildProcess agent;
    REQUIRE(agent.start("nddeagent.exe", arguments));
    DWORD exitCode = 0xFFFFFFFF;
    REQUIRE(agent.waitForExit(&exitCode));
    *output = agent.output();
    return exitCode;
}

} // namespace

TEST_CASE("an identity is made once, kept, and read back the same")
{
    deleteTestIdentity();
    NodeIdentity made, kept;
    const char *failure = "";
    REQUIRE(LoadNodeIdentity(TestIdentityKey, &made, &failure));
    REQUIRE(LoadNodeIdentity(TestIdentityKey, &kept, &failure));
    CHECK(bytesOf(kept.certificate, kept.certificateLength) ==
          bytesOf(made.certificate, made.certificateLength));
    CHECK(bytesOf(kept.privateKey, kept.privateKeyLength) ==
          bytesOf(made.privateKey, made.privateKeyLength));
    CHECK(bytesOf(kept.fingerprint, FingerprintLength) == bytesOf(made.fingerprint, FingerprintLength));
    // The fingerprint is SHA-256 of the certificate.
    CHECK(bytesOf(made.fingerprint, FingerprintLength) ==
          systemSha256(made.certificate, made.certificateLength));

    // Another identity once the kept one is gone.
    deleteTestIdentity();
    NodeIdentity other;
    REQUIRE(LoadNodeIdentity(TestIdentityKey, &other, &failure));
    CHECK(bytesOf(other.fingerprint, FingerprintLength) != bytesOf(made.fingerprint, FingerprintLength));
    deleteTestIdentity();
}

TEST_CASE("a damaged identity is refused and left as it is")
{
    deleteTestIdentity();
    NodeIdentity made, read;
    const char *failure = "";
    REQUIRE(LoadNodeIdentity(TestIdentityKey, &made, &failure));
    NodeIdentity other;
    REQUIRE(LoadNodeIdentity("Software\\Tessaseg\\Test\\IdentityOther", &other, &failure));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Tessaseg\\Test\\IdentityOther");
    HKEY key;
    REQUIRE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, TestIdentityKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS);
    // Another node's certificate beside this node's private key.
    REQUIRE(RegSetValueExA(key, "Certificate", 0, REG_BINARY, other.certificate,
                           other.certificateLength) == ERROR_SUCCESS);
    RegCloseKey(key);
    failure = "";
    CHECK_FALSE(LoadNodeIdentity(TestIdentityKey, &read, &failure));
    CHECK(std::string(failure).find("damaged") != std::string::npos);
    CHECK_FALSE(LoadNodeIdentity(TestIdentityKey, &read, &failure));
    deleteTestIdentity();
}

TEST_CASE("the identity's key is readable by Administrators and the system only")
{
    deleteTestIdentity();
    NodeIdentity made;
    const char *failure = "";
    REQUIRE(LoadNodeIdentity(TestIdentityKey, &made, &failure));
    HKEY key;
    REQUIRE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, TestIdentityKey, 0, READ_CONTROL, &key) == ERROR_SUCCESS);
    BYTE descriptor[1024];
    DWORD size = sizeof descriptor;
    REQUIRE(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size) == ERROR_SUCCESS);
    RegCloseKey(key);
    BOOL present = FALSE, defaulted = FALSE;
    ACL *acl = nullptr;
    REQUIRE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    REQUIRE(present);
    REQUIRE(acl);
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators, system;
    REQUIRE(AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                     DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators));
    REQUIRE(AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                     &system));
    CHECK(acl->AceCount == 2);
    for (WORD i = 0; i < acl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace;
        REQUIRE(GetAce(acl, i, (void **)&ace));
        CHECK(ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE);
        PSID sid = &ace->SidStart;
        CHECK((EqualSid(sid, administrators) || EqualSid(sid, system)));
    }
    FreeSid(administrators);
    FreeSid(system);
    deleteTestIdentity();
}

TEST_CASE("fingerprints are written in groups of four hex digits and read back")
{
    BYTE fingerprint[FingerprintLength], read[FingerprintLength];
    for (DWORD i = 0; i < FingerprintLength; i++)
        fingerprint[i] = (BYTE)(i * 37 + 11);
    std::string text = written(fingerprint);
    CHECK(isWrittenFingerprint(text));
    CHECK(text.substr(0, 10) == "0B30 557A ");
    REQUIRE(ParseFingerprint(text.c_str(), read));
    CHECK(bytesOf(read, FingerprintLength) == bytesOf(fingerprint, FingerprintLength));
    // Case, spaces and colons do not matter; a digit more or less does.
    std::string colons;
    for (char c : text)
        colons += c == ' ' ? ':' : (char)tolower(c);
    ZeroMemory(read, sizeof read);
    REQUIRE(ParseFingerprint(colons.c_str(), read));
    CHECK(bytesOf(read, FingerprintLength) == bytesOf(fingerprint, FingerprintLength));
    CHECK_FALSE(ParseFingerprint(text.substr(0, text.size() - 1).c_str(), read));
    CHECK_FALSE(ParseFingerprint((text + "0").c_str(), read));
    CHECK_FALSE(ParseFingerprint(("G" + text.substr(1)).c_str(), read));
}

TEST_CASE("pins: at first use only, beside the node map, until forgotten")
{
    BYTE first[FingerprintLength], second[FingerprintLength], found[FingerprintLength];
    for (DWORD i = 0; i < FingerprintLength; i++) {
        first[i] = (BYTE)i;
        second[i] = (BYTE)(255 - i);
    }
    ForgetPin(TestNode);
    setNodeMapValue(TestNode, "127.0.0.1:7399");

    CHECK(FindPin(TestNode, found) == NoPin);
    REQUIRE(PinNode(TestNode, first));
    REQUIRE(FindPin(TestNode, found) == Pinned);
    CHECK(bytesOf(found, FingerprintLength) == bytesOf(first, FingerprintLength));
    CHECK(FindPin("pintestnode", found) == Pinned);
    // A pin is never replaced.
    CHECK_FALSE(PinNode(TestNode, second));
    REQUIRE(FindPin(TestNode, found) == Pinned);
    CHECK(bytesOf(found, FingerprintLength) == bytesOf(first, FingerprintLength));
    // The node map's readers still find the node's address.
    CHECK(nodeMapValue(TestNode) == "127.0.0.1:7399");

    CHECK(ForgetPin(TestNode));
    CHECK(FindPin(TestNode, found) == NoPin);
    CHECK_FALSE(ForgetPin(TestNode));
    CHECK(nodeMapValue(TestNode) == "127.0.0.1:7399");
    // Node names that cannot name a key are never pinned.
    CHECK_FALSE(PinNode("A\\B", first));
    CHECK(FindPin("A\\B", found) == NoPin);
    setNodeMapValue(TestNode, nullptr);
}

TEST_CASE("a fingerprint an administrator wrote is read; one that is no fingerprint is unreadable")
{
    BYTE found[FingerprintLength];
    ForgetPin(TestNode);
    HKEY key;
    std::string path = std::string(NodeMapKey) + "\\" + TestNode;
    REQUIRE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, 0, KEY_WRITE, 0, &key, 0) == ERROR_SUCCESS);
    std::string administrators = "ab12:cd34:" + std::string(56, 'e');
    REQUIRE(RegSetValueExA(key, "Fingerprint", 0, REG_SZ, (const BYTE *)administrators.c_str(),
                           (DWORD)administrators.size() + 1) == ERROR_SUCCESS);
    REQUIRE(FindPin(TestNode, found) == Pinned);
    CHECK(found[0] == 0xAB);
    CHECK(found[3] == 0x34);
    CHECK(found[31] == 0xEE);
    REQUIRE(RegSetValueExA(key, "Fingerprint", 0, REG_SZ, (const BYTE *)"AB12", 5) == ERROR_SUCCESS);
    CHECK(FindPin(TestNode, found) == PinUnreadable);
    RegCloseKey(key);
    CHECK(ForgetPin(TestNode));
}

TEST_CASE("nddeagent /fingerprint prints this node's fingerprint, the same every time")
{
    std::string output, again;
    REQUIRE(runAgentCommand("/fingerprint", &output) == 0);
    REQUIRE(runAgentCommand("/fingerprint", &again) == 0);
    CHECK(output == again);
    REQUIRE(output.size() >= 2);
    CHECK(output.substr(output.size() - 2) == "\r\n");
    std::string printed = output.substr(0, output.size() - 2);
    CHECK(isWrittenFingerprint(printed));
    NodeIdentity identity;
    const char *failure = "";
    REQUIRE(LoadNodeIdentity(AgentIdentityKey, &identity, &failure));
    CHECK(printed == written(identity.fingerprint));
}

TEST_CASE("nddeagent /forget:NODE drops the node's pin and nothing else")
{
    BYTE fingerprint[FingerprintLength] = {1, 2, 3}, found[FingerprintLength];
    ForgetPin(TestNode);
    setNodeMapValue(TestNode, "127.0.0.1:7399");
    REQUIRE(PinNode(TestNode, fingerprint));
    std::string output;
    CHECK(runAgentCommand(std::string("/forget:") + TestNode, &output) == 0);
    CHECK(output.find(TestNode) != std::string::npos);
    CHECK(FindPin(TestNode, found) == NoPin);
    CHECK(nodeMapValue(TestNode) == "127.0.0.1:7399");
    CHECK(runAgentCommand(std::string("/forget:") + TestNode, &output) == 4);
    CHECK(output.find("no fingerprint") != std::string::npos);
    setNodeMapValue(TestNode, nullptr);
}
