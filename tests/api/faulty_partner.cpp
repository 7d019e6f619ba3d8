// Partners the library must refuse at load time. Each build differs from a
// usable partner in exactly one point, named by the definition it is built
// with: FAULT_NO_BLOCK, FAULT_SIGNATURE, FAULT_CHECKSUM, FAULT_FEWER_OPERATIONS,
// FAULT_MORE_OPERATIONS or FAULT_MISSING_OPERATION.
#include "partnerlink.h"

static WORD WINAPI answerSuccess(const DWORD *)
{
    return 0;
}

#ifdef FAULT_MISSING_OPERATION
#define LAST_OPERATION 0
#else
#define LAST_OPERATION answerSuccess
#endif

// One entry more than a partner has, so that a block claiming 16 operations
// still points at a readable table.
static const PartnerOperation operations[PartnerOperationCount + 1] = {
    answerSuccess, answerSuccess, answerSuccess, answerSuccess, answerSuccess,
    answerSuccess, answerSuccess, answerSuccess, answerSuccess, answerSuccess,
    answerSuccess, answerSuccess, answerSuccess, answerSuccess, LAST_OPERATION,
    answerSuccess,
};

#if defined(FAULT_SIGNATURE)
#define SIGNATURE {'L', 'S', '0', '2'}
#else
#define SIGNATURE {'L', 'S', '0', '1'}
#endif

#if defined(FAULT_CHECKSUM)
#define CHECKSUM (ThunkChecksum + 1)
#else
#define CHECKSUM ThunkChecksum
#endif

#if defined(FAULT_FEWER_OPERATIONS)
#define OPERATION_COUNT (PartnerOperationCount - 1)
#elif defined(FAULT_MORE_OPERATIONS)
#define OPERATION_COUNT (PartnerOperationCount + 1)
#else
#define OPERATION_COUNT PartnerOperationCount
#endif

// Without its block the partner still exports a well-formed one, under a
// name the library does not look for.
#if defined(FAULT_NO_BLOCK)
#define BLOCK_NAME thk_ThunkData16x
#else
#define BLOCK_NAME thk_ThunkData16
#endif

extern "C" {
__declspec(dllexport) PartnerThunkBlock BLOCK_NAME = {
    SIGNATURE, CHECKSUM, OPERATION_COUNT, operations};
}
