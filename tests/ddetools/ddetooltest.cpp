#include "ddetooltest.h"

namespace dt {

bool RunningServer::start(const std::string &service, const std::string &topic, const std::string &options)
{
    title_ = "ddeserver " + (service.empty() ? "ddeserver" : service) + "|" + (topic.empty() ? "*" : topic);
    return process_.start("ddeserver.exe", service + " " + topic + " " + options) &&
           pt::waitUntil([this] { return window() != NULL || !process_.isRunning(); }) && window() != NULL;
}

HWND RunningServer::window() const
{
    return FindWindowA(ServerWindowClass, title_.c_str());
}

bool RunningServer::close()
{
    if (!process_.isRunning())
        return true;
    HWND server = window();
    if (server)
        PostMessageA(server, WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    bool closed = process_.waitForExit(&exitCode) && exitCode == 0;
    process_.terminate();
    return closed;
}

CommandRun RunningCommand::finish()
{
    CommandRun run;
    if (!process_.waitForExit(&run.exitCode))
        run.exitCode = 0xFFFFFFFF;
    run.output = process_.output();
    process_.terminate();
    return run;
}

CommandRun runCommand(const std::string &arguments)
{
    RunningCommand command;
    if (!command.start(arguments))
        return CommandRun();
    return command.finish();
}

} // namespace dt
