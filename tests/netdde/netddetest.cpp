#include "netddetest.h"
#include "agentlink.h"

namespace nt {

bool startNode(pt::RunningAgent &agent)
{
    pt::closeStrayAgent();
    return agent.start(std::string("/node:") + Node + " /bind:127.0.0.1");
}

bool ServedNode::start(std::vector<pt::TestShare> shares, const char *serverOptions)
{
    for (pt::TestShare &share : shares) {
        pt::deleteShare(cleanup(share.name));     // one left by a run that did not finish
        if (pt::addShare(share) != NDDE_NO_ERROR)
            return false;
    }
    return startNode(agent) && (!serverOptions || server.start(Server, Topic, serverOptions));
}

pt::TestShare serverShare(const std::string &name, DWORD permissions, const std::string &password)
{
    pt::TestShare share(name);
    share.app = Server;
    share.topic = Topic;
    share.password1 = password;
    share.permissions1 = permissions;
    return share;
}

std::string shareArguments(const std::string &share, const std::string &arguments)
{
    return std::string("\\\\") + Node + "\\NDDE$ " + share + " " + arguments;
}

dt::CommandRun onShare(const std::string &share, const std::string &arguments)
{
    return dt::runCommand(shareArguments(share, arguments));
}

std::vector<std::string> agentLines(pt::RunningAgent &agent)
{
    return ui::listLines(agent.window(), AgentStateListId);
}

bool agentShows(pt::RunningAgent &agent, const std::string &text)
{
    return ui::waitUntil([&] {
        for (const std::string &line : agentLines(agent))
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    });
}

HWND waitForPasswordDialog(pt::RunningAgent &agent)
{
    DWORD process = 0;
    GetWindowThreadProcessId(agent.window(), &process);
    return ui::waitForDialog(process, PasswordCaption);
}

std::vector<SessionEntry> listedSessions()
{
    std::vector<BYTE> buffer(4096);
    DWORD total = 0, entries = 0;
    if (NDdeSessionEnum(nullptr, 1, buffer.data(), (DWORD)buffer.size(), &total, &entries) !=
        NDDE_NO_ERROR)
        return {};
    const SessionEntry *first = (const SessionEntry *)buffer.data();
    return std::vector<SessionEntry>(first, first + entries);
}

std::vector<std::string> listedConnections(const SessionEntry &session)
{
    std::vector<BYTE> buffer(4096);
    DWORD total = 0, entries = 0;
    std::vector<std::string> lines;
    if (NDdeConnectionEnum(nullptr, (LPSTR)session.clientName, session.sessionId, 1,
                           buffer.data(), (DWORD)buffer.size(), &total, &entries) != NDDE_NO_ERROR)
        return lines;
    const ConnectionEntry *list = (const ConnectionEntry *)buffer.data();
    for (DWORD i = 0; i < entries; i++)
        lines.push_back(std::string(list[i].connectedShare) + " " +
                        std::to_string(list[i].connectionWord1) + " " +
                        std::to_string(list[i].connectionWord2));
    return lines;
}

} // namespace nt
