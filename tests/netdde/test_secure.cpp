// Sessions an impostor cannot enter: a relay that answers with a key of its
// own is refused once the node is pinned, or at first contact when the node
// map gives the node's fingerprint; a share proof is worth nothing outside
// its session; wrong proofs are answered ever later, then the session ends.
// A node of protocol 1 is refused in clear, and says so.
#include "netddetest.h"
#include "nodemap.h"

#include <doctest/doctest.h>

#include <map>
#include <vector>

using namespace nt;

namespace {

const char TappedNode[] = "NODETAP";     // this node again, through the wire tap

std::string written(const BYTE fingerprint[FingerprintLength])
{
    char text[FingerprintTextSize];
    FormatFingerprint(fingerprint, text);
    return text;
}

// The fingerprint the agent presents: a test peer's handshake shows it.
std::string agentFingerprint(unsigned short port)
{
    tp::TlsPeer peer;
    if (!peer.connect(port) || !peer.secure())
        return "";
    return written(peer.agentFingerprint());
}

std::string relayFingerprint()
{
    NodeIdentity identity;
    const char *failure;
    return LoadNodeIdentity(RelayIdentityKey, &identity, &failure) ? written(identity.fingerprint) : "";
}

std::string pinOf(const char *node)
{
    BYTE pinned[FingerprintLength];
    return FindPin(node, pinned) == Pinned ? written(pinned) : "";
}

// A request through \\NODETAP (the wire tap) with the client's time limit.
dt::CommandRun requestThroughTap(const std::string &share)
{
    return dt::runCommand(std::string("\\\\") + TappedNode + "\\NDDE$ " + share +
                          " request Price /timeout:8000");
}

// Opens `share` on `peer`'s session: the challenge; false when none came.
bool challengeOf(tp::TlsPeer &peer, DWORD id, const char *share, BYTE challenge[ChallengeLength])
{
    Frame open;
    InitFrame(&open, FrameOpen, id);
    open.word = OpenConnectOnly;
    lstrcpyA(open.name, share);
    Frame answer;
    if (!peer.sendFrame(open) || !peer.readFrame(&answer, 10000) || answer.kind != FrameChallenge ||
        answer.conversation != id)
        return false;
    CopyMemory(challenge, answer.data, ChallengeLength);
    return true;
}

// Sends `proof` for conversation `id`: the kind of the answer (Opened or
// Refused) within `timeout` ms, 0 when none came.
BYTE answerToProof(tp::TlsPeer &peer, DWORD id, const BYTE proof[ProofLength], DWORD timeout)
{
    Frame proving;
    InitFrame(&proving, FrameProof, id);
    proving.data = proof;
    proving.dataLength = ProofLength;
    Frame answer;
    if (!peer.sendFrame(proving) || !peer.readFrame(&answer, timeout) || answer.conversation != id)
        return 0;
    return answer.kind;
}

bool greet(tp::TlsPeer &peer, unsigned short port, const char *node, const char *from = "127.0.0.1")
{
    Frame hello;
    InitFrame(&hello, FrameHello, 0);
    lstrcpyA(hello.name, node);
    Frame welcome;
    return peer.connect(port, from) && peer.sendFrame(hello) && peer.readFrame(&welcome, 10000) &&
           welcome.kind == FrameWelcome;
}

} // namespace

