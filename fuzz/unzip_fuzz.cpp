// The unzip library's core on arbitrary bytes taken as an archive: the search for its entry,
// the name check and the extraction must fail cleanly or succeed, never read outside the
// archive, and on success have written exactly the recorded size with the recorded CRC-32.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "unzip_core.h"

namespace {

struct archive {
    const std::uint8_t* data;
    std::size_t size;

    static bool read(void* context, std::uint32_t offset, void* buffer, std::uint32_t count)
    {
        auto* self = static_cast<archive*>(context);
        if (offset > self->size || count > self->size - offset) std::abort();  // the core checks bounds first
        std::memcpy(buffer, self->data + offset, count);
        return true;
    }
};

struct sink {
    std::uint32_t written;
    std::uint32_t crc;
    std::uint32_t limit;

    static int write(void* context, const void* data, std::uint32_t count)
    {
        auto* self = static_cast<sink*>(context);
        if (count > self->limit - self->written) std::abort();  // never beyond the recorded size
        self->crc = static_cast<std::uint32_t>(crc32(self->crc, static_cast<const Bytef*>(data), count));
        self->written += count;
        return unzip::ok;
    }
};

bool cp932_lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Whether a checked name, cut at every backslash byte, has a "." or ".." component.
bool has_dot_component(const char* name)
{
    for (const char* start = name;; ++start) {
        const char* end = std::strchr(start, '\\');
        const std::size_t length = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
        if ((length == 1 || length == 2) && !std::strncmp(start, "..", length)) return true;
        if (!end) return false;
        start = end;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    archive bytes{data, size};
    const unzip::unzip_reader reader{&bytes, static_cast<std::uint32_t>(size), archive::read};
    unzip::entry_info entry;
    if (unzip::find_only_entry(reader, entry) == unzip::ok) {
        if (entry.data_offset + std::uint64_t{entry.packed_size} > size) std::abort();
        if (std::strlen(entry.name) > entry.name_length) std::abort();
        if (unzip::check_entry_name(entry.name, entry.name_length, size & 1 ? cp932_lead : nullptr) == unzip::ok) {
            // A name that passed holds no slash, colon, leading backslash, "." or ".." component.
            if (std::strchr(entry.name, '/') || std::strchr(entry.name, ':') || entry.name[0] == '\\' ||
                has_dot_component(entry.name))
                std::abort();
        }
        sink out{0, static_cast<std::uint32_t>(crc32(0, nullptr, 0)), entry.unpacked_size};
        const int result = unzip::extract_entry(reader, entry, unzip::unzip_writer{&out, sink::write});
        if (result == unzip::ok && (out.written != entry.unpacked_size || out.crc != entry.crc)) std::abort();
    }
    unzip::release_entry(entry);
    return 0;
}
