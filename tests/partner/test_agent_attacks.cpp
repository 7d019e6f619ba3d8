// The agent nddeagent.exe against hostile and careless clients: passwords
// and names that differ from the stored ones in ways a locale's collation
// hides, and connections that never greet. The test speaks the agents' wire
// protocol itself over 127.0.0.1, and runs the real client nddeclient.exe.
#include "partnertest.h"
#include "agentlink.h"
#include "tlspeer.h"
#include <doctest/doctest.h>

#include <algorithm>
#include <memory>

using namespace pt;

// A connection to the agent on 127.0.0.1 from `from`, closed when
// destroyed: TLS from the first frame sent or read (tlspeer.h).
class AgentLine {
public:
    explicit AgentLine(unsigned short port, const char *from = "127.0.0.1") { peer_.connect(port, from); }

    bool isConnected() const { return peer_.isConnected(); }
    // Plaintext inside the channel.
    bool send(const std::string &bytes) { return peer_.sendBytes(bytes); }
    bool sendFrame(const Frame &frame) { return peer_.sendFrame(frame); }
    // The next frame from the agent that is not a Ping; false when none
    // comes within 5 seconds. Its data stays valid until the next read.
    bool readFrame(Frame *frame) { return peer_.readFrame(frame, 5000); }
    // Whether the agent has ended the connection, looking without waiting.
    bool isClosedByAgent() { return peer_.isClosedByAgent(); }
    const BYTE *binding() const { return peer_.binding(); }

private:
    tp::TlsPeer peer_;
};

// The Hello frame of node `node`.
static std::string helloBytes(const std::string &node)
{
    Frame hello;
    InitFrame(&hello, FrameHello, 0);
    lstrcpynA(hello.name, node.c_str(), sizeof hello.name);
    ByteBuffer bytes = {};
    std::string laidOut;
    if (AppendFrame(&bytes, &hello))
        laidOut.assign((const char *)bytes.bytes, bytes.length);
    FreeBuffer(&bytes);
    return laidOut;
}

// Opens a session of node `node` over `line`: "SESSION" when welcomed,
// "REFUSED\t<code>" when refused, "" when the agent does not answer.
static std::string hello(AgentLine &line, const std::string &node)
{
    Frame answer;
    if (!line.send(helloBytes(node)) || !line.readFrame(&answer))
        return "";
    if (answer.kind == FrameRefused)
        return "REFUSED\t" + std::to_string(answer.word);
    return answer.kind == FrameWelcome ? "SESSION" : "";
}

static bool greet(AgentLine &line, const std::string &node)
{
    return hello(line, node) == "SESSION";
}

// Connects the session to `share`, proving `password` against the agent's
// challenge: "GRANTED\t<access>\t<permissions>" or "REFUSED\t<code>".
static std::string connectShare(AgentLine &line, const std::string &share,
                                const std::string &password)
{
    static DWORD conversation = 0;
    Frame frame;
    InitFrame(&frame, FrameOpen, ++conversation);
    frame.word = OpenConnectOnly;
    lstrcpynA(frame.name, share.c_str(), sizeof frame.name);
    if (!line.sendFrame(frame) || !line.readFrame(&frame))
        return "";
    if (frame.kind == FrameChallenge) {
        BYTE proof[ProofLength];
        REQUIRE(ProveBoundPassword(password.c_str(), frame.data, share.c_str(), line.binding(), proof));
        InitFrame(&frame, FrameProof, conversation);
        frame.data = proof;
        frame.dataLength = ProofLength;
        if (!line.sendFrame(frame) || !line.readFrame(&frame))
            return "";
    }
    if (frame.kind == FrameOpened)
        return "GRANTED\t" + std::to_string(frame.data[0] | frame.data[1] << 8) + "\t" +
               std::to_string(frame.data[2] | frame.data[3] << 8);
    return frame.kind == FrameRefused ? "REFUSED\t" + std::to_string(frame.word) : "";
}

static std::vector<SessionEntry> sessions()
{
    std::vector<SessionEntry> list(AgentMaxSessions);
    DWORD total = 0, entries = 0;
    if (NDdeSessionEnum(nullptr, 1, (LPBYTE)list.data(), list.size() * sizeof list[0], &total,
                        &entries) != NDDE_NO_ERROR)
        entries = 0;
    list.resize(entries);
    return list;
}

static std::vector<std::string> sessionNames()
{
    std::vector<std::string> names;
    for (auto &session : sessions())
        names.push_back(session.clientName);
    std::sort(names.begin(), names.end());
    return names;
}

