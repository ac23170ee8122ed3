#include "support/memory.h"

#include <windows.h>

#include <cstring>

#include "resource_ids.h"
#include "support/questions.h"
#include "support/strings.h"

std::uint16_t blocks_in_use;
std::uint16_t peak_blocks;

void* alloc_block(std::uint32_t size)
{
    for (;;) {
        HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        void* block = handle ? GlobalLock(handle) : nullptr;
        if (block) {
            ++blocks_in_use;
            if (blocks_in_use > peak_blocks) peak_blocks = blocks_in_use;
            std::memset(block, 0, size);
            return block;
        }
        if (handle) GlobalFree(handle);
        if (!ask_retry_question(resource_text(1, STR_OUT_OF_MEMORY))) {
            FatalAppExitA(0, resource_text(1, STR_CANNOT_CONTINUE));
            ExitProcess(0);  // not reached: FatalAppExit ends the process
        }
    }
}

int free_block(void* block)
{
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    GlobalFree(GlobalHandle(block));
    --blocks_in_use;
    return 1;
}
