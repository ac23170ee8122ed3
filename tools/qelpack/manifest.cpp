#include "manifest.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

#include "support/memory.h"

namespace {

// The header fields sorted by how the manifest gives them, in package order.
struct manifest_keys {
    std::vector<text_key> texts;
    std::vector<flag_key> flags;
    std::vector<list_section> lists;
};

const manifest_keys& keys()
{
    static const manifest_keys sorted = [] {
        manifest_keys out;
        for (const header_field& field : header_fields()) {
            switch (shape_of(field.kind)) {
            case field_shape::text: out.texts.push_back({&field, field.name, field.capacity, field.prose}); break;
            case field_shape::flag: out.flags.push_back({&field, field.name}); break;
            case field_shape::list: out.lists.push_back({&field, field.name}); break;
            case field_shape::number: break;  // db_version, extra_space_kb, required_msie_build: keys of their own
            }
        }
        return out;
    }();
    return sorted;
}

constexpr std::uint32_t u16_limit = 0xFFFF;
constexpr std::uint32_t u32_limit = 0xFFFFFFFF;
constexpr std::uint32_t marker_tag_capacity = 16;  // the resource marker's tag field

std::string_view trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return text.substr(text.size());  // empty, yet pointing into the line
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The items of a list value; `separators` split it, blanks around items are dropped.
std::vector<std::string_view> split(std::string_view text, const char* separators)
{
    std::vector<std::string_view> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text.size();
        items.push_back(trim(text.substr(start, end - start)));
        start = end + 1;
    }
    return items;
}

// Decimal, or hexadecimal after 0x.
bool parse_number(std::string_view text, std::uint32_t limit, std::uint32_t& value)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    std::uint64_t number = 0;
    for (char c : text) {
        const unsigned digit = c >= '0' && c <= '9' ? c - '0'
                             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : 99;
        if (digit >= base) return false;
        number = number * base + digit;
        if (number > limit) return false;
    }
    value = static_cast<std::uint32_t>(number);
    return true;
}

