#include "unzip_core.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace unzip {
namespace {

// Most of the archive read, and of the file written, at a time: fewer and larger reads and writes,
// and fewer refills of zlib's window, but never more memory than the entry needs (a small floor
// keeps inflate moving on an empty file).
constexpr std::uint32_t largest_chunk = 256 * 1024;
constexpr std::uint32_t smallest_chunk = 4 * 1024;

std::uint32_t chunk_for(std::uint32_t size)
{
    return size < smallest_chunk ? smallest_chunk : size > largest_chunk ? largest_chunk : size;
}
constexpr std::uint32_t no_size = 0xFFFFFFFF;  // a 32-bit field whose value is in a zip64 block

// A malloc'ed block, given back when it goes out of scope.
struct block {
    unsigned char* bytes;
    explicit block(std::size_t size) : bytes(static_cast<unsigned char*>(std::malloc(size ? size : 1))) {}
    ~block() { std::free(bytes); }
    block(const block&) = delete;
    block& operator=(const block&) = delete;
};

bool read_at(const unzip_reader& reader, std::uint64_t offset, void* buffer, std::uint32_t count)
{
    if (offset > reader.size || count > reader.size - offset) return false;
    return count == 0 || reader.read(reader.context, static_cast<std::uint32_t>(offset), buffer, count);
}

void parse_entry_fields(const unsigned char* at, entry_fields& out)
{
    out.version_needed = get16(at);
    out.flags = get16(at + 2);
    out.method = get16(at + 4);
    out.dos_time = get16(at + 6) | static_cast<std::uint32_t>(get16(at + 8)) << 16;
    out.crc = get32(at + 10);
    out.packed_size = get32(at + 14);
    out.unpacked_size = get32(at + 18);
    out.name_length = get16(at + 22);
    out.extra_length = get16(at + 24);
}

// The end record's offset in `tail` (the archive's last `length` bytes), or -1. The record is
// the last one whose comment reaches exactly to the end, so a signature inside a comment does
// not count.
long find_end_record(const unsigned char* tail, std::uint32_t length)
{
    for (long at = static_cast<long>(length) - end_record_size; at >= 0; --at)
        if (get32(tail + at) == end_record_signature &&
            at + end_record_size + get16(tail + at + 20) == length)
            return at;
    return -1;
}

int locate(const unzip_reader& reader, end_record& end, std::uint32_t& end_offset)
{
    if (reader.size < end_record_size) return damaged;
    // Most archives have no comment: a short read at the end finds their record. Otherwise the
    // search takes in the longest comment there can be.
    for (const std::uint32_t room : {end_record_size + zip64_locator_size,
                                     end_record_size + max_comment_length + zip64_locator_size}) {
        const std::uint32_t length = reader.size < room ? reader.size : room;
        block tail(length);
        if (!tail.bytes) return no_memory;
        if (!read_at(reader, reader.size - length, tail.bytes, length)) return cannot_read;
        const long at = find_end_record(tail.bytes, length);
        if (at < 0) {
            if (length == reader.size) break;
            continue;
        }
        parse_end_record(tail.bytes + at, end);
        if (at >= static_cast<long>(zip64_locator_size) &&
            get32(tail.bytes + at - zip64_locator_size) == zip64_locator_signature)
            return unsupported;
        end_offset = reader.size - length + static_cast<std::uint32_t>(at);
        return ok;
    }
    return damaged;
}

bool is_device_name(const char* component, std::size_t length)
{
    std::size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    char upper[8];
    if (base < 3 || base > 7) return false;
    for (std::size_t i = 0; i < base; ++i) {
        const char c = component[i];
        upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const auto is = [&](const char* name) { return std::strlen(name) == base && !std::memcmp(upper, name, base); };
    if (is("CON") || is("PRN") || is("AUX") || is("NUL") || is("CLOCK$") || is("CONIN$") || is("CONOUT$"))
        return true;
    return base == 4 && (!std::memcmp(upper, "COM", 3) || !std::memcmp(upper, "LPT", 3)) && upper[3] >= '1' &&
           upper[3] <= '9';
}

bool is_safe_component(const char* component, std::size_t length)
{
    if (length == 0) return false;
    const char last = component[length - 1];
    return last != '.' && last != ' ' && !is_device_name(component, length);
}

struct inflater {
    z_stream stream{};
    bool started = false;
    ~inflater()
    {
        if (started) inflateEnd(&stream);
    }
};

int extract_stored(const unzip_reader& reader, const entry_info& entry, const unzip_writer& writer,
                   unsigned char* buffer, std::uint32_t& crc, std::uint32_t& written)
{
    const std::uint32_t chunk_size = chunk_for(entry.packed_size);
    for (std::uint32_t done = 0; done < entry.packed_size;) {
        const std::uint32_t count = entry.packed_size - done < chunk_size ? entry.packed_size - done : chunk_size;
        if (!read_at(reader, std::uint64_t{entry.data_offset} + done, buffer, count)) return cannot_read;
        done += count;
        if (done > entry.unpacked_size) return size_mismatch;
        crc = static_cast<std::uint32_t>(crc32(crc, buffer, count));
        if (const int result = writer.write(writer.context, buffer, count)) return result;
        written = done;
    }
    return ok;
}

int extract_deflated(const unzip_reader& reader, const entry_info& entry, const unzip_writer& writer,
                     unsigned char* input, std::uint32_t& crc, std::uint32_t& written)
{
    const std::uint32_t input_size = chunk_for(entry.packed_size);
    const std::uint32_t output_size = chunk_for(entry.unpacked_size);
    block output(output_size);
    if (!output.bytes) return no_memory;
    inflater state;
    z_stream& stream = state.stream;
    const int started = inflateInit2(&stream, -MAX_WBITS);
    if (started != Z_OK) return started == Z_MEM_ERROR ? no_memory : damaged;
    state.started = true;
    std::uint32_t consumed = 0;  // of the packed data, read into `input`
    stream.next_out = output.bytes;
    stream.avail_out = output_size;
    for (;;) {
        if (stream.avail_in == 0 && consumed < entry.packed_size) {
            const std::uint32_t left = entry.packed_size - consumed;
            const std::uint32_t count = left < input_size ? left : input_size;
            if (!read_at(reader, std::uint64_t{entry.data_offset} + consumed, input, count)) return cannot_read;
            consumed += count;
            stream.next_in = input;
            stream.avail_in = count;
        }
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_MEM_ERROR) return no_memory;
        if (status == Z_DATA_ERROR || status == Z_NEED_DICT) return damaged;
        const std::uint32_t pending = output_size - stream.avail_out;
        if (pending > entry.unpacked_size - written) return size_mismatch;  // nothing beyond the recorded size
        // Whole chunks go out, and the rest at the end.
        if (pending && (stream.avail_out == 0 || status == Z_STREAM_END)) {
            crc = static_cast<std::uint32_t>(crc32(crc, output.bytes, pending));
            if (const int result = writer.write(writer.context, output.bytes, pending)) return result;
            written += pending;
            stream.next_out = output.bytes;
            stream.avail_out = output_size;
        }
        if (status == Z_STREAM_END) break;
        // Out of input with the stream unfinished: the data end early.
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && consumed == entry.packed_size) return damaged;
    }
    // The stream must fill the recorded packed size exactly.
    return stream.avail_in == 0 && consumed == entry.packed_size ? ok : damaged;
}

}  // namespace

