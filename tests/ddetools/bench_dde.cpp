// The DDE benchmark of tools/bench: ddecmd.exe against ddeserver.exe. Prints
// a small request's mean round trip and the hot-link updates a client
// receives per second, with whether any were lost or reordered.
//
//   bench_dde.exe                    against a ddeserver started here
//   bench_dde.exe APP TOPIC PATH     against a server that runs (items Small,
//                                    Counter at OFFERED/s), e.g. through
//                                    \\NODE\NDDE$ and a share; with a 4 MB
//                                    request's throughput
#include "ddetooltest.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

const DWORD Requests = 1000;
const DWORD OfferedRate = 10000;       // Counter steps per second
const DWORD AdviseSeconds = 5;

// "ddecmd APP TOPIC <arguments>", its output when it succeeded.
bool ddecmd(const std::string &app, const std::string &topic, const std::string &arguments, std::string *output)
{
    dt::CommandRun run = dt::runCommand(app + " " + topic + " " + arguments);
    *output = run.output;
    if (run.exitCode != 0)
        printf("ddecmd %s failed with exit code %lu: %s", arguments.c_str(), run.exitCode, run.output.c_str());
    return run.exitCode == 0;
}

// The figures of one DDE path to a server with items Small and Counter.
bool measure(const char *path, const std::string &app, const std::string &topic)
{
    std::string output;
    if (!ddecmd(app, topic, "request Small /repeat:" + std::to_string(Requests), &output))
        return false;
    size_t mean = output.find("mean_us ");
    if (mean == std::string::npos)
        return false;
    printf("request round trip (%s, %lu requests): %s us\n", path, Requests,
           output.substr(mean + 8, output.find_first_of("\r\n", mean) - mean - 8).c_str());

    if (!ddecmd(app, topic, "advise Counter " + std::to_string(AdviseSeconds) + " /count /timeout:60000", &output))
        return false;
    unsigned long count = 0, first = 0, last = 0;
    char inOrder[8] = "";
    if (sscanf(output.c_str(), "updates %lu first %lu last %lu inorder %7s", &count, &first, &last, inOrder) != 4)
        return false;
    unsigned long expected = count ? last - first + 1 : 0;
    printf("hot link (%s, Counter offered at %lu/s for %lu s): %lu updates/s, lost %lu, in order %s\n", path,
           OfferedRate, AdviseSeconds, count / AdviseSeconds, expected - count, inOrder);
    return true;
}

// A 4 MB item poked once, then requested ten times: the throughput.
bool measureBigRequest(const char *path, const std::string &app, const std::string &topic)
{
    const DWORD size = 4 * 1024 * 1024, rounds = 10;
    std::string bytes(size, '\0');
    for (DWORD i = 0; i < size; i++)
        bytes[i] = (char)(i * 13);
    std::string file = dt::tempPath("bench-dde-big.bin"), output;
    bool measured = dt::writeText(file, bytes) &&
                    ddecmd(app, topic, "poke Big @" + file + " BenchBinary /timeout:60000", &output) &&
                    ddecmd(app, topic, "request Big BenchBinary /timeout:60000 /out:" + file +
                           " /repeat:" + std::to_string(rounds), &output);
    DeleteFileA(file.c_str());
    size_t mean = output.find("mean_us ");
    if (!measured || mean == std::string::npos)
        return false;
    double seconds = atof(output.c_str() + mean + 8) / 1e6;
    printf("4 MB request (%s): %.0f ms, %.1f MB/s\n", path, seconds * 1000, 4 / seconds);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4)
        return measureBigRequest(argv[3], argv[1], argv[2]) && measure(argv[3], argv[1], argv[2]) ? 0 : 1;
    dt::RunningServer server;
    if (!server.start("BENCHSRV", "QUOTES", "/rate:" + std::to_string(OfferedRate) + " /item:Small=hello")) {
        printf("ddeserver.exe did not start\n");
        return 1;
    }
    bool measured = measure("local", "BENCHSRV", "QUOTES");
    return server.close() && measured ? 0 : 1;
}