TEST_CASE("a relay with a key of its own is refused once the node is pinned: no conversation, no proof")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_PINNED$", Request)}, "/rate:0 /item:Price=Pinned"));
    ForgetPin(TappedNode);
    std::string agentKey = agentFingerprint(node.agent.port());
    REQUIRE(!agentKey.empty());
    CHECK(agentShows(node.agent, "Fingerprint " + agentKey));   // the node's own, in its window

    // First contact through a tap that passes bytes: the node is pinned.
    WireTap passing;
    REQUIRE(passing.start(node.agent.port()));
    REQUIRE(mapNode(TappedNode, "127.0.0.1:" + std::to_string(passing.port)));
    CHECK(requestThroughTap("NT_PINNED$").output == "Pinned\r\n");
    CHECK(pinOf(TappedNode) == agentKey);
    CHECK(agentShows(node.agent, std::string("node ") + TappedNode + " pinned at first contact"));
    REQUIRE(passing.finish());
    CHECK(agentShows(node.agent, std::string("session to ") + TappedNode + " ended"));

    // Then a relay that terminates TLS with its own key.
    WireTap relay;
    REQUIRE(relay.start(node.agent.port(), true));
    REQUIRE(mapNode(TappedNode, "127.0.0.1:" + std::to_string(relay.port)));
    dt::CommandRun first = requestThroughTap("NT_PINNED$");
    CHECK(first.exitCode != 0);
    std::string relayKey = relayFingerprint();
    REQUIRE(!relayKey.empty());
    CHECK(agentShows(node.agent, std::string("node ") + TappedNode + " presents key " + relayKey));
    CHECK(agentShows(node.agent, std::string("node ") + TappedNode + " is pinned to key " + agentKey));
    // The initiates that follow are not answered at all, and the agent says until when.
    dt::CommandRun second = requestThroughTap("NT_PINNED$");
    CHECK(second.output.find("no DDE server answered") != std::string::npos);
    CHECK(agentShows(node.agent, std::string("refused: share NT_PINNED$ at \\\\") + TappedNode +
                                     ": node refused for its key until "));
    REQUIRE(relay.finish());
    CHECK(relay.connections >= 1);
    CHECK(relay.handshakesCompleted == 0);
    CHECK(relay.plaintext.empty());          // no Hello, no Open, no proof
    CHECK(pinOf(TappedNode) == agentKey);    // a pin is never replaced
    mapNode(TappedNode, "");
    ForgetPin(TappedNode);
    CHECK(node.server.close());
}

TEST_CASE("a relay with a key of its own is refused at first contact when the node map gives the node's fingerprint")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_PRESET$", Request)}, "/rate:0 /item:Price=Preset"));
    ForgetPin(TappedNode);
    std::string agentKey = agentFingerprint(node.agent.port());
    BYTE preset[FingerprintLength];
    REQUIRE(ParseFingerprint(agentKey.c_str(), preset));
    REQUIRE(PinNode(TappedNode, preset));      // as an administrator writes it beforehand

    WireTap relay;
    REQUIRE(relay.start(node.agent.port(), true));
    REQUIRE(mapNode(TappedNode, "127.0.0.1:" + std::to_string(relay.port)));
    CHECK(requestThroughTap("NT_PRESET$").exitCode != 0);
    CHECK(agentShows(node.agent, std::string("node ") + TappedNode + " presents key " + relayFingerprint()));
    CHECK(agentShows(node.agent, std::string("node ") + TappedNode + " is pinned to key " + agentKey));
    REQUIRE(relay.finish());
    CHECK(relay.connections >= 1);
    CHECK(relay.handshakesCompleted == 0);
    CHECK(relay.plaintext.empty());

    // The node itself, with the fingerprint given, is served.
    WireTap passing;
    REQUIRE(passing.start(node.agent.port()));
    REQUIRE(mapNode(TappedNode, "127.0.0.1:" + std::to_string(passing.port)));
    // The refusal is remembered for a while: the node is reached once it is over,
    // or at once through a name of its own.
    REQUIRE(mapNode("NODEPRESET", "127.0.0.1:" + std::to_string(passing.port)));
    REQUIRE(PinNode("NODEPRESET", preset));
    CHECK(dt::runCommand("\\\\NODEPRESET\\NDDE$ NT_PRESET$ request Price /timeout:8000").output ==
          "Preset\r\n");
    REQUIRE(passing.finish());
    mapNode(TappedNode, "");
    mapNode("NODEPRESET", "");
    ForgetPin(TappedNode);
    ForgetPin("NODEPRESET");
    CHECK(node.server.close());
}

