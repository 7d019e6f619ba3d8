// modLists: reading the session and connection lists of the library. Both
// come back in a byte buffer the program sizes itself: it asks with no
// buffer, the library answers code 2 with the byte total and the entry
// count it needs, and the program asks again with a buffer that holds them.
#ifndef MODLISTS_H
#define MODLISTS_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// One enumeration answer as the library left it.
struct ListBuffer {
    // size + 1 zero-filled bytes; the library is told only of size, so the
    // last byte stays NUL and ends any name that starts inside the buffer.
    std::vector<BYTE> bytes;
    DWORD size = 0;     // the buffer size the library was told
    DWORD total = 0;    // the byte total the library reported
    DWORD count = 0;    // the entry count the library reported
};

// One enumeration call: the buffer (null with size 0), its size, and the
// addresses of the byte total and the entry count.
typedef std::function<UINT(LPBYTE buffer, DWORD size, LPDWORD total, LPDWORD count)> ListCall;

// Calls the library until it answers something other than code 2, growing
// the buffer to the larger of entrySize x count and the byte total (plus 1)
// after each code 2. A code 2 that gives nothing to grow by (no entries, or
// a total the buffer covers) ends the tries, as do a few of them in a row
// and a size no list of the machine can need. Any code other than 0 is
// reported, and so is an answer whose entries do not fit the buffer; false
// then.
bool ReadList(DWORD entrySize, ListBuffer &list, const ListCall &call);

// The name at offset of the buffer, byte by byte up to a NUL, maxLength
// characters, or the end of the reported byte total, whichever comes first.
std::string ReadListName(const ListBuffer &list, DWORD offset, DWORD maxLength);

// The 16-bit and 32-bit numbers at offset (the caller keeps offset inside
// the entries that fit the buffer).
short ReadListInt16(const ListBuffer &list, DWORD offset);
LONG ReadListInt32(const ListBuffer &list, DWORD offset);

// True when address lies inside the buffer the library filled.
bool PointsIntoList(const ListBuffer &list, DWORD address);

#endif
