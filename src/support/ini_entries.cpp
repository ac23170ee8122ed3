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

// Orders names as Windows compares them: without regard to ASCII case.
int compare_names(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = ascii_upper(a[i]), y = ascii_upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool same_name(std::string_view a, std::string_view b) { return compare_names(a, b) == 0; }

// Entries equal under this order are the same entry: names without case, the value exactly.
bool entry_before(const ini_entry& a, const ini_entry& b)
{
    if (const int order = compare_names(a.section, b.section)) return order < 0;
    if (const int order = compare_names(a.key, b.key)) return order < 0;
    if (a.has_value != b.has_value) return b.has_value;
    return a.value < b.value;
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
    // Sorted, so that a WIN.INI of many entries is checked in n log n steps, not n squared.
    std::vector<ini_entry> now = entries_of(current);
    std::sort(now.begin(), now.end(), entry_before);
    for (const ini_entry& entry : entries_of(earlier)) {
        const bool written = same_name(entry.section, written_section) &&
                             std::any_of(written_keys.begin(), written_keys.end(),
                                         [&](std::string_view key) { return same_name(entry.key, key); });
        const bool kept = std::binary_search(now.begin(), now.end(), entry, entry_before);
        if (!written && !kept) return false;
    }
    return true;
}

bool ini_is_cut_form(std::string_view earlier, std::string_view current, std::string_view written_section,
                     std::span<const std::string_view> written_keys)
{
    if (current.size() >= earlier.size()) return false;
    // The line the cut went through is not an entry of the file that was being written.
    const auto last_line_end = current.find_last_of('\n');
    current = current.substr(0, last_line_end == std::string_view::npos ? 0 : last_line_end + 1);
    return ini_keeps_entries(current, earlier, written_section, written_keys);
}

bool ini_holds(std::string_view text, std::string_view section, std::string_view key, std::string_view value)
{
    const ini_entry wanted{section, key, value, true};
    const std::vector<ini_entry> entries = entries_of(text);
    return std::any_of(entries.begin(), entries.end(), [&](const ini_entry& entry) {
        return !entry_before(entry, wanted) && !entry_before(wanted, entry);
    });
}
