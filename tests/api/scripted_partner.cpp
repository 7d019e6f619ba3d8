// A scripted Tessaseg.dll for the library's tests: every operation records
// its arguments and answers from the script the test program set.
#include <string.h>
#include "scripted_partner.h"

// How an operation's arguments are to be recorded and answered.
enum ArgumentKind {
    Value,          // 16- or 32-bit value
    Text,           // far pointer to a caller's string
    InBlock,        // far pointer to the library's packed share block
    OutBlock,       // far pointer to the library's temporary result block
    OutBuffer,      // far pointer to a caller's result buffer
    Size,           // size of the block or buffer just before it
    Total,          // far pointer to the caller's 32-bit byte total
    Count32,        // far pointer to the caller's 32-bit entry count
    Count16,        // far pointer to the caller's 16-bit item count
};

struct OperationShape {
    int argumentCount;
    ArgumentKind kinds[MaxPartnerArguments];
};

static const OperationShape shapes[PartnerOperationCount] = {
    {1, {Text}},                                                     // IsValidTopic
    {1, {Text}},                                                     // IsValidPassword
    {1, {Text}},                                                     // IsValidShareName
    {0, {}},                                                         // GetWindow
    {3, {Value, OutBuffer, Size}},                                   // GetErrorString
    {2, {OutBuffer, Size}},                                          // GetNodeName
    {5, {Value, OutBuffer, Size, OutBuffer, Size}},                  // GetClientInfo
    {3, {Text, Text, Value}},                                        // SessionClose
    {8, {Text, Text, Value, Value, OutBlock, Size, Total, Count32}}, // ConnectionEnum
    {6, {Text, Value, OutBlock, Size, Total, Count32}},              // SessionEnum
    {6, {Text, Text, Value, InBlock, Value, Value}},                 // ShareSetInfo
    {7, {Text, Text, Value, OutBlock, Size, Total, Count16}},        // ShareGetInfo
    {6, {Text, Value, OutBuffer, Size, Count32, Total}},             // ShareEnum
    {3, {Text, Text, Value}},                                        // ShareDel
    {4, {Text, Value, InBlock, Value}},                              // ShareAdd
};

static PartnerScript script = {{}, true, 0, {}};

extern "C" __declspec(dllexport) PartnerScript *scriptedPartner(void)
{
    return &script;
}

static DWORD smaller(DWORD a, DWORD b)
{
    return a < b ? a : b;
}

// The allocated size of one of the library's global blocks.
static DWORD blockSizeOf(DWORD address)
{
    return address ? (DWORD)GlobalSize(GlobalHandle((void *)(UINT_PTR)address)) : 0;
}

static void recordCall(int index, const DWORD *args)
{
    if (!script.recording || script.callCount >= MaxRecordedCalls)
        return;
    RecordedCall *call = &script.calls[script.callCount];
    memset(call, 0, sizeof *call);
    call->index = index;
    const OperationShape &shape = shapes[index];
    for (int k = 0; k < shape.argumentCount; k++) {
        call->args[k] = args[k];
        const char *pointer = (const char *)(UINT_PTR)args[k];
        if (shape.kinds[k] == Text) {
            call->textIsNull[k] = pointer == 0;
            if (pointer)
                lstrcpynA(call->text[k], pointer, MaxRecordedText);
        } else if (shape.kinds[k] == InBlock) {
            call->blockSize = blockSizeOf(args[k]);
            memcpy(call->block, pointer, smaller(call->blockSize, MaxBlockBytes));
        } else if (shape.kinds[k] == OutBlock) {
            call->blockSize = blockSizeOf(args[k]);
            call->blockArrivedZero = true;
            for (DWORD i = 0; i < call->blockSize; i++)
                if (pointer[i])
                    call->blockArrivedZero = false;
        }
    }
}

static void answerCall(int index, const DWORD *args)
{
    const OperationShape &shape = shapes[index];
    const PartnerAnswer &answer = script.answer;
    for (int k = 0; k < shape.argumentCount; k++) {
        void *pointer = (void *)(UINT_PTR)args[k];
        switch (shape.kinds[k]) {
        case OutBlock:
        case OutBuffer:
            if (pointer)
                memcpy(pointer, answer.reply, smaller(answer.replySize, args[k + 1]));
            break;
        case Total:
            if (answer.writeCounts && pointer)
                *(DWORD *)pointer = answer.totalAvailable;
            break;
        case Count32:
            if (answer.writeCounts && pointer)
                *(DWORD *)pointer = answer.count;
            break;
        case Count16:
            if (answer.writeCounts && pointer)
                *(WORD *)pointer = (WORD)answer.count;
            break;
        default:
            break;
        }
    }
}

static WORD scriptedOperation(int index, const DWORD *args)
{
    recordCall(index, args);
    script.callCount++;
    answerCall(index, args);
    return script.answer.result;
}

template <int Index> static WORD WINAPI operation(const DWORD *args)
{
    return scriptedOperation(Index, args);
}

static const PartnerOperation operations[PartnerOperationCount] = {
    operation<0>,  operation<1>,  operation<2>,  operation<3>,  operation<4>,
    operation<5>,  operation<6>,  operation<7>,  operation<8>,  operation<9>,
    operation<10>, operation<11>, operation<12>, operation<13>, operation<14>,
};

extern "C" {
__declspec(dllexport) PartnerThunkBlock thk_ThunkData16 = {
    {'L', 'S', '0', '1'}, ThunkChecksum, PartnerOperationCount, operations};
}
