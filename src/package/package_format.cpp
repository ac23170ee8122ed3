#include "package/package_format.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "support/fatal_errors.h"
#include "support/memory.h"

namespace {

#define STATE(member) [](run_state& s, package_reserved&) -> void* { return &s.member; }
#define RESERVED(member) [](run_state&, package_reserved& r) -> void* { return &r.member; }

// Fields 2 to 41, in file order (field 1 is the magic, 42 on the groups and members).
const header_field field_table[] = {
    {"reserved_path", field_kind::text, 257, fatal::bad_header_field, false, RESERVED(path_text)},
    {"progman_group", field_kind::text, 64, fatal::bad_header_field, true, STATE(progman_group)},
    {"progman_item", field_kind::text, 128, fatal::bad_header_field, true, STATE(progman_item)},
    {"reserved_text_5", field_kind::text, 128, fatal::bad_header_field, false, RESERVED(text_5)},
    {"progman_program", field_kind::text, 64, fatal::bad_header_field, false, STATE(progman_program)},
    {"product_name", field_kind::text, 64, fatal::bad_header_field, true, STATE(product_name)},
    {"package_version", field_kind::text, 32, fatal::bad_header_field, false, STATE(package_version)},
    {"welcome_text", field_kind::text, 512, fatal::bad_header_field, true, STATE(welcome_text)},
    {"not_found_text", field_kind::text, 256, fatal::bad_header_field, true, STATE(not_found_text)},
    {"next_disk_command", field_kind::text, 32, fatal::bad_header_field, false, STATE(next_disk_command)},
    {"later_disk_marker", field_kind::text, 32, fatal::bad_header_field, false, STATE(later_disk_marker)},
    {"reserved_text_13", field_kind::text, 64, fatal::bad_header_field, false, RESERVED(text_13)},
    {"reserved_text_14", field_kind::text, 64, fatal::bad_header_field, false, RESERVED(text_14)},
    {"low_space_program", field_kind::text, 64, fatal::bad_header_field, false, STATE(low_space_program)},
    {"direct_member", field_kind::text, 32, fatal::bad_header_field, false, STATE(direct_member)},
    {"reserved_number_17", field_kind::number_low_byte, number_text_capacity, fatal::bad_number_17, false, RESERVED(number_17)},
    {"reserved_number_18", field_kind::number, number_text_capacity, fatal::bad_number_18, false, RESERVED(number_18)},
    {"reserved_switch_19", field_kind::switch_one, number_text_capacity, fatal::bad_switch_19, false, RESERVED(switch_19)},
    {"reserved_switch_20", field_kind::switch_two, number_text_capacity, fatal::bad_switch_20, false, RESERVED(switch_20)},
    {"skip_modem", field_kind::option_flag, 0, fatal::bad_header_field, false, STATE(skip_modem)},
    {"quiet_finish", field_kind::option_flag, 0, fatal::bad_header_field, false, STATE(quiet_finish)},
    {"check_system", field_kind::flag, 0, fatal::bad_header_field, false, STATE(check_system)},
    {"write_version_inf", field_kind::flag, 0, fatal::bad_header_field, false, STATE(write_version_inf)},
    {"db_version", field_kind::word, 0, fatal::bad_header_field, false, STATE(db_version)},
    {"reserved_numbers_26", field_kind::u32_array, 0, fatal::bad_header_field, false, RESERVED(numbers_26_count)},
    {"reserved_pairs_27", field_kind::pairs, 0, fatal::bad_header_field, false, RESERVED(pairs_27)},
    {"rename_list", field_kind::pairs, 0, fatal::bad_header_field, false, STATE(rename_list)},
    {"prepare_dir_list", field_kind::names, 0, fatal::bad_header_field, false, STATE(prepare_dir_list)},
    {"windows_dir_deletions", field_kind::names, 0, fatal::bad_header_field, false, STATE(windows_dir_deletions)},
    {"target_dir_deletions", field_kind::names, 0, fatal::bad_header_field, false, STATE(target_dir_deletions)},
    {"merge_list_a", field_kind::names, 0, fatal::bad_header_field, false, STATE(merge_list_a)},
    {"merge_list_b", field_kind::names, 0, fatal::bad_header_field, false, STATE(merge_list_b)},
    {"accepted_builds", field_kind::numbers, 0, fatal::bad_header_field, false, STATE(accepted_builds)},
    {"reserved_numbers_35", field_kind::numbers, 0, fatal::bad_header_field, false, RESERVED(numbers_35)},
    {"reserved_numbers_36", field_kind::numbers, 0, fatal::bad_header_field, false, RESERVED(numbers_36)},
    {"msie_skip_list", field_kind::names, 0, fatal::bad_header_field, false, STATE(msie_skip_list)},
    {"reserved_pairs_38", field_kind::pairs, 0, fatal::bad_header_field, false, RESERVED(pairs_38)},
    {"reserved_names_39", field_kind::names, 0, fatal::bad_header_field, false, RESERVED(names_39)},
    {"extra_space_kb", field_kind::word, 0, fatal::bad_header_field, false, STATE(extra_space_kb)},
    {"required_msie_build", field_kind::word_widened, 0, fatal::bad_header_field, false, STATE(required_msie_build)},
};

#undef STATE
#undef RESERVED


// Reads through the source and counts what it consumed, so the data area's offset is known.
struct reader {
    package_source& source;
    std::uint32_t consumed;