// Whether the agent lists exactly the sessions of `nodes` (sorted). A busy
// agent may miss the library's time limit once, so it is asked a few times.
static bool hasSessionsOf(const std::vector<std::string> &nodes)
{
    return waitUntil([&] { return sessionNames() == nodes; }, 5000);
}

// The id of the session of `node`, 0 when there is none.
static DWORD sessionIdOf(const std::string &node)
{
    for (auto &session : sessions())
        if (node == session.clientName)
            return session.sessionId;
    return 0;
}

static DWORD connectionCountOf(const std::string &node)
{
    DWORD total = 0, entries = 0;
    std::vector<BYTE> buffer(4096);
    if (NDdeConnectionEnum(nullptr, (LPSTR)node.c_str(), sessionIdOf(node), 1, buffer.data(),
                           buffer.size(), &total, &entries) != NDDE_NO_ERROR)
        return 0;
    return entries;
}

const std::string Refused = "REFUSED\t1";      // NDDE_ACCESS_DENIED

TEST_CASE("the agent grants a password only to exactly its bytes")
{
    closeStrayAgent();
    ShareCleanup cleanup;
    // 0xAD is a soft hyphen, 0xC6 and 0xE6 the ligature AE in upper and lower case.
    TestShare hyphen(cleanup("PT_HYPHEN$")), ligature(cleanup("PT_AE$")),
        hyphenOnly(cleanup("PT_SOFT$"));
    hyphen.password1 = "K\xAD" "EY";
    hyphen.permissions1 = Request;
    hyphen.password2 = "SECOND";
    hyphen.permissions2 = Advise;
    ligature.password1 = "\xC6";
    ligature.permissions1 = Poke;
    hyphenOnly.password1 = "OTHER";
    hyphenOnly.password2 = "\xAD";
    hyphenOnly.permissions2 = Execute;
    for (TestShare *share : {&hyphen, &ligature, &hyphenOnly})
        REQUIRE(addShare(*share) == NDDE_NO_ERROR);

    RunningAgent agent;
    REQUIRE(agent.start());
    AgentLine line(agent.port());
    REQUIRE(line.isConnected());
    REQUIRE(greet(line, "ATTACKER"));

    // A collation twin, a prefix, an extension and a case variant of each
    // stored password are refused; the password itself is granted.
    CHECK(connectShare(line, "PT_HYPHEN$", "KEY") == Refused);
    CHECK(connectShare(line, "PT_HYPHEN$", "K\xAD" "E") == Refused);
    CHECK(connectShare(line, "PT_HYPHEN$", "K\xAD" "EYS") == Refused);
    CHECK(connectShare(line, "PT_HYPHEN$", "k\xAD" "ey") == Refused);
    CHECK(connectShare(line, "PT_HYPHEN$", "K\xAD" "EY") == "GRANTED\t1\t1");
    CHECK(connectShare(line, "PT_HYPHEN$", "SECON") == Refused);
    CHECK(connectShare(line, "PT_HYPHEN$", "SECONDS") == Refused);
    CHECK(connectShare(line, "PT_HYPHEN$", "Second") == Refused);
    CHECK(connectShare(line, "PT_HYPHEN$", "SECOND") == "GRANTED\t2\t2");
    CHECK(connectShare(line, "PT_AE$", "AE") == Refused);
    CHECK(connectShare(line, "PT_AE$", "\xE6") == Refused);
    CHECK(connectShare(line, "PT_AE$", "\xC6") == "GRANTED\t1\t4");
    CHECK(connectShare(line, "PT_SOFT$", "") == Refused);
    CHECK(connectShare(line, "PT_SOFT$", "\xAD\xAD") == Refused);
    CHECK(connectShare(line, "PT_SOFT$", "\xAD") == "GRANTED\t2\t8");

    // The real client node, giving no password or the twins.
    ChildProcess client;
    REQUIRE(agent.startClient(client, "NODE PT_SOFT$ PT_HYPHEN$:KEY PT_AE$:AE"));
    REQUIRE(client.waitForLine("ready"));
    std::vector<std::string> lines = client.outputLines();
    REQUIRE(lines.size() == 5);
    CHECK(std::vector<std::string>(lines.begin() + 1, lines.end()) ==
          std::vector<std::string>{"refused PT_SOFT$ with code 1",
                                   "refused PT_HYPHEN$ with code 1",
                                   "refused PT_AE$ with code 1", "ready"});
}

