// Benchmark of Tessaflat against the scripted partner, all in one run:
// what the library adds to a partner call, and what packing and unpacking
// a share of 100 items costs next to copying the same bytes with memcpy.
#include <stdio.h>
#include <string.h>
#include <vector>
#include "transfer.h"
#include "scripted_partner.h"

namespace {

const int CallRuns = 100000;
const int ShareRuns = 10000;
const int ShareItems = 100;
const int Rounds = 5;

LARGE_INTEGER frequency;

// Microseconds per run of `action`: the best of Rounds rounds of `runs`
// runs each, after a warm-up, so that one-time costs and stray delays of
// the emulated machine stay out of the figure.
template <typename Action> double microsecondsPerRun(int runs, Action action)
{
    for (int i = 0; i < runs / 10; i++)
        action();
    double best = 0;
    for (int round = 0; round < Rounds; round++) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (int i = 0; i < runs; i++)
            action();
        QueryPerformanceCounter(&end);
        double perRun = (end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart / runs;
        if (round == 0 || perRun < best)
            best = perRun;
    }
    return best;
}

// A share with ShareItems additional items, its strings owned here.
struct BenchShare {
    char app[16] = "BenchServer";
    char topic[16] = "BenchTopic";
    char first[16] = "FirstItem";
    char password[16] = "PASSWORD";
    char names[ShareItems][16];
    AddItemInfo items[ShareItems];
    ShareInfo info = {};

    BenchShare()
    {
        lstrcpyA(info.shareName, "BENCH$");
        info.appName = app;
        info.topicName = topic;
        info.password1 = (BYTE *)password;
        info.password1Length = lstrlenA(password);
        info.permissions1 = Request | Advise | Poke;
        info.password2 = (BYTE *)password;
        info.password2Length = lstrlenA(password);
        info.permissions2 = Request;
        info.firstItem = first;
        for (int i = 0; i < ShareItems; i++) {
            wsprintfA(names[i], "ITEM%03d", i);
            items[i].itemName = names[i];
            items[i].permissions = Request | Advise;
        }
        info.addItemCount = ShareItems;
        info.addItems = items;
    }
};

void printCall(const char *name, double library, double direct)
{
    printf("  %-44s %9.3f us %9.3f us %9.3f us\n", name, library, direct, library - direct);
}

} // namespace

int main()
{
    QueryPerformanceFrequency(&frequency);
    HMODULE partner = GetModuleHandleA("Tessaseg.dll");
    PartnerScript *scripted = loadedPartnerScript();
    const PartnerThunkBlock *partnerBlock =
        partner ? (const PartnerThunkBlock *)GetProcAddress(partner, "thk_ThunkData16") : nullptr;
    if (!scripted || !partnerBlock) {
        printf("bench_calls: the scripted Tessaseg.dll is not beside this program\n");
        return 1;
    }
    PartnerScript &script = *scripted;
    memset(&script, 0, sizeof script);
    const PartnerOperation *operations = partnerBlock->operations;

    // The share of 100 items, packed once to serve as the partner's answer.
    BenchShare share;
    TempBlock packed;
    if (!PackShareInfo(&share.info, &packed)) {
        printf("bench_calls: cannot pack the share\n");
        return 1;
    }
    const DWORD shareSize = (DWORD)GlobalSize(packed.handle);
    std::vector<BYTE> buffer(shareSize), copy(shareSize);
    memcpy(script.answer.reply, packed.data, shareSize);
    script.answer.replySize = shareSize;
    script.answer.writeCounts = true;
    script.answer.totalAvailable = shareSize;
    script.answer.count = ShareItems;

    printf("Tessaflat: calls through the library and direct partner calls (scripted partner,\n"
           "best of %d rounds of %d calls, %d for the share)\n", Rounds, CallRuns, ShareRuns);
    printf("  %-44s %12s %12s %12s\n", "call (per call)", "library", "direct", "added");

    char node[64];
    DWORD nodeArgs[] = {(DWORD)(UINT_PTR)node, sizeof node};
    double nodeLibrary = microsecondsPerRun(CallRuns, [&] { NDdeGetNodeName(node, sizeof node); });
    double nodeDirect =
        microsecondsPerRun(CallRuns, [&] { operations[PartnerGetNodeName](nodeArgs); });
    printCall("NDdeGetNodeName", nodeLibrary, nodeDirect);

    char shareName[] = "BENCH$";
    DWORD total = 0;
    WORD items = 0;
    DWORD getInfoArgs[] = {0, (DWORD)(UINT_PTR)shareName, 2, (DWORD)(UINT_PTR)buffer.data(),
                           shareSize, (DWORD)(UINT_PTR)&total, (DWORD)(UINT_PTR)&items};
    UINT check = NDdeShareGetInfo(nullptr, shareName, 2, buffer.data(), shareSize, &total, &items);
    if (check != NDDE_NO_ERROR || ((ShareInfo *)buffer.data())->addItemCount != ShareItems) {
        printf("bench_calls: NDdeShareGetInfo answered %u\n", check);
        return 1;
    }
    double getInfoLibrary = microsecondsPerRun(ShareRuns, [&] {
        NDdeShareGetInfo(nullptr, shareName, 2, buffer.data(), shareSize, &total, &items);
    });
    double getInfoDirect =
        microsecondsPerRun(ShareRuns, [&] { operations[PartnerShareGetInfo](getInfoArgs); });
    char label[64];
    wsprintfA(label, "NDdeShareGetInfo (%d items, %lu bytes)", ShareItems, shareSize);
    printCall(label, getInfoLibrary, getInfoDirect);

    printf("Tessaflat: a share of %d items, %lu bytes (per share)\n", ShareItems, shareSize);
    double pack = microsecondsPerRun(ShareRuns, [&] {
        TempBlock block;
        PackShareInfo(&share.info, &block);
        freeTempBlock(&block);
    });
    double unpack = microsecondsPerRun(
        ShareRuns, [&] { UnpackShareInfo(packed.data, shareSize, ShareItems, buffer.data()); });
    double copying = microsecondsPerRun(ShareRuns, [&] {
        memcpy(copy.data(), packed.data, shareSize);
        asm volatile("" ::: "memory");   // every copy counts: none may be merged away
    });
    printf("  %-44s %9.3f us\n", "pack (with its block's allocation)", pack);
    printf("  %-44s %9.3f us\n", "unpack", unpack);
    printf("  %-44s %9.3f us\n", "memcpy of the same bytes", copying);
    printf("  pack is %.1f x memcpy, unpack is %.1f x memcpy\n", pack / copying, unpack / copying);

    freeTempBlock(&packed);
    return 0;
}
