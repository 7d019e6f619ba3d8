// Support for the tests of the partner library, the share store, the agent
// and the client node: shares built and read through Tessaflat.dll (with the
// real Tessaseg.dll beside it), and programs started and watched from outside.
#ifndef PARTNERTEST_H
#define PARTNERTEST_H

#include "tessaflat.h"

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace pt {

// Long enough for a Wine process start and its first work under qemu on a
// loaded machine; waits end as soon as what they wait for happens.
const DWORD ProcessTimeout = 60000;

// ---- Shares ----------------------------------------------------------------

// A share as a front end holds it before handing it to the library.
struct TestShare {
    std::string name;
    std::string app = "APPLICATION";
    std::string topic = "TOPIC";
    std::string password1, password2;
    DWORD permissions1 = 0, permissions2 = 0;
    std::string firstItem;
    std::vector<std::pair<std::string, DWORD>> items;

    explicit TestShare(const std::string &shareName) : name(shareName) {}
    // The ShareInfo for the library, pointing into this object.
    ShareInfo *record();
    // The size of the flat block the library packs it into.
    DWORD packedSize() const;

private:
    ShareInfo info_ = {};
    std::vector<AddItemInfo> itemInfos_;
};

UINT addShare(TestShare &share);
UINT setShare(const std::string &name, TestShare &share);
UINT deleteShare(const std::string &name);

// One NDdeShareGetInfo call with a buffer of `size` bytes.
struct ReadShare {
    UINT result = 0;
    DWORD total = 0;
    WORD itemCount = 0;
    std::vector<BYTE> buffer;
    const ShareInfo *info() const { return (const ShareInfo *)buffer.data(); }
};
ReadShare readShare(const std::string &name, DWORD size);
// Reads a share as the front ends do: starting small, growing on code 2.
ReadShare readShare(const std::string &name);

// The share names of the store, read as the front ends do.
std::vector<std::string> listShares();
bool hasShare(const std::string &name);

// Deletes the shares it was told of when it goes out of scope.
class ShareCleanup {
public:
    ~ShareCleanup();
    const std::string &operator()(const std::string &name);

private:
    std::vector<std::string> names_;
};

// ---- Programs --------------------------------------------------------------

// A file in the folder of the running test program (the build's bin folder).
std::string pathBeside(const std::string &fileName);

// Polls `condition` every 20 ms until it holds or `timeout` ms pass.
bool waitUntil(const std::function<bool()> &condition, DWORD timeout = ProcessTimeout);

// A program of the bin folder, started hidden, with its standard output
// going to a file of its own. Ended and its file removed when destroyed.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool start(const std::string &program, const std::string &arguments);
    bool isRunning() const;
    bool waitForExit(DWORD *exitCode, DWORD timeout = ProcessTimeout);
    void terminate();
    // Everything the program has written so far, and its lines.
    std::string output() const;
    std::vector<std::string> outputLines() const;
    // Waits until the program has written the line `line`.
    bool waitForLine(const std::string &line, DWORD timeout = ProcessTimeout);

    HANDLE mainThread() const { return thread_; }

private:
    HANDLE process_ = NULL, thread_ = NULL;
    std::string outputPath_;
};

// A TCP port of 127.0.0.1 that nothing listens on now. Agents of other
// Wine prefixes on this machine share the loopback ports, so a test agent
// takes a free port rather than the default one.
unsigned short freePort();

// The agent nddeagent.exe on a free port, started with `options`, ready when
// its window exists; closed through its window (ended if it does not close)
// when stopped.
class RunningAgent {
public:
    ~RunningAgent() { stop(); }
    // `sessionLimit`: the sessions it serves at once (0: its default).
    bool start(const std::string &options = "", DWORD sessionLimit = 0);
    bool stop();
    HWND window() const;
    ChildProcess &process() { return process_; }
    unsigned short port() const { return port_; }
    // Starts the client node nddeclient.exe with `arguments`, on this agent's port.
    bool startClient(ChildProcess &client, const std::string &arguments) const;

private:
    ChildProcess process_;
    unsigned short port_ = 0;
};

// Closes an agent left over from an earlier run, so a test starts without one.
void closeStrayAgent();

} // namespace pt

#endif
