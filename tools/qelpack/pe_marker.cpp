#include "pe_marker.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t rt_rcdata = 10;
constexpr std::uint32_t marker_id = 100;
constexpr std::uint32_t high_bit = 0x80000000u;
constexpr std::size_t section_header_size = 40;
constexpr std::size_t coff_symbol_size = 18;

std::uint32_t get16(const byte_buffer& file, std::size_t at) { return file[at] | file[at + 1] << 8; }

std::uint32_t get32(const byte_buffer& file, std::size_t at)
{
    return get16(file, at) | get16(file, at + 2) << 16;
}

struct section {
    std::uint32_t virtual_address;
    std::uint32_t raw_size;
    std::uint32_t raw_offset;
};

struct pe_walker {
    const byte_buffer& file;
    std::vector<section> sections;

    bool has(std::uint64_t at, std::uint64_t count) const { return at + count <= file.size(); }

    // The file offset of `count` bytes at `rva`, which must lie in one section's raw data.
    bool map(std::uint32_t rva, std::uint32_t count, std::uint64_t& offset) const
    {
        for (const section& s : sections) {
            if (rva < s.virtual_address) continue;
            const std::uint64_t into = rva - s.virtual_address;
            if (into + count > s.raw_size) continue;
            offset = s.raw_offset + into;
            return has(offset, count);
        }
        return false;
    }

    // The OffsetToData of a directory's entry: the one with `id`, or the first when id < 0.
    bool entry(std::uint64_t base, std::uint32_t directory, long id, std::uint32_t& target) const
    {
        const std::uint64_t at = base + directory;
        if (!has(at, 16)) return false;
        const std::uint32_t named = get16(file, at + 12);
        const std::uint32_t ids = get16(file, at + 14);
        if (!has(at + 16, (named + ids) * 8ull)) return false;
        for (std::uint32_t i = id < 0 ? 0 : named; i < named + ids; ++i) {
            const std::uint64_t item = at + 16 + i * 8ull;
            if (id < 0 || get32(file, item) == static_cast<std::uint32_t>(id)) {
                target = get32(file, item + 4);
                return true;
            }
        }
        return false;
    }
};

}  // namespace

std::string read_pe_layout(const byte_buffer& file, pe_layout& layout)
{
    pe_walker pe{file, {}};
    if (!pe.has(0, 64) || file[0] != 'M' || file[1] != 'Z') return "not a program file (no MZ header)";
    const std::uint64_t signature = get32(file, 0x3C);
    if (!pe.has(signature, 24) || std::memcmp(&file[signature], "PE\0\0", 4) != 0) return "not a PE program file";
    const std::uint64_t coff = signature + 4;
    const std::uint32_t section_count = get16(file, coff + 2);
    const std::uint32_t symbols = get32(file, coff + 8);
    const std::uint32_t symbol_count = get32(file, coff + 12);
    const std::uint64_t optional = coff + 20;
    const std::uint32_t optional_size = get16(file, coff + 16);
    if (!pe.has(optional, optional_size) || optional_size < 2) return "the optional header is cut short";
    const std::uint32_t magic = get16(file, optional);
    const std::uint32_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
    if (!directories) return "unknown optional header kind";
    if (optional_size < directories + 3 * 8 || get32(file, optional + directories - 4) < 3)
        return "the optional header has no resource directory entry";
    const std::uint32_t resource_rva = get32(file, optional + directories + 16);
    const std::uint64_t table = optional + optional_size;
    if (!pe.has(table, section_count * section_header_size)) return "the section table is cut short";

    std::uint64_t image_end = get32(file, optional + 60);  // SizeOfHeaders
    for (std::uint32_t i = 0; i < section_count; ++i) {
        const std::uint64_t at = table + i * section_header_size;
        section s{get32(file, at + 12), get32(file, at + 16), get32(file, at + 20)};
        if (s.raw_size && !pe.has(s.raw_offset, s.raw_size))
            return "a section's raw data reach past the end of the file";
        if (s.raw_size) image_end = std::max<std::uint64_t>(image_end, std::uint64_t{s.raw_offset} + s.raw_size);
        pe.sections.push_back(s);
    }
    if (symbols) {  // the COFF symbol table and the string table behind it
        std::uint64_t end = symbols + std::uint64_t{symbol_count} * coff_symbol_size;
        if (!pe.has(end, 4)) return "the COFF symbol table reaches past the end of the file";
        end += std::max<std::uint32_t>(get32(file, end), 4);
        if (!pe.has(end, 0)) return "the COFF string table reaches past the end of the file";
        image_end = std::max(image_end, end);
    }
    if (image_end > file.size()) return "the headers reach past the end of the file";
    layout.image_end = static_cast<std::uint32_t>(image_end);

    std::uint64_t base = 0;
    if (!resource_rva || !pe.map(resource_rva, 16, base)) return "no resource directory";
    std::uint32_t types = 0, ids = 0, leaf = 0;
    if (!pe.entry(base, 0, rt_rcdata, types) || !(types & high_bit)) return "no RCDATA resources";
    if (!pe.entry(base, types & ~high_bit, marker_id, ids) || !(ids & high_bit))
        return "no RCDATA 100 (the resource marker)";
    if (!pe.entry(base, ids & ~high_bit, -1, leaf) || (leaf & high_bit) || !pe.has(base + leaf, 16))
        return "RCDATA 100 has no language entry";
    const std::uint32_t data_rva = get32(file, base + leaf);
    const std::uint32_t data_size = get32(file, base + leaf + 4);
    if (data_size < marker_record_size) return "RCDATA 100 is " + std::to_string(data_size) + " bytes, not 28";
    std::uint64_t marker = 0;
    if (!pe.map(data_rva, marker_record_size, marker)) return "RCDATA 100 lies outside the sections' data";
    if (std::memcmp(&file[marker], marker_magic.data(), marker_magic.size()) != 0)
        return "RCDATA 100 does not begin with the marker magic _ZoffZ_";
    layout.marker_offset = static_cast<std::uint32_t>(marker);
    return {};
}

std::uint32_t marker_package_offset(const byte_buffer& file, const pe_layout& layout)
{
    return get32(file, layout.marker_offset + 8);
}

std::string marker_tag(const byte_buffer& file, const pe_layout& layout)
{
    const char* tag = reinterpret_cast<const char*>(&file[layout.marker_offset + 12]);
    return std::string(tag, strnlen(tag, marker_tag_size - 1));
}

void write_marker(byte_buffer& file, const pe_layout& layout, std::uint32_t package_offset, std::string_view tag)
{
    unsigned char* record = &file[layout.marker_offset];
    for (int i = 0; i < 4; ++i) record[8 + i] = static_cast<unsigned char>(package_offset >> 8 * i);
    std::memset(record + 12, 0, marker_tag_size);
    std::memcpy(record + 12, tag.data(), std::min<std::size_t>(tag.size(), marker_tag_size - 1));
}
