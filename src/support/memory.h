// Memory blocks: all dynamic memory of the program, counted. Exhaustion never reaches the
// caller: the user is asked to free memory and retry, or the process ends.
#pragma once

#include <cstdint>

void* alloc_block(std::uint32_t size);
int free_block(void* block);

extern std::uint16_t blocks_in_use;
extern std::uint16_t peak_blocks;

// Owns one block for a scope.
struct block_closer {
    void* block;
    ~block_closer() { if (block) free_block(block); }
};
