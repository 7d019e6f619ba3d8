// A scripted partner (Tessaseg.dll of its own folder) for the status
// program's error reports. NDdeGetNodeName answers the code named by the
// variable NODE_NAME_RESULT; without it, it fills the whole 16-byte buffer
// with letters and no terminator. NDdeGetErrorString answers these chains:
//   40 -> code 41, which has a text;
//   50 -> code 51 -> code 50 (a loop);
//   60 -> code 60 (names itself);
//   70 -> 71 -> 72 -> ... (never a text);
// every other code gets the text "scripted text <code>".
#include <windows.h>

#include "scripted_partner.h"

static UINT decimal(const char *text)
{
    UINT value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + (*text - '0');
    return value;
}

// args: buffer, size.
static WORD WINAPI nodeName(const DWORD *args)
{
    char result[16] = "";
    if (GetEnvironmentVariableA("NODE_NAME_RESULT", result, sizeof result) > 0)
        return (WORD)decimal(result);
    char *buffer = (char *)args[0];
    for (DWORD i = 0; i < args[1]; ++i)
        buffer[i] = (char)('A' + i % 26);
    return NDDE_NO_ERROR;
}

// args: errorCode, buffer, size.
static WORD WINAPI errorString(const DWORD *args)
{
    UINT code = args[0];
    switch (code) {
    case 40: return 41;
    case 50: return 51;
    case 51: return 50;
    case 60: return 60;
    }
    if (code >= 70 && code < 100)
        return (WORD)(code + 1);
    char text[64];
    wsprintfA(text, "scripted text %u", code);
    copyErrorText(args, text);
    return NDDE_NO_ERROR;
}

const PartnerOperation scriptedOperations[PartnerOperationCount] = {
    answerZero,       // IsValidTopic
    answerZero,       // IsValidPassword
    answerZero,       // IsValidShareName
    answerZero,       // GetWindow: no agent
    errorString,      // GetErrorString
    nodeName,         // GetNodeName
    notImplemented,   // GetClientInfo
    notImplemented,   // SessionClose
    notImplemented,   // ConnectionEnum
    notImplemented,   // SessionEnum
    notImplemented,   // ShareSetInfo
    notImplemented,   // ShareGetInfo
    notImplemented,   // ShareEnum
    notImplemented,   // ShareDel
    notImplemented,   // ShareAdd
};
