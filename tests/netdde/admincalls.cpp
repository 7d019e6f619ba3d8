// admincalls.exe: the share functions of Tessaflat.dll on a node, for the
// remote administration test (remote_admin.sh), one line per answer.
//   admincalls SERVER walk     every function in turn, on share RADM$: codes,
//                              counts and result bytes (the buffers sit at
//                              one fixed address, so that pointers into
//                              them compare between programs)
//   admincalls SERVER list     NDdeShareEnum's code and count
//   admincalls SERVER close    closes the first session SERVER lists
//   admincalls SERVER shares   every share as NAME APPLICATION|TOPIC, a line each
//   admincalls SERVER delete:NAME   deletes share NAME
//   admincalls /answer:CAPTION:PASSWORD   types PASSWORD into the password
//                              dialog whose caption begins with CAPTION
//                              (within 60 s), or cancels it for PASSWORD "-"
// SERVER "-" is the local machine (null).
#include "tessaflat.h"
#include <stdio.h>
#include <string.h>

static char *const FixedAddress = (char *)0x30000000;
const DWORD FixedSize = 1024 * 1024;
static char *fixedBuffer;
static LPSTR server;

static void printBytes(const char *label, UINT code, DWORD first, DWORD second, DWORD size)
{
    printf("%s %u %lu %lu", label, code, first, second);
    for (DWORD i = 0; i < size; i++)
        printf("%s%02X", i ? "" : " ", (BYTE)fixedBuffer[i]);
    printf("\n");
}

// Fills the fixed buffer so that bytes a call leaves alone show.
static char *freshBuffer()
{
    memset(fixedBuffer, 0xCC, FixedSize);
    return fixedBuffer;
}

static void listShares(const char *label, DWORD size, bool withBuffer)
{
    DWORD entries = 7, total = 7;
    UINT code = NDdeShareEnum(server, 0, withBuffer ? (LPBYTE)freshBuffer() : 0, size, &entries,
                              &total);
    printBytes(label, code, entries, total, withBuffer ? size + 4 : 0);
}

static DWORD shareTotal()
{
    DWORD entries = 0, total = 0;
    NDdeShareEnum(server, 0, 0, 0, &entries, &total);
    return total;
}

static void readShare(const char *label, const char *name, DWORD size)
{
    DWORD total = 7;
    WORD items = 7;
    UINT code = NDdeShareGetInfo(server, (LPSTR)name, 2, (LPBYTE)freshBuffer(), size, &total, &items);
    printBytes(label, code, total, items, size + 4);
}

static void makeShare(ShareInfo *share, AddItemInfo *items, const char *topic)
{
    static char app[] = "RADMAPP", first[] = "FIRST", one[] = "ONE", two[] = "TWO";
    static BYTE password[] = "PW1";
    memset(share, 0, sizeof *share);
    strcpy(share->shareName, "RADM$");
    share->appName = app;
    share->topicName = (char *)topic;
    share->password1 = password;
    share->password1Length = 3;
    share->permissions1 = Request | Advise;
    share->password2 = (BYTE *)"";
    share->permissions2 = Request;
    share->firstItem = first;
    share->addItemCount = 2;
    items[0].itemName = one;
    items[0].permissions = Request;
    items[1].itemName = two;
    items[1].permissions = Poke;
    share->addItems = items;
}

static void listSessions(const char *label, DWORD size)
{
    DWORD total = 7, entries = 7;
    UINT code = NDdeSessionEnum(server, 1, (LPBYTE)freshBuffer(), size, &total, &entries);
    printBytes(label, code, total, entries, size + 4);
}

static void walk()
{
    ShareInfo share;
    AddItemInfo items[2];
    printf("delete-before %u\n", NDdeShareDel(server, (LPSTR) "RADM$", 0));
    makeShare(&share, items, "TOPIC");
    printf("add %u\n", NDdeShareAdd(server, 2, (LPBYTE)&share, sizeof share + 256));
    makeShare(&share, items, "TOPIC");
    printf("add-again %u\n", NDdeShareAdd(server, 2, (LPBYTE)&share, sizeof share + 256));
    printf("add-level %u\n", NDdeShareAdd(server, 1, (LPBYTE)&share, sizeof share + 256));
    DWORD total = shareTotal();
    listShares("enum-null", 0, false);
    listShares("enum-zero", 0, true);
    listShares("enum-short", total - 1, true);
    listShares("enum-exact", total, true);
    listShares("enum-large", total + 100, true);
    DWORD entries = 0, none = 0;
    printf("enum-level %u\n", NDdeShareEnum(server, 1, 0, 0, &entries, &total));
    printf("enum-nocount %u\n", NDdeShareEnum(server, 0, 0, 0, 0, &none));

    DWORD needed = 0;
    WORD itemCount = 0;
    NDdeShareGetInfo(server, (LPSTR) "RADM$", 2, 0, 0, &needed, &itemCount);
    readShare("get-zero", "RADM$", 0);
    readShare("get-short", "RADM$", needed - 1);
    readShare("get-exact", "RADM$", needed);
    readShare("get-missing", "NONE$", 400);
    readShare("get-badname", "BAD\\NAME", 400);
    makeShare(&share, items, "OTHERTOPIC");
    share.addItemCount = 1;
    printf("set %u\n", NDdeShareSetInfo(server, (LPSTR) "RADM$", 2, (LPBYTE)&share, sizeof share, 0));
    printf("set-param %u\n",
           NDdeShareSetInfo(server, (LPSTR) "RADM$", 2, (LPBYTE)&share, sizeof share, 3));
    NDdeShareGetInfo(server, (LPSTR) "RADM$", 2, 0, 0, &needed, &itemCount);
    readShare("get-changed", "RADM$", needed);

    DWORD sessionBytes = 0, sessions = 0;
    NDdeSessionEnum(server, 1, 0, 0, &sessionBytes, &sessions);
    listSessions("sessions-zero", 0);
    if (sessionBytes)
        listSessions("sessions-short", sessionBytes - 1);
    listSessions("sessions-exact", sessionBytes);
    printf("sessions-level %u\n", NDdeSessionEnum(server, 0, 0, 0, &sessionBytes, &sessions));
    if (sessions) {
        SessionEntry first;
        NDdeSessionEnum(server, 1, (LPBYTE)&first, sizeof first, &sessionBytes, &sessions);
        DWORD connectionBytes = 7, connections = 7;
        UINT code = NDdeConnectionEnum(server, first.clientName, first.sessionId, 1,
                                       (LPBYTE)freshBuffer(), 256, &connectionBytes, &connections);
        printBytes("connections", code, connectionBytes, connections, 16);
    }
    DWORD connectionBytes = 7, connections = 7;
    printf("connections-unknown %u\n",
           NDdeConnectionEnum(server, (LPSTR) "NOBODY", 1, 1, (LPBYTE)freshBuffer(), 256,
                              &connectionBytes, &connections));
    printf("close-unknown %u\n", NDdeSessionClose(server, (LPSTR) "NOBODY", 1));
    printf("delete %u\n", NDdeShareDel(server, (LPSTR) "RADM$", 0));
    printf("delete-again %u\n", NDdeShareDel(server, (LPSTR) "RADM$", 0));
    printf("delete-reserved %u\n", NDdeShareDel(server, (LPSTR) "RADM$", 1));
}

