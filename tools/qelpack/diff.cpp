#include "diff.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "clientdb/client_db.h"
#include "manifest.h"
#include "package/package_format.h"
#include "qelpack.h"
#include "support/path_text.h"
#include "zip_archive.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t version_gid = 0x14000006;
// Written by the merge itself on every run: never delivered.
constexpr std::uint32_t stamp_gids[] = {version_gid, 0x140000D1, 0x14000044, 0x14000046};
// Not the main database's id (0x01000401): a search of IDB for the main database by its id must
// never take a MERGE.DB left behind by a stopped run for it.
constexpr std::uint32_t delivered_database_id = 0x01000400;
const char main_database[] = "IDB\\MAIN.IDX";

// The key a name is found under: names compare as the package compares them.
std::string upper(std::string text)
{
    ascii_upper_case(text.data());
    return text;
}

bool read_bytes(const fs::path& path, byte_buffer& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// A file of a tree: its name as the package names it (backslashes) and where it lies.
struct tree_file {
    std::string name;
    fs::path path;
};

// Every regular file below `root`, sorted by name; false (with `fault`) when the tree cannot be
// walked.
bool list_tree(const fs::path& root, std::vector<tree_file>& files, std::string& fault)
{
    std::error_code error;
    fs::recursive_directory_iterator walk(root, error), end;
    for (; !error && walk != end; walk.increment(error)) {
        if (!walk->is_regular_file(error)) continue;
        std::string name = walk->path().lexically_relative(root).generic_string();
        std::replace(name.begin(), name.end(), '/', '\\');
        files.push_back({name, walk->path()});
    }
    if (error) {
        fault = root.string() + ": cannot be read (" + error.message() + ")";
        return false;
    }
    std::sort(files.begin(), files.end(), [](const tree_file& a, const tree_file& b) { return a.name < b.name; });
    return true;
}

struct record_copy {
    std::uint8_t kind;
    byte_buffer body;
};
using record_map = std::map<std::uint32_t, record_copy>;

bool collect_record(client_db* db, std::uint32_t gid, std::uint16_t size, void* context)
{
    auto& records = *static_cast<record_map*>(context);
    record_copy copy{db_record_header(db, gid)->kind, byte_buffer(size + 1u)};
    if (!db_read_record(db, gid, copy.body.data(), nullptr)) return false;
    copy.body.resize(size);
    records[gid] = std::move(copy);
    return true;
}

// The current records of a tree's IDB\MAIN.IDX; false with `fault` when it is missing or damaged.
bool read_records(const fs::path& tree, record_map& records, std::string& fault)
{
    const std::string path = (tree / "IDB" / "MAIN.IDX").string();
    client_db* db = nullptr;
    errno = 0;
    const int opened = db_open_observed(path.c_str(), &db, nullptr, 1);
    if (opened == 2) {
        fault = path + ": cannot be opened (" + (errno ? std::strerror(errno) : "missing") + ")";
        return false;
    }
    if (opened != 0) {
        fault = path + ": damaged: its record chain cannot be read";
        return false;
    }
    bool whole = true;
    struct walk_state {
        record_map* records;
        bool* whole;
    } state{&records, &whole};
    db_for_each(
        db,
        [](client_db* db, std::uint32_t gid, std::uint16_t size, void* context) -> int {
            auto& walk = *static_cast<walk_state*>(context);
            if (!collect_record(db, gid, size, walk.records)) *walk.whole = false;
            return 1;
        },
        &state);
    db_close(db);
    if (!whole) fault = path + ": damaged: a record's body is cut off by the end of the file";
    return whole;
}

bool version_of(const record_map& records, std::uint16_t& version)
{
    const auto found = records.find(version_gid);
    if (found == records.end() || found->second.body.size() < 3) return false;
    version = static_cast<std::uint16_t>(found->second.body[1] | found->second.body[2] << 8);
    return true;
}

// The manifest given as a base, section by section as written; its [rules] are the diff's own
// and do not go into the output.
struct base_section {
    std::string name;  // lower case, without brackets; empty before the first section
    std::vector<std::string> lines;
};
struct rule_line {
    std::string pattern;
    std::string rule;  // plain, preserved, system, if_newer
};
struct base_manifest {
    std::vector<base_section> sections;
    std::vector<rule_line> rules;
    std::map<std::string, std::string> members;  // upper-cased name -> the line's source, made absolute
};

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool read_base(const std::string& path, base_manifest& base, std::string& fault)
{
    std::ifstream in(path);
    if (!in) {
        fault = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    const fs::path folder = fs::absolute(path).parent_path();
    base.sections.push_back({"", {}});
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string text = trim(line);
        if (text.size() > 1 && text.front() == '[' && text.back() == ']') {
            std::string name = text.substr(1, text.size() - 2);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            base.sections.push_back({name, {}});
            if (name == "rules") continue;
            base.sections.back().lines.push_back(line);
            continue;
        }
        const std::string& section = base.sections.back().name;
        const auto equals = text.find('=');
        if (section == "rules" && !text.empty() && text[0] != ';') {
            const std::string rule = equals == std::string::npos ? "" : trim(text.substr(equals + 1));
            if (rule != "plain" && rule != "preserved" && rule != "system" && rule != "if_newer") {
                fault = path + ":" + std::to_string(number) + ": expected PATTERN = plain, preserved, system or if_newer";
                return false;
            }
            base.rules.push_back({trim(text.substr(0, equals)), rule});
            continue;
        }
        if (section == "members" && equals != std::string::npos && text[0] != ';') {
            const std::string name = trim(text.substr(0, equals));
            fs::path source = trim(text.substr(equals + 1));
            if (source.is_relative()) source = folder / source;
            base.members[upper(name)] = source.string();
            line = name + " = " + source.string();
        }
        base.sections.back().lines.push_back(line);
    }
    return true;
}

bool has_key(const base_manifest& base, const char* section, const char* key)
{
    for (const base_section& part : base.sections) {
        if (part.name != section) continue;
        if (!key) return true;
        for (const std::string& line : part.lines) {
            const auto equals = line.find('=');
            if (equals != std::string::npos && same_name(trim(line.substr(0, equals)), key)) return true;
        }
    }
    return false;
}

// The rule for a file of NEW: the first matching pattern of the base, else plain.
std::string rule_for(const base_manifest& base, const std::string& name)
{
    for (const rule_line& rule : base.rules)
        if (long_name_matches(rule.pattern.c_str(), name.c_str())) return rule.rule;
    return "plain";
}

// The member name under which the package gives a file of NEW its rule; empty when the rule
// cannot be had for that name (a plain file inside SYSTEM or IF_NEWER would be taken for one of
// those rules).
std::string member_name_for(const std::string& name, const std::string& rule)
{
    const auto slash = name.rfind('\\');
    const std::string_view implied = rule_of_name(name);
    const bool looks_special = implied == "system file" || implied == "copy if newer";
    if (rule == "system") return "system\\" + name.substr(slash == std::string::npos ? 0 : slash + 1);
    if (rule == "if_newer") return "if_newer\\" + name;
    return looks_special ? "" : name;
}

bool inside(const fs::path& path, const fs::path& tree)
{
    const fs::path a = fs::weakly_canonical(path), b = fs::weakly_canonical(tree);
    auto mismatch = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return mismatch.first == b.end();
}

std::string hex_gid(std::uint32_t gid)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", gid);
    return text;
}

