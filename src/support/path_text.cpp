#include "support/path_text.h"

#include <cstring>

#include "support/run_state.h"
#include "support/text_format.h"

namespace {

bool no_lead_bytes(unsigned char) { return false; }

lead_byte_test is_lead = no_lead_bytes;

constexpr std::size_t max_length = path_capacity - 1;

bool lead_at(const char* p) { return is_lead(static_cast<unsigned char>(*p)); }

// Bytes of the character at p (not at the end): 2 for a lead byte followed by its trail byte.
std::size_t char_length(const char* p) { return lead_at(p) && p[1] != '\0' ? 2 : 1; }

const char* next_char(const char* p) { return p + char_length(p); }

// The character at p is the single-byte character `wanted`.
bool is_char(const char* p, char wanted) { return *p == wanted && !lead_at(p); }

// Appends whole characters of `text`, at most `count` bytes of it, while they fit in the
// 259 bytes of `buffer` (which holds `used` bytes). Returns false when something was cut.
bool append_text(char* buffer, std::size_t& used, const char* text, std::size_t count)
{
    const char* p = text;
    while (p < text + count && *p) {
        const std::size_t length = char_length(p);
        if (used + length > max_length) {
            buffer[used] = '\0';
            return false;
        }
        std::memcpy(buffer + used, p, length);
        used += length;
        p += length;
    }
    buffer[used] = '\0';
    return true;
}

bool append_text(char* buffer, std::size_t& used, const char* text)
{
    return append_text(buffer, used, text, static_cast<std::size_t>(-1) / 2);
}

char* copy_out(char* out, const char* work)
{
    std::memcpy(out, work, std::strlen(work) + 1);
    return out;
}

}  // namespace

void set_lead_byte_test(lead_byte_test test) { is_lead = test ? test : no_lead_bytes; }

bool cp932_lead_byte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

const char* find_char(const char* text, char wanted)
{
    if (!text || wanted == '\0' || static_cast<unsigned char>(wanted) >= 0x80) return nullptr;
    for (const char* p = text; *p; p = next_char(p))
        if (is_char(p, wanted)) return p;
    return nullptr;
}

const char* find_last_char(const char* text, char wanted)
{
    if (!text || wanted == '\0' || static_cast<unsigned char>(wanted) >= 0x80) return nullptr;
    // A backward step is only certain from the start in a double-byte code page.
    const char* found = nullptr;
    for (const char* p = text; *p; p = next_char(p))
        if (is_char(p, wanted)) found = p;
    return found;
}

const char* find_text(const char* text, const char* pattern)
{
    if (!text || !pattern) return nullptr;
    const std::size_t length = std::strlen(pattern);
    std::size_t remaining = std::strlen(text);
    for (const char* p = text; remaining >= length; p += char_length(p)) {
        if (std::memcmp(p, pattern, length) == 0) return p;
        if (!*p) break;
        remaining -= char_length(p);
    }
    return nullptr;
}

void strip_trailing_backslash(char* text)
{
    if (!text || !*text) return;
    char* last = text;
    for (char* p = text; *p; p += char_length(p)) last = p;
    if (is_char(last, '\\')) *last = '\0';
}

int path_directory(char* out, const char* path)
{
    char work[path_capacity];
    std::size_t used = 0;
    append_text(work, used, path ? path : "");
    if (char* cut = find_last_char(work, '\\')) *cut = '\0';
    else work[0] = '\0';
    copy_out(out, work);
    return 0;
}

const char* path_file_name(const char* path)
{
    if (!path) return nullptr;
    const char* last = find_last_char(path, '\\');
    return last ? last + 1 : path;
}

char* first_path_component(char* out, const char* path)
{
    char work[path_capacity];
    std::size_t used = 0;
    append_text(work, used, path ? path : "");
    if (char* cut = find_char(work, '\\')) *cut = '\0';
    return copy_out(out, work);
}

char* path_extension(char* out, const char* path)
{
    const char* dot = find_last_char(path, '.');
    if (dot) {
        const char* extension = dot + 1;
        const char* p = extension;
        int characters = 0;
        for (; *p && characters < 4; p = next_char(p)) ++characters;
        if (characters < 4) {
            char work[8];  // at most 3 characters of 2 bytes
            const std::size_t length = static_cast<std::size_t>(p - extension);
            std::memcpy(work, extension, length);
            work[length] = '\0';
            return copy_out(out, work);
        }
    }
    out[0] = '\0';
    return nullptr;
}

