// The package behind SETUP.EXE's image: header fields, member table, members' data. One
// description of the layout serves the program's reader and the packaging tool's writer.
//
// All integers are little-endian. A counted string is a u16 length and that many bytes, no NUL;
// a field of capacity c holds at most c - 1 bytes. A name list is a u16 count and that many
// counted strings of capacity 128; a paired list holds two strings per entry; a number list is
// a u16 count and that many u16 values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_state.h"

constexpr unsigned list_name_capacity = 128;
constexpr unsigned group_name_capacity = 32;
constexpr int group_table_capacity = 20;
constexpr unsigned number_text_capacity = 6;
constexpr std::uint32_t member_entry_fixed_size = 2 + 4 + 4;  // name length, unpacked size, stored size

// One member: its sizes, the absolute file offset of its data, and its name right behind it.
struct package_member {
    std::uint32_t unpacked_size;
    std::uint32_t stored_size;
    std::uint32_t data_offset;
};

inline char* member_name(package_member* member) { return reinterpret_cast<char*>(member + 1); }
inline const char* member_name(const package_member* member) { return reinterpret_cast<const char*>(member + 1); }

// The member table: one memory block, the pointers right behind the header.
struct member_table {
    std::uint16_t count;
    std::uint32_t total_unpacked;
    package_member** members;
};

struct group_value_node {
    std::uint32_t value;
    group_value_node* next;
};

struct group_name_node {
    char name[group_name_capacity];
    group_name_node* next;
};

// A group record; its lists hold their items newest first, the reverse of file order.
struct group_record {
    char name[group_name_capacity];
    std::uint32_t value;
    std::uint16_t value_count;
    std::uint16_t name_count;
    group_value_node* values;
    group_name_node* names;
};

// Visits a group's list in file order: the lists hold their items newest first.
template <typename Node, typename Visit>
void in_file_order(const Node* node, Visit visit)
{
    if (!node) return;
    in_file_order(node->next, visit);
    visit(*node);
}

// Fields the program reads past but does not use. Kept so that the tools can show a package
// and build one exactly as described.
struct package_reserved {
    char path_text[257];  // field 2
    char text_5[128];
    char text_13[64];
    char text_14[64];
    char number_17[number_text_capacity];
    char number_18[number_text_capacity];
    char switch_19[number_text_capacity];
    char switch_20[number_text_capacity];
    std::uint8_t number_17_value;  // the low byte of field 17's number
    std::int32_t number_18_value;
    int switch_a;  // set by field 19 or 20
    int switch_b;  // set by field 20
    std::uint16_t numbers_26_count;
    std::uint32_t* numbers_26;
    paired_name_list pairs_27;
    number_list numbers_35;
    number_list numbers_36;
    paired_name_list pairs_38;
    name_list names_39;
    std::uint16_t group_count;
    group_record groups[group_table_capacity];
};

// Where the reader's bytes come from. `read` delivers exactly `count` bytes or fails.
struct package_source {
    void* context;
    bool (*read)(void* context, void* buffer, std::uint32_t count);
};

// How a header field is stored; the reader, the writer and qelpack's manifest all follow the
// one table of header_fields().
enum class field_kind : std::uint8_t {
    text,             // counted string into a buffer of the field's capacity
    number_low_byte,  // field 17: text; its decimal number's low byte is kept
    number,           // field 18: text; its decimal number is kept
    switch_one,       // field 19: text; "yes..." sets switch a
    switch_two,       // field 20: text; "yes..." sets switches a and b
    option_flag,      // u16 flag unless the command line already set it
    flag,             // u16 into an int flag
    word,             // u16
    word_widened,     // u16 kept as u32
    u32_array,        // count, then that many u32
    names,            // name list
    pairs,            // paired name list
    numbers,          // number list of at most 64 values
};

// What a field holds, whatever its stored form: a text, a flag, a number or a list.
enum class field_shape : std::uint8_t { text, flag, number, list };

constexpr field_shape shape_of(field_kind kind)
{
    switch (kind) {
    case field_kind::text:
    case field_kind::number_low_byte:
    case field_kind::number:
    case field_kind::switch_one:
    case field_kind::switch_two:
        return field_shape::text;
    case field_kind::option_flag:
    case field_kind::flag:
        return field_shape::flag;
    case field_kind::word:
    case field_kind::word_widened:
        return field_shape::number;
    case field_kind::u32_array:
    case field_kind::names:
    case field_kind::pairs:
    case field_kind::numbers:
        break;
    }
    return field_shape::list;
}

struct header_field {
    const char* name;  // its key, or its section, in qelpack's manifest
    field_kind kind;
    std::uint16_t capacity;  // texts only
    std::uint16_t fatal_error;
    bool prose;  // a text for people: the manifest writes its line breaks as \n
    // Where the field lives: a member of run_state or of package_reserved.
    void* (*place)(run_state&, package_reserved&);
};

// Fields 2 to 41, in file order (field 1 is the magic, 42 on the groups and members).
std::span<const header_field> header_fields();

// Reads every header field and the member table, from the package's first byte ("RS") on, into
// `state` and `reserved`. `package_start` is the package's offset in its file: the members' data
// offsets count from it. `file_size` is the file's length: a member whose data would end past it
// fails, before anything acts on the package (a download cut short); header_only reads the header
// of a package whose data is not there. Returns 0, or the fatal error of the first field that
// failed (support/fatal_errors.h: bad_magic, bad_header_field for a header field or the member
// count, bad_number_17 to bad_switch_20 for fields 17 to 20, bad_member_entry for a group record
// or a member entry, member_read for data past the file's end). Command-line flags set in `state`
// decide fields 21 and 22. Lists, groups and the member table are memory blocks;
// release_package_fields frees them.
constexpr std::uint64_t header_only = UINT64_MAX;
std::uint16_t read_package_fields(package_source& source, std::uint32_t package_start, std::uint64_t file_size,
                                  run_state& state, package_reserved& reserved);

// Frees all that read_package_fields allocated, also after a failed read; leaves empty fields.
void release_package_fields(run_state& state, package_reserved& reserved);

// A member as the writer sees it.
struct member_entry {
    std::string name;
    std::uint32_t unpacked_size;
    std::uint32_t stored_size;
};

// The bytes of a package up to its members' data, as read_package_fields reads them.
std::vector<unsigned char> encode_package_header(const run_state& state, const package_reserved& reserved,
                                                 const std::vector<member_entry>& members);

// A member name that stays inside the destination: not empty, no drive, no leading separator,
// no ".." component nor one that Windows reads as ".." ("...", ".. ": two or more characters, all
// dots and blanks); either slash counts as a separator.
bool is_safe_member_name(std::string_view name);

// Appends to a list, growing its arrays (memory blocks).
void append_name(name_list& list, std::string_view name);
void append_pair(paired_name_list& list, std::string_view first, std::string_view second);

// The member that is the unzip library itself: a first member of this name is stored raw.
constexpr std::string_view unzip_library_name = "dunzipnt.dll";

// Names compared as the package compares them: ASCII letters without regard to case.
bool same_name(std::string_view a, std::string_view b);

// The list names the member (compared as same_name does).
bool names_member(const name_list& list, std::string_view name);

// A member of merge_list_a or merge_list_b: a whole long-form database, stored raw, whose records
// the merge reads in place from the package; it is never installed as a file.
bool merged_in_place(const run_state& state, std::string_view name);
