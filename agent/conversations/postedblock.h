// Who owns the memory block of a posted DDE message. By the DDE rules the
// receiver frees it (DDE data with fRelease, poke data, advise options). On
// Windows 95 the block is shared memory that the receiver reads and frees
// itself. Windows NT and Wine give a receiver in another process a copy of
// its own and leave the sender's block as it was: unless the sender frees
// it, every message posted leaks one block, and under Wine a process holds
// at most 65,536 of them. Used by the agent and by ddeserver.exe.
#ifndef POSTEDBLOCK_H
#define POSTEDBLOCK_H

#include <windows.h>

// Whether the blocks of DDE messages posted to `to` reach it as copies of its own.
inline bool ReceiverGetsCopies(HWND to)
{
    DWORD process = 0;
    GetWindowThreadProcessId(to, &process);
    return process != GetCurrentProcessId() && !(GetVersion() & 0x80000000);
}

// After a DDE message carrying `block` was posted to a receiver that gets
// copies (`copied`) or shares the sender's blocks: frees the sender's copy
// where the receiver got one of its own. Returns the block while it is
// still this side's concern (shared with the receiver, which may yet refuse
// it and leave it to the sender), else null.
inline HGLOBAL ReleasePostedBlock(HGLOBAL block, bool copied)
{
    if (!block || !copied)
        return block;
    if (GlobalSize(block))
        GlobalFree(block);
    return 0;
}

inline HGLOBAL ReleasePostedBlock(HWND to, HGLOBAL block)
{
    return ReleasePostedBlock(block, ReceiverGetsCopies(to));
}

#endif
