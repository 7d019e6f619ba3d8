// Shared by the library's tests: Tessaflat.dll bound by name, the scripted
// partner's script, and caller buffers with guard bytes.
#ifndef LIBRARY_UNDER_TEST_H
#define LIBRARY_UNDER_TEST_H

#include <vector>
#include "scripted_partner.h"

// The fifteen functions, bound by name the way a run-time caller binds them.
struct Tessaflat {
    HMODULE module;
    decltype(&NDdeShareAdd) shareAdd;
    decltype(&NDdeShareDel) shareDel;
    decltype(&NDdeShareEnum) shareEnum;
    decltype(&NDdeShareGetInfo) shareGetInfo;
    decltype(&NDdeShareSetInfo) shareSetInfo;
    decltype(&NDdeGetClientInfo) getClientInfo;
    decltype(&NDdeGetNodeName) getNodeName;
    decltype(&NDdeGetErrorString) getErrorString;
    decltype(&NDdeConnectionEnum) connectionEnum;
    decltype(&NDdeIsValidShareName) isValidShareName;
    decltype(&NDdeIsValidPassword) isValidPassword;
    decltype(&NDdeIsValidTopic) isValidTopic;
    decltype(&NDdeSessionEnum) sessionEnum;
    decltype(&NDdeSessionClose) sessionClose;
    decltype(&NDdeGetWindow) getWindow;
};

// The names of the fifteen exports in ordinal order, 100 first.
extern const char *const ExportNames[PartnerOperationCount];
const int FirstExportOrdinal = 100;

// Tessaflat.dll, loaded once by name (the test program's folder holds it
// and the scripted partner).
const Tessaflat &tessaflat();

// The scripted partner's script, cleared: answers 0, writes nothing,
// records the calls that follow.
PartnerScript &resetPartner();

// The partner's answer bytes for the next calls.
void setReply(PartnerScript &script, const void *bytes, DWORD size);

// A caller's buffer filled with a pattern, with guard bytes on both sides.
class GuardedBuffer {
public:
    static const BYTE Fill = 0xAB;
    static const BYTE Guard = 0x5A;
    static const DWORD GuardSize = 64;

    explicit GuardedBuffer(DWORD size);
    BYTE *data() { return &bytes[GuardSize]; }
    DWORD size() const { return bufferSize; }
    bool guardsIntact() const;
    // True when bytes [from, to) still hold the fill pattern.
    bool untouched(DWORD from, DWORD to) const;
    bool untouched() const { return untouched(0, bufferSize); }

private:
    DWORD bufferSize;
    std::vector<BYTE> bytes;
};

// Reads a little-endian 32-bit value at `offset` of `bytes`.
DWORD dwordAt(const BYTE *bytes, DWORD offset);

#endif