bool parse_end_record(const unsigned char* bytes, end_record& out)
{
    if (get32(bytes) != end_record_signature) return false;
    out.disk = get16(bytes + 4);
    out.directory_disk = get16(bytes + 6);
    out.entries_on_disk = get16(bytes + 8);
    out.entries = get16(bytes + 10);
    out.directory_size = get32(bytes + 12);
    out.directory_offset = get32(bytes + 16);
    out.comment_length = get16(bytes + 20);
    return true;
}

bool parse_central_entry(const unsigned char* bytes, central_entry& out)
{
    if (get32(bytes) != central_entry_signature) return false;
    out.made_by = get16(bytes + 4);
    parse_entry_fields(bytes + 6, out);
    out.comment_length = get16(bytes + 32);
    out.disk = get16(bytes + 34);
    out.internal_attributes = get16(bytes + 36);
    out.external_attributes = get32(bytes + 38);
    out.local_offset = get32(bytes + 42);
    return true;
}

bool parse_local_header(const unsigned char* bytes, local_header& out)
{
    if (get32(bytes) != local_header_signature) return false;
    parse_entry_fields(bytes + 4, out);
    return true;
}

bool parse_data_descriptor(const unsigned char* bytes, std::size_t available, data_descriptor& out)
{
    const bool signed_form = available >= 16 && get32(bytes) == data_descriptor_signature;
    if (!signed_form && available < 12) return false;
    const unsigned char* at = signed_form ? bytes + 4 : bytes;
    out.crc = get32(at);
    out.packed_size = get32(at + 4);
    out.unpacked_size = get32(at + 8);
    out.length = signed_form ? 16 : 12;
    return true;
}

