// Converting between the caller's records and the flat forms the partner
// reads and writes, in temporary blocks that live for one call.
#ifndef TRANSFER_H
#define TRANSFER_H

#include "partnerlink.h"

// One zero-filled global memory block, allocated and freed within one call.
struct TempBlock {
    HGLOBAL handle;
    BYTE *data;                    // null for a block of size 0
};

// Allocates `size` zero-filled bytes, or gives a null block for size 0.
// False when the memory cannot be had.
bool allocateTempBlock(DWORD size, TempBlock *block);
void freeTempBlock(TempBlock *block);

// Packs `share` into a new ShareTransferBlock. Sets share->addItemCount to 0
// when it is positive and addItems is null. False when the block cannot be
// allocated.
bool PackShareInfo(ShareInfo *share, TempBlock *block);

// Unpacks a ShareTransferBlock of `size` bytes into the caller's `buffer` of
// the same size, with pointers into `buffer`. The partner's item indicator
// says whether the item table is taken over. False, with `buffer` untouched,
// when the block's offsets or strings run outside the block or the result
// would not fit the buffer.
bool UnpackShareInfo(const BYTE *block, DWORD size, WORD itemIndicator, BYTE *buffer);

// Rebuilds `count` session entries of the partner's block in `buffer`; false,
// with `buffer` untouched, when they do not fit `size` bytes.
bool RebuildSessions(const BYTE *block, DWORD size, DWORD count, BYTE *buffer);

// Rebuilds `count` connection entries and their share names in `buffer`;
// false, with `buffer` untouched, when an offset or name lies outside the
// block or the result does not fit `size` bytes.
bool RebuildConnections(const BYTE *block, DWORD size, DWORD count, BYTE *buffer);

#endif
