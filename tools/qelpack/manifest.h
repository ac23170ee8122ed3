// The packaging manifest: an INI-style text naming the package's header fields, its lists and
// groups, and its members with their source files. Read into the same records the program's
// reader fills, so that encode_package_header writes them as the program will read them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "support/run_state.h"

struct manifest_member {
    std::string name;    // as stored in the package, with backslashes
    std::string source;  // the file whose bytes it carries
    int line;
};

struct manifest {
    run_state state = initial_run_state();
    package_reserved reserved{};
    std::string tag;  // the resource marker's tag, at most 15 characters
    std::vector<manifest_member> members;

    manifest() = default;
    manifest(const manifest&) = delete;
    manifest& operator=(const manifest&) = delete;
    ~manifest() { release_package_fields(state, reserved); }
};

// Reads the manifest at `path`; source files are taken relative to its folder. Returns an empty
// text, or the first fault as "PATH:LINE: what, limit".
std::string read_manifest(const std::string& path, manifest& out);

// The [package] keys and the list sections are the package's own header fields
// (header_fields() in package_format.h), in package order, each seen as the manifest uses it.

// The texts, with their buffers' capacities (the longest text is one byte less). Prose texts take
// the escapes \n (a line break, CR LF) and \\.
struct text_key {
    const header_field* field;
    const char* key;
    std::uint32_t capacity;
    bool prose;
    char* place(run_state& state, package_reserved& reserved) const
    {
        return static_cast<char*>(field->place(state, reserved));
    }
};
std::span<const text_key> text_keys();

// The flags, each 0 or 1.
struct flag_key {
    const header_field* field;
    const char* key;
    int* place(run_state& state, package_reserved& reserved) const
    {
        return static_cast<int*>(field->place(state, reserved));
    }
};
std::span<const flag_key> flag_keys();

// The list sections; each gives its list of one kind and null for the others, and all three
// give null for the u32 list [reserved_numbers_26].
struct list_section {
    const header_field* field;
    const char* name;
    name_list* names(run_state& state, package_reserved& reserved) const { return as<name_list>(field_kind::names, state, reserved); }
    paired_name_list* pairs(run_state& state, package_reserved& reserved) const
    {
        return as<paired_name_list>(field_kind::pairs, state, reserved);
    }
    number_list* numbers(run_state& state, package_reserved& reserved) const
    {
        return as<number_list>(field_kind::numbers, state, reserved);
    }

private:
    template <typename List>
    List* as(field_kind kind, run_state& state, package_reserved& reserved) const
    {
        return field->kind == kind ? static_cast<List*>(field->place(state, reserved)) : nullptr;
    }
};
std::span<const list_section> list_sections();
