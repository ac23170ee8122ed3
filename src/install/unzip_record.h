// The unzip library's command record: 110 bytes of little-endian 32-bit fields, the same in a
// 32-bit and a 64-bit build. Its addresses (the two paths, the two callbacks, the entry name the
// library announces) are 4-byte fields too, so a 64-bit process may only hand over addresses
// below 4 GiB. Shared by SETUP.EXE, which fills the record, and dunzipnt.dll, which reads it.
#pragma once

#include <cstdint>

namespace unzip_record {

constexpr unsigned size = 110;

// Offsets of the fields the program fills and the library reads.
constexpr unsigned at_size = 0;
constexpr unsigned at_command = 4;
constexpr unsigned at_archive = 8;
constexpr unsigned at_destination = 24;
constexpr unsigned at_replace = 36;           // 1: replace an existing file; 0: keep it, answer 49
constexpr unsigned at_keep_directories = 40;  // 1: the entry's directories are made; 0: its last component only
constexpr unsigned at_progress = 68;          // callback with three 32-bit arguments
constexpr unsigned at_entry = 100;            // callback with seven 32-bit arguments

constexpr std::uint32_t command_extract = 8;
constexpr std::uint32_t command_defaults = 9;

inline void put(unsigned char* record, unsigned offset, std::uint32_t value)
{
    for (unsigned i = 0; i < 4; ++i) record[offset + i] = static_cast<unsigned char>(value >> 8 * i);
}

inline std::uint32_t get(const unsigned char* record, unsigned offset)
{
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i) value |= std::uint32_t{record[offset + i]} << 8 * i;
    return value;
}

// An address as a 4-byte field; false, and nothing stored, when it lies at 4 GiB or above.
inline bool address_field(const void* address, std::uint32_t& field)
{
    const auto value = reinterpret_cast<std::uintptr_t>(address);
    if (static_cast<std::uint64_t>(value) >> 32) return false;
    field = static_cast<std::uint32_t>(value);
    return true;
}

// A 4-byte address field widened back to a pointer.
template <typename T>
T field_address(std::uint32_t field)
{
    return reinterpret_cast<T>(static_cast<std::uintptr_t>(field));
}

// A function's address as a 4-byte field, as address_field.
template <typename Function>
bool function_field(Function* function, std::uint32_t& field)
{
    return address_field(reinterpret_cast<const void*>(function), field);
}

}  // namespace unzip_record
