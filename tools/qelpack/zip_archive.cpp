#include "zip_archive.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint32_t local_signature = 0x04034B50;
constexpr std::uint32_t central_signature = 0x02014B50;
constexpr std::uint32_t end_signature = 0x06054B50;
constexpr std::size_t local_fixed = 30;
constexpr std::size_t central_fixed = 46;
constexpr std::size_t end_size = 22;
constexpr std::uint16_t version_deflate = 20;  // 2.0, made on MS-DOS
constexpr std::uint16_t method_stored = 0;
constexpr std::uint16_t method_deflated = 8;

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

std::uint16_t get16(const unsigned char* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }

std::uint32_t get32(const unsigned char* at)
{
    return get16(at) | static_cast<std::uint32_t>(get16(at + 2)) << 16;
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

// Inflates exactly `expected` bytes from the whole of `input`; anything else is an error.
std::string inflate_raw(const unsigned char* input, std::size_t size, std::uint32_t expected, byte_buffer& out)
{
    // Deflate shrinks data at most about 1032 to 1: a larger recorded size is a lie.
    if (expected / 1032 > size + 1)
        return "the recorded size " + std::to_string(expected) + " cannot come from " + std::to_string(size) +
            " deflated bytes";
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return "the inflater cannot start";
    out.assign(expected + 1u, 0);  // one byte of room to notice data beyond the recorded size
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const std::size_t produced = stream.total_out;
    const std::size_t left_over = stream.avail_in;
    const char* message = stream.msg;
    inflateEnd(&stream);
    if (result == Z_DATA_ERROR)
        return std::string("the data do not inflate (") + (message ? message : "bad data") + ")";
    if (result != Z_STREAM_END) {
        if (produced > expected)
            return "the data inflate to more than the recorded " + std::to_string(expected) + " bytes";
        return "the deflated data end early";
    }
    if (produced != expected)
        return "the data inflate to " + std::to_string(produced) + " bytes, not the recorded " +
            std::to_string(expected);
    if (left_over) return std::to_string(left_over) + " bytes follow the deflated data";
    out.resize(produced);
    return {};
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
    put32(out, local_signature);
    common(out);
    out.insert(out.end(), entry_name.begin(), entry_name.end());
    out.insert(out.end(), packed.begin(), packed.end());

    const std::size_t central_start = out.size();
    put32(out, central_signature);
    put16(out, version_deflate);  // made by
    common(out);
    put16(out, 0);  // comment length
    put16(out, 0);  // disk number
    put16(out, 0);  // internal attributes
    put32(out, 0);  // external attributes
    put32(out, 0);  // offset of the local header
    out.insert(out.end(), entry_name.begin(), entry_name.end());
    const std::size_t central_size = out.size() - central_start;

    put32(out, end_signature);
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
    if (size < local_fixed + central_fixed + end_size) return "too short for a ZIP archive";
    const unsigned char* end = archive + size - end_size;
    if (get32(end) != end_signature) return "no end-of-central-directory record at its end (or a comment behind it)";
    if (get16(end + 4) || get16(end + 6) || get16(end + 8) != 1 || get16(end + 10) != 1)
        return "the archive does not hold exactly one entry on one disk";
    const std::uint32_t central_size = get32(end + 12);
    const std::uint32_t central_start = get32(end + 16);
    if (central_start > size - end_size || central_size != size - end_size - central_start)
        return "the central directory does not end at the end record";
    if (central_size < central_fixed) return "the central directory entry is cut short";

    const unsigned char* central = archive + central_start;
    if (get32(central) != central_signature) return "no central directory entry where the end record points";
    const std::uint16_t flags = get16(central + 8);
    const std::uint16_t method = get16(central + 10);
    const std::uint32_t crc = get32(central + 16);
    const std::uint32_t packed_size = get32(central + 20);
    const std::uint32_t unpacked_size = get32(central + 24);
    const std::uint16_t name_length = get16(central + 28);
    if (central_fixed + name_length + get16(central + 30) + get16(central + 32) != central_size)
        return "the central directory entry's lengths do not add up";
    if (get32(central + 42) != 0) return "the local header is not at the start";
    if (flags & 0x0009) return "the entry is encrypted or sizes follow its data";
    if (method != method_deflated && method != method_stored)
        return "compression method " + std::to_string(method) + " is not deflate";

    const std::string name(reinterpret_cast<const char*>(central + central_fixed), name_length);
    if (get32(archive) != local_signature) return "no local header signature (50 4B 03 04) at the start";
    const std::uint16_t local_name_length = get16(archive + 26);
    const std::size_t data_start = local_fixed + local_name_length + get16(archive + 28);
    if (get16(archive + 8) != method || get32(archive + 14) != crc || get32(archive + 18) != packed_size ||
        get32(archive + 22) != unpacked_size || local_name_length != name_length ||
        std::memcmp(archive + local_fixed, name.data(), name_length) != 0)
        return "the local header and the central directory disagree";
    if (data_start > central_start || central_start - data_start != packed_size)
        return "the entry's data do not fill the space up to the central directory";

    contents.entry_name = name;
    contents.recorded_size = unpacked_size;
    const unsigned char* packed = archive + data_start;
    if (method == method_stored) {
        if (packed_size != unpacked_size) return "a stored entry whose two sizes differ";
        contents.data.assign(packed, packed + packed_size);
    } else if (std::string error = inflate_raw(packed, packed_size, unpacked_size, contents.data); !error.empty()) {
        return error;
    }
    const std::uint32_t actual = crc32_of(contents.data);
    if (actual != crc) {
        char text[80];
        std::snprintf(text, sizeof text, "CRC-32 mismatch: recorded %08X, data give %08X", crc, actual);
        return text;
    }
    return {};
}
