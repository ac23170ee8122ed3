// The package reader on arbitrary bytes: it must fail cleanly or succeed, never read or write
// out of bounds, keep its strings terminated within their buffers, and give back every block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "package/package_format.h"
#include "support/memory.h"

namespace {

struct memory_source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;

    static bool read(void* context, void* buffer, std::uint32_t count)
    {
        auto* self = static_cast<memory_source*>(context);
        if (self->size - self->position < count) return false;
        std::memcpy(buffer, self->data + self->position, count);
        self->position += count;
        return true;
    }
};

template <std::size_t N>
void require_terminated(const char (&text)[N])
{
    if (!std::memchr(text, 0, N)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto blocks_before = blocks_in_use;
    run_state state = initial_run_state();
    state.skip_modem = size & 1;  // either command-line case of fields 21 and 22
    package_reserved reserved{};
    memory_source memory{data, size, 0};
    package_source source{&memory, memory_source::read};
    // Half the inputs as a whole file, whose members' data must lie within it.
    const std::uint64_t file_size = size & 2 ? 0x17600 + size : header_only;
    const std::uint16_t error = read_package_fields(source, 0x17600, file_size, state, reserved);
    if (!error) {
        require_terminated(state.welcome_text);
        require_terminated(state.product_name);
        if (reserved.group_count > group_table_capacity) std::abort();
        const member_table& table = *state.file_table;
        for (std::uint16_t i = 0; i < table.count; ++i) {
            if (!is_safe_member_name(member_name(table.members[i]))) std::abort();
            if (table.members[i]->data_offset < 0x17600) std::abort();
            const std::uint64_t data_end = table.members[i]->data_offset + std::uint64_t{table.members[i]->stored_size};
            if (file_size != header_only && data_end > file_size) std::abort();
        }
        // Writer and reader agree: what was read, written out, reads back to the same bytes.
        std::vector<member_entry> members;
        for (std::uint16_t i = 0; i < table.count; ++i)
            members.push_back({member_name(table.members[i]), table.members[i]->unpacked_size,
                               table.members[i]->stored_size});
        const auto encoded = encode_package_header(state, reserved, members);
        run_state again = initial_run_state();
        package_reserved again_reserved{};
        memory_source rewritten{encoded.data(), encoded.size(), 0};
        package_source second{&rewritten, memory_source::read};
        if (read_package_fields(second, 0x17600, header_only, again, again_reserved) != 0) std::abort();
        if (encode_package_header(again, again_reserved, members) != encoded) std::abort();
        release_package_fields(again, again_reserved);
    }
    release_package_fields(state, reserved);
    if (blocks_in_use != blocks_before) std::abort();
    return 0;
}
