#include "zip_archive.h"

#include <zlib.h>

#include "unzip_core.h"

#include <cstdio>
#include <cstring>

using namespace unzip;

namespace {

constexpr std::uint16_t version_deflate = 20;  // 2.0, made on MS-DOS

void put16(byte_buffer& out, std::uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(byte_buffer& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

byte_buffer deflate_raw(const byte_buffer& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    byte_buffer out(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);  // the bound guarantees that one call finishes
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace

std::uint32_t dos_date_time(std::time_t moment)
{
    std::tm local{};
    localtime_r(&moment, &local);
    if (local.tm_year < 80) return (1u << 5 | 1u) << 16;  // 1 January 1980
    const std::uint32_t date = static_cast<std::uint32_t>(local.tm_year - 80) << 9 |
        static_cast<std::uint32_t>(local.tm_mon + 1) << 5 | static_cast<std::uint32_t>(local.tm_mday);
    const std::uint32_t time = static_cast<std::uint32_t>(local.tm_hour) << 11 |
        static_cast<std::uint32_t>(local.tm_min) << 5 | static_cast<std::uint32_t>(local.tm_sec / 2);
    return date << 16 | time;
}

std::uint32_t crc32_of(const byte_buffer& data)
{
    return static_cast<std::uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
}

byte_buffer make_zip(std::string_view entry_name, const byte_buffer& data, std::uint32_t dos_time)
{
    const byte_buffer packed = deflate_raw(data);
    const std::uint32_t crc = crc32_of(data);
    auto common = [&](byte_buffer& out) {  // the fields local header and central entry share
        put16(out, version_deflate);
        put16(out, 0);  // flags
        put16(out, method_deflated);
        put32(out, dos_time);
        put32(out, crc);
        put32(out, static_cast<std::uint32_t>(packed.size()));
        put32(out, static_cast<std::uint32_t>(data.size()));
        put16(out, static_cast<std::uint32_t>(entry_name.size()));
        put16(out, 0);  // extra field length
    };
    byte_buffer out;
    put32(out, local_header_signature);
    common(out);
    out.insert(out.end(), entry_name.begin(), entry_name.end());
    out.insert(out.end(), packed.begin(), packed.end());

    const std::size_t central_start = out.size();
    put32(out, central_entry_signature);
    put16(out, version_deflate);  // made by
    common(out);
    put16(out, 0);  // comment length
    put16(out, 0);  // disk number
    put16(out, 0);  // internal attributes
    put32(out, 0);  // external attributes
    put32(out, 0);  // offset of the local header
    out.insert(out.end(), entry_name.begin(), entry_name.end());
    const std::size_t central_size = out.size() - central_start;

    put32(out, end_record_signature);
    put16(out, 0);  // this disk
    put16(out, 0);  // disk of the central directory
    put16(out, 1);  // entries on this disk
    put16(out, 1);  // entries in all
    put32(out, static_cast<std::uint32_t>(central_size));
    put32(out, static_cast<std::uint32_t>(central_start));
    put16(out, 0);  // comment length
    return out;
}

std::string read_zip(const unsigned char* archive, std::size_t size, zip_contents& contents)
{
    if (size < local_header_size + central_entry_size + end_record_size) return "too short for a ZIP archive";
    if (size > 0xFFFFFFFF) return "4 GiB or more: beyond what a ZIP archive without zip64 holds";
    end_record end;
    if (!parse_end_record(archive + size - end_record_size, end))
        return "no end-of-central-directory record at its end (or a comment behind it)";
    if (end.disk || end.directory_disk || end.entries_on_disk != 1 || end.entries != 1)
        return "the archive does not hold exactly one entry on one disk";
    if (end.directory_offset > size - end_record_size ||
        end.directory_size != size - end_record_size - end.directory_offset)
        return "the central directory does not end at the end record";
    if (end.directory_size < central_entry_size) return "the central directory entry is cut short";

    central_entry central;
    if (!parse_central_entry(archive + end.directory_offset, central))
        return "no central directory entry where the end record points";
    if (central_entry_size + central.name_length + central.extra_length + central.comment_length != end.directory_size)
        return "the central directory entry's lengths do not add up";
    if (central.local_offset != 0) return "the local header is not at the start";
    if (central.flags & (flag_encrypted | flag_data_descriptor)) return "the entry is encrypted or sizes follow its data";
    if (central.method != method_deflated && central.method != method_stored)
        return "compression method " + std::to_string(central.method) + " is not deflate";

    const std::string name(reinterpret_cast<const char*>(archive + end.directory_offset + central_entry_size),
                           central.name_length);
    local_header local;
    if (!parse_local_header(archive, local)) return "no local header signature (50 4B 03 04) at the start";
    const std::size_t data_start = local_header_size + local.name_length + local.extra_length;
    if (local.method != central.method || local.crc != central.crc || local.packed_size != central.packed_size ||
        local.unpacked_size != central.unpacked_size || local.name_length != central.name_length ||
        std::memcmp(archive + local_header_size, name.data(), central.name_length) != 0)
        return "the local header and the central directory disagree";
    if (data_start > end.directory_offset || end.directory_offset - data_start != central.packed_size)
        return "the entry's data do not fill the space up to the central directory";
    if (central.method == method_stored && central.packed_size != central.unpacked_size)
        return "a stored entry whose two sizes differ";

    contents.entry_name = name;
    contents.recorded_size = central.unpacked_size;
    contents.data.clear();
    // The data through the unzip library's own extraction, from memory into memory.
    const unzip_reader reader{const_cast<unsigned char*>(archive), static_cast<std::uint32_t>(size),
                              [](void* context, std::uint32_t offset, void* buffer, std::uint32_t count) {
                                  std::memcpy(buffer, static_cast<const unsigned char*>(context) + offset, count);
                                  return true;
                              }};
    const unzip_writer writer{&contents.data, [](void* context, const void* data, std::uint32_t count) {
                                  auto& out = *static_cast<byte_buffer*>(context);
                                  out.insert(out.end(), static_cast<const unsigned char*>(data),
                                             static_cast<const unsigned char*>(data) + count);
                                  return static_cast<int>(ok);
                              }};
    const entry_info entry{central.flags, central.method, central.dos_time, central.crc, central.packed_size,
                           central.unpacked_size, static_cast<std::uint32_t>(data_start), nullptr, 0};
    std::uint32_t actual = 0;
    switch (extract_entry(reader, entry, writer, &actual)) {
    case ok:
        return {};
    case crc_mismatch: {
        char text[80];
        std::snprintf(text, sizeof text, "CRC-32 mismatch: recorded %08X, data give %08X", central.crc, actual);
        return text;
    }
    case size_mismatch:
        return "the data do not unpack to the recorded " + std::to_string(central.unpacked_size) + " bytes";
    case damaged:
        return "the deflated data are damaged or do not fill their recorded size exactly";
    default:
        return "the data cannot be unpacked";
    }
}
