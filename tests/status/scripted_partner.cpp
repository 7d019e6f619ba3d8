#include "scripted_partner.h"

WORD WINAPI notImplemented(const DWORD *)
{
    return NDDE_NOT_IMPLEMENTED;
}

WORD WINAPI answerZero(const DWORD *)
{
    return 0;
}

WORD WINAPI answerOne(const DWORD *)
{
    return 1;
}

BOOL variableIs(const char *name, const char *value)
{
    char chosen[32] = "";
    GetEnvironmentVariableA(name, chosen, sizeof chosen);
    return lstrcmpA(chosen, value) == 0;
}

void copyErrorText(const DWORD *args, const char *text)
{
    if (args[1] && args[2] > 0)
        lstrcpynA((LPSTR)args[1], text, (int)args[2]);
}

extern "C" {
__declspec(dllexport) PartnerThunkBlock thk_ThunkData16 = {
    {'L', 'S', '0', '1'}, ThunkChecksum, PartnerOperationCount, scriptedOperations,
};
}