struct diff_member {
    std::string member;  // the member name
    std::string file;    // the file's name in NEW
    const char* change;  // "added" or "changed"
    std::uint64_t bytes;
    std::uint64_t packed;
};

struct diff_result {
    std::vector<diff_member> members;
    std::vector<std::string> deleted;
    std::vector<std::string> preserved;  // changed or added files a preserved rule keeps out
    std::vector<std::uint32_t> delivered;
    std::vector<std::string> warnings;
    std::uint16_t old_build = 0, new_version = 0;
};

// Writes the update into `staging`; empty text, or the fault.
std::string make_update(const diff_request& request, const base_manifest& base, const fs::path& staging,
                        diff_result& result, std::ostream& err)
{
    std::string fault;
    std::vector<tree_file> old_files, new_files;
    if (!list_tree(request.old_tree, old_files, fault) || !list_tree(request.new_tree, new_files, fault)) return fault;
    std::map<std::string, const tree_file*> old_by_name;
    for (const tree_file& file : old_files) old_by_name[upper(file.name)] = &file;
    std::set<std::string> new_names;
    for (const tree_file& file : new_files) new_names.insert(upper(file.name));

    // Files.
    std::size_t compared = 0;
    for (const tree_file& file : new_files) {
        if (request.progress && ++compared % 50 == 0)
            err << "\rcomparing files: " << compared << " of " << new_files.size() << std::flush;
        if (same_name(file.name, main_database)) continue;
        byte_buffer bytes, old_bytes;
        if (!read_bytes(file.path, bytes)) return file.path.string() + ": cannot be read";
        const auto old = old_by_name.find(upper(file.name));
        if (old != old_by_name.end()) {
            if (!read_bytes(old->second->path, old_bytes)) return old->second->path.string() + ": cannot be read";
            if (old_bytes == bytes) continue;
        }
        const std::string rule = rule_for(base, file.name);
        if (rule == "preserved" && file.name.size() >= list_name_capacity)
            return file.path.string() + ": its name is " + std::to_string(file.name.size()) +
                   " bytes, and a preserved name takes at most " + std::to_string(list_name_capacity - 1);
        if (rule == "preserved") {
            result.preserved.push_back(file.name);
            continue;
        }
        const std::string member = member_name_for(file.name, rule);
        if (member.empty())
            return file.path.string() + ": a plain file under SYSTEM or IF_NEWER would be installed by those folders' rules; give it a rule in the base's [rules]";
        if (member.find('=') != std::string::npos || member.front() == ';' || member.front() == '[' ||
            trim(member) != member)
            return file.path.string() + ": its name cannot stand in a manifest";
        if (base.members.count(upper(member))) continue;  // the base's own entry wins
        const fs::path copy = staging / "files" / fs::path(file.path.lexically_relative(request.new_tree));
        std::error_code error;
        fs::create_directories(copy.parent_path(), error);
        if (error || !fs::copy_file(file.path, copy, error) || error) return copy.string() + ": cannot be written";
        const std::string entry = member.substr(member.rfind('\\') == std::string::npos ? 0 : member.rfind('\\') + 1);
        const std::uint64_t packed = make_zip(upper(entry), bytes, 0).size();
        result.members.push_back({member, file.name, old == old_by_name.end() ? "added" : "changed", bytes.size(), packed});
    }
    if (request.progress && compared >= 50) err << "\rcomparing files: " << new_files.size() << " of " << new_files.size() << "\n";
    for (const tree_file& file : old_files) {
        if (new_names.count(upper(file.name)) || same_name(file.name, main_database)) continue;
        if (file.name.find_first_of("*?") != std::string::npos)
            return file.path.string() + ": a name with a wildcard cannot be listed for deletion: it would delete other files too";
        if (file.name.size() >= list_name_capacity)
            return file.path.string() + ": its name is " + std::to_string(file.name.size()) +
                   " bytes, and a name to delete takes at most " + std::to_string(list_name_capacity - 1);
        result.deleted.push_back(file.name);
    }

    // Records.
    record_map old_records, new_records;
    if (!read_records(request.old_tree, old_records, fault) || !read_records(request.new_tree, new_records, fault)) return fault;
    const auto stamped = [](std::uint32_t gid) { return std::find(std::begin(stamp_gids), std::end(stamp_gids), gid) != std::end(stamp_gids); };
    for (const auto& [gid, copy] : new_records) {
        if (stamped(gid)) continue;
        const auto old = old_records.find(gid);
        if (old != old_records.end() && old->second.kind == copy.kind && old->second.body == copy.body) continue;
        if (copy.body.empty()) {
            result.warnings.push_back("record " + hex_gid(gid) + " is empty in NEW: the merge copies no empty record, so it is not delivered");
            continue;
        }
        // The merge writes kind 'p' in the 0x01 range and 'b' elsewhere, whatever NEW's was.
        const std::uint8_t merged_kind = (gid >> 24) == 0x01 ? 'p' : 'b';
        if (copy.kind != merged_kind)
            result.warnings.push_back("record " + hex_gid(gid) + " has kind '" + static_cast<char>(copy.kind) +
                                      "' in NEW: the merge writes it with kind '" + static_cast<char>(merged_kind) + "'");
        result.delivered.push_back(gid);
    }
    for (const auto& [gid, copy] : old_records)
        if (!stamped(gid) && !new_records.count(gid))
            result.warnings.push_back("record " + hex_gid(gid) + " is in OLD but not in NEW: a merge cannot remove it");
    if (!version_of(old_records, result.old_build) && !has_key(base, "accepted_builds", nullptr))
        return (fs::path(request.old_tree) / "IDB" / "MAIN.IDX").string() + ": no version record (0x14000006) to take OLD's build from";
    if (!version_of(new_records, result.new_version) && !has_key(base, "package", "db_version"))
        return (fs::path(request.new_tree) / "IDB" / "MAIN.IDX").string() + ": no version record (0x14000006) to take NEW's version from";

    if (!result.delivered.empty() && base.members.count(upper("IDB\\MERGE.DB")))
        return request.manifest_base + ": names IDB\\MERGE.DB itself, where the diff delivers records";
    if (!result.delivered.empty()) {
        const fs::path merge_db = staging / "files" / "IDB" / "MERGE.DB";
        std::error_code error;
        fs::create_directories(merge_db.parent_path(), error);
        unsigned char header[long_file_header_size];
        const std::uint32_t size = encode_file_header(true, delivered_database_id, header);
        std::ofstream(merge_db, std::ios::binary).write(reinterpret_cast<const char*>(header), size);
        client_db* db = nullptr;
        if (db_open(merge_db.string().c_str(), &db) != 0) return merge_db.string() + ": cannot be written";
        bool written = true;
        for (std::uint32_t gid : result.delivered) {
            const record_copy& copy = new_records[gid];
            written = written && db_write_record(db, gid, copy.body.data(), static_cast<std::uint16_t>(copy.body.size()), copy.kind);
        }
        db_close(db);
        if (!written) return merge_db.string() + ": cannot be written";
    }
    return "";
}