    bool bytes(void* buffer, std::uint32_t count)
    {
        if (count == 0) return true;
        if (!source.read(source.context, buffer, count)) return false;
        consumed += count;
        return true;
    }
    bool u16(std::uint16_t& value)
    {
        unsigned char raw[2];
        if (!bytes(raw, 2)) return false;
        value = static_cast<std::uint16_t>(raw[0] | raw[1] << 8);
        return true;
    }
    bool u32(std::uint32_t& value)
    {
        unsigned char raw[4];
        if (!bytes(raw, 4)) return false;
        value = raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<std::uint32_t>(raw[3]) << 24;
        return true;
    }
    // A counted string of at most capacity - 1 bytes, into `buffer` or into a new block.
    char* text(char* buffer, std::uint32_t capacity)
    {
        std::uint16_t length = 0;
        if (!u16(length) || length > capacity - 1) return nullptr;
        char* out = buffer ? buffer : static_cast<char*>(alloc_block(length + 1u));
        if (!bytes(out, length)) {
            if (!buffer) free_block(out);
            return nullptr;
        }
        out[length] = '\0';
        return out;
    }
};

// The decimal number at the start of a text, after blanks and a sign.
long leading_number(const char* text) { return std::strtol(text, nullptr, 10); }

bool starts_with_yes(const char* text)
{
    return std::strlen(text) >= 3 && same_name(std::string_view(text, 3), "yes");
}

bool read_names(reader& in, std::uint16_t& count, char**& first, char*** second)
{
    std::uint16_t wanted = 0;
    if (!in.u16(wanted)) return false;
    if (wanted == 0) return true;
    first = static_cast<char**>(alloc_block(wanted * sizeof(char*)));
    if (second) *second = static_cast<char**>(alloc_block(wanted * sizeof(char*)));
    count = wanted;  // the arrays are zero-filled, so a partial list frees cleanly
    for (std::uint16_t i = 0; i < wanted; ++i) {
        if (!(first[i] = in.text(nullptr, list_name_capacity))) return false;
        if (second && !((*second)[i] = in.text(nullptr, list_name_capacity))) return false;
    }
    return true;
}

bool read_field(reader& in, const header_field& field, run_state& state, package_reserved& reserved)
{
    void* place = field.place(state, reserved);
    std::uint16_t word = 0;
    switch (field.kind) {
    case field_kind::text:
        return in.text(static_cast<char*>(place), field.capacity) != nullptr;
    case field_kind::number_low_byte:
    case field_kind::number:
    case field_kind::switch_one:
    case field_kind::switch_two: {
        char* text = in.text(static_cast<char*>(place), field.capacity);
        if (!text) return false;
        if (field.kind == field_kind::number_low_byte && *text)
            reserved.number_17_value = static_cast<std::uint8_t>(leading_number(text));
        if (field.kind == field_kind::number && *text)
            reserved.number_18_value = static_cast<std::int32_t>(leading_number(text));
        if (field.kind == field_kind::switch_one && starts_with_yes(text)) reserved.switch_a = 1;
        if (field.kind == field_kind::switch_two && starts_with_yes(text)) reserved.switch_a = reserved.switch_b = 1;
        return true;
    }
    case field_kind::option_flag:
        if (!in.u16(word)) return false;
        if (!*static_cast<int*>(place)) *static_cast<int*>(place) = word;
        return true;
    case field_kind::flag:
        if (!in.u16(word)) return false;
        *static_cast<int*>(place) = word;
        return true;
    case field_kind::word:
        return in.u16(*static_cast<std::uint16_t*>(place));
    case field_kind::word_widened:
        if (!in.u16(word)) return false;
        *static_cast<std::uint32_t*>(place) = word;
        return true;
    case field_kind::u32_array: {
        std::uint16_t count = 0;
        if (!in.u16(count)) return false;
        if (count == 0) return true;
        reserved.numbers_26 = static_cast<std::uint32_t*>(alloc_block(count * 4u));
        reserved.numbers_26_count = count;
        for (std::uint16_t i = 0; i < count; ++i)
            if (!in.u32(reserved.numbers_26[i])) return false;
        return true;
    }
    case field_kind::names: {
        auto& list = *static_cast<name_list*>(place);
        return read_names(in, list.count, list.names, nullptr);
    }
    case field_kind::pairs: {
        auto& list = *static_cast<paired_name_list*>(place);
        return read_names(in, list.count, list.first, &list.second);
    }
    case field_kind::numbers: {
        auto& list = *static_cast<number_list*>(place);
        std::uint16_t count = 0;
        // The list's array is fixed: a longer list would write past it.
        if (!in.u16(count) || count > number_list_capacity) return false;
        list.count = count;
        for (std::uint16_t i = 0; i < count; ++i)
            if (!in.u16(list.values[i])) return false;
        return true;
    }
    }
    return false;
}

bool read_group(reader& in, group_record& group)
{
    if (!in.text(group.name, group_name_capacity) || !in.u32(group.value) || !in.u16(group.value_count)) return false;
    for (std::uint16_t i = 0; i < group.value_count; ++i) {
        auto* node = static_cast<group_value_node*>(alloc_block(sizeof(group_value_node)));
        node->next = group.values;
        group.values = node;
        if (!in.u32(node->value)) return false;
    }
    if (!in.u16(group.name_count)) return false;
    for (std::uint16_t i = 0; i < group.name_count; ++i) {
        auto* node = static_cast<group_name_node*>(alloc_block(sizeof(group_name_node)));
        node->next = group.names;
        group.names = node;
        if (!in.text(node->name, group_name_capacity)) return false;
    }
    return true;
}

void add_to_merge_sum(const name_list& list, const char* name, std::uint32_t size, std::uint32_t& sum)
{
    if (names_member(list, name)) sum += size;
}

std::uint16_t read_members(reader& in, std::uint32_t package_start, std::uint64_t file_size, run_state& state)
{
    std::uint16_t count = 0;
    if (!in.u16(count)) return fatal::bad_header_field;
    auto* table = static_cast<member_table*>(alloc_block(sizeof(member_table) + count * sizeof(package_member*)));
    table->members = reinterpret_cast<package_member**>(table + 1);
    table->count = count;
    state.file_table = table;
    state.merge_bytes_a = state.merge_bytes_b = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint16_t length = 0;
        if (!in.u16(length)) return fatal::bad_member_entry;
        package_member* member =
            static_cast<package_member*>(alloc_block(static_cast<std::uint32_t>(sizeof(package_member)) + length + 1));
        table->members[i] = member;
        char* name = member_name(member);
        if (!in.bytes(name, length) || !in.u32(member->unpacked_size) || !in.u32(member->stored_size))
            return fatal::bad_member_entry;
        // A name with a NUL inside, a drive, a leading separator or ".." would land outside the target.
        if (std::strlen(name) != length || !is_safe_member_name(name)) return fatal::bad_member_entry;
        add_to_merge_sum(state.merge_list_a, name, member->unpacked_size, state.merge_bytes_a);
        add_to_merge_sum(state.merge_list_b, name, member->unpacked_size, state.merge_bytes_b);
        table->total_unpacked += member->unpacked_size;
    }
    std::uint64_t offset = static_cast<std::uint64_t>(package_start) + in.consumed;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (offset > UINT32_MAX) return fatal::bad_member_entry;  // no file offset can reach it
        table->members[i]->data_offset = static_cast<std::uint32_t>(offset);
        offset += table->members[i]->stored_size;
    }
    if (file_size != header_only && offset > file_size) return fatal::member_read;  // the last member ends last
    return 0;
}

