// The serving side under careless and hostile client nodes and servers: a
// peer of this test speaks raw frames to the agent, or a DDE server
// misbehaves; the agent refuses, slows down or ends what misbehaves and
// goes on serving everyone else.
#include "netddetest.h"
#include "agentlink.h"
#include "tlspeer.h"

#include <doctest/doctest.h>

using namespace nt;

namespace {

struct Winsock {
    Winsock() { tp::startWinsock(); }
};

// A client node of this test on one TLS session to the agent.
class RawPeer {
public:
    // Connects from `from` (an address of 127.0.0.0/8) and is welcomed as
    // `node`, presenting a key of the node's own when `ownKey` (else the
    // test peers' key: the agent counts them all as one node).
    bool greet(unsigned short port, const char *node, const char *from = "127.0.0.1",
               bool ownKey = false)
    {
        if (ownKey)
            peer_.presentIdentity(tp::identityOf(node));
        Frame hello;
        InitFrame(&hello, FrameHello, 0);
        lstrcpyA(hello.name, node);
        Frame welcome;
        return peer_.connect(port, from) && send(hello) && receive(&welcome, 10000) &&
               welcome.kind == FrameWelcome;
    }
    void close() { peer_.close(); }

    bool send(const Frame &frame) { return peer_.sendFrame(frame); }

    // The next frame other than a Ping, within `timeout` ms. Its data stays
    // valid until the next call. False when none came or the agent closed.
    bool receive(Frame *frame, DWORD timeout) { return peer_.readFrame(frame, timeout); }
    bool closedByAgent() const { return peer_.closedByAgent(); }
    const BYTE *binding() const { return peer_.binding(); }

    // Opens a conversation on `share`: the answer's kind (Challenge or
    // Refused) and the challenge or refusal code; 0 when none came.
    BYTE open(DWORD id, const char *share, BYTE *challenge, WORD *code, WORD flags = 0,
              DWORD timeout = 10000)
    {
        Frame open;
        InitFrame(&open, FrameOpen, id);
        lstrcpynA(open.name, share, sizeof open.name);
        open.word = flags;
        Frame answer;
        if (!send(open) || !receive(&answer, timeout) || answer.conversation != id)
            return 0;
        if (answer.kind == FrameChallenge && challenge)
            CopyMemory(challenge, answer.data, ChallengeLength);
        if (code)
            *code = answer.word;
        return answer.kind;
    }

    // Opens `share` and proves `password`: true once Opened.
    bool openWithPassword(DWORD id, const char *share, const char *password, WORD flags = 0)
    {
        BYTE challenge[ChallengeLength], proof[ProofLength];
        if (open(id, share, challenge, nullptr, flags) != FrameChallenge ||
            !ProveBoundPassword(password, challenge, share, binding(), proof))
            return false;
        Frame proving;
        InitFrame(&proving, FrameProof, id);
        proving.data = proof;
        proving.dataLength = ProofLength;
        Frame answer;
        return send(proving) && receive(&answer, 15000) && answer.kind == FrameOpened;
    }

private:
    tp::TlsPeer peer_;
};

// A transaction frame of conversation `id`.
Frame transaction(BYTE kind, DWORD id, const char *item, WORD format = CF_TEXT,
                  const char *formatName = "")
{
    Frame frame;
    InitFrame(&frame, kind, id);
    lstrcpyA(frame.name, item);
    frame.format = format;
    lstrcpyA(frame.formatName, formatName);
    return frame;
}

BOOL CALLBACK countStartedServer(HWND window, LPARAM count)
{
    char className[64], title[64];
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (lstrcmpA(className, dt::ServerWindowClass) == 0 &&
        lstrcmpA(title, "ddeserver ddeserver|*") == 0)
        ++*(int *)count;
    return TRUE;
}

} // namespace

TEST_CASE("conversations that wait for one application start one copy of it")
{
    Winsock winsock;
    pt::TestShare share = serverShare("NT_STARTONE$", Request | Execute | StartApp);
    share.app = "ddeserver";
    ServedNode node;
    REQUIRE(node.start({share}, nullptr));
    RawPeer peer;
    REQUIRE(peer.greet(node.agent.port(), "STARTER"));
    // Three proofs at once, before the application can have answered.
    const DWORD count = 3;
    BYTE challenges[count][ChallengeLength], proofs[count][ProofLength];
    for (DWORD id = 1; id <= count; id++) {
        REQUIRE(peer.open(id, "NT_STARTONE$", challenges[id - 1], nullptr) == FrameChallenge);
        REQUIRE(ProveBoundPassword("", challenges[id - 1], "NT_STARTONE$", peer.binding(), proofs[id - 1]));
    }
    for (DWORD id = 1; id <= count; id++) {
        Frame proof;
        InitFrame(&proof, FrameProof, id);
        proof.data = proofs[id - 1];
        proof.dataLength = ProofLength;
        REQUIRE(peer.send(proof));
    }
    DWORD opened = 0;
    Frame frame;
    while (opened < count && peer.receive(&frame, 20000))
        opened += frame.kind == FrameOpened;
    CHECK(opened == count);
    int started = 0;
    EnumWindows(countStartedServer, (LPARAM)&started);
    CHECK(started == 1);
    HWND server;
    for (int i = 0; i < 5 && (server = FindWindowA(dt::ServerWindowClass, "ddeserver ddeserver|*")); i++) {
        PostMessageA(server, WM_CLOSE, 0, 0);
        CHECK(ui::waitForWindowToClose(server));
    }
}