TEST_CASE("a proof made in one session is refused in another")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_BOUND$", Request, "BOUNDWORD")}, nullptr));
    unsigned short port = node.agent.port();
    tp::TlsPeer victim, attacker;
    REQUIRE(greet(victim, port, "VICTIM"));
    REQUIRE(greet(attacker, port, "ATTACKER"));
    BYTE victimChallenge[ChallengeLength], challenge[ChallengeLength], proof[ProofLength];
    REQUIRE(challengeOf(victim, 1, "NT_BOUND$", victimChallenge));
    REQUIRE(challengeOf(attacker, 1, "NT_BOUND$", challenge));
    REQUIRE(memcmp(victim.binding(), attacker.binding(), ChannelBindingLength) != 0);

    // The victim's session proves the right password for the attacker's
    // challenge (a relay handed it on): replayed in the attacker's session,
    // it is refused.
    REQUIRE(ProveBoundPassword("BOUNDWORD", challenge, "NT_BOUND$", victim.binding(), proof));
    CHECK(answerToProof(attacker, 1, proof, 10000) == FrameRefused);
    // A proof the victim's session made for its own challenge, replayed, too.
    REQUIRE(challengeOf(attacker, 2, "NT_BOUND$", challenge));
    REQUIRE(ProveBoundPassword("BOUNDWORD", victimChallenge, "NT_BOUND$", victim.binding(), proof));
    CHECK(answerToProof(attacker, 2, proof, 10000) == FrameRefused);
    // Each session's own proof opens the share.
    CHECK(answerToProof(victim, 1, proof, 10000) == FrameOpened);
    REQUIRE(challengeOf(attacker, 3, "NT_BOUND$", challenge));
    REQUIRE(ProveBoundPassword("BOUNDWORD", challenge, "NT_BOUND$", attacker.binding(), proof));
    CHECK(answerToProof(attacker, 3, proof, 10000) == FrameOpened);
}

TEST_CASE("wrong proofs on one session are answered ever later, then the session ends")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_GUESSED$", Request, "RIGHTWORD")}, nullptr));
    unsigned short port = node.agent.port();
    tp::TlsPeer guesser;
    REQUIRE(greet(guesser, port, "GUESSER", "127.0.0.3"));
    std::vector<DWORD> answeredIn;
    for (DWORD id = 1; id <= 20; id++) {
        BYTE challenge[ChallengeLength], proof[ProofLength];
        if (!challengeOf(guesser, id, "NT_GUESSED$", challenge))
            break;
        REQUIRE(ProveBoundPassword("WRONG", challenge, "NT_GUESSED$", guesser.binding(), proof));
        DWORD start = GetTickCount();
        if (answerToProof(guesser, id, proof, 90000) != FrameRefused)
            break;
        answeredIn.push_back(GetTickCount() - start);
    }
    // A handful are answered, never all twenty, and the session has ended.
    CHECK(answeredIn.size() >= 5);
    CHECK(answeredIn.size() < 20);
    Frame frame;
    DWORD start = GetTickCount();
    while (!guesser.closedByAgent() && GetTickCount() - start < 30000)
        guesser.readFrame(&frame, 1000);
    CHECK(guesser.closedByAgent());
    // The last ones each waited longer than the one before.
    size_t count = answeredIn.size();
    REQUIRE(count >= 3);
    CHECK(answeredIn[count - 1] > answeredIn[count - 2]);
    CHECK(answeredIn[count - 2] > answeredIn[count - 3]);
    CHECK(answeredIn[count - 1] > answeredIn[0] + 2000);

    // A new session from the same address goes on where that one stopped;
    // another address is answered at once.
    tp::TlsPeer again, other;
    REQUIRE(greet(again, port, "GUESSER", "127.0.0.3"));
    REQUIRE(greet(other, port, "OTHER", "127.0.0.4"));
    BYTE challenge[ChallengeLength], proof[ProofLength];
    REQUIRE(challengeOf(other, 1, "NT_GUESSED$", challenge));
    REQUIRE(ProveBoundPassword("WRONG", challenge, "NT_GUESSED$", other.binding(), proof));
    start = GetTickCount();
    CHECK(answerToProof(other, 1, proof, 10000) == FrameRefused);
    DWORD otherTook = GetTickCount() - start;
    REQUIRE(challengeOf(again, 1, "NT_GUESSED$", challenge));
    REQUIRE(ProveBoundPassword("WRONG", challenge, "NT_GUESSED$", again.binding(), proof));
    start = GetTickCount();
    CHECK(answerToProof(again, 1, proof, 90000) == FrameRefused);
    CHECK(GetTickCount() - start > answeredIn[count - 1]);
    CHECK(otherTook < answeredIn[count - 1]);
}

