// The test program stands in for Tessaflat: it exports the NDde functions
// the shared functions call, answering as each test scripts them.
#ifndef SECOND_SCRIPTED_LIBRARY_H
#define SECOND_SCRIPTED_LIBRARY_H

#include <windows.h>

#include <string>
#include <vector>

struct LibraryScript {
    // NDdeGetErrorString: the text for a code, or the code it answers instead
    // (every code for which no text is scripted).
    std::vector<std::pair<UINT, std::string>> errorTexts;
    UINT errorStringAnswer = 0;
    std::vector<UINT> errorStringCodes;   // the codes asked for, in order
    // NDdeGetNodeName
    std::string nodeName;                 // written as is, up to the buffer's size
    UINT nodeNameResult = 0;
    // NDdeIsValidShareName
    std::vector<const char *> validatedNames;
};

extern LibraryScript script;

// Makes the program's binding of Tessaflat resolve to this test program.
void UseScriptedLibrary();

#endif
