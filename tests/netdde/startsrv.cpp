// NTSTARTSRV.exe: the application of a test share with StartApp. Started by
// the agent (by its name, found beside it), it starts the DDE server
// "ddeserver NTSTARTSRV QUOTES" with an item Greeting=started, and exits.
#include "partnertest.h"

int main()
{
    std::string commandLine = "\"" + pt::pathBeside("ddeserver.exe") +
                              "\" NTSTARTSRV QUOTES /rate:0 /item:Greeting=started";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return 1;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
}
