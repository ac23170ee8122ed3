#include "qelpack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "clientdb/db_format.h"
#include "manifest.h"
#include "pe_marker.h"
#include "support/fatal_errors.h"
#include "support/path_text.h"
#include "zip_archive.h"

namespace {

constexpr std::uint64_t largest_offset = 0xFFFFFFFF;

std::string system_error() { return std::strerror(errno); }

bool read_whole_file(const std::string& path, byte_buffer& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes a temporary file beside `path` and renames it into place, so a failure leaves nothing.
std::string write_beside_and_rename(const std::string& path, const byte_buffer& bytes, mode_t mode)
{
    std::string temporary = path + ".XXXXXX";
    const int handle = mkstemp(temporary.data());
    if (handle < 0) return path + ": cannot create a temporary file beside it (" + system_error() + ")";
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(handle, bytes.data() + written, bytes.size() - written);
        if (count <= 0) break;
        written += static_cast<std::size_t>(count);
    }
    const bool complete = written == bytes.size() && fchmod(handle, mode) == 0;
    const std::string reason = system_error();
    if (close(handle) != 0 || !complete || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string message = path + ": cannot be written (" + (complete ? system_error() : reason) + ")";
        std::remove(temporary.c_str());
        return message;
    }
    return {};
}

// Names step by the code page's characters (--code-page): a trail byte is never a separator or
// a letter.
std::string last_component(std::string_view name) { return path_file_name(std::string(name).c_str()); }

std::string upper(std::string text)
{
    ascii_upper_case(text.data());
    return text;
}

// The members stored raw: a first member that is the unzip library, the direct member, and the
// databases the merge reads in place.
bool stored_raw(std::size_t index, std::string_view name, const run_state& state)
{
    const std::string_view direct_member = state.direct_member;
    return (index == 0 && same_name(name, unzip_library_name)) ||
        (!direct_member.empty() && same_name(name, direct_member)) || merged_in_place(state, name);
}

// ---- build ----

int build(const build_request& request, std::ostream& out, std::ostream& err)
{
    manifest plan;
    if (std::string error = read_manifest(request.manifest, plan); !error.empty()) {
        err << error << "\n";
        return 1;
    }
    std::vector<member_entry> entries;
    byte_buffer data;
    for (std::size_t i = 0; i < plan.members.size(); ++i) {
        const manifest_member& member = plan.members[i];
        byte_buffer bytes;
        struct stat info {};
        if (!read_whole_file(member.source, bytes) || stat(member.source.c_str(), &info) != 0) {
            err << request.manifest << ":" << member.line << ": source file " << member.source << " cannot be read\n";
            return 1;
        }
        if (merged_in_place(plan.state, member.name) &&
            (bytes.size() < long_file_header_size || !is_long_file_magic(bytes.data()))) {
            err << request.manifest << ":" << member.line << ": " << member.name
                << " is merged in place, so it must be a database file with long headers\n";
            return 1;
        }
        if (!stored_raw(i, member.name, plan.state))
            bytes = make_zip(upper(last_component(member.name)), bytes, dos_date_time(info.st_mtime));
        entries.push_back(
            {member.name, static_cast<std::uint32_t>(info.st_size), static_cast<std::uint32_t>(bytes.size())});
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    byte_buffer file = encode_package_header(plan.state, plan.reserved, entries);
    file.insert(file.end(), data.begin(), data.end());

    std::uint32_t package_offset = 0;
    if (!request.package_only) {
        byte_buffer stub;
        if (!read_whole_file(request.stub, stub)) {
            err << request.stub << ": the stub cannot be read (" << system_error() << ")\n";
            return 1;
        }
        pe_layout layout{};
        if (std::string error = read_pe_layout(stub, layout); !error.empty()) {
            err << request.stub << ": " << error << "\n";
            return 1;
        }
        package_offset = layout.image_end;
        stub.resize(layout.image_end);  // drops whatever followed the image, an older package too
        write_marker(stub, layout, package_offset, plan.tag);
        stub.insert(stub.end(), file.begin(), file.end());
        file.swap(stub);
    }
    if (file.size() > largest_offset) {
        err << request.output << ": the result would be over 4 GB\n";
        return 1;
    }
    if (std::string error = write_beside_and_rename(request.output, file, request.package_only ? 0644 : 0755);
        !error.empty()) {
        err << error << "\n";
        return 1;
    }
    out << request.output << ": " << entries.size() << " members, package of " << file.size() - package_offset
        << " bytes";
    if (!request.package_only) out << " at offset " << package_offset;
    out << "\n";
    return 0;
}

// ---- reading a package ----

struct opened_package {
    std::string path;
    std::FILE* file = nullptr;
    std::uint64_t size = 0;
    bool in_program = false;
    std::uint32_t start = 0;
    std::uint64_t data_end = 0;  // where the last member's data end
    std::string tag;
    run_state state = initial_run_state();
    package_reserved reserved{};

    opened_package() = default;
    opened_package(const opened_package&) = delete;
    opened_package& operator=(const opened_package&) = delete;
    ~opened_package()
    {
        release_package_fields(state, reserved);
        if (file) std::fclose(file);
    }

    std::uint16_t count() const { return state.file_table->count; }
    const package_member& member(std::uint16_t i) const { return *state.file_table->members[i]; }
    const char* name(std::uint16_t i) const { return member_name(&member(i)); }
    bool raw(std::uint16_t i) const { return stored_raw(i, name(i), state); }
};

struct counting_file {
    std::FILE* file;
    std::uint64_t consumed;
};

bool read_from_file(void* context, void* buffer, std::uint32_t count)
{
    auto& source = *static_cast<counting_file*>(context);
    if (std::fread(buffer, 1, count, source.file) != count) return false;
    source.consumed += count;
    return true;
}

// What SETUP.EXE's reader would stop with, in the words of the program's own list.
std::string read_failure(std::uint16_t number)
{
    const char* meaning = fatal_error_meaning_of(number);
    return meaning ? meaning : "fatal error " + std::to_string(number);
}

// Opens a bare package (it begins with RS) or a program file whose resource marker points at one.
std::string open_package(const std::string& path, opened_package& package)
{
    package.path = path;
    package.file = std::fopen(path.c_str(), "rb");
    if (!package.file) return path + ": cannot be opened (" + system_error() + ")";
    char magic[2] = {};
    if (std::fseek(package.file, 0, SEEK_END) != 0) return path + ": cannot be read";
    package.size = static_cast<std::uint64_t>(ftello(package.file));
    std::rewind(package.file);
    if (std::fread(magic, 1, 2, package.file) != 2) return path + ": too short for a package";
    if (magic[0] == 'M' && magic[1] == 'Z') {
        byte_buffer bytes;
        pe_layout layout{};
        if (!read_whole_file(path, bytes)) return path + ": cannot be read";
        if (std::string error = read_pe_layout(bytes, layout); !error.empty()) return path + ": " + error;
        package.in_program = true;
        package.start = marker_package_offset(bytes, layout);
        package.tag = marker_tag(bytes, layout);
        if (package.start == 0) return path + ": carries no package (its marker's offset is 0)";
        if (package.start >= package.size)
            return path + ": its marker points at offset " + std::to_string(package.start) +
                ", past the end of the file";
    } else if (magic[0] != 'R' || magic[1] != 'S') {
        return path + ": neither a program file with a package nor a package";
    }
    if (fseeko(package.file, package.start, SEEK_SET) != 0) return path + ": cannot be read";
    counting_file source_file{package.file, 0};
    package_source source{&source_file, read_from_file};
    // A cut file still lists; verify and extract name the first member whose data it lacks.
    if (std::uint16_t failure = read_package_fields(source, package.start, header_only, package.state, package.reserved))
        return path + ": the package does not read (error " + std::to_string(failure) + "): " + read_failure(failure);
    package.data_end = package.start + source_file.consumed;
    for (std::uint16_t i = 0; i < package.count(); ++i) package.data_end += package.member(i).stored_size;
    return {};
}

// The stored bytes of member i, or why they cannot be had.
std::string member_bytes(const opened_package& package, std::uint16_t i, byte_buffer& bytes)
{
    const package_member& member = package.member(i);
    const std::uint64_t end = std::uint64_t{member.data_offset} + member.stored_size;
    if (end > package.size)
        return "its data (offset " + std::to_string(member.data_offset) + ", " + std::to_string(member.stored_size) +
               " bytes) reach past the end of the file at " + std::to_string(package.size);
    bytes.resize(member.stored_size);
    if (fseeko(package.file, member.data_offset, SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), package.file) != bytes.size())
        return "its data cannot be read";
    return {};
}

// The unpacked file of member i: checked against the member table as verify does.
std::string member_file(const opened_package& package, std::uint16_t i, byte_buffer& bytes)
{
    const package_member& member = package.member(i);
    if (std::string error = member_bytes(package, i, bytes); !error.empty()) return error;
    if (package.raw(i)) {
        if (member.stored_size != member.unpacked_size)
            return "stored raw, but its unpacked size " + std::to_string(member.unpacked_size) +
                   " differs from its stored size " + std::to_string(member.stored_size);
        return {};
    }
    zip_contents contents;
    if (std::string error = read_zip(bytes.data(), bytes.size(), contents); !error.empty()) return error;
    const std::string expected = upper(last_component(package.name(i)));
    if (!same_name(contents.entry_name, expected))
        return "its archive's entry is named " + contents.entry_name + ", not " + expected;
    if (contents.recorded_size != member.unpacked_size)
        return "its archive holds " + std::to_string(contents.recorded_size) + " bytes, the table says " +
               std::to_string(member.unpacked_size);
    bytes.swap(contents.data);
    return {};
}

// The install rule the program applies to member i, judged from its name.
const char* member_rule(const opened_package& package, std::uint16_t i)
{
    const std::string_view name = package.name(i);
    if (i == 0 && same_name(name, unzip_library_name)) return "unzip library";
    if (package.state.direct_member[0] && same_name(name, package.state.direct_member)) return "direct";
    if (merged_in_place(package.state, name)) return "merged in place";
    return rule_of_name(name);
}

std::string member_label(const opened_package& package, std::uint16_t i)
{
    return "member " + std::to_string(i) + " (" + package.name(i) + ")";
}

// ---- list ----

// A text as the manifest writes it: CR LF of prose texts as \n, control bytes as \xNN.
std::string shown(std::string_view text, bool prose)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (prose && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\\n";
            ++i;
        } else if (prose && c == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}


std::string db_version_text(std::uint16_t version)
{
    return std::to_string(version & 0xFF) + "." + std::to_string(version >> 8);
}

void list_text(opened_package& package, std::ostream& out)
{
    run_state& state = package.state;
    package_reserved& reserved = package.reserved;
    out << package.path << ": ";
    if (package.in_program)
        out << "program file, package at offset " << package.start << ", marker tag \"" << shown(package.tag, false)
            << "\"\n";
    else
        out << "bare package\n";
    out << "[package]\n";
    for (const text_key& field : text_keys())
        out << field.key << " = " << shown(field.place(state, reserved), field.prose) << "\n";
    for (const flag_key& flag : flag_keys()) out << flag.key << " = " << *flag.place(state, reserved) << "\n";
    out << "db_version = " << db_version_text(state.db_version) << "\nextra_space_kb = " << state.extra_space_kb
        << "\nrequired_msie_build = " << state.required_msie_build << "\n";
    for (const list_section& section : list_sections()) {
        out << "[" << section.name << "]";
        if (const name_list* names = section.names(state, reserved)) {
            const name_list& list = *names;
            out << " " << list.count << "\n";
            for (std::uint16_t i = 0; i < list.count; ++i) out << shown(list.names[i], false) << "\n";
        } else if (const paired_name_list* pairs = section.pairs(state, reserved)) {
            const paired_name_list& list = *pairs;
            out << " " << list.count << "\n";
            for (std::uint16_t i = 0; i < list.count; ++i)
                out << shown(list.first[i], false) << " = " << shown(list.second[i], false) << "\n";
        } else {
            const number_list* list = section.numbers(state, reserved);
            const std::uint16_t count = list ? list->count : reserved.numbers_26_count;
            out << " " << count << "\n";
            for (std::uint16_t i = 0; i < count; ++i)
                out << (i ? ", " : "") << (list ? list->values[i] : reserved.numbers_26[i])
                    << (i + 1 == count ? "\n" : "");
        }
    }
    for (std::uint16_t g = 0; g < reserved.group_count; ++g) {
        const group_record& group = reserved.groups[g];
        out << "[group " << shown(group.name, false) << "]\nvalue = " << group.value << "\nvalues =";
        const char* separator = " ";
        in_file_order(group.values, [&](const group_value_node& node) {
            out << separator << node.value;
            separator = ", ";
        });
        out << "\nnames =";
        separator = " ";
        in_file_order(group.names, [&](const group_name_node& node) {
            out << separator << shown(node.name, false);
            separator = ", ";
        });
        out << "\n";
    }
    out << "[members] " << package.count() << ", " << state.file_table->total_unpacked
        << " bytes unpacked (merge_list_a " << state.merge_bytes_a << ", merge_list_b " << state.merge_bytes_b << ")\n";
    char line[160];
    std::snprintf(line, sizeof line, "%5s %10s %10s %10s  %-18s %s\n", "#", "unpacked", "stored", "offset", "rule",
                  "name");
    out << line;
    for (std::uint16_t i = 0; i < package.count(); ++i) {
        const package_member& member = package.member(i);
        std::snprintf(line, sizeof line, "%5u %10u %10u %10u  %-18s ", i, member.unpacked_size, member.stored_size,
                      member.data_offset, member_rule(package, i));
        out << line << shown(package.name(i), false) << "\n";
    }
}

void list_json(opened_package& package, std::ostream& out)
{
    run_state& state = package.state;
    package_reserved& reserved = package.reserved;
    out << "{\n  \"file\": " << json_text(package.path)
        << ",\n  \"in_program\": " << (package.in_program ? "true" : "false")
        << ",\n  \"package_offset\": " << package.start << ",\n  \"marker_tag\": " << json_text(package.tag)
        << ",\n  \"package\": {";
    for (const text_key& field : text_keys())
        out << "\n    \"" << field.key << "\": " << json_text(field.place(state, reserved)) << ",";
    for (const flag_key& flag : flag_keys()) out << "\n    \"" << flag.key << "\": " << *flag.place(state, reserved) << ",";
    out << "\n    \"db_version\": \"" << db_version_text(state.db_version)
        << "\",\n    \"extra_space_kb\": " << state.extra_space_kb
        << ",\n    \"required_msie_build\": " << state.required_msie_build << "\n  },\n  \"lists\": {";
    const char* comma = "";
    for (const list_section& section : list_sections()) {
        out << comma << "\n    \"" << section.name << "\": [";
        comma = ",";
        if (const name_list* names = section.names(state, reserved)) {
            const name_list& list = *names;
            for (std::uint16_t i = 0; i < list.count; ++i) out << (i ? ", " : "") << json_text(list.names[i]);
        } else if (const paired_name_list* pairs = section.pairs(state, reserved)) {
            const paired_name_list& list = *pairs;
            for (std::uint16_t i = 0; i < list.count; ++i)
                out << (i ? ", " : "") << "[" << json_text(list.first[i]) << ", " << json_text(list.second[i]) << "]";
        } else {
            const number_list* list = section.numbers(state, reserved);
            const std::uint16_t count = list ? list->count : reserved.numbers_26_count;
            for (std::uint16_t i = 0; i < count; ++i)
                out << (i ? ", " : "") << (list ? list->values[i] : reserved.numbers_26[i]);
        }
        out << "]";
    }
    out << "\n  },\n  \"groups\": [";
    for (std::uint16_t g = 0; g < reserved.group_count; ++g) {
        const group_record& group = reserved.groups[g];
        out << (g ? "," : "") << "\n    {\"name\": " << json_text(group.name) << ", \"value\": " << group.value
            << ", \"values\": [";
        const char* separator = "";
        in_file_order(group.values, [&](const group_value_node& node) {
            out << separator << node.value;
            separator = ", ";
        });
        out << "], \"names\": [";
        separator = "";
        in_file_order(group.names, [&](const group_name_node& node) {
            out << separator << json_text(node.name);
            separator = ", ";
        });
        out << "]}";
    }
    out << "\n  ],\n  \"total_unpacked\": " << state.file_table->total_unpacked
        << ",\n  \"merge_bytes_a\": " << state.merge_bytes_a << ",\n  \"merge_bytes_b\": " << state.merge_bytes_b
        << ",\n  \"members\": [";
    for (std::uint16_t i = 0; i < package.count(); ++i) {
        const package_member& member = package.member(i);
        out << (i ? "," : "") << "\n    {\"name\": " << json_text(package.name(i))
            << ", \"unpacked_size\": " << member.unpacked_size << ", \"stored_size\": " << member.stored_size
            << ", \"data_offset\": " << member.data_offset << ", \"rule\": \"" << member_rule(package, i) << "\"}";
    }
    out << "\n  ]\n}\n";
}

// Creates every directory on the way to `path`'s last component.
bool make_parents(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string directory = path.substr(0, slash);
        if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::string json_text(std::string_view text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {  // ANSI bytes above 0x7F are shown as Latin-1
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char* rule_of_name(std::string_view name)
{
    const auto slash = name.rfind('\\');
    const std::string_view directory = slash == std::string_view::npos ? std::string_view{} : name.substr(0, slash);
    if (same_name(directory, "system")) return "system file";
    if (same_name(directory.substr(0, directory.find('\\')), "if_newer")) return "copy if newer";
    if (same_name(name, "idb\\merge.db")) return "delivered database";
    return "plain";
}

int build_command(const build_request& request, std::ostream& out, std::ostream& err)
{
    return build(request, out, err);
}

int list_command(const std::string& file, bool json, std::ostream& out, std::ostream& err)
{
    opened_package package;
    if (std::string error = open_package(file, package); !error.empty()) {
        err << error << "\n";
        return 1;
    }
    if (json)
        list_json(package, out);
    else
        list_text(package, out);
    return 0;
}

int extract_command(const std::string& file, const std::string& directory, std::ostream& out, std::ostream& err)
{
    opened_package package;
    if (std::string error = open_package(file, package); !error.empty()) {
        err << error << "\n";
        return 1;
    }
    for (std::uint16_t i = 0; i < package.count(); ++i) {
        byte_buffer bytes;
        std::string target = package.name(i);
        for (char* separator = find_char(target.data(), '\\'); separator; separator = find_char(separator, '\\'))
            *separator = '/';
        target = directory + "/" + target;
        std::string error = member_file(package, i, bytes);
        if (error.empty() && !make_parents(target))
            error = "cannot create the folders of " + target + " (" + system_error() + ")";
        if (error.empty()) {
            std::ofstream written(target, std::ios::binary | std::ios::trunc);
            written.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            if (!written.flush()) error = "cannot write " + target;
        }
        if (!error.empty()) {
            err << file << ": " << member_label(package, i) << ": " << error << "\n";
            return 1;
        }
        out << target << " (" << bytes.size() << " bytes)\n";
    }
    return 0;
}

int verify_command(const std::string& file, std::ostream& out, std::ostream& err)
{
    opened_package package;
    if (std::string error = open_package(file, package); !error.empty()) {
        err << error << "\n";
        return 1;
    }
    for (std::uint16_t i = 0; i < package.count(); ++i) {
        byte_buffer bytes;
        if (std::string error = member_file(package, i, bytes); !error.empty()) {
            err << file << ": " << member_label(package, i) << ": " << error << "\n";
            return 1;
        }
    }
    if (package.data_end != package.size) {
        err << file << ": the last member's data end at " << package.data_end << ", the file at " << package.size
            << "\n";
        return 1;
    }
    out << file << ": " << package.count() << " members, all sound\n";
    return 0;
}