// \n becomes CR LF, \\ one backslash; any other backslash stays as written.
std::string unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            out += text[++i] == 'n' ? "\r\n" : "\\";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string_view unquote(std::string_view value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value.substr(1, value.size() - 2);
    return value;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

struct parser {
    const std::string& path;
    manifest& out;
    std::string folder;
    int line = 0;
    std::string error;
    enum class in { nothing, package, list, group, members } section = in::nothing;
    const list_section* list = nullptr;
    group_record* group = nullptr;
    std::map<std::string, int, std::less<>> package_keys;  // key and the line that gave it
    std::map<std::string, int> member_lines;                // lower-cased name and its line
    std::vector<std::uint32_t> numbers_26;

    parser(const std::string& manifest_path, manifest& into, std::string manifest_folder)
        : path(manifest_path), out(into), folder(std::move(manifest_folder)) {}

    bool fail(const std::string& what)
    {
        error = path + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    bool number(std::string_view text, std::uint32_t limit, const std::string& what, std::uint32_t& value)
    {
        return parse_number(text, limit, value) ||
               fail("bad number " + quoted(text) + " for " + what + ", 0 to " + std::to_string(limit));
    }

    bool fits(std::string_view text, std::uint32_t capacity, const std::string& what)
    {
        return text.size() < capacity || fail(what + " is " + std::to_string(text.size()) + " bytes, at most " +
                                              std::to_string(capacity - 1));
    }

    bool room(std::size_t count, std::size_t limit, const std::string& what)
    {
        return count < limit || fail("too many " + what + ", at most " + std::to_string(limit));
    }

    bool start_section(std::string_view name)
    {
        list = nullptr;
        if (name == "package") {
            section = in::package;
            return true;
        }
        if (name == "members") {
            section = in::members;
            return true;
        }
        for (const list_section& candidate : list_sections()) {
            if (name == candidate.name) {
                section = in::list;
                list = &candidate;
                return true;
            }
        }
        if (name.substr(0, 6) == "group " || name.substr(0, 6) == "group\t") {
            const std::string_view group_name = trim(name.substr(6));
            if (group_name.empty()) return fail("a group needs a name, [group NAME]");
            if (!fits(group_name, group_name_capacity, "group name " + quoted(group_name)) ||
                !room(out.reserved.group_count, group_table_capacity, "groups"))
                return false;
            group = &out.reserved.groups[out.reserved.group_count++];
            std::memcpy(group->name, group_name.data(), group_name.size());
            section = in::group;
            return true;
        }
        return fail("unknown section [" + std::string(name) + "]");
    }

    bool package_line(std::string_view key, std::string_view value)
    {
        if (auto earlier = package_keys.find(key); earlier != package_keys.end())
            return fail("key " + quoted(key) + " given twice, first on line " + std::to_string(earlier->second));
        package_keys.emplace(std::string(key), line);
        value = unquote(value);
        if (key == "tag") {
            if (!fits(value, marker_tag_capacity, "tag")) return false;
            out.tag = value;
            return true;
        }
        for (const text_key& field : text_keys()) {
            if (key != field.key) continue;
            const std::string text = field.prose ? unescape(value) : std::string(value);
            if (!fits(text, field.capacity, field.key)) return false;
            std::memcpy(field.place(out.state, out.reserved), text.data(), text.size());
            return true;
        }
        for (const flag_key& flag : flag_keys()) {
            if (key != flag.key) continue;
            if (value != "0" && value != "1")
                return fail("bad value " + quoted(value) + " for " + flag.key + ", 0 or 1");
            *flag.place(out.state, out.reserved) = value == "1";
            return true;
        }
        std::uint32_t number_value = 0;
        if (key == "db_version") {
            const auto dot = value.find('.');
            std::uint32_t major = 0, minor = 0;
            if (dot == std::string_view::npos || !parse_number(value.substr(0, dot), 255, major) ||
                !parse_number(value.substr(dot + 1), 255, minor))
                return fail("bad db_version " + quoted(value) + ", MAJOR.MINOR with each 0 to 255");
            out.state.db_version = static_cast<std::uint16_t>(major | minor << 8);
            return true;
        }
        if (key == "extra_space_kb") {
            if (!number(value, u16_limit, "extra_space_kb", number_value)) return false;
            out.state.extra_space_kb = static_cast<std::uint16_t>(number_value);
            return true;
        }
        if (key == "required_msie_build")
            return number(value, u16_limit, "required_msie_build", out.state.required_msie_build);
        return fail("unknown key " + quoted(key) + " in [package]");
    }

    bool list_line(std::string_view text)
    {
        const std::string what = list->name;
        if (name_list* names_in = list->names(out.state, out.reserved)) {
            name_list& names = *names_in;
            if (!room(names.count, u16_limit, "names in [" + what + "]") ||
                !fits(text, list_name_capacity, "name " + quoted(text)))
                return false;
            append_name(names, text);
            return true;
        }
        if (paired_name_list* pairs_in = list->pairs(out.state, out.reserved)) {
            const auto equals = text.find('=');
            if (equals == std::string_view::npos || trim(text.substr(0, equals)).empty())
                return fail("expected FIRST = SECOND in [" + what + "]");
            const std::string_view first = trim(text.substr(0, equals)), second = trim(text.substr(equals + 1));
            paired_name_list& pairs = *pairs_in;
            if (!room(pairs.count, u16_limit, "pairs in [" + what + "]") ||
                !fits(first, list_name_capacity, "name " + quoted(first)) ||
                !fits(second, list_name_capacity, "name " + quoted(second)))
                return false;
            append_pair(pairs, first, second);
            return true;
        }
        for (std::string_view item : split(text, ", \t")) {
            if (item.empty()) continue;
            std::uint32_t value = 0;
            if (number_list* numbers_in = list->numbers(out.state, out.reserved)) {
                number_list& numbers = *numbers_in;
                if (!number(item, u16_limit, "[" + what + "]", value) ||
                    !room(numbers.count, number_list_capacity, "numbers in [" + what + "]"))
                    return false;
                numbers.values[numbers.count++] = static_cast<std::uint16_t>(value);
            } else {
                if (!number(item, u32_limit, "[" + what + "]", value) ||
                    !room(numbers_26.size(), u16_limit, "numbers in [" + what + "]"))
                    return false;
                numbers_26.push_back(value);
            }
        }
        return true;
    }

    bool group_line(std::string_view key, std::string_view value)
    {
        const std::string what = "[group " + std::string(group->name) + "]";
        if (key == "value") return number(value, u32_limit, "value in " + what, group->value);
        if (key != "values" && key != "names") return fail("unknown key " + quoted(key) + " in " + what);
        for (std::string_view item : split(value, ",")) {
            if (item.empty()) return fail("an empty item in " + std::string(key) + " of " + what);
            if (key == "values") {
                std::uint32_t number_value = 0;
                if (!number(item, u32_limit, "values in " + what, number_value) ||
                    !room(group->value_count, u16_limit, "values in " + what))
                    return false;
                auto* node = static_cast<group_value_node*>(alloc_block(sizeof(group_value_node)));
                *node = {number_value, group->values};
                group->values = node;
                ++group->value_count;
            } else {
                if (!fits(item, group_name_capacity, "name " + quoted(item)) ||
                    !room(group->name_count, u16_limit, "names in " + what))
                    return false;
                auto* node = static_cast<group_name_node*>(alloc_block(sizeof(group_name_node)));
                std::memcpy(node->name, item.data(), item.size());
                node->next = group->names;
                group->names = node;
                ++group->name_count;
            }
        }
        return true;
    }

    bool member_line(std::string_view key, std::string_view value)
    {
        std::string name(key);
        for (char& c : name)
            if (c == '/') c = '\\';
        if (!is_safe_member_name(name))
            return fail("unsafe member name " + quoted(name) + ", it must stay inside the destination");
        if (!room(out.members.size(), u16_limit, "members") ||
            !fits(name, u16_limit + 1, "member name " + quoted(name)))
            return false;
        std::string folded = name;
        for (char& c : folded)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (auto earlier = member_lines.find(folded); earlier != member_lines.end())
            return fail("member " + quoted(name) + " given twice, first on line " + std::to_string(earlier->second));
        member_lines.emplace(folded, line);
        if (value.empty()) return fail("member " + quoted(name) + " needs a source file");
        const std::string source = value.front() == '/' ? std::string(value) : folder + "/" + std::string(value);
        struct stat info {};
        if (stat(source.c_str(), &info) != 0) return fail("source file " + quoted(value) + " not found");
        if (!S_ISREG(info.st_mode)) return fail("source " + quoted(value) + " is not a file");
        if (static_cast<std::uint64_t>(info.st_size) > u32_limit)
            return fail("source file " + quoted(value) + " is over 4 GB");
        out.members.push_back({name, source, line});
        return true;
    }

    bool take(std::string_view text)
    {
        if (text.front() == '[') {
            if (text.back() != ']') return fail("a section header must end with ]");
            return start_section(trim(text.substr(1, text.size() - 2)));
        }
        if (section == in::nothing) return fail("a line before the first [section]");
        if (section == in::list) return list_line(text);
        const auto equals = text.find('=');
        if (equals == std::string_view::npos) return fail("expected KEY = VALUE");
        const std::string_view key = trim(text.substr(0, equals)), value = trim(text.substr(equals + 1));
        if (key.empty()) return fail("a line without a key before =");
        if (section == in::package) return package_line(key, value);
        if (section == in::group) return group_line(key, value);
        return member_line(key, value);
    }

    // What can only be judged once everything is read.
    bool finish()
    {
        if (!numbers_26.empty()) {
            out.reserved.numbers_26_count = static_cast<std::uint16_t>(numbers_26.size());
            out.reserved.numbers_26 =
                static_cast<std::uint32_t*>(alloc_block(static_cast<std::uint32_t>(numbers_26.size() * 4)));
            std::memcpy(out.reserved.numbers_26, numbers_26.data(), numbers_26.size() * 4);
        }
        const std::string_view direct = out.state.direct_member;
        if (direct.empty()) return true;
        for (const manifest_member& member : out.members)
            if (same_name(member.name, direct)) return true;
        line = package_keys.find("direct_member")->second;
        return fail("direct_member " + quoted(direct) + " names no member of [members]");
    }
};

}  // namespace

std::span<const text_key> text_keys() { return keys().texts; }
std::span<const flag_key> flag_keys() { return keys().flags; }
std::span<const list_section> list_sections() { return keys().lists; }

std::string read_manifest(const std::string& path, manifest& out)
{
    const auto slash = path.rfind('/');
    parser reader(path, out, slash == std::string::npos ? "." : path.substr(0, slash));
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot be read (" + std::strerror(errno) + ")";
    std::string raw;
    while (std::getline(in, raw)) {
        ++reader.line;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        const std::string_view text = trim(raw);
        if (text.empty() || text.front() == ';' || text.front() == '#') continue;
        if (!reader.take(text)) return reader.error;
    }
    if (!reader.finish()) return reader.error;
    return {};
}
