// The remote administration benchmark of tools/bench-admin: NDdeShareEnum
// of every share of a node and NDdeShareGetInfo of one, timed through
// Tessaflat.dll on this node ("-") or on another (\\NODE), and a GetInfo of a
// share that does not exist, which costs the node next to nothing: on
// another node, one round trip of the session.
//
//   bench_admin.exe SERVER fill N      adds shares BENCH0000$ .. with N-1 in the number
//   bench_admin.exe SERVER empty N     deletes them again
//   bench_admin.exe SERVER time LABEL  prints the three figures, a line each
//
// The listing is timed on its own, then the two records in turn, each for
// about three seconds; each call's mean is printed in microseconds.
#include "tessaflat.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

const int MinRuns = 5;
const int MaxRuns = 2000;
const double RunSeconds = 3.0;
const char ReadShare[] = "BENCH0000$";

LPSTR server;

void shareName(int index, char name[16])
{
    sprintf(name, "BENCH%04d$", index);
}

int fill(int count)
{
    static char app[] = "BENCHSRV", topic[] = "QUOTES", empty[] = "";
    for (int i = 0; i < count; i++) {
        ShareInfo share = {};
        shareName(i, share.shareName);
        share.appName = app;
        share.topicName = topic;
        share.password1 = (BYTE *)empty;
        share.permissions1 = Request | Advise;
        share.password2 = (BYTE *)empty;
        share.firstItem = empty;
        UINT code = NDdeShareAdd(server, 2, (LPBYTE)&share, sizeof share);
        if (code != NDDE_NO_ERROR && code != NDDE_SHARE_ALREADY_EXIST) {
            fprintf(stderr, "share %d: code %u\n", i, code);
            return 2;
        }
    }
    return 0;
}

int empty(int count)
{
    for (int i = 0; i < count; i++) {
        char name[16];
        shareName(i, name);
        NDdeShareDel(server, name, 0);
    }
    return 0;
}

// The two share records, found and not found, are read in turn, round
// after round, so that whatever else the machine does meanwhile weighs on
// both alike; the listing is timed on its own rounds before them, so that
// the work a large answer leaves behind falls on the next listing alone.
enum TimedCall { ListingCall, ReadingCall, RefusedCall, TimedCallCount };

// Makes the calls `first` to `last` in turn for about RunSeconds (at least
// MinRuns, at most MaxRuns rounds); each one's mean in microseconds goes to
// `mean`. False when a call fails.
template <typename Call>
bool timeInTurn(Call call, int first, int last, double mean[TimedCallCount])
{
    LARGE_INTEGER frequency, started, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    LONGLONG spent[TimedCallCount] = {};
    int rounds = 0;
    double elapsed = 0;
    while (rounds < MaxRuns && (rounds < MinRuns || elapsed < RunSeconds)) {
        for (int which = first; which <= last; which++) {
            QueryPerformanceCounter(&before);
            if (!call(which))
                return false;
            QueryPerformanceCounter(&after);
            spent[which] += after.QuadPart - before.QuadPart;
        }
        rounds++;
        elapsed = (double)(after.QuadPart - started.QuadPart) / frequency.QuadPart;
    }
    for (int which = first; which <= last; which++)
        mean[which] = spent[which] * 1e6 / frequency.QuadPart / rounds;
    return true;
}

int timeCalls(const char *label)
{
    DWORD entries = 0, total = 0;
    NDdeShareEnum(server, 0, nullptr, 0, &entries, &total);
    std::vector<BYTE> names(total + 1);
    DWORD size = 0;
    WORD items = 0;
    NDdeShareGetInfo(server, (LPSTR)ReadShare, 2, nullptr, 0, &size, &items);
    std::vector<BYTE> record(size + 1);
    auto call = [&](int which) {
        switch (which) {
        case ListingCall:
            return NDdeShareEnum(server, 0, names.data(), (DWORD)names.size(), &entries, &total) ==
                   NDDE_NO_ERROR;
        case ReadingCall:
            return NDdeShareGetInfo(server, (LPSTR)ReadShare, 2, record.data(), (DWORD)record.size(),
                                    &size, &items) == NDDE_NO_ERROR;
        default:
            return NDdeShareGetInfo(server, (LPSTR) "NONE$", 2, record.data(), (DWORD)record.size(),
                                    &size, &items) == NDDE_SHARE_NOT_EXIST;
        }
    };
    double mean[TimedCallCount];
    if (!timeInTurn(call, ListingCall, ListingCall, mean) ||
        !timeInTurn(call, ReadingCall, RefusedCall, mean)) {
        fprintf(stderr, "a call failed\n");
        return 2;
    }
    printf("share list of %lu shares (%s): %.0f us\n", entries, label, mean[ListingCall]);
    printf("share record (%s): %.0f us\n", label, mean[ReadingCall]);
    printf("share record that does not exist (%s): %.0f us\n", label, mean[RefusedCall]);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return 1;
    server = strcmp(argv[1], "-") == 0 ? nullptr : argv[1];
    if (strcmp(argv[2], "fill") == 0)
        return fill(atoi(argv[3]));
    if (strcmp(argv[2], "empty") == 0)
        return empty(atoi(argv[3]));
    if (strcmp(argv[2], "time") == 0)
        return timeCalls(argv[3]);
    return 1;
}
