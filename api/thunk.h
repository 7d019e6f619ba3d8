// The call layer between the exported functions and the partner library.
#ifndef THUNK_H
#define THUNK_H

#include "partnerlink.h"

// A pointer argument in partner form: the caller's flat address (0 for null).
inline DWORD mapPointer(const void *pointer)
{
    return (DWORD)(UINT_PTR)pointer;
}

// A 16-bit argument in partner form: the low 16 bits, widened with zeros.
inline DWORD low16(DWORD value)
{
    return value & 0xFFFF;
}

// Calls partner operation `index` with its arguments in partner form and
// returns its 16-bit result widened with zeros (codes, window handles).
UINT callPartner(PartnerOperationIndex index, const DWORD *args);

// The same for the validity checks, whose truth value widens with its sign.
BOOL callPartnerCheck(PartnerOperationIndex index, const DWORD *args);

#endif
