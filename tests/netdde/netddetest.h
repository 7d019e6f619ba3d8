// Support for the tests of conversations carried by the Network DDE agent:
// one node on loopback whose DDE clients reach the node's own shares through
// \\NODEA\NDDE$, so that every conversation crosses the agent's client side,
// a TCP session and its serving side, as between two nodes.
#ifndef NETDDETEST_H
#define NETDDETEST_H

#include "ddetooltest.h"
#include "tlspeer.h"
#include "uidriver.h"

#include <winsock.h>

#include <string>
#include <vector>

namespace nt {

const char Node[] = "NODEA";
const char Server[] = "NTSRV";          // the DDE server's service name
const char Topic[] = "QUOTES";
const char PasswordCaption[] = "Network DDE Password";

// The agent as node NODEA on a free port of 127.0.0.1.
bool startNode(pt::RunningAgent &agent);

// Node NODEA with shares and a DDE server: the shares stored, the agent and
// ddeserver Server|Topic started; all undone when it goes out of scope.
struct ServedNode {
    pt::ShareCleanup cleanup;
    pt::RunningAgent agent;
    dt::RunningServer server;
    // Stores `shares`, starts the agent, and the server with `serverOptions`
    // unless they are null.
    bool start(std::vector<pt::TestShare> shares, const char *serverOptions);
};

// A share of Server|Topic giving `permissions` to password #1.
pt::TestShare serverShare(const std::string &name, DWORD permissions,
                          const std::string &password = "");

// ddecmd \\NODEA\NDDE$ SHARE <arguments>
std::string shareArguments(const std::string &share, const std::string &arguments);
dt::CommandRun onShare(const std::string &share, const std::string &arguments);

// The name of a global atom (an update's item).
std::string atomText(ATOM atom);

// The lines the agent's window shows, and a wait until one of them holds
// `text` (and `alsoText`).
std::vector<std::string> agentLines(pt::RunningAgent &agent);
bool agentShows(pt::RunningAgent &agent, const std::string &text, const std::string &alsoText = "");

// The password dialog the agent shows, or null when none comes in time.
HWND waitForPasswordDialog(pt::RunningAgent &agent);

// Points node `node` of the node map at `where` ("host:port"); "" removes it.
bool mapNode(const char *node, const std::string &where);
// Sets node `node`'s GracePeriod (seconds); -1 removes it.
void setGracePeriod(const char *node, int seconds);

// A TCP relay from a port of its own to the agent's, carrying any number of
// connections, that a test breaks and mends as a network or a restarted
// agent would: cut() closes every connection it carries; while down, each
// new connection is closed at once. While held, nothing the agent sends is
// carried: it waits in the system's buffers, as on a stalled network.
class Relay {
public:
    ~Relay();
    bool start(unsigned short agentPort);
    unsigned short port() const { return port_; }
    void cut() { InterlockedExchange(&cutWanted_, 1); }
    void setDown(bool down) { InterlockedExchange(&down_, down ? 1 : 0); }
    void hold(bool held) { InterlockedExchange(&held_, held ? 1 : 0); }

private:
    static DWORD WINAPI run(void *context);
    void carry();

    unsigned short agentPort_ = 0, port_ = 0;
    SOCKET listener_ = INVALID_SOCKET;
    HANDLE thread_ = NULL;
    volatile LONG stop_ = 0, cutWanted_ = 0, down_ = 0, held_ = 0;
};

// The sessions the serving node lists, and the connections of one, as
// "SHARE word1 word2".
std::vector<SessionEntry> listedSessions();
std::vector<std::string> listedConnections(const SessionEntry &session);

// Where the wire tap keeps the key it terminates TLS with: not the agent's.
const char RelayIdentityKey[] = "Software\\Tessaseg\\TestRelay";

// A relay between a node and the agent, on a port of its own, in a thread of
// its own: connections are taken one at a time until it is stopped (at most
// 120 s). Passing, it forwards every byte to the agent and keeps a copy of
// each direction. Terminating, it is a TLS server with a key of its own
// (RelayIdentityKey), as a relay that would read the session, and keeps
// the plaintext the node sends it once a handshake completes.
struct WireTap {
    unsigned short agentPort = 0, port = 0;
    bool terminating = false;
    std::string toAgent, fromAgent;    // passing: the bytes each way
    std::string plaintext;             // terminating: what a node sent inside TLS
    int connections = 0;
    int handshakesCompleted = 0;

    bool start(unsigned short toPort, bool terminate = false);
    // Stops it and waits for its thread: false when it did not end.
    bool finish();
    ~WireTap();

private:
    static DWORD WINAPI run(void *context);
    void pass(SOCKET client);
    void terminate(SOCKET client);
    SOCKET listener_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    volatile LONG stopping_ = 0;
};

// Whether `bytes` are whole TLS records and nothing else (no frame in clear).
bool isTlsRecords(const std::string &bytes);

} // namespace nt

#endif
