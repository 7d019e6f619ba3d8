// addshare.exe: puts a share into this node's store through Tessaflat.dll,
// for scripts that set up a node (tools/nodes).
//
//   addshare.exe SHARE APPLICATION TOPIC [PASSWORD]
//   addshare.exe /closesessions
//
// The share gets every permission for password #1 (empty when none is
// given) and lists no items; a share of that name is replaced. Exit code 0
// when stored, 1 for a wrong command line, 2 when the library refuses it.
// /closesessions closes every session this node serves (exit code 2 when
// one cannot be).
#include "partnertest.h"

#include <stdio.h>
#include <vector>
#include <string.h>

static int closeSessions()
{
    DWORD total = 0, entries = 0;
    NDdeSessionEnum(NULL, 1, NULL, 0, &total, &entries);
    std::vector<BYTE> buffer(total + sizeof(SessionEntry));
    if (NDdeSessionEnum(NULL, 1, buffer.data(), (DWORD)buffer.size(), &total, &entries) !=
        NDDE_NO_ERROR)
        return 2;
    const SessionEntry *sessions = (const SessionEntry *)buffer.data();
    for (DWORD i = 0; i < entries; i++)
        if (NDdeSessionClose(NULL, (LPSTR)sessions[i].clientName, sessions[i].sessionId) !=
            NDDE_NO_ERROR)
            return 2;
    printf("%lu session(s) closed\n", entries);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "/closesessions") == 0)
        return closeSessions();
    if (argc < 4 || argc > 5) {
        fprintf(stderr, "usage: addshare SHARE APPLICATION TOPIC [PASSWORD]\n");
        return 1;
    }
    pt::TestShare share(argv[1]);
    share.app = argv[2];
    share.topic = argv[3];
    share.password1 = argc == 5 ? argv[4] : "";
    share.permissions1 = Request | Advise | Poke | Execute | StartApp;
    UINT result = pt::hasShare(share.name) ? pt::setShare(share.name, share) : pt::addShare(share);
    if (result != NDDE_NO_ERROR) {
        fprintf(stderr, "addshare: share %s refused with code %u\n", argv[1], result);
        return 2;
    }
    printf("share %s stored: %s|%s\n", argv[1], argv[2], argv[3]);
    return 0;
}
