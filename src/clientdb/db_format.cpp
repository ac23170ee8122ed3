#include "clientdb/db_format.h"

#include <cstring>

std::uint16_t load_u16(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t load_u32(const unsigned char* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void store_u16(unsigned char* bytes, std::uint32_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

void store_u32(unsigned char* bytes, std::uint32_t value)
{
    store_u16(bytes, value & 0xFFFF);
    store_u16(bytes + 2, value >> 16);
}

record_header decode_record_header(const unsigned char* bytes, bool long_form)
{
    record_header header{};
    if (long_form) {
        header.magic = load_u32(bytes);
        header.gid = load_u32(bytes + 4);
        header.size = load_u32(bytes + 8);
        header.kind = bytes[12];
        header.flags = bytes[13];
        header.reserved_a = load_u32(bytes + 14);
        header.reserved_b = load_u32(bytes + 18);
        header.offset = load_u32(bytes + 22);
    } else {
        header.magic = load_u16(bytes) == short_record_tag ? record_magic : 0;
        header.gid = load_u32(bytes + 2);
        header.size = load_u16(bytes + 6);
        header.kind = bytes[8];
        header.flags = bytes[9];
        header.reserved_a = load_u32(bytes + 10);
        header.reserved_b = load_u32(bytes + 14);
        header.offset = load_u32(bytes + 18);
    }
    return header;
}

std::uint32_t encode_record_header(const record_header& header, bool long_form, unsigned char* out)
{
    if (long_form) {
        store_u32(out, header.magic);
        store_u32(out + 4, header.gid);
        store_u32(out + 8, header.size);
        out[12] = header.kind;
        out[13] = header.flags;
        store_u32(out + 14, header.reserved_a);
        store_u32(out + 18, header.reserved_b);
        store_u32(out + 22, header.offset);
        return long_record_header_size;
    }
    store_u16(out, short_record_tag);
    store_u32(out + 2, header.gid);
    store_u16(out + 6, header.size & 0xFFFF);
    out[8] = header.kind;
    out[9] = header.flags;
    store_u32(out + 10, header.reserved_a);
    store_u32(out + 14, header.reserved_b);
    store_u32(out + 18, header.offset);
    return short_record_header_size;
}

std::uint32_t encode_file_header(bool long_form, std::uint32_t database_id, unsigned char* out)
{
    std::memset(out, 0, long_file_header_size);
    if (long_form) {
        std::memcpy(out, long_file_magic, sizeof long_file_magic);
        store_u32(out + 9, database_id);
        return long_file_header_size;
    }
    store_u16(out, short_file_tag);
    store_u32(out + 2, database_id);
    return short_file_header_size;
}

bool is_long_file_magic(const unsigned char* bytes)
{
    for (std::size_t i = 0; i < sizeof long_file_magic; ++i) {
        unsigned char c = bytes[i];
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        if (c != static_cast<unsigned char>(long_file_magic[i])) return false;
    }
    return true;
}

void unscramble_body(void* body, std::size_t size)
{
    auto* bytes = static_cast<unsigned char*>(body);
    for (std::size_t i = 0; i < size; ++i) bytes[i] ^= body_key;
}