TEST_CASE("unproved conversations are bounded per session, per node (its key) and per peer address, and expire")
{
    Winsock winsock;
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_GUARDED$", Request, "KEY")}, nullptr));
    unsigned short port = node.agent.port();

    RawPeer first, second, third;
    REQUIRE(first.greet(port, "SILENT"));
    WORD code = 0;
    for (DWORD id = 1; id <= 4; id++)
        CHECK(first.open(id, "NT_GUARDED$", nullptr, &code) == FrameChallenge);
    CHECK(first.open(5, "NT_GUARDED$", nullptr, &code) == FrameRefused);
    CHECK(code == NDDE_OUT_OF_MEMORY);
    CHECK(first.open(7, "NT_GUARDED$", nullptr, &code) == FrameRefused);
    // Each limit names itself, once a minute however often it is reached.
    CHECK(agentShows(node.agent, "SILENT asked for share NT_GUARDED$: no room, 4 unproved conversations per session reached"));
    int limitLines = 0;
    for (const std::string &line : agentLines(node.agent))
        limitLines += line.find("unproved conversations per session reached") != std::string::npos;
    CHECK(limitLines == 1);
    // The same node name on more sessions: a few more, then none.
    REQUIRE(second.greet(port, "SILENT"));
    for (DWORD id = 1; id <= 4; id++)
        CHECK(second.open(id, "NT_GUARDED$", nullptr, &code) == FrameChallenge);
    REQUIRE(third.greet(port, "SILENT"));
    CHECK(third.open(1, "NT_GUARDED$", nullptr, &code) == FrameRefused);
    CHECK(code == NDDE_OUT_OF_MEMORY);

    // Another node is not held up by them.
    RawPeer other;
    REQUIRE(other.greet(port, "ANOTHER", "127.0.0.1", true));
    CHECK(other.openWithPassword(1, "NT_GUARDED$", "KEY", OpenConnectOnly));

    // One peer address under many names (and keys): a few more, then none;
    // a peer at another address is not held up.
    RawPeer names[3];
    for (int i = 0; i < 2; i++) {
        REQUIRE(names[i].greet(port, i ? "ALIAS2" : "ALIAS1", "127.0.0.1", true));
        for (DWORD id = 1; id <= 4; id++)
            CHECK(names[i].open(id, "NT_GUARDED$", nullptr, &code) == FrameChallenge);
    }
    REQUIRE(names[2].greet(port, "ALIAS3", "127.0.0.1", true));
    CHECK(names[2].open(1, "NT_GUARDED$", nullptr, &code) == FrameRefused);
    CHECK(code == NDDE_OUT_OF_MEMORY);
    RawPeer elsewhere;
    REQUIRE(elsewhere.greet(port, "ELSEWHERE", "127.0.0.2", true));
    CHECK(elsewhere.open(1, "NT_GUARDED$", nullptr, &code) == FrameChallenge);

    // Unproved conversations are refused once their proof is late, for
    // lateness (a wrong password would have the client's user asked for
    // one), and their slots are free again.
    int expired = 0;
    Frame frame;
    while (expired < 4 && first.receive(&frame, 30000))
        if (frame.kind == FrameRefused) {
            CHECK(frame.word == NDDE_INVALID_SESSION);
            expired++;
        }
    CHECK(expired == 4);
    CHECK(first.open(6, "NT_GUARDED$", nullptr, &code) == FrameChallenge);
}

