// Memory blocks for the native tools and tests: the same counted, zero-filled blocks, from the
// C heap. A tool has no one to ask for more memory, so exhaustion ends it with a message.
#include <cstdio>
#include <cstdlib>

#include "support/memory.h"

std::uint16_t blocks_in_use;
std::uint16_t peak_blocks;

void* alloc_block(std::uint32_t size)
{
    void* block = std::calloc(1, size ? size : 1);
    if (!block) {
        std::fputs("out of memory\n", stderr);
        std::abort();
    }
    ++blocks_in_use;
    if (blocks_in_use > peak_blocks) peak_blocks = blocks_in_use;
    return block;
}

int free_block(void* block)
{
    std::free(block);
    --blocks_in_use;
    return 1;
}