namespace {

// A peer that sends its proofs without waiting for their answers, and
// notes each answer (Opened or Refused) as it comes, with its time.
struct Prover {
    tp::TlsPeer peer;
    struct Answer {
        BYTE kind = 0;
        DWORD at = 0;
    };
    std::map<DWORD, Answer> answers;

    bool note(const Frame &frame)
    {
        if (frame.kind != FrameOpened && frame.kind != FrameRefused)
            return false;
        answers[frame.conversation] = {frame.kind, GetTickCount()};
        return true;
    }
    // Opens `share` as conversation `id` and sends the proof of `password`,
    // noting the answers that come meanwhile.
    bool prove(DWORD id, const char *share, const char *password)
    {
        Frame open;
        InitFrame(&open, FrameOpen, id);
        open.word = OpenConnectOnly;
        lstrcpyA(open.name, share);
        if (!peer.sendFrame(open))
            return false;
        Frame frame;
        while (peer.readFrame(&frame, 10000)) {
            if (note(frame) || frame.kind != FrameChallenge || frame.conversation != id)
                continue;
            BYTE proof[ProofLength];
            if (!ProveBoundPassword(password, frame.data, share, peer.binding(), proof))
                return false;
            Frame proving;
            InitFrame(&proving, FrameProof, id);
            proving.data = proof;
            proving.dataLength = ProofLength;
            return peer.sendFrame(proving);
        }
        return false;
    }
    // Waits until conversation `id` is answered (at most `timeout` ms).
    bool awaitAnswer(DWORD id, DWORD timeout)
    {
        DWORD start = GetTickCount();
        Frame frame;
        while (!answers.count(id) && GetTickCount() - start < timeout)
            if (peer.readFrame(&frame, 1000))
                note(frame);
            else if (peer.closedByAgent())
                break;
        return answers.count(id) != 0;
    }
};

} // namespace