TEST_CASE("the agent tells names apart byte for byte")
{
    closeStrayAgent();
    ShareCleanup cleanup;
    TestShare plain(cleanup("PT_TWIN$")), twin(cleanup("PT_TWIN\xAD$"));
    plain.permissions1 = twin.permissions1 = Request;
    REQUIRE(addShare(plain) == NDDE_NO_ERROR);
    REQUIRE(addShare(twin) == NDDE_NO_ERROR);

    RunningAgent agent;
    REQUIRE(agent.start());
    AgentLine line(agent.port()), other(agent.port());
    REQUIRE(line.isConnected());
    REQUIRE(other.isConnected());

    REQUIRE(greet(line, "NODE-1"));

    // Two shares whose names differ by a soft hyphen are two connections.
    CHECK(connectShare(line, "PT_TWIN$", "") == "GRANTED\t1\t1");
    CHECK(connectShare(line, "PT_TWIN\xAD$", "") == "GRANTED\t1\t1");
    CHECK(connectionCountOf("NODE-1") == 2);

    // A session is named by its node: ASCII letters in any case, every
    // other character as it is.
    REQUIRE(greet(other, "node-2"));
    DWORD id = sessionIdOf("NODE-1");
    REQUIRE(id != 0);
    CHECK(NDdeSessionClose(nullptr, (LPSTR) "NODE", id) == NDDE_INVALID_SESSION);
    CHECK(NDdeSessionClose(nullptr, (LPSTR) "NODE_1", id) == NDDE_INVALID_SESSION);
    DWORD otherId = sessionIdOf("NODE-2");
    REQUIRE(otherId != 0);
    CHECK(NDdeSessionClose(nullptr, (LPSTR) "NODE-1", otherId) == NDDE_INVALID_SESSION);
    CHECK(hasSessionsOf({"NODE-1", "NODE-2"}));
    CHECK(NDdeSessionClose(nullptr, (LPSTR) "Node-1", id) == NDDE_NO_ERROR);
    CHECK(NDdeSessionClose(nullptr, (LPSTR) "nOdE-2", otherId) == NDDE_NO_ERROR);
    CHECK(hasSessionsOf({}));
}

TEST_CASE("a greeting with a name that breaks the node-name rule is refused and ends the connection")
{
    closeStrayAgent();
    RunningAgent agent;
    REQUIRE(agent.start());
    // Bytes beyond ASCII (a no-break space, a soft hyphen, a lead byte), a
    // port, a path.
    for (const char *name : {"NODE\xFF", "NODE\xA0", "\xAD\x81", "NODE\xAD", "HOST:7391", "A\\B",
                             "TWO WORDS"}) {
        AgentLine line(agent.port());
        REQUIRE(line.isConnected());
        CHECK_MESSAGE(hello(line, name) == "REFUSED\t6", name);
        CHECK_MESSAGE(waitUntil([&] { return line.isClosedByAgent(); }, 5000), name);
    }

    // A second greeting after a refused one is never welcomed.
    AgentLine line(agent.port());
    REQUIRE(line.isConnected());
    line.send(helloBytes("TWO WORDS") + helloBytes("SECOND"));
    Frame answer;
    REQUIRE(line.readFrame(&answer));
    CHECK(answer.kind == FrameRefused);
    CHECK_FALSE(line.readFrame(&answer));
    CHECK(waitUntil([&] { return line.isClosedByAgent(); }, 5000));
    CHECK(hasSessionsOf({}));
}

TEST_CASE("a connection that does not greet is closed after ten seconds")
{
    closeStrayAgent();
    RunningAgent agent;
    REQUIRE(agent.start());
    AgentLine silent(agent.port()), partial(agent.port()), refused(agent.port()),
        greeted(agent.port());
    REQUIRE(partial.send(helloBytes("NODE").substr(0, 10)));
    REQUIRE(hello(refused, "TWO WORDS") == "REFUSED\t6");
    REQUIRE(greet(greeted, "PATIENT"));
    DWORD start = GetTickCount();
    // A refused greeting ends its connection at once.
    CHECK(waitUntil([&] { return refused.isClosedByAgent(); }, 4000));

    // A slow client has its time to greet.
    Sleep(5000);
    CHECK_FALSE(silent.isClosedByAgent());
    CHECK_FALSE(partial.isClosedByAgent());

    CHECK(waitUntil([&] { return silent.isClosedByAgent() && partial.isClosedByAgent(); },
                    AgentGreetingTimeout + 4000));
    CHECK(GetTickCount() - start >= AgentGreetingTimeout - 1000);
    CHECK_FALSE(greeted.isClosedByAgent());
    CHECK(hasSessionsOf({"PATIENT"}));
}