TEST_CASE("refusals other than wrong proofs are answered at once; a session that makes too many in a minute ends")
{
    Winsock winsock;
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_PRESENT$", Request, "KEY")}, nullptr));
    unsigned short port = node.agent.port();

    // Missing shares, one after another as a user who mistypes: the fifth is
    // answered as soon as the first was.
    RawPeer prober;
    REQUIRE(prober.greet(port, "PROBER", "127.0.0.9"));
    DWORD took[5];
    for (DWORD id = 1; id <= 5; id++) {
        std::string share = "NT_TYPO" + std::to_string(id) + "$";
        WORD code = 0;
        DWORD start = GetTickCount();
        CHECK(prober.open(id, share.c_str(), nullptr, &code, 0, 30000) == FrameRefused);
        took[id - 1] = GetTickCount() - start;
        CHECK(code == NDDE_SHARE_NOT_EXIST);
    }
    CHECK(took[4] < took[0] + 3000);     // a session slowed for them would wait 10 s and more

    // A stream of them: answered until more than the minute's bound, then the session ends.
    const DWORD opens = 80;
    for (DWORD id = 6; id < 6 + opens; id++) {
        Frame open;
        InitFrame(&open, FrameOpen, id);
        lstrcpyA(open.name, "NT_ABSENT$");
        REQUIRE(prober.send(open));
    }
    int refused = 0;
    Frame frame;
    DWORD start = GetTickCount();
    while (!prober.closedByAgent() && GetTickCount() - start < 30000)
        if (prober.receive(&frame, 1000))
            refused += frame.kind == FrameRefused;
    // Refusals still on their way when the session ends may be lost with it.
    CHECK(prober.closedByAgent());
    CHECK(refused + 5 <= 60);
    CHECK(refused + 5 > 40);
    CHECK(agentShows(node.agent, "PROBER was refused more than 60 conversations within a minute"));

    // Others are served as before.
    RawPeer other;
    REQUIRE(other.greet(port, "OTHER"));
    CHECK(other.openWithPassword(1, "NT_PRESENT$", "KEY", OpenConnectOnly));
}

TEST_CASE("share names over the wire ignore the case of ASCII letters only")
{
    Winsock winsock;
    ServedNode node;
    REQUIRE(node.start({serverShare("K\xC4SE$", Request)}, nullptr));
    RawPeer peer;
    REQUIRE(peer.greet(node.agent.port(), "CASES"));
    WORD code = 0;
    CHECK(peer.open(1, "K\xC4SE$", nullptr, &code) == FrameChallenge);
    CHECK(peer.open(2, "k\xC4se$", nullptr, &code) == FrameChallenge);
    CHECK(peer.open(3, "k\xE4se$", nullptr, &code) == FrameRefused);
    CHECK(code == NDDE_SHARE_NOT_EXIST);
}

TEST_CASE("clipboard format names from the network are registered within a budget")
{
    Winsock winsock;
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_FORMATS$", Request), serverShare("NT_NOPOKE$", Request)},
                       "/rate:0 /item:Price=1"));
    RawPeer peer;
    REQUIRE(peer.greet(node.agent.port(), "FORMATS"));
    REQUIRE(peer.openWithPassword(1, "NT_FORMATS$", ""));
    REQUIRE(peer.openWithPassword(2, "NT_NOPOKE$", ""));

    // Names new to this node (unique to this run).
    char prefix[64];
    wsprintfA(prefix, "TessaNetNew%08lX-", GetTickCount() ^ GetCurrentProcessId());
    const int requests = 40;
    for (int i = 0; i < requests; i++) {
        std::string name = prefix + std::to_string(i);
        REQUIRE(peer.send(transaction(FrameRequest, 1, "Price", 0xC000, name.c_str())));
    }
    // Never for a transaction the share does not permit.
    std::string refusedName = std::string(prefix) + "poke";
    Frame poke = transaction(FramePoke, 2, "Price", 0xC000, refusedName.c_str());
    poke.data = (const BYTE *)"5";
    poke.dataLength = 1;
    REQUIRE(peer.send(poke));
    int answers = 0;
    Frame frame;
    while (answers < requests + 1 && peer.receive(&frame, 15000))
        answers += frame.kind == FrameAck || frame.kind == FrameData;
    CHECK(answers == requests + 1);

    int registered = 0;
    for (int i = 0; i < requests; i++)
        registered += GlobalFindAtomA((prefix + std::to_string(i)).c_str()) != 0;
    CHECK(registered > 0);
    CHECK(registered <= 16);
    CHECK(GlobalFindAtomA(refusedName.c_str()) == 0);
}

