// The unzip library's portable core, without windows.h: the ZIP structures it reads (end record,
// central directory entry, local header, data descriptor), the search for an archive's one
// entry, the entry-name safety check, and the extraction of the entry's data (stored or
// deflated) with its CRC-32 and size checked. It reads through an unzip_reader and writes
// through an unzip_writer, in chunks; it never holds the whole archive or the whole file.
//
// All integers in a ZIP archive are little-endian. The library reads archives of one file
// entry and below 4 GiB; zip64, encryption, several disks and methods other than stored (0) and
// deflated (8) are refused as unsupported.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unzip {

// The library's result codes; docs/unzip-library.md tells what the calling program does with each.
enum result : int {
    ok = 0,
    no_memory = 4,        // a memory block could not be had
    cannot_create = 28,   // the output file cannot be created, written or put in place
    skipped = 49,         // a callback answered 0: nothing written
    disk_full = 50,       // the disk filled up while the file was written
    bad_record = 60,      // the command record is not one the library understands
    cannot_read = 61,     // the archive cannot be opened or read
    damaged = 62,         // the archive's structure is broken, or it holds not exactly one file entry
    unsupported = 63,     // encrypted, zip64, several disks, or a method other than stored and deflated
    crc_mismatch = 64,    // the data's CRC-32 differs from the recorded one
    size_mismatch = 65,   // the data unpack to another size than the recorded one
    unsafe_name = 66,     // the entry's name would leave the destination, or cannot be a file name
};

// Signatures and fixed sizes of the structures.
constexpr std::uint32_t local_header_signature = 0x04034B50;
constexpr std::uint32_t central_entry_signature = 0x02014B50;
constexpr std::uint32_t end_record_signature = 0x06054B50;
constexpr std::uint32_t data_descriptor_signature = 0x08074B50;
constexpr std::uint32_t zip64_locator_signature = 0x07064B50;
constexpr std::uint32_t local_header_size = 30;
constexpr std::uint32_t central_entry_size = 46;
constexpr std::uint32_t end_record_size = 22;
constexpr std::uint32_t zip64_locator_size = 20;
constexpr std::uint32_t max_comment_length = 0xFFFF;

// General-purpose flag bits.
constexpr std::uint16_t flag_encrypted = 0x0001;
constexpr std::uint16_t flag_data_descriptor = 0x0008;  // CRC and sizes follow the data
constexpr std::uint16_t flag_strong_encryption = 0x0040;
constexpr std::uint16_t flag_utf8_name = 0x0800;
constexpr std::uint16_t flag_masked_directory = 0x2000;  // central directory encrypted

constexpr std::uint16_t method_stored = 0;
constexpr std::uint16_t method_deflated = 8;
constexpr std::uint16_t zip64_extra_id = 0x0001;

// Little-endian fields.
inline std::uint16_t get16(const unsigned char* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }
inline std::uint32_t get32(const unsigned char* at)
{
    return get16(at) | static_cast<std::uint32_t>(get16(at + 2)) << 16;
}

struct end_record {
    std::uint16_t disk;
    std::uint16_t directory_disk;
    std::uint16_t entries_on_disk;
    std::uint16_t entries;
    std::uint32_t directory_size;
    std::uint32_t directory_offset;
    std::uint16_t comment_length;
};

// The fields that local header and central directory entry share.
struct entry_fields {
    std::uint16_t version_needed;
    std::uint16_t flags;
    std::uint16_t method;
    std::uint32_t dos_time;  // date in the high 16 bits, time in the low 16
    std::uint32_t crc;
    std::uint32_t packed_size;
    std::uint32_t unpacked_size;
    std::uint16_t name_length;
    std::uint16_t extra_length;
};

struct central_entry : entry_fields {
    std::uint16_t made_by;
    std::uint16_t comment_length;
    std::uint16_t disk;
    std::uint16_t internal_attributes;
    std::uint32_t external_attributes;
    std::uint32_t local_offset;
};

using local_header = entry_fields;

struct data_descriptor {
    std::uint32_t crc;
    std::uint32_t packed_size;
    std::uint32_t unpacked_size;
    std::uint32_t length;  // 16 with its optional signature, 12 without
};

// Each reads its structure from `bytes` (of its fixed size) and answers false when the signature
// is not there.
bool parse_end_record(const unsigned char* bytes, end_record& out);
bool parse_central_entry(const unsigned char* bytes, central_entry& out);
bool parse_local_header(const unsigned char* bytes, local_header& out);
// The descriptor from the `available` bytes behind the data (its signature is optional);
// false when fewer than its 12 or 16 bytes are there.
bool parse_data_descriptor(const unsigned char* bytes, std::size_t available, data_descriptor& out);

// Whether an extra field area holds a zip64 block. Walks its blocks; a torn last block ends it.
bool has_zip64_block(const unsigned char* extra, std::size_t length);

// The archive, read at offsets: `read` fills `count` bytes at `offset` (never past `size`) and
// answers false when it cannot.
struct unzip_reader {
    void* context;
    std::uint32_t size;
    bool (*read)(void* context, std::uint32_t offset, void* buffer, std::uint32_t count);
};

// Where the data go, a chunk at a time: `write` answers ok, or the result code to stop with.
struct unzip_writer {
    void* context;
    int (*write)(void* context, const void* data, std::uint32_t count);
};

// The one entry of an archive, as its central directory describes it, and where its data begin.
struct entry_info {
    std::uint16_t flags;
    std::uint16_t method;
    std::uint32_t dos_time;
    std::uint32_t crc;
    std::uint32_t packed_size;
    std::uint32_t unpacked_size;
    std::uint32_t data_offset;
    char* name;  // the name's bytes as stored, NUL-terminated; owned, given back by release_entry
    std::uint16_t name_length;
};

// Finds the archive's one file entry through its end record (a comment behind it is fine) and
// central directory, checks its local header (and data descriptor, when flag bit 3 is set: the
// central directory's sizes and CRC count) and that its data lie before the central directory.
// On ok, `entry` holds it. The name is not checked here: see check_entry_name.
int find_only_entry(const unzip_reader& reader, entry_info& entry);
void release_entry(entry_info& entry);

// Reads the entry's data, unpacks them (inflating in chunks) and hands them to `writer`.
// ok when they came to exactly the recorded size and CRC-32; `actual_crc`, when given, receives
// the CRC-32 of what was written when the result is crc_mismatch or ok.
int extract_entry(const unzip_reader& reader, const entry_info& entry, const unzip_writer& writer,
                  std::uint32_t* actual_crc = nullptr);

// Whether a byte starts a double-byte character in the code page the name is in.
using lead_byte_test = bool (*)(unsigned char);

// Checks an entry name that will be joined to the destination directory, and turns its slashes
// into backslashes. Refused (unsafe_name): empty; starting with a slash or backslash; any colon
// (drive or stream); control characters and < > " | ? *; an empty component ("a//b", a trailing
// slash); a component ending in a dot or a blank (".", "..", "x." alike: Windows drops those);
// a device name (CON, PRN, AUX, NUL, CLOCK$, COM1-9, LPT1-9, with or without extension).
// A trail byte of a double-byte character is never taken for a backslash or a character above;
// a lead byte followed by a byte below 0x40 (no trail byte) is refused.
int check_entry_name(char* name, std::size_t length, lead_byte_test lead = nullptr);

}  // namespace unzip