char* path_base_name(char* out, const char* path)
{
    char work[9];
    std::size_t used = 0;
    for (const char* p = path_file_name(path ? path : ""); *p && !is_char(p, '.') && used < 8;) {
        if (lead_at(p) && used == 7) break;
        const std::size_t length = char_length(p);
        std::memcpy(work + used, p, length);
        used += length;
        p += length;
    }
    work[used] = '\0';
    return copy_out(out, work);
}

char* join_path_text(char* out, std::initializer_list<const char*> parts)
{
    char work[path_capacity] = "";
    std::size_t used = 0;
    for (const char* part : parts) {
        if (!part || !*part) continue;
        const bool whole = (used == 0 || append_text(work, used, "\\")) && append_text(work, used, part);
        strip_trailing_backslash(work);
        used = std::strlen(work);
        if (!whole) break;
    }
    return copy_out(out, work);
}

char* target_path_text(char* out, const char* target_dir, const char* relative)
{
    char work[path_capacity] = "";
    std::size_t used = 0;
    if (append_text(work, used, target_dir ? target_dir : "") && relative && *relative &&
        append_text(work, used, "\\"))
        append_text(work, used, relative);
    return copy_out(out, work);
}

int is_valid_target_path(const char* path)
{
    if (!path || std::strlen(path) < 3) return 0;
    const unsigned char drive = static_cast<unsigned char>(path[0]);
    const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (!letter || path[1] != ':' || path[2] != '\\') return 0;
    for (const char* p = path + 3; *p; p = next_char(p)) {
        if (!lead_at(p) && std::strchr("*+=;:\"?/<>,", *p)) return 0;
    }
    return 1;
}

std::uint32_t round_up_to_unit(std::uint32_t size, std::uint32_t unit)
{
    if (unit == 0) return 0;
    return unit * ((size + unit) / unit);
}

const char* text_tail(const char* text, std::size_t max_bytes)
{
    const std::size_t length = std::strlen(text);
    const char* p = text;
    while (static_cast<std::size_t>(text + length - p) > max_bytes) p = next_char(p);
    return p;
}

void ascii_upper_case(char* text)
{
    for (char* p = text; *p; p += char_length(p))
        if (!lead_at(p)) *p = ascii_upper(*p);
}

namespace {

// The characters at `a` and `b` (of `length` bytes, a double-byte one whole) are the same, ASCII
// letters without regard to case.
bool same_character(const char* a, const char* b, std::size_t length)
{
    if (length == 2) return a[0] == b[0] && a[1] == b[1];
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return upper(*a) == upper(*b);
}

bool wildcards_match(const char* pattern, const char* name)
{
    // The usual two-pointer walk, by characters: on a mismatch the last '*' takes one more.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        const std::size_t length = char_length(name);
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern && char_length(pattern) == length && same_character(pattern, name, length))) {
            pattern = *pattern == '?' ? pattern + 1 : next_char(pattern);
            name += length;
        } else if (star) {
            pattern = star + 1;
            resume = next_char(resume);
            name = resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

}  // namespace

bool long_name_matches(const char* pattern, const char* name)
{
    const std::size_t length = std::strlen(pattern);
    const bool has_dot = std::strchr(name, '.') != nullptr;
    if (length >= 2 && pattern[length - 2] == '.' && pattern[length - 1] == '*' && !has_dot) {
        // "NAME.*" takes NAME itself: match the part before ".*".
        char head[path_capacity];
        if (length - 2 >= sizeof head) return false;
        std::memcpy(head, pattern, length - 2);
        head[length - 2] = '\0';
        return wildcards_match(head, name);
    }
    if (length >= 1 && pattern[length - 1] == '.') {
        if (has_dot) return false;
        char head[path_capacity];
        if (length - 1 >= sizeof head) return false;
        std::memcpy(head, pattern, length - 1);
        head[length - 1] = '\0';
        return wildcards_match(head, name);
    }
    return wildcards_match(pattern, name);
}