bool has_zip64_block(const unsigned char* extra, std::size_t length)
{
    for (std::size_t at = 0; at + 4 <= length; at += 4 + get16(extra + at + 2))
        if (get16(extra + at) == zip64_extra_id) return true;
    return false;
}

int find_only_entry(const unzip_reader& reader, entry_info& entry)
{
    entry = entry_info{};
    end_record end;
    std::uint32_t end_offset = 0;
    if (const int result = locate(reader, end, end_offset)) return result;
    if (end.entries == 0xFFFF || end.entries_on_disk == 0xFFFF || end.directory_size == no_size ||
        end.directory_offset == no_size)
        return unsupported;  // the real values are in a zip64 record
    if (end.disk || end.directory_disk) return unsupported;
    if (end.entries != 1 || end.entries_on_disk != 1) return damaged;
    if (end.directory_offset > end_offset || end.directory_size != end_offset - end.directory_offset) return damaged;
    if (end.directory_size < central_entry_size || end.directory_size > central_entry_size + 3 * 0xFFFFu)
        return damaged;

    block directory(end.directory_size);
    if (!directory.bytes) return no_memory;
    if (!read_at(reader, end.directory_offset, directory.bytes, end.directory_size)) return cannot_read;
    central_entry central;
    if (!parse_central_entry(directory.bytes, central)) return damaged;
    if (central_entry_size + central.name_length + central.extra_length + central.comment_length !=
        end.directory_size)
        return damaged;
    const unsigned char* name = directory.bytes + central_entry_size;
    if (central.flags & (flag_encrypted | flag_strong_encryption | flag_masked_directory)) return unsupported;
    if (central.method != method_stored && central.method != method_deflated) return unsupported;
    if (central.packed_size == no_size || central.unpacked_size == no_size || central.local_offset == no_size ||
        has_zip64_block(name + central.name_length, central.extra_length))
        return unsupported;
    if (central.disk) return unsupported;
    if (central.name_length == 0 || name[central.name_length - 1] == '/') return damaged;  // not a file
    if (central.method == method_stored && central.packed_size != central.unpacked_size) return damaged;

    unsigned char fixed[local_header_size];
    if (std::uint64_t{central.local_offset} + local_header_size > end.directory_offset) return damaged;
    if (!read_at(reader, central.local_offset, fixed, local_header_size)) return cannot_read;
    local_header local;
    if (!parse_local_header(fixed, local)) return damaged;
    if (local.flags & (flag_encrypted | flag_strong_encryption)) return unsupported;
    if (local.method != central.method || (local.flags & flag_data_descriptor) != (central.flags & flag_data_descriptor))
        return damaged;
    const std::uint64_t extra_offset = std::uint64_t{central.local_offset} + local_header_size + local.name_length;
    if (extra_offset + local.extra_length > end.directory_offset) return damaged;
    if (local.extra_length) {
        block extra(local.extra_length);
        if (!extra.bytes) return no_memory;
        if (!read_at(reader, extra_offset, extra.bytes, local.extra_length)) return cannot_read;
        if (has_zip64_block(extra.bytes, local.extra_length)) return unsupported;
    }
    const bool descriptor = central.flags & flag_data_descriptor;
    if (!descriptor && (local.crc != central.crc || local.packed_size != central.packed_size ||
                        local.unpacked_size != central.unpacked_size))
        return damaged;
    const std::uint64_t data_offset = extra_offset + local.extra_length;
    std::uint64_t data_end = data_offset + central.packed_size;
    if (data_end > end.directory_offset) return damaged;
    if (descriptor) {
        unsigned char bytes[16];
        const std::uint64_t room = end.directory_offset - data_end;
        const std::uint32_t available = room < sizeof bytes ? static_cast<std::uint32_t>(room) : sizeof bytes;
        if (!read_at(reader, data_end, bytes, available)) return cannot_read;
        data_descriptor after;
        if (!parse_data_descriptor(bytes, available, after)) return damaged;
        if (after.crc != central.crc || after.packed_size != central.packed_size ||
            after.unpacked_size != central.unpacked_size)
            return damaged;
    }

    entry.name = static_cast<char*>(std::malloc(central.name_length + 1u));
    if (!entry.name) return no_memory;
    std::memcpy(entry.name, name, central.name_length);
    entry.name[central.name_length] = '\0';
    entry.name_length = central.name_length;
    entry.flags = central.flags;
    entry.method = central.method;
    entry.dos_time = central.dos_time;
    entry.crc = central.crc;
    entry.packed_size = central.packed_size;
    entry.unpacked_size = central.unpacked_size;
    entry.data_offset = static_cast<std::uint32_t>(data_offset);
    return ok;
}