// The manifest: the base's sections as written, with what the diff adds to them.
std::string manifest_text(const base_manifest& base, const diff_result& result)
{
    std::map<std::string, std::vector<std::string>> added;
    if (!has_key(base, "package", "db_version"))
        added["package"].push_back("db_version = " + std::to_string(result.new_version & 0xFF) + "." +
                                   std::to_string(result.new_version >> 8));
    if (!has_key(base, "accepted_builds", nullptr)) added["accepted_builds"].push_back(std::to_string(result.old_build));
    for (const std::string& name : result.deleted) added["target_dir_deletions"].push_back(name);
    for (const std::string& name : result.preserved) added["rename_list"].push_back(name + " =");
    for (const diff_member& member : result.members) {
        std::string source = "files/" + member.file;
        std::replace(source.begin(), source.end(), '\\', '/');
        added["members"].push_back(member.member + " = " + source);
    }
    if (!result.delivered.empty()) added["members"].push_back("IDB\\MERGE.DB = files/IDB/MERGE.DB");

    std::string text = "; Made by qelpack diff.\n";
    std::set<std::string> done;
    for (const base_section& part : base.sections) {
        if (part.name == "rules") continue;
        // What the diff adds goes after the section's last line, before the blank ones.
        std::size_t end = part.lines.size();
        while (end > 0 && trim(part.lines[end - 1]).empty()) --end;
        for (std::size_t i = 0; i < end; ++i) text += part.lines[i] + "\n";
        if (done.insert(part.name).second)
            for (const std::string& line : added[part.name]) text += line + "\n";
        for (std::size_t i = end; i < part.lines.size(); ++i) text += part.lines[i] + "\n";
    }
    for (const char* section : {"package", "accepted_builds", "rename_list", "target_dir_deletions", "members"}) {
        if (done.count(section) || added[section].empty()) continue;
        if (text.size() < 2 || text.compare(text.size() - 2, 2, "\n\n") != 0) text += "\n";
        text += std::string("[") + section + "]\n";
        for (const std::string& line : added[section]) text += line + "\n";
    }
    return text;
}

