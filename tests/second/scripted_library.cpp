// The scripted stand-in for Tessaflat, exported by the test program itself
// (the library's own declarations, without import).
#define TESSAFLAT_BUILD
#include <tessaflat.h>

#include <algorithm>

#include "modMain.h"
#include "scripted_library.h"

LibraryScript script;

void UseScriptedLibrary()
{
    TessaflatModule.handle = GetModuleHandleA(nullptr);
}

extern "C" __declspec(dllexport) UINT WINAPI NDdeGetErrorString(UINT errorCode, LPSTR errorBuffer, DWORD errorBufferSize)
{
    script.errorStringCodes.push_back(errorCode);
    for (const auto &entry : script.errorTexts)
        if (entry.first == errorCode) {
            memcpy(errorBuffer, entry.second.data(), std::min((DWORD)entry.second.size(), errorBufferSize));
            return 0;
        }
    return script.errorStringAnswer;
}

extern "C" __declspec(dllexport) UINT WINAPI NDdeGetNodeName(LPSTR nodeNameBuffer, DWORD nodeNameBufferSize)
{
    if (script.nodeNameResult != 0)
        return script.nodeNameResult;
    memcpy(nodeNameBuffer, script.nodeName.data(), std::min((DWORD)script.nodeName.size(), nodeNameBufferSize));
    return 0;
}

extern "C" __declspec(dllexport) BOOL WINAPI NDdeIsValidShareName(LPSTR shareName)
{
    script.validatedNames.push_back(shareName);
    return shareName != nullptr;
}
