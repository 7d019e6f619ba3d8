#include "ddetooltest.h"

#include <stdio.h>

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

std::string tempPath(const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

std::string fileText(const std::string &path)
{
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char chunk[65536];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, count);
    fclose(file);
    return text;
}

bool writeText(const std::string &path, const std::string &bytes)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

Summary summaryOf(const std::string &output)
{
    Summary summary;
    char inOrder[8] = "";
    summary.read = sscanf(output.c_str(), "updates %lu first %lu last %lu inorder %7s", &summary.count,
                          &summary.first, &summary.last, inOrder) == 4;
    summary.inOrder = std::string(inOrder) == "yes";
    return summary;
}

// The update lines "HH:MM:SS.mmm VALUE" of an advise, as their values.
std::vector<std::string> updateValues(const std::string &output)
{
    std::vector<std::string> values;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find("\r\n", start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        unsigned hours, minutes, seconds, milliseconds;
        char separator;
        if (line.size() > 13 && sscanf(line.c_str(), "%2u:%2u:%2u.%3u%c", &hours, &minutes, &seconds,
                                       &milliseconds, &separator) == 5 && separator == ' ')
            values.push_back(line.substr(13));
        start = end + 2;
    }
    return values;
}

} // namespace dt