void release_entry(entry_info& entry)
{
    std::free(entry.name);
    entry.name = nullptr;
}

int extract_entry(const unzip_reader& reader, const entry_info& entry, const unzip_writer& writer,
                  std::uint32_t* actual_crc)
{
    if (entry.method != method_stored && entry.method != method_deflated) return unsupported;
    block input(chunk_for(entry.packed_size));
    if (!input.bytes) return no_memory;
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    std::uint32_t written = 0;
    const int result = entry.method == method_stored
        ? extract_stored(reader, entry, writer, input.bytes, crc, written)
        : extract_deflated(reader, entry, writer, input.bytes, crc, written);
    if (result) return result;
    if (written != entry.unpacked_size) return size_mismatch;
    if (actual_crc) *actual_crc = crc;
    return crc == entry.crc ? ok : crc_mismatch;
}

int check_entry_name(char* name, std::size_t length, lead_byte_test lead)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (lead && lead(c) && i + 1 < length) {
            // Trail bytes are 0x40 and above in every double-byte code page: a lower one would be
            // read as a separator or a dot by some and as half of the character by others.
            if (static_cast<unsigned char>(name[i + 1]) < 0x40) return unsafe_name;
            ++i;  // the trail byte belongs to this character
        } else if (c == '/' || c == '\\') {
            if (!is_safe_component(name + start, i - start)) return unsafe_name;
            name[i] = '\\';
            start = i + 1;
        } else if (c < 0x20 || std::strchr(":<>\"|?*", c)) {
            return unsafe_name;
        }
    }
    return is_safe_component(name + start, length - start) ? ok : unsafe_name;
}

}  // namespace unzip