TEST_CASE("a burst of silent connections neither locks clients out nor harms sessions")
{
    closeStrayAgent();
    ShareCleanup cleanup;
    TestShare share(cleanup("PT_BUSY$"));
    share.permissions1 = Request;
    REQUIRE(addShare(share) == NDDE_NO_ERROR);

    RunningAgent agent;
    REQUIRE(agent.start());
    ChildProcess early;
    REQUIRE(agent.startClient(early, "EARLY PT_BUSY$"));
    REQUIRE(early.waitForLine("ready"));
    AgentLine held(agent.port());
    REQUIRE(greet(held, "HELD"));

    // From an address of their own: a handful wait to greet, the rest are
    // closed at once.
    const int burst = 200;
    std::vector<std::unique_ptr<AgentLine>> silent;
    DWORD start = GetTickCount();
    for (int i = 0; i < burst; i++)
        silent.emplace_back(new AgentLine(agent.port(), "127.0.0.2"));

    // A new client is served while the silent connections are there.
    ChildProcess late;
    REQUIRE(agent.startClient(late, "LATE PT_BUSY$"));
    CHECK(late.waitForLine("granted PT_BUSY$ by password #1 with permissions 0x0001",
                           12000 - std::min<DWORD>(GetTickCount() - start, 12000)));

    // The sessions from before are unharmed.
    CHECK(early.isRunning());
    CHECK(connectShare(held, "PT_BUSY$", "") == "GRANTED\t1\t1");
    CHECK(hasSessionsOf({"EARLY", "HELD", "LATE"}));

    // Every silent connection is closed once its time to greet is over.
    CHECK(waitUntil([&] {
        return std::all_of(silent.begin(), silent.end(), [](std::unique_ptr<AgentLine> &line) {
            return !line->isConnected() || line->isClosedByAgent();
        });
    }, AgentGreetingTimeout + 5000));
    CHECK(hasSessionsOf({"EARLY", "HELD", "LATE"}));
}

TEST_CASE("greeted sessions without conversations never lock other nodes out")
{
    closeStrayAgent();
    ShareCleanup cleanup;
    TestShare share(cleanup("PT_ROOM$"));
    share.permissions1 = Request;
    REQUIRE(addShare(share) == NDDE_NO_ERROR);

    const int limit = 40;
    RunningAgent agent;
    REQUIRE(agent.start("", limit));
    ChildProcess early;
    REQUIRE(agent.startClient(early, "EARLY PT_ROOM$"));
    REQUIRE(early.waitForLine("ready"));

    // Every other place taken by sessions without conversations, from two
    // other addresses.
    std::vector<std::unique_ptr<AgentLine>> idle;
    int welcomed = 0;
    for (int i = 1; i < limit; i++) {
        idle.emplace_back(new AgentLine(agent.port(), i % 2 ? "127.0.0.2" : "127.0.0.3"));
        if (idle.back()->isConnected() && greet(*idle.back(), "IDLE" + std::to_string(i)))
            welcomed++;
    }
    CHECK(welcomed == limit - 1);
    CHECK(sessions().size() == (size_t)limit);

    // Another node is served all the same, and the node holding a
    // conversation keeps its session.
    ChildProcess late;
    REQUIRE(agent.startClient(late, "LATE PT_ROOM$"));
    CHECK(late.waitForLine("granted PT_ROOM$ by password #1 with permissions 0x0001", 15000));
    CHECK(early.isRunning());
    CHECK(waitUntil([&] {
        std::vector<std::string> names = sessionNames();
        return names.size() == (size_t)limit &&
               std::count(names.begin(), names.end(), "EARLY") == 1 &&
               std::count(names.begin(), names.end(), "LATE") == 1;
    }, 5000));

    // One address holds at most its share of the sessions.
    std::vector<std::unique_ptr<AgentLine>> crowd;
    for (int i = 0; i < AgentMaxSessionsPerAddress + 4; i++) {
        crowd.emplace_back(new AgentLine(agent.port(), "127.0.0.4"));
        CHECK(greet(*crowd.back(), "CROWD" + std::to_string(i)));
    }
    std::vector<std::string> names = sessionNames();
    CHECK(std::count_if(names.begin(), names.end(), [](const std::string &name) {
        return name.compare(0, 5, "CROWD") == 0;
    }) <= AgentMaxSessionsPerAddress);
}
