// Support for the tests of ddeserver.exe and ddecmd.exe: the server started
// and closed through its window, ddecmd run to its exit code and output.
#ifndef DDETOOLTEST_H
#define DDETOOLTEST_H

#include "partnertest.h"

#include <string>

namespace dt {

// The class of ddeserver's window, which answers the initiates.
const char ServerWindowClass[] = "DdeToolsServer";

// ddeserver.exe serving SERVICE|TOPIC with `options` (without a service:
// "ddeserver"; without a topic: every topic); ready when its window exists, closed through it (ended if it does not close) when destroyed.
class RunningServer {
public:
    ~RunningServer() { close(); }
    bool start(const std::string &service, const std::string &topic, const std::string &options = "");
    HWND window() const;
    // Closes the window; true when the server then exits with code 0.
    bool close();

private:
    pt::ChildProcess process_;
    std::string title_;
};

// One finished run of ddecmd.exe.
struct CommandRun {
    DWORD exitCode = 0xFFFFFFFF;       // left so when it did not finish in time
    std::string output;                // standard output and errors together
};

CommandRun runCommand(const std::string &arguments);

// ddecmd.exe left running (an advise) while a test does other things.
class RunningCommand {
public:
    bool start(const std::string &arguments) { return process_.start("ddecmd.exe", arguments); }
    CommandRun finish();
    pt::ChildProcess &process() { return process_; }

private:
    pt::ChildProcess process_;
};

} // namespace dt

#endif