TEST_CASE("a right proof is checked no sooner than a wrong one would be answered")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_WAITED$", Request, "RIGHTWORD"),
                        serverShare("NT_OPENED$", Request)}, nullptr));
    unsigned short port = node.agent.port();

    // Five wrong proofs sent without reading their answers, then the right one.
    Prover hasty;
    REQUIRE(greet(hasty.peer, port, "HASTY", "127.0.0.5"));
    DWORD start = GetTickCount();
    for (DWORD id = 1; id <= 6; id++)
        REQUIRE(hasty.prove(id, "NT_WAITED$", id <= 5 ? "WRONG" : "RIGHTWORD"));
    REQUIRE(hasty.awaitAnswer(6, 60000));
    for (DWORD id = 1; id <= 5; id++) {
        CAPTURE(id);
        REQUIRE(hasty.awaitAnswer(id, 10000));
        CHECK(hasty.answers[id].kind == FrameRefused);
    }
    CHECK(hasty.answers[6].kind == FrameOpened);
    CHECK(hasty.answers[6].at >= hasty.answers[5].at);
    // The 4th and 5th refusals waited one and two seconds.
    CHECK(hasty.answers[6].at - start >= 3000);

    // Three wrong proofs, a proof on a share without a password, one more
    // wrong proof: it still waits the first delay.
    Prover mixed;
    REQUIRE(greet(mixed.peer, port, "MIXED", "127.0.0.6"));
    for (DWORD id = 1; id <= 3; id++) {
        REQUIRE(mixed.prove(id, "NT_WAITED$", "WRONG"));
        REQUIRE(mixed.awaitAnswer(id, 10000));
        CHECK(mixed.answers[id].kind == FrameRefused);
    }
    REQUIRE(mixed.prove(4, "NT_OPENED$", ""));
    REQUIRE(mixed.awaitAnswer(4, 10000));
    CHECK(mixed.answers[4].kind == FrameOpened);
    DWORD sent = GetTickCount();
    REQUIRE(mixed.prove(5, "NT_WAITED$", "WRONG"));
    REQUIRE(mixed.awaitAnswer(5, 10000));
    CHECK(mixed.answers[5].kind == FrameRefused);
    CHECK(mixed.answers[5].at - sent >= 1000);
}

TEST_CASE("after a handful of wrong proofs no proof is checked on the session; a neighbour proving another share is not held up")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_HANDFUL$", Request, "RIGHTWORD"),
                        serverShare("NT_NEIGHBOUR$", Request, "OTHERWORD")}, nullptr));
    unsigned short port = node.agent.port();
    Prover guesser;
    REQUIRE(greet(guesser.peer, port, "HANDFUL", "127.0.0.7"));
    DWORD id = 1;
    for (; id <= 7; id++) {
        CAPTURE(id);
        REQUIRE(guesser.prove(id, "NT_HANDFUL$", "WRONG"));
        REQUIRE(guesser.awaitAnswer(id, 30000));
        CHECK(guesser.answers[id].kind == FrameRefused);
    }
    // The right password now: never opened, and the session ends.
    if (guesser.prove(id, "NT_HANDFUL$", "RIGHTWORD"))
        guesser.awaitAnswer(id, 20000);
    CHECK(guesser.answers.count(id) == 0);
    Frame frame;
    DWORD start = GetTickCount();
    while (!guesser.peer.closedByAgent() && GetTickCount() - start < 30000)
        guesser.peer.readFrame(&frame, 1000);
    CHECK(guesser.peer.closedByAgent());
    CHECK(agentShows(node.agent, "HANDFUL made 7 wrong proofs: no more are checked on its session"));

    // Behind the same address, another share's right password opens at once.
    Prover neighbour;
    REQUIRE(greet(neighbour.peer, port, "NEIGHBOUR", "127.0.0.7"));
    REQUIRE(neighbour.prove(1, "NT_NEIGHBOUR$", "OTHERWORD"));
    REQUIRE(neighbour.awaitAnswer(1, 10000));
    CHECK(neighbour.answers[1].kind == FrameOpened);
}