void free_names(std::uint16_t& count, char**& names)
{
    if (!names) return;
    for (std::uint16_t i = 0; i < count; ++i)
        if (names[i]) free_block(names[i]);
    free_block(names);
    names = nullptr;
}

void free_list(name_list& list)
{
    free_names(list.count, list.names);
    list.count = 0;
}

void free_list(paired_name_list& list)
{
    free_names(list.count, list.first);
    free_names(list.count, list.second);
    list.count = 0;
}

// Writer side: little-endian values and counted strings.
struct writer {
    std::vector<unsigned char> bytes;

    void u16(std::uint32_t value)
    {
        bytes.push_back(static_cast<unsigned char>(value));
        bytes.push_back(static_cast<unsigned char>(value >> 8));
    }
    void u32(std::uint32_t value)
    {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
    void text(std::string_view text)
    {
        u16(static_cast<std::uint32_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
};

void write_field(writer& out, const header_field& field, const run_state& state, const package_reserved& reserved)
{
    // The table's places are shared with the reader; the writer only looks.
    const void* place = field.place(const_cast<run_state&>(state), const_cast<package_reserved&>(reserved));
    switch (field.kind) {
    case field_kind::text:
    case field_kind::number_low_byte:
    case field_kind::number:
    case field_kind::switch_one:
    case field_kind::switch_two:
        out.text(static_cast<const char*>(place));
        return;
    case field_kind::option_flag:
    case field_kind::flag:
        out.u16(static_cast<std::uint32_t>(*static_cast<const int*>(place)));
        return;
    case field_kind::word:
        out.u16(*static_cast<const std::uint16_t*>(place));
        return;
    case field_kind::word_widened:
        out.u16(*static_cast<const std::uint32_t*>(place));
        return;
    case field_kind::u32_array:
        out.u16(reserved.numbers_26_count);
        for (std::uint16_t i = 0; i < reserved.numbers_26_count; ++i) out.u32(reserved.numbers_26[i]);
        return;
    case field_kind::names: {
        const auto& list = *static_cast<const name_list*>(place);
        out.u16(list.count);
        for (std::uint16_t i = 0; i < list.count; ++i) out.text(list.names[i]);
        return;
    }
    case field_kind::pairs: {
        const auto& list = *static_cast<const paired_name_list*>(place);
        out.u16(list.count);
        for (std::uint16_t i = 0; i < list.count; ++i) {
            out.text(list.first[i]);
            out.text(list.second[i]);
        }
        return;
    }
    case field_kind::numbers: {
        const auto& list = *static_cast<const number_list*>(place);
        out.u16(list.count);
        for (std::uint16_t i = 0; i < list.count; ++i) out.u16(list.values[i]);
        return;
    }
    }
}

}  // namespace

std::span<const header_field> header_fields() { return field_table; }

std::uint16_t read_package_fields(package_source& source, std::uint32_t package_start, std::uint64_t file_size,
                                  run_state& state, package_reserved& reserved)
{
    reader in{source, 0};
    char magic[2];
    if (!in.bytes(magic, 2) || magic[0] != 'R' || magic[1] != 'S') return fatal::bad_magic;
    for (const header_field& field : field_table)
        if (!read_field(in, field, state, reserved)) return field.fatal_error;

    std::uint16_t group_count = 0;
    if (!in.u16(group_count)) return fatal::bad_header_field;
    if (group_count > group_table_capacity) return fatal::bad_member_entry;  // the table is fixed: more would write past it
    for (std::uint16_t i = 0; i < group_count; ++i) {
        reserved.group_count = static_cast<std::uint16_t>(i + 1);
        if (!read_group(in, reserved.groups[i])) return fatal::bad_member_entry;
    }
    return read_members(in, package_start, file_size, state);
}

void release_package_fields(run_state& state, package_reserved& reserved)
{
    for (paired_name_list* list : {&state.rename_list, &reserved.pairs_27, &reserved.pairs_38}) free_list(*list);
    for (name_list* list : {&state.prepare_dir_list, &state.windows_dir_deletions, &state.target_dir_deletions,
                            &state.merge_list_a, &state.merge_list_b, &state.msie_skip_list, &reserved.names_39})
        free_list(*list);
    if (reserved.numbers_26) free_block(reserved.numbers_26);
    reserved.numbers_26 = nullptr;
    reserved.numbers_26_count = 0;
    for (std::uint16_t g = 0; g < reserved.group_count; ++g) {
        group_record& group = reserved.groups[g];
        while (group_value_node* node = group.values) {
            group.values = node->next;
            free_block(node);
        }
        while (group_name_node* node = group.names) {
            group.names = node->next;
            free_block(node);
        }
    }
    reserved.group_count = 0;
    if (member_table* table = state.file_table) {
        for (std::uint16_t i = 0; i < table->count; ++i)
            if (table->members[i]) free_block(table->members[i]);
        free_block(table);
        state.file_table = nullptr;
    }
}

std::vector<unsigned char> encode_package_header(const run_state& state, const package_reserved& reserved,
                                                 const std::vector<member_entry>& members)
{
    writer out;
    out.bytes = {'R', 'S'};
    for (const header_field& field : field_table) write_field(out, field, state, reserved);
    const std::uint16_t group_count = std::min<std::uint16_t>(reserved.group_count, group_table_capacity);
    out.u16(group_count);
    for (std::uint16_t g = 0; g < group_count; ++g) {
        const group_record& group = reserved.groups[g];
        out.text(group.name);
        out.u32(group.value);
        out.u16(group.value_count);
        in_file_order(group.values, [&](const group_value_node& node) { out.u32(node.value); });
        out.u16(group.name_count);
        in_file_order(group.names, [&](const group_name_node& node) { out.text(node.name); });
    }
    out.u16(static_cast<std::uint32_t>(members.size()));
    for (const member_entry& member : members) {
        out.text(member.name);
        out.u32(member.unpacked_size);
        out.u32(member.stored_size);
    }
    return std::move(out.bytes);
}

bool is_safe_member_name(std::string_view name)
{
    if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = name.size();
        // Windows drops the dots and blanks that end a name, so "..." or ".. " climbs as ".." does:
        // no part of two or more characters that are all dots and blanks.
        const std::string_view part = name.substr(start, end - start);
        if (part.size() >= 2 && part.find_first_not_of(". ") == std::string_view::npos) return false;
        start = end + 1;
    }
    return true;
}

void append_name(name_list& list, std::string_view name)
{
    auto** grown = static_cast<char**>(alloc_block((list.count + 1u) * sizeof(char*)));
    if (list.names) {
        std::memcpy(grown, list.names, list.count * sizeof(char*));
        free_block(list.names);
    }
    grown[list.count] = static_cast<char*>(alloc_block(static_cast<std::uint32_t>(name.size()) + 1));
    if (!name.empty()) std::memcpy(grown[list.count], name.data(), name.size());
    list.names = grown;
    ++list.count;
}

void append_pair(paired_name_list& list, std::string_view first, std::string_view second)
{
    name_list firsts{list.count, list.first};
    name_list seconds{list.count, list.second};
    append_name(firsts, first);
    append_name(seconds, second);
    list = {firsts.count, firsts.names, seconds.names};
}

bool names_member(const name_list& list, std::string_view name)
{
    for (std::uint16_t i = 0; i < list.count; ++i)
        if (same_name(list.names[i], name)) return true;
    return false;
}

bool merged_in_place(const run_state& state, std::string_view name)
{
    return names_member(state.merge_list_a, name) || names_member(state.merge_list_b, name);
}

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