void print_summary(const diff_request& request, const diff_result& result, std::ostream& out)
{
    std::size_t added = 0, changed = 0;
    std::uint64_t bytes = 0, packed = 0;
    for (const diff_member& member : result.members) {
        (std::strcmp(member.change, "added") == 0 ? added : changed) += 1;
        bytes += member.bytes;
        packed += member.packed;
    }
    if (request.json) {
        out << "{\"output\": " << json_text(request.output) << ", \"added\": " << added << ", \"changed\": " << changed
            << ", \"deleted\": " << result.deleted.size() << ", \"preserved\": " << result.preserved.size()
            << ", \"records_delivered\": " << result.delivered.size() << ", \"bytes\": " << bytes
            << ", \"packed_bytes\": " << packed << ", \"accepted_build\": " << result.old_build
            << ", \"db_version\": " << result.new_version << ",\n \"members\": [";
        for (std::size_t i = 0; i < result.members.size(); ++i)
            out << (i ? ",\n  " : "\n  ") << "{\"name\": " << json_text(result.members[i].member) << ", \"change\": \""
                << result.members[i].change << "\", \"bytes\": " << result.members[i].bytes
                << ", \"packed_bytes\": " << result.members[i].packed << "}";
        out << "],\n \"kept_out\": [";
        for (std::size_t i = 0; i < result.preserved.size(); ++i) out << (i ? ", " : "") << json_text(result.preserved[i]);
        out << "],\n \"deletions\": [";
        for (std::size_t i = 0; i < result.deleted.size(); ++i) out << (i ? ", " : "") << json_text(result.deleted[i]);
        out << "],\n \"warnings\": [";
        for (std::size_t i = 0; i < result.warnings.size(); ++i) out << (i ? ",\n  " : "\n  ") << json_text(result.warnings[i]);
        out << "]}\n";
        return;
    }
    for (const std::string& warning : result.warnings) out << "warning: " << warning << "\n";
    out << request.output << ": " << added << " added, " << changed << " changed, " << result.deleted.size()
        << " deleted, " << result.preserved.size() << " kept out as preserved; " << result.delivered.size()
        << " records delivered; " << result.warnings.size() << " warnings; " << bytes << " bytes, " << packed
        << " packed; accepts build " << result.old_build << ", makes version " << (result.new_version & 0xFF) << "."
        << (result.new_version >> 8) << "\n";
}

}  // namespace

