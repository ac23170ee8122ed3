#include "support/strings.h"

#include <windows.h>

#include <cstdarg>

#include "support/run_state.h"

namespace {
char joined_text[joined_text_capacity];
char short_text[short_text_capacity];

HINSTANCE resource_module() { return setup.app_instance ? setup.app_instance : GetModuleHandleA(nullptr); }
}  // namespace

const char* resource_text(int count, ...)
{
    std::va_list ids;
    va_start(ids, count);
    int position = 0;
    joined_text[0] = '\0';
    for (int i = 0; i < count; ++i) {
        const int room = joined_text_capacity - position;
        if (room <= 1) break;  // only the terminator's byte is left
        const unsigned id = va_arg(ids, unsigned);
        const int loaded = LoadStringA(resource_module(), id, joined_text + position, room);
        if (loaded > 0) position += loaded;
        joined_text[position] = '\0';
    }
    va_end(ids);
    return joined_text;
}

const char* short_resource_text(unsigned id)
{
    if (LoadStringA(resource_module(), id, short_text, short_text_capacity) <= 0) short_text[0] = '\0';
    return short_text;
}
