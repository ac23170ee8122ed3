// The parts of a PE program file the packaging needs: where its image ends (the package goes
// right behind it) and where the resource marker, RCDATA 100, lies in the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zip_archive.h"

constexpr std::uint32_t marker_record_size = 28;
constexpr std::string_view marker_magic{"_ZoffZ_\0", 8};
constexpr std::uint32_t marker_tag_size = 16;

struct pe_layout {
    std::uint32_t image_end;      // end of the last section's raw data or of the COFF symbol table
    std::uint32_t marker_offset;  // file offset of the 28-byte marker record
};

// Walks the headers, the section table and the resource directory (type 10, id 100, the first
// language). Returns an empty text, or what is missing or malformed.
std::string read_pe_layout(const byte_buffer& file, pe_layout& layout);

// The package offset and the tag (15 characters at most, NUL-padded to 16 bytes) of a marker.
std::uint32_t marker_package_offset(const byte_buffer& file, const pe_layout& layout);
std::string marker_tag(const byte_buffer& file, const pe_layout& layout);
void write_marker(byte_buffer& file, const pe_layout& layout, std::uint32_t package_offset, std::string_view tag);