int diff_command(const diff_request& request, std::ostream& out, std::ostream& err)
{
    std::error_code error;
    for (const std::string* tree : {&request.old_tree, &request.new_tree}) {
        if (!fs::is_directory(*tree, error) || ::access(tree->c_str(), R_OK | X_OK) != 0) {
            err << *tree << ": not a readable folder\n";
            return 1;
        }
    }
    if (inside(request.output, request.old_tree) || inside(request.output, request.new_tree)) {
        err << request.output << ": inside " << (inside(request.output, request.old_tree) ? request.old_tree : request.new_tree)
            << ": the update would be compared with itself\n";
        return 1;
    }
    if (fs::exists(request.output, error) && !(fs::is_directory(request.output, error) && fs::is_empty(request.output, error))) {
        err << request.output << ": exists and is not an empty folder\n";
        return 1;
    }
    base_manifest base;
    std::string fault;
    if (!request.manifest_base.empty() && !read_base(request.manifest_base, base, fault)) {
        err << fault << "\n";
        return 1;
    }
    if (base.sections.empty()) base.sections.push_back({"", {}});

    // Written beside OUTDIR and renamed into place once whole and checked.
    const fs::path target = fs::absolute(request.output).lexically_normal();
    const fs::path staging = target.parent_path() / (target.filename().string() + ".partial-" + std::to_string(::getpid()));
    fs::remove_all(staging, error);
    fs::create_directories(staging, error);
    if (error) {
        err << staging.string() << ": cannot be made (" << error.message() << ")\n";
        return 1;
    }
    diff_result result;
    fault = make_update(request, base, staging, result, err);
    if (fault.empty() && result.members.empty() && result.deleted.empty() && result.delivered.empty())
        fault = request.new_tree + ": the same as " + request.old_tree + ": nothing to update";
    if (fault.empty()) {
        std::ofstream(staging / "manifest.ini") << manifest_text(base, result);
        manifest check;
        const std::string checked = read_manifest((staging / "manifest.ini").string(), check);
        // Named as it will lie, not where it was checked.
        if (!checked.empty())
            fault = (target / "manifest.ini").string() + " would not fit the package: " + checked.substr(checked.find(':') + 1);
    }
    if (fault.empty()) {
        fs::remove(target, error);  // an empty folder
        fs::rename(staging, target, error);
        if (error) fault = target.string() + ": cannot be put in place (" + error.message() + ")";
    }
    if (!fault.empty()) {
        fs::remove_all(staging, error);
        err << fault << "\n";
        return 1;
    }
    print_summary(request, result, out);
    return 0;
}