TEST_CASE("a node of protocol 1 is refused in clear, and the agent says so")
{
    pt::RunningAgent agent;
    REQUIRE(startNode(agent));
    REQUIRE(tp::startWinsock());
    SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(agent.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    REQUIRE(connect(connection, (sockaddr *)&address, sizeof address) == 0);
    Frame hello;
    InitFrame(&hello, FrameHello, 0);
    lstrcpyA(hello.name, "OLDNODE");
    std::string bytes = tp::frameBytes(hello);
    bytes[0] = (char)OlderWireVersion;
    REQUIRE(send(connection, bytes.data(), (int)bytes.size(), 0) == (int)bytes.size());
    // A Refused of version 1, then the end of the connection.
    std::string answer;
    DWORD start = GetTickCount();
    char chunk[256];
    int count;
    while (GetTickCount() - start < 10000 &&
           (count = recv(connection, chunk, sizeof chunk, 0)) > 0)
        answer.append(chunk, count);
    closesocket(connection);
    REQUIRE(answer.size() == FrameHeaderSize);
    CHECK(answer[0] == (char)OlderWireVersion);
    CHECK(answer[1] == (char)FrameRefused);
    CHECK(agentShows(agent, "node OLDNODE speaks protocol 1"));

    // Calling a node that ends the connection at the first byte, as an agent
    // of protocol 1 does: no hang, and the agent says so.
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    address.sin_port = 0;
    int size = sizeof address;
    REQUIRE(bind(listener, (sockaddr *)&address, sizeof address) == 0);
    REQUIRE(listen(listener, 2) == 0);
    REQUIRE(getsockname(listener, (sockaddr *)&address, &size) == 0);
    REQUIRE(mapNode("OLDSERVER", "127.0.0.1:" + std::to_string(ntohs(address.sin_port))));
    dt::RunningCommand client;
    REQUIRE(client.start("\\\\OLDSERVER\\NDDE$ NT_ANY$ request Price /timeout:8000"));
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval wait = {10, 0};
    REQUIRE(select(0, &readable, nullptr, nullptr, &wait) == 1);
    SOCKET called = accept(listener, nullptr, nullptr);
    REQUIRE(called != INVALID_SOCKET);
    recv(called, chunk, 1, 0);
    closesocket(called);
    closesocket(listener);
    dt::CommandRun run = client.finish();
    CHECK(run.exitCode != 0);
    CHECK(agentShows(agent, "node OLDSERVER speaks protocol 1"));
    mapNode("OLDSERVER", "");
}

namespace {

// Greets as `node` presenting `identity` (null: the test peers' own key):
// the kind of the answer (Welcome or Refused) and its code; 0 when none came.
BYTE helloAnswer(tp::TlsPeer &peer, unsigned short port, const char *node, const char *from,
                 const NodeIdentity *identity, WORD *code)
{
    peer.presentIdentity(identity);
    Frame hello;
    InitFrame(&hello, FrameHello, 0);
    lstrcpyA(hello.name, node);
    Frame answer;
    if (!peer.connect(port, from) || !peer.sendFrame(hello) || !peer.readFrame(&answer, 10000))
        return 0;
    *code = answer.word;
    return answer.kind;
}

// Opens `share` on `peer`'s session as conversation `id` and proves
// `password`: the kind of the last answer (Opened or Refused), 0 when none came.
BYTE openWithPassword(tp::TlsPeer &peer, DWORD id, const char *share, const char *password)
{
    BYTE challenge[ChallengeLength], proof[ProofLength];
    if (!challengeOf(peer, id, share, challenge) ||
        !ProveBoundPassword(password, challenge, share, peer.binding(), proof))
        return 0;
    return answerToProof(peer, id, proof, 15000);
}

} // namespace

TEST_CASE("peers claiming a node's name with other keys cannot get that node refused")
{
    const char Victim[] = "VICTIM";
    const char *impostorNames[] = {"IMPOSTOR-A", "IMPOSTOR-B", "IMPOSTOR-C"};
    ForgetPin(Victim);
    for (const char *name : impostorNames)
        ForgetPin(name);
    const NodeIdentity *victimKey = tp::identityOf("VICTIM");
    const NodeIdentity *impostorKeys[] = {tp::identityOf("IMPOSTOR1"), tp::identityOf("IMPOSTOR2")};
    REQUIRE(victimKey);
    REQUIRE(impostorKeys[0]);
    REQUIRE(impostorKeys[1]);
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_CLAIMED$", Request, "VICTIMWORD")}, nullptr));
    unsigned short port = node.agent.port();

    // The real node's first session: its key is remembered for its name,
    // and the window and the log show both.
    tp::TlsPeer first;
    WORD code = 0;
    REQUIRE(helloAnswer(first, port, Victim, "127.0.0.1", victimKey, &code) == FrameWelcome);
    CHECK(pinOf(Victim) == written(victimKey->fingerprint));
    CHECK(agentShows(node.agent, "node VICTIM from 127.0.0.1 pinned at first contact: " +
                                     written(victimKey->fingerprint)));
    CHECK(agentShows(node.agent, "key " + written(victimKey->fingerprint)));

    // Two peers claiming its name with keys of their own are refused at
    // their greeting, and the agent says which keys.
    for (int i = 0; i < 2; i++) {
        tp::TlsPeer impostor;
        CHECK(helloAnswer(impostor, port, Victim, i ? "127.0.0.6" : "127.0.0.5", impostorKeys[i],
                          &code) == FrameRefused);
        CHECK(code == NDDE_ACCESS_DENIED);
        CHECK(agentShows(node.agent, "refused: node VICTIM from 127.0.0." + std::to_string(5 + i) +
                                         " presents key " + written(impostorKeys[i]->fingerprint)));
    }
    CHECK(pinOf(Victim) == written(victimKey->fingerprint));

    // Under names of their own, one impostor key holds unproved
    // conversations from two addresses until its node's share is used up;
    // it counts as one node whatever the name, and never as the victim.
    tp::TlsPeer holders[3];
    const char *from[] = {"127.0.0.5", "127.0.0.6", "127.0.0.7"};
    BYTE challenge[ChallengeLength];
    for (int i = 0; i < 2; i++) {
        REQUIRE(helloAnswer(holders[i], port, impostorNames[i], from[i], impostorKeys[0], &code) ==
                FrameWelcome);
        for (DWORD id = 1; id <= 4; id++)
            CHECK(challengeOf(holders[i], id, "NT_CLAIMED$", challenge));
    }
    REQUIRE(helloAnswer(holders[2], port, impostorNames[2], from[2], impostorKeys[0], &code) ==
            FrameWelcome);
    CHECK_FALSE(challengeOf(holders[2], 1, "NT_CLAIMED$", challenge));

    // The real node, with its own key and the right password, opens the
    // share on the session it has and on a new one.
    CHECK(openWithPassword(first, 1, "NT_CLAIMED$", "VICTIMWORD") == FrameOpened);
    tp::TlsPeer second;
    REQUIRE(helloAnswer(second, port, Victim, "127.0.0.1", victimKey, &code) == FrameWelcome);
    CHECK(openWithPassword(second, 1, "NT_CLAIMED$", "VICTIMWORD") == FrameOpened);

    ForgetPin(Victim);
    for (const char *name : impostorNames)
        ForgetPin(name);
}

TEST_CASE("a client node whose pin cannot be read is refused, with an event")
{
    const char Unread[] = "UNREADPIN";
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_UNREAD$", Request)}, nullptr));
    HKEY key;
    std::string path = std::string(NodeMapKey) + "\\" + Unread;
    REQUIRE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, 0, KEY_WRITE, 0, &key, 0) ==
            ERROR_SUCCESS);
    REQUIRE(RegSetValueExA(key, "Fingerprint", 0, REG_SZ, (const BYTE *)"AB12", 5) == ERROR_SUCCESS);
    RegCloseKey(key);

    tp::TlsPeer peer;
    WORD code = 0;
    CHECK(helloAnswer(peer, node.agent.port(), Unread, "127.0.0.1", nullptr, &code) == FrameRefused);
    CHECK(code == NDDE_ACCESS_DENIED);
    CHECK(agentShows(node.agent, "refused: the key pinned for node UNREADPIN cannot be read"));
    // The pin is left for the administrator, never replaced.
    BYTE pinned[FingerprintLength];
    CHECK(FindPin(Unread, pinned) == PinUnreadable);
    CHECK(ForgetPin(Unread));
}
