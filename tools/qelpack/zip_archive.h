// One-file ZIP archives, as the package holds its members: a local header, the raw-deflated
// data, one central directory entry and the end record with an empty comment. The structures
// and the extraction are the unzip library's (libs/dunzipnt/unzip_core.h); this side adds the
// writer and the strict checks of a package member.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

using byte_buffer = std::vector<unsigned char>;

// The DOS date-time of a moment in local time: date in the high 16 bits, time in the low 16.
// Moments before 1980 give 1 January 1980, 00:00.
std::uint32_t dos_date_time(std::time_t moment);

std::uint32_t crc32_of(const byte_buffer& data);

// An archive holding `data` as the one entry `entry_name`, deflated.
byte_buffer make_zip(std::string_view entry_name, const byte_buffer& data, std::uint32_t dos_time);

struct zip_contents {
    std::string entry_name;
    std::uint32_t recorded_size;  // the uncompressed size the central directory gives
    byte_buffer data;             // the entry's data, inflated
};

// Reads a one-entry archive of exactly `size` bytes: the structure, the agreement of local
// header and central directory, the inflated data against the recorded size and CRC-32.
// Returns an empty text when all is sound, otherwise what is wrong.
std::string read_zip(const unsigned char* archive, std::size_t size, zip_contents& contents);
