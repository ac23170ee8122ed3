// The client's database files: a file header, then a chain of records, each a record header and
// its body. Two forms exist, told apart by the file header:
//
//   short form: "DC", u32 database id, 4 bytes not interpreted (10 bytes); record headers of 22 bytes
//   long form:  "QELDB-25" and its NUL, u32 database id, 12 bytes not interpreted (25 bytes);
//               record headers of 26 bytes
//
// Long record header (also the form every header is held in, in memory):
//   0 "R2D2"  4 gid  8 size (u32)  12 kind  13 flags  14 reserved  18 reserved  22 offset
// Short record header:
//   0 "RE"    2 gid  6 size (u16)   8 kind   9 flags  10 reserved  14 reserved  18 offset
//
// All integers are little-endian. A record's body follows its header directly and the next header
// follows the body: no gaps. `offset` is the position of the header itself. Bodies are at most
// 65535 bytes; the size field of the long form is 32 bits wide, and only walking the chain steps
// by all of it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t short_file_header_size = 10;
constexpr std::uint32_t long_file_header_size = 25;
constexpr std::uint32_t short_record_header_size = 22;
constexpr std::uint32_t long_record_header_size = 26;

constexpr std::uint32_t record_magic = 0x32443252;  // "R2D2"
constexpr std::uint16_t short_record_tag = 0x4552;  // "RE"
constexpr std::uint16_t short_file_tag = 0x4344;    // "DC"
constexpr char long_file_magic[] = "QELDB-25";      // with its NUL: 9 bytes

// The version record of a client database: byte 0, then the version as a 16-bit number.
constexpr std::uint32_t version_record_gid = 0x14000006;

constexpr std::uint8_t flag_scrambled = 0x02;  // the body is stored combined with body_key
constexpr std::uint8_t flag_deleted = 0x04;
constexpr std::uint8_t flag_kind_mark = 0x20;  // set by the writer for every kind but 'p'
constexpr std::uint8_t body_key = 0xA6;

constexpr std::uint8_t kind_text = 't';
constexpr std::uint8_t kind_p = 'p';
constexpr std::uint8_t kind_binary = 'b';

constexpr std::uint32_t main_database_id = 0x01000401;

// One record header in the long form.
struct record_header {
    std::uint32_t magic;
    std::uint32_t gid;
    std::uint32_t size;
    std::uint8_t kind;
    std::uint8_t flags;
    std::uint32_t reserved_a;
    std::uint32_t reserved_b;
    std::uint32_t offset;
};

inline std::uint32_t record_header_size(bool long_form)
{
    return long_form ? long_record_header_size : short_record_header_size;
}

inline std::uint32_t file_header_size(bool long_form)
{
    return long_form ? long_file_header_size : short_file_header_size;
}

// Reads a header of the given form (26 or 22 bytes). A short header's tag "RE" becomes the magic
// "R2D2", any other tag the magic 0; its size is widened.
record_header decode_record_header(const unsigned char* bytes, bool long_form);

// Writes a header in the given form and returns its size. The short form gets the tag "RE" and
// the size cut to 16 bits.
std::uint32_t encode_record_header(const record_header& header, bool long_form, unsigned char* out);

// Where the flags byte stands inside a header of the given form.
inline std::uint32_t record_flags_position(bool long_form) { return long_form ? 13 : 9; }

// A file header: "DC" and the id (10 bytes) or "QELDB-25", NUL and the id (25 bytes); the bytes
// not interpreted are zero. Returns its size. `out` holds 25 bytes.
std::uint32_t encode_file_header(bool long_form, std::uint32_t database_id, unsigned char* out);

// The 9 bytes at `bytes` are "QELDB-25" and a NUL, letters in either case.
bool is_long_file_magic(const unsigned char* bytes);

// Combines every byte with body_key: scrambles and unscrambles alike.
void unscramble_body(void* body, std::size_t size);

std::uint16_t load_u16(const unsigned char* bytes);
std::uint32_t load_u32(const unsigned char* bytes);
void store_u16(unsigned char* bytes, std::uint32_t value);
void store_u32(unsigned char* bytes, std::uint32_t value);
