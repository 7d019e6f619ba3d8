// A scripted partner (Tessaseg.dll of its own folder) for the share dialogs,
// answering what the real share store never does. The variable SHARE_SCRIPT
// chooses the script:
//   "long-password"  one share, LONGPASS$, whose record carries a 20-byte
//                    password #1, a 16-byte password #2 and one item, more
//                    than the editor's first 113-byte buffer holds; storing
//                    it answers code 23, and the error text lists the sizes
//                    the record was asked for with and the stored passwords;
//   "stalled-names"  the share list answers 2 with a total of 40 bytes and
//                    no entries, whatever it is offered;
//   "growing-names"  the share list answers 2 with a total 10 bytes above
//                    each offer for three calls, then lists GROWN$;
//   "list-error"     the share list answers code 23;
//   "accept-all"     every validity check passes and adding a share answers
//                    code 23, with the name it was given in the error text.
// Error texts name the list calls and the record reads made so far, so a
// test that reads the program's error report sees what the program asked.
#include <windows.h>

#include "scripted_partner.h"

static const char ScriptVariable[] = "SHARE_SCRIPT";
const WORD ScriptedError = NDDE_REGISTRY_ERROR;
static const char LongPasswordShare[] = "LONGPASS$";
static const char LongPassword1[] = "ABCDEFGHIJKLMNOPQRST";
static const char LongPassword2[] = "0123456789ABCDEF";

static int listCalls;
// Sizes offered to the record reads, as text ("113 171"), and what the last
// store carried.
static char recordSizes[128];
static char storedPasswords[64];
static char addedName[ShareNameSize];

// args: errorCode, buffer, size.
static WORD WINAPI errorString(const DWORD *args)
{
    char text[256];
    wsprintfA(text, "code %u; lists %d; reads %s; stored %s; added %s", (unsigned)args[0], listCalls,
              recordSizes, storedPasswords, addedName);
    copyErrorText(args, text);
    return NDDE_NO_ERROR;
}

// args: server, level, buffer, size, entriesRead, totalAvailable.
static WORD WINAPI shareEnum(const DWORD *args)
{
    ++listCalls;
    BYTE *buffer = (BYTE *)args[2];
    DWORD size = args[3];
    DWORD *entriesRead = (DWORD *)args[4];
    DWORD *totalAvailable = (DWORD *)args[5];
    const char *name = NULL;
    if (variableIs(ScriptVariable, "list-error"))
        return ScriptedError;
    if (variableIs(ScriptVariable, "stalled-names")) {
        *entriesRead = 0;
        *totalAvailable = 40;
        return NDDE_BUF_TOO_SMALL;
    }
    if (variableIs(ScriptVariable, "growing-names")) {
        if (listCalls <= 3) {
            *entriesRead = 0;
            *totalAvailable = size + 10;
            return NDDE_BUF_TOO_SMALL;
        }
        name = "GROWN$";
    } else if (variableIs(ScriptVariable, "long-password")) {
        name = LongPasswordShare;
    }
    DWORD total = name ? lstrlenA(name) + 1 : 0;
    *entriesRead = name ? 1 : 0;
    *totalAvailable = total;
    if (size < total)
        return NDDE_BUF_TOO_SMALL;
    if (name)
        CopyMemory(buffer, name, total);
    return NDDE_NO_ERROR;
}

// Appends `text` with its terminator at `*offset` of `block` and returns
// where it starts.
static DWORD appendText(BYTE *block, DWORD *offset, const char *text)
{
    DWORD start = *offset;
    lstrcpyA((char *)block + start, text);
    *offset += lstrlenA(text) + 1;
    return start;
}

// Lays out LONGPASS$ as a transfer block; returns its size.
static DWORD longPasswordRecord(BYTE *block)
{
    ShareTransferHeader *header = (ShareTransferHeader *)block;
    ZeroMemory(block, 512);
    lstrcpyA(header->shareName, LongPasswordShare);
    DWORD offset = ShareInfoHeaderSize;
    header->appName = appendText(block, &offset, "LONGAPP");
    header->topicName = appendText(block, &offset, "LONGTOPIC");
    header->password1 = appendText(block, &offset, LongPassword1);
    header->password1Length = lstrlenA(LongPassword1);
    header->permissions1 = Request | Poke;
    header->password2 = appendText(block, &offset, LongPassword2);
    header->password2Length = lstrlenA(LongPassword2);
    header->permissions2 = Advise | StartApp;
    header->firstItem = appendText(block, &offset, "FIRST");
    header->addItemCount = 1;
    header->addItems = offset;
    AddItemEntry *item = (AddItemEntry *)(block + offset);
    offset += sizeof(AddItemEntry);
    item->permissions = Advise;
    item->nameOffset = appendText(block, &offset, "ONLYITEM");
    return offset + 1;
}

// args: server, shareName, level, block, size, totalAvailable, itemCount.
static WORD WINAPI shareGetInfo(const DWORD *args)
{
    if (!variableIs(ScriptVariable, "long-password"))
        return NDDE_SHARE_NOT_EXIST;
    BYTE record[512];
    DWORD size = longPasswordRecord(record);
    char offered[16];
    wsprintfA(offered, recordSizes[0] ? " %lu" : "%lu", args[4]);
    if (lstrlenA(recordSizes) + lstrlenA(offered) < (int)sizeof recordSizes)
        lstrcatA(recordSizes, offered);
    *(DWORD *)args[5] = size;
    *(WORD *)args[6] = 1;
    if (args[4] < size)
        return NDDE_BUF_TOO_SMALL;
    CopyMemory((void *)args[3], record, size);
    return NDDE_NO_ERROR;
}

// args: server, shareName, level, block, size, parameterNumber.
static WORD WINAPI shareSetInfo(const DWORD *args)
{
    const ShareTransferHeader *header = (const ShareTransferHeader *)args[3];
    const char *block = (const char *)args[3];
    wsprintfA(storedPasswords, "%s/%lu %s/%lu", block + header->password1, header->password1Length,
              block + header->password2, header->password2Length);
    return ScriptedError;
}

// args: server, level, block, size.
static WORD WINAPI shareAdd(const DWORD *args)
{
    const ShareTransferHeader *header = (const ShareTransferHeader *)args[2];
    lstrcpynA(addedName, header->shareName, sizeof addedName);
    return ScriptedError;
}

const PartnerOperation scriptedOperations[PartnerOperationCount] = {
    answerOne,        // IsValidTopic
    answerOne,        // IsValidPassword
    answerOne,        // IsValidShareName
    answerZero,       // GetWindow
    errorString,      // GetErrorString
    notImplemented,   // GetNodeName
    notImplemented,   // GetClientInfo
    notImplemented,   // SessionClose
    notImplemented,   // ConnectionEnum
    notImplemented,   // SessionEnum
    shareSetInfo,     // ShareSetInfo
    shareGetInfo,     // ShareGetInfo
    shareEnum,        // ShareEnum
    notImplemented,   // ShareDel
    shareAdd,         // ShareAdd
};
