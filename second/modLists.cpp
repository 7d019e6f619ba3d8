// modLists: the buffer loop of the session and connection lists and the
// byte-wise reading of their entries.
#include "modLists.h"

#include <tessaflat.h>

#include "modMain.h"

// A list that keeps growing while it is read gives up after this many
// tries; the machine's lists take at most two (a session or connection that
// appears between the calls).
static const int ListTryLimit = 8;

bool ReadList(DWORD entrySize, ListBuffer &list, const ListCall &call)
{
    list.count = 0;
    list.total = 0;
    UINT result = NDDE_NO_ERROR;
    for (int attempt = 1;; attempt++) {
        list.size = 0;
        list.bytes.clear();
        if (list.count > 0) {
            ULONGLONG needed = (ULONGLONG)entrySize * list.count;
            if (needed < list.total)
                needed = list.total;
            list.size = (DWORD)needed + 1;
            list.bytes.assign(list.size + 1, 0);
        }
        result = call(list.size > 0 ? list.bytes.data() : nullptr, list.size, &list.total, &list.count);
        // Grow only when the next buffer will be larger than this one.
        if (result != NDDE_BUF_TOO_SMALL || list.count == 0 || list.total <= list.size ||
            attempt == ListTryLimit)
            break;
        if ((ULONGLONG)entrySize * list.count >= LibraryBufferLimit || list.total >= LibraryBufferLimit)
            break;
    }
    if (result != NDDE_NO_ERROR) {
        ReportApiError(result);
        return false;
    }
    // Entries the buffer cannot hold were never written: the answer is wrong.
    if ((ULONGLONG)entrySize * list.count > list.size) {
        ReportApiError(NDDE_INTERNAL_ERROR);
        return false;
    }
    return true;
}

std::string ReadListName(const ListBuffer &list, DWORD offset, DWORD maxLength)
{
    std::string name;
    for (DWORD position = offset; name.size() < maxLength; position++) {
        if (position >= list.total || position >= list.size)
            break;
        BYTE character = list.bytes[position];
        if (character == 0)
            break;
        name += (char)character;
    }
    return name;
}

short ReadListInt16(const ListBuffer &list, DWORD offset)
{
    return MakeInt16(list.bytes[offset], list.bytes[offset + 1]);
}

LONG ReadListInt32(const ListBuffer &list, DWORD offset)
{
    return MakeInt32(list.bytes[offset], list.bytes[offset + 1], list.bytes[offset + 2], list.bytes[offset + 3]);
}

bool PointsIntoList(const ListBuffer &list, DWORD address)
{
    DWORD start = (DWORD)(UINT_PTR)list.bytes.data();
    return list.size > 0 && address >= start && address - start < list.size;
}
