// Mbed TLS's allocations, charged to one budget for every channel and
// identity (TlsMemoryBudget). Built into the mbedcrypto library, which
// calls ChargedCalloc and ChargedFree for every block (tlsconfig.h).
#include "channel.h"

static DWORD memoryInUse;

// Each block carries its size in front of it, keeping 8-byte alignment.
struct BlockHeader {
    DWORD size;
    DWORD padding;
};

extern "C" void *ChargedCalloc(size_t count, size_t size)
{
    if (size && count > TlsMemoryBudget / size)
        return 0;
    DWORD total = (DWORD)(count * size);
    if (total > TlsMemoryBudget - memoryInUse)
        return 0;
    BlockHeader *block = (BlockHeader *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                  sizeof(BlockHeader) + total);
    if (!block)
        return 0;
    block->size = total;
    memoryInUse += total;
    return block + 1;
}

extern "C" void ChargedFree(void *pointer)
{
    if (!pointer)
        return;
    BlockHeader *block = (BlockHeader *)pointer - 1;
    memoryInUse -= block->size;
    HeapFree(GetProcessHeap(), 0, block);
}

DWORD TlsMemoryInUse()
{
    return memoryInUse;
}
