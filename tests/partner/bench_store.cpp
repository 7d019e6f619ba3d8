// Benchmark of the share store through Tessaflat.dll: the time per share to
// add, list (NDdeShareEnum as the front ends call it) and read
// (NDdeShareGetInfo as the front ends call it) as the store grows from 1,000
// to 10,000 shares, and how the time per share grows (1.0 is linear).
#include "partnertest.h"

#include <algorithm>
#include <cstdio>

using namespace pt;

static double now()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / frequency.QuadPart;
}

static std::string benchName(int i)
{
    return "PB_" + std::to_string(i) + "$";
}

// A share as a user would make it: passwords, a first item and two more.
static TestShare benchShare(int i)
{
    TestShare share(benchName(i));
    share.app = "Excel";
    share.topic = "Sheet" + std::to_string(i) + ".xls";
    share.password1 = "READER";
    share.permissions1 = Request | Advise;
    share.password2 = "WRITER";
    share.permissions2 = Request | Advise | Poke;
    share.firstItem = "R1C1";
    share.items = {{"R1C2", Request}, {"R2C1:R9C9", Advise}};
    return share;
}

// Seconds per share: adding the shares i = from .. to-1, listing the whole
// store (the faster of two lists), reading the shares from .. to-1.
struct Timings {
    double add, list, read;
};

static bool measureBatch(int from, int to, Timings *timings)
{
    double start = now();
    for (int i = from; i < to; i++) {
        TestShare share = benchShare(i);
        if (addShare(share) != NDDE_NO_ERROR)
            return false;
    }
    timings->add = (now() - start) / (to - from);

    timings->list = 1e9;
    for (int round = 0; round < 2; round++) {
        start = now();
        if (listShares().size() < (size_t)to)
            return false;
        timings->list = std::min(timings->list, (now() - start) / to);
    }

    start = now();
    for (int i = from; i < to; i++)
        if (readShare(benchName(i)).result != NDDE_NO_ERROR)
            return false;
    timings->read = (now() - start) / (to - from);
    return true;
}

static void removeLeftovers()
{
    for (auto &name : listShares())
        if (name.compare(0, 3, "PB_") == 0)
            deleteShare(name);
}

// Grows the store by 1,000 shares at a time to 10,000: each row is one
// batch added, the whole store listed and the batch read back. Then all
// 10,000 are read and deleted.
int main()
{
    removeLeftovers();
    const int batch = 1000, total = 10000;
    printf("share store through Tessaflat.dll, microseconds per share\n");
    printf("%8s %10s %10s %10s\n", "shares", "add", "list", "read");
    Timings first = {}, last = {};
    for (int size = batch; size <= total; size += batch) {
        if (!measureBatch(size - batch, size, &last)) {
            printf("failed at %d shares\n", size);
            removeLeftovers();
            return 1;
        }
        if (size == batch)
            first = last;
        printf("%8d %10.1f %10.2f %10.1f\n", size, last.add * 1e6, last.list * 1e6,
               last.read * 1e6);
    }
    printf("growth of the time per share from %d to %d shares (1.0 = linear): "
           "add %.2f, list %.2f, read %.2f\n", batch, total, last.add / first.add,
           last.list / first.list, last.read / first.read);

    double start = now();
    for (int i = 0; i < total; i++)
        if (readShare(benchName(i)).result != NDDE_NO_ERROR)
            return 1;
    double readAll = now() - start;
    start = now();
    for (int i = 0; i < total; i++)
        if (deleteShare(benchName(i)) != NDDE_NO_ERROR)
            return 1;
    double deleteAll = now() - start;
    printf("listing all %d shares: %.2f s; reading all: %.2f s (%.1f us per share); "
           "deleting all: %.2f s\n", total, last.list * total, readAll, readAll / total * 1e6,
           deleteAll);
    return 0;
}
