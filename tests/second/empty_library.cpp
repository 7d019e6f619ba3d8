// A library named Tessaflat that exports none of the NDde functions: the
// program loads it and finds nothing to bind.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
