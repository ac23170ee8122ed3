#include "support/ini_entries.h"

#include <algorithm>
#include <vector>

#include "support/text_format.h"

namespace {

struct ini_entry {
    std::string_view section;
    std::string_view key;
    std::string_view value;
    bool has_value;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\x1a'; }

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    return true;
}

std::vector<ini_entry> entries_of(std::string_view text)
{
    std::vector<ini_entry> entries;
    std::string_view section;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            section = trimmed(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) entries.push_back({section, line, {}, false});
        else entries.push_back({section, trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), true});
    }
    return entries;
}

}  // namespace

bool ini_keeps_entries(std::string_view earlier, std::string_view current, std::string_view written_section,
                       std::span<const std::string_view> written_keys)
{
    const std::vector<ini_entry> now = entries_of(current);
    for (const ini_entry& entry : entries_of(earlier)) {
        const bool written = same_name(entry.section, written_section) &&
                             std::any_of(written_keys.begin(), written_keys.end(),
                                         [&](std::string_view key) { return same_name(entry.key, key); });
        const bool kept = std::any_of(now.begin(), now.end(), [&](const ini_entry& other) {
            return other.has_value == entry.has_value && other.value == entry.value &&
                   same_name(other.key, entry.key) && same_name(other.section, entry.section);
        });
        if (!written && !kept) return false;
    }
    return true;
}