TEST_CASE("formats of handles are refused before they reach the server")
{
    Winsock winsock;
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_HANDLES$", Request | Poke)}, "/rate:0 /item:Price=1"));
    RawPeer peer;
    REQUIRE(peer.greet(node.agent.port(), "HANDLES"));
    REQUIRE(peer.openWithPassword(1, "NT_HANDLES$", ""));
    Frame poke = transaction(FramePoke, 1, "Price", CF_BITMAP);
    DWORD bitmap = 0x12345678;
    poke.data = (const BYTE *)&bitmap;
    poke.dataLength = sizeof bitmap;
    REQUIRE(peer.send(poke));
    REQUIRE(peer.send(transaction(FrameRequest, 1, "Price", CF_ENHMETAFILE)));
    REQUIRE(peer.send(transaction(FrameRequest, 1, "Price")));
    Frame frame;
    REQUIRE(peer.receive(&frame, 10000));
    CHECK(frame.kind == FrameAck);
    CHECK(frame.word == 0);
    REQUIRE(peer.receive(&frame, 10000));
    CHECK(frame.kind == FrameAck);
    CHECK(frame.word == 0);
    REQUIRE(peer.receive(&frame, 10000));
    CHECK(frame.kind == FrameData);
    CHECK(agentShows(node.agent, "refused: Poke \"Price\" on share NT_HANDLES$ for HANDLES: a format of handles"));
}

TEST_CASE("a server that ends its conversation while it is initiated does not bring the agent down")
{
    pt::TestShare hostile = serverShare("NT_HOSTILE$", Request);
    hostile.app = "NTHOSTILE";
    ServedNode node;
    REQUIRE(node.start({hostile, serverShare("NT_PLAIN$", Request)}, "/rate:0 /item:Price=7"));
    pt::ChildProcess server;
    REQUIRE(server.start("netdde_hostileserver.exe", "NTHOSTILE"));
    REQUIRE(pt::waitUntil([] { return FindWindowA("NetDdeHostileServer", "NTHOSTILE") != nullptr; }));

    for (int round = 0; round < 5; round++) {
        CAPTURE(round);
        DWORD exitCode = onShare("NT_HOSTILE$", "request Price").exitCode;
        CHECK((exitCode == 3 || exitCode == 5));
        CHECK(node.agent.process().isRunning());
    }
    CHECK(onShare("NT_PLAIN$", "request Price").output == "7\r\n");
    CHECK(node.agent.process().isRunning());
    // A conversation ended under the initiate is never used again: it does
    // not stand afterwards.
    for (const std::string &line : agentLines(node.agent))
        CHECK(line.find("opened share NT_HOSTILE$") == std::string::npos);
    PostMessageA(FindWindowA("NetDdeHostileServer", "NTHOSTILE"), WM_CLOSE, 0, 0);
}

TEST_CASE("a share deleted or its password changed ends the conversations standing on it")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_DELETED$", Request | Advise),
                        serverShare("NT_REKEYED$", Request | Advise, "OLD")},
                       "/rate:20"));
    dt::RunningCommand deleted;
    REQUIRE(deleted.start(shareArguments("NT_DELETED$", "advise Counter 40")));
    REQUIRE(pt::waitUntil([&] { return !dt::updateValues(deleted.process().output()).empty(); }));
    DWORD start = GetTickCount();
    REQUIRE(pt::deleteShare("NT_DELETED$") == NDDE_NO_ERROR);
    CHECK(deleted.finish().exitCode == 5);
    CHECK(GetTickCount() - start < 15000);
    CHECK(agentShows(node.agent, "lost share NT_DELETED$: the share was deleted"));

    // A conversation opened with a password: that password changed.
    Winsock winsock;
    RawPeer peer;
    REQUIRE(peer.greet(node.agent.port(), "REKEYED"));
    REQUIRE(peer.openWithPassword(1, "NT_REKEYED$", "OLD"));
    pt::TestShare rekeyed = serverShare("NT_REKEYED$", Request | Advise, "NEW");
    REQUIRE(pt::deleteShare("NT_REKEYED$") == NDDE_NO_ERROR);
    REQUIRE(pt::addShare(rekeyed) == NDDE_NO_ERROR);
    Frame frame;
    bool ended = false;
    while (!ended && peer.receive(&frame, 15000))
        ended = frame.kind == FrameTerminate && frame.conversation == 1;
    CHECK(ended);
}

TEST_CASE("a server that dies without a word ends its conversations")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_DYING$", Request | Advise)}, nullptr));
    pt::ChildProcess server;
    REQUIRE(server.start("ddeserver.exe", std::string(Server) + " " + Topic + " /rate:20"));
    REQUIRE(pt::waitUntil([] { return FindWindowA(dt::ServerWindowClass, nullptr) != nullptr; }));
    dt::RunningCommand linked;
    REQUIRE(linked.start(shareArguments("NT_DYING$", "advise Counter 40")));
    REQUIRE(pt::waitUntil([&] { return !dt::updateValues(linked.process().output()).empty(); }));
    DWORD start = GetTickCount();
    server.terminate();
    CHECK(linked.finish().exitCode == 5);
    CHECK(GetTickCount() - start < 15000);
    CHECK(agentShows(node.agent, "the server of share NT_DYING$ for NODEA is gone"));
}
