// The tests' own Tessaseg.dll: a partner that records every call it receives
// and answers what the test scripted.
//
// The test program reaches the script through the partner's export
// "scriptedPartner", a function returning the one PartnerScript of the DLL.
#ifndef SCRIPTED_PARTNER_H
#define SCRIPTED_PARTNER_H

#include "partnerlink.h"

const int MaxPartnerArguments = 8;
const int MaxRecordedCalls = 8;
const int MaxRecordedText = 128;
const DWORD MaxBlockBytes = 8192;

// One operation call as the partner received it.
struct RecordedCall {
    int index;
    DWORD args[MaxPartnerArguments];        // in partner form, as received
    // Copies of the string arguments (server, share name, client name, the
    // checked texts); textIsNull marks a null far pointer.
    bool textIsNull[MaxPartnerArguments];
    char text[MaxPartnerArguments][MaxRecordedText];
    // The library's temporary block: its allocated size (0 for a null block)
    // and, for the share writers, a copy of its bytes; for the readers,
    // whether it arrived zero-filled.
    DWORD blockSize;
    bool blockArrivedZero;
    BYTE block[MaxBlockBytes];
};

// What the partner answers to every operation until the script changes.
struct PartnerAnswer {
    WORD result;
    // Written through the caller's count pointers when writeCounts is set:
    // the byte total and the entry count (32-bit) or item count (16-bit).
    bool writeCounts;
    DWORD totalAvailable;
    DWORD count;
    // Copied to the start of every block or buffer the operation fills,
    // never beyond the size argument that comes with it.
    DWORD replySize;
    BYTE reply[MaxBlockBytes];
};

struct PartnerScript {
    PartnerAnswer answer;
    bool recording;                 // off: answer only (benchmarks)
    LONG callCount;                 // every call since the last reset
    RecordedCall calls[MaxRecordedCalls];   // the first calls since the last reset
};

typedef PartnerScript *(*ScriptedPartnerFunction)(void);

// The script of the scripted partner this process has loaded, or null when
// the loaded Tessaseg.dll is another partner or none is loaded.
inline PartnerScript *loadedPartnerScript()
{
    HMODULE partner = GetModuleHandleA("Tessaseg.dll");
    void *scriptOf = partner ? (void *)GetProcAddress(partner, "scriptedPartner") : nullptr;
    return scriptOf ? ((ScriptedPartnerFunction)scriptOf)() : nullptr;
}

#endif
