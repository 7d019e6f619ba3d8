// What every scripted partner of the status program's tests shares: the
// thunk block the library looks for, the plain answers of operations a
// script leaves alone, and reading the variable that chooses the script.
// Each partner defines scriptedOperations, its table of operations.
#ifndef TESTS_STATUS_SCRIPTED_PARTNER_H
#define TESTS_STATUS_SCRIPTED_PARTNER_H

#include <windows.h>

#include "partnerlink.h"

extern const PartnerOperation scriptedOperations[PartnerOperationCount];

WORD WINAPI notImplemented(const DWORD *args);
// 0: a validity check that fails, or no agent window.
WORD WINAPI answerZero(const DWORD *args);
// 1: a validity check that passes.
WORD WINAPI answerOne(const DWORD *args);

// True when the environment variable `name` holds exactly `value`.
BOOL variableIs(const char *name, const char *value);
// Copies `text` into the buffer of an error-string call (args: errorCode,
// buffer, size), cut to the buffer's size.
void copyErrorText(const DWORD *args, const char *text);

#endif
