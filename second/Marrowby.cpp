// Marrowby: the second Network DDE front end. The main window is the start
// form; its load step binds the library, and the program ends with it.
#include "marrowby.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RunProgram(wndMain::form);
}