static int closeFirstSession()
{
    SessionEntry first;
    DWORD total = 0, entries = 0;
    UINT code = NDdeSessionEnum(server, 1, (LPBYTE)&first, sizeof first, &total, &entries);
    if (code != 0 || entries == 0) {
        printf("close none %u\n", code);
        return 1;
    }
    printf("close %s %u\n", first.clientName, NDdeSessionClose(server, first.clientName, first.sessionId));
    return 0;
}

static void printShares()
{
    DWORD entries = 0, total = 0;
    NDdeShareEnum(server, 0, 0, 0, &entries, &total);
    if (total >= FixedSize || NDdeShareEnum(server, 0, (LPBYTE)freshBuffer(), total, &entries, &total))
        return;
    static char names[FixedSize];
    memcpy(names, fixedBuffer, total);
    names[total] = 0;
    for (const char *name = names; *name && name < names + total; name += strlen(name) + 1) {
        DWORD size = 0;
        WORD items = 0;
        NDdeShareGetInfo(server, (LPSTR)name, 2, 0, 0, &size, &items);
        if (size >= FixedSize ||
            NDdeShareGetInfo(server, (LPSTR)name, 2, (LPBYTE)freshBuffer(), size, &size, &items))
            continue;
        const ShareInfo *share = (const ShareInfo *)fixedBuffer;
        printf("%s %s|%s\n", name, share->appName, share->topicName);
    }
}

// Answers the password dialog whose caption begins with `caption`.
static int answerDialog(const char *caption, const char *password)
{
    for (int round = 0; round < 600; round++) {
        HWND found = 0;
        for (HWND window = GetTopWindow(0); window; window = GetWindow(window, GW_HWNDNEXT)) {
            char text[128] = "";
            GetWindowTextA(window, text, sizeof text);
            if (IsWindowVisible(window) && strncmp(text, caption, strlen(caption)) == 0) {
                found = window;
                break;
            }
        }
        if (found) {
            if (strcmp(password, "-") == 0) {
                PostMessageA(found, WM_COMMAND, IDCANCEL, 0);
            } else {
                SendMessageA(GetDlgItem(found, 1002), WM_SETTEXT, 0, (LPARAM)password);
                PostMessageA(found, WM_COMMAND, IDOK, 0);
            }
            printf("answered\n");
            return 0;
        }
        Sleep(100);
    }
    printf("no dialog\n");
    return 1;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, 0, _IONBF, 0);
    if (argc == 2 && strncmp(argv[1], "/answer:", 8) == 0) {
        char *caption = argv[1] + 8, *colon = strrchr(caption, ':');
        if (!colon)
            return 2;
        *colon = 0;
        return answerDialog(caption, colon + 1);
    }
    if (argc != 3)
        return 2;
    server = strcmp(argv[1], "-") == 0 ? 0 : argv[1];
    fixedBuffer = (char *)VirtualAlloc(FixedAddress, FixedSize, MEM_RESERVE | MEM_COMMIT,
                                       PAGE_READWRITE);
    if (fixedBuffer != FixedAddress)
        return 3;
    if (strcmp(argv[2], "walk") == 0) {
        walk();
    } else if (strcmp(argv[2], "list") == 0) {
        DWORD entries = 0, total = 0;
        UINT code = NDdeShareEnum(server, 0, 0, 0, &entries, &total);
        printf("list %u %lu\n", code, entries);
    } else if (strcmp(argv[2], "shares") == 0) {
        printShares();
    } else if (strncmp(argv[2], "delete:", 7) == 0) {
        printf("delete %u\n", NDdeShareDel(server, argv[2] + 7, 0));
    } else if (strcmp(argv[2], "close") == 0) {
        return closeFirstSession();
    } else {
        return 2;
    }
    return 0;
}
