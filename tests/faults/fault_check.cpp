// fault_check: the fault campaigns' checker. It fills databases with records made from a seed,
// writes down the state of a client (every file's checksum, every record of MAIN.IDX) and judges
// the state a killed or failed run left against the state before the update and after it.
//
//   fault_check fill DB FIRST-GID COUNT SEED      COUNT records from FIRST-GID on, bodies of 8 to
//                                                 700 bytes drawn from SEED
//   fault_check bytes SEED SIZE                   SIZE bytes drawn from SEED, to standard output
//   fault_check state LABEL=PATH...               the state, one line per file or record, sorted
//   fault_check judge BEFORE AFTER STATE          a killed run's state: every file and record old
//                                                 or new (a file labelled NAME, or its copy
//                                                 labelled NAME.kept), none lost; exit 1 when one
//                                                 is not
//   fault_check log REFERENCE LOG                 LOG is a whole-line beginning of REFERENCE,
//                                                 numbers aside; prints its line count
//   fault_check fill-after LOG LINES NAME FILLER  once LOG holds LINES lines: stops the process
//                                                 whose command line holds NAME, writes FILLER
//                                                 until its disk is full, lets the process go on
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "clientdb/client_db.h"
#include "support/memory.h"

namespace fs = std::filesystem;

namespace {

std::uint64_t fnv1a(const unsigned char* bytes, std::size_t size)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

std::string hex64(std::uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

struct xorshift {
    std::uint64_t state;
    std::uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::uint32_t>(state >> 16);
    }
};

int fill(const std::string& path, std::uint32_t first, std::uint32_t count, std::uint64_t seed)
{
    client_db* db = nullptr;
    if (db_open(path.c_str(), &db) != 0) {
        std::cerr << path << ": cannot be opened\n";
        return 1;
    }
    xorshift random{seed * 2654435761u + 88172645463325252ull};
    std::vector<unsigned char> body;
    for (std::uint32_t i = 0; i < count; ++i) {
        body.resize(8 + random.next() % 693);
        for (unsigned char& byte : body) byte = static_cast<unsigned char>(random.next());
        const std::uint32_t gid = first + i;
        const char kind = (gid >> 24) == 0x01 ? 'p' : 'b';
        if (!db_write_record(db, gid, body.data(), static_cast<std::uint16_t>(body.size()), kind)) {
            std::cerr << path << ": record " << gid << " could not be written\n";
            db_close(db);
            return 1;
        }
    }
    return db_close(db) ? 0 : 1;
}

int bytes(std::uint64_t seed, std::uint64_t size)
{
    xorshift random{seed * 2654435761u + 88172645463325252ull};
    std::vector<char> block(4096);
    while (size > 0) {
        const std::size_t count = size < block.size() ? static_cast<std::size_t>(size) : block.size();
        for (std::size_t i = 0; i < count; ++i) block[i] = static_cast<char>(random.next());
        std::cout.write(block.data(), static_cast<std::streamsize>(count));
        size -= count;
    }
    return std::cout ? 0 : 1;
}

struct scan_count {
    std::map<std::uint32_t, int> live;
};

// The records of a database as lines "R LABEL GID SIZE HASH", with a line "E ..." for a file that
// does not open and "W ..." for each gid with more than one live copy.
void database_state(const std::string& label, const std::string& path, std::vector<std::string>& lines)
{
    scan_count counts;
    db_scan_observer observer{};
    observer.context = &counts;
    observer.header = [](void* context, const record_header& header, std::uint32_t, int) {
        if (!(header.flags & flag_deleted)) ++static_cast<scan_count*>(context)->live[header.gid];
    };
    client_db* db = nullptr;
    if (db_open_observed(path.c_str(), &db, &observer, 1) != 0) {
        lines.push_back("E " + label + " does not open");
        return;
    }
    // Two live copies: a writer stopped between making the new one live and marking the old one
    // deleted. The last is the one read; the next open for writing marks the other.
    for (const auto& [gid, copies] : counts.live)
        if (copies != 1) lines.push_back("W " + label + " gid " + std::to_string(gid) + " has " +
                                         std::to_string(copies) + " live copies");
    struct context_type {
        const std::string* label;
        std::vector<std::string>* lines;
    } context{&label, &lines};
    db_for_each(
        db,
        [](client_db* db, std::uint32_t gid, std::uint16_t, void* raw) {
            auto& context = *static_cast<context_type*>(raw);
            std::uint16_t size = 0;
            void* body = db_read_record(db, gid, nullptr, &size);
            char line[128];
            if (!body) {
                std::snprintf(line, sizeof line, "E %s gid %08x unreadable", context.label->c_str(),
                              static_cast<unsigned>(gid));
            } else {
                std::snprintf(line, sizeof line, "R %s %08x %u %s", context.label->c_str(), static_cast<unsigned>(gid),
                              static_cast<unsigned>(size),
                              hex64(fnv1a(static_cast<const unsigned char*>(body), size)).c_str());
                free_block(body);
            }
            context.lines->push_back(line);
            return 1;
        },
        &context);
    db_release(db);
}

bool file_hash(const fs::path& path, std::uintmax_t& size, std::string& hash)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size = bytes.size();
    hash = hex64(fnv1a(bytes.data(), bytes.size()));
    return true;
}

void add_file(const std::string& name, const fs::path& path, std::vector<std::string>& lines)
{
    if (lower(path.filename().string()) == "main.idx") {
        database_state(name, path.string(), lines);
        return;
    }
    std::uintmax_t size = 0;
    std::string hash;
    if (file_hash(path, size, hash)) lines.push_back("F " + name + " " + std::to_string(size) + " " + hash);
    else lines.push_back("E " + name + " unreadable");
}

int state(int count, char** arguments)
{
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        const std::string argument = arguments[i];
        const std::size_t equals = argument.find('=');
        if (equals == std::string::npos) {
            std::cerr << "fault_check: LABEL=PATH expected, not " << argument << "\n";
            return 2;
        }
        const std::string label = argument.substr(0, equals);
        const fs::path root = argument.substr(equals + 1);
        std::error_code error;
        if (fs::is_directory(root, error)) {
            for (const auto& entry : fs::recursive_directory_iterator(root, error))
                if (entry.is_regular_file())
                    add_file(label + "/" + lower(fs::relative(entry.path(), root).generic_string()), entry.path(),
                             lines);
        } else if (fs::exists(root, error)) {
            add_file(label, root, lines);
        }
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) std::cout << line << "\n";
    return 0;
}

// A state file: its lines keyed by what they describe (a file, a record), errors apart.
struct state_file {
    std::map<std::string, std::string> items;  // "F name" or "R label gid" -> the rest
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

bool read_state(const std::string& path, state_file& out)
{
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("E ", 0) == 0 || line.rfind("W ", 0) == 0) {
            (line[0] == 'E' ? out.errors : out.warnings).push_back(line);
            continue;
        }
        std::istringstream fields(line);
        std::string kind, name, id, rest;
        fields >> kind >> name;
        if (kind == "R") fields >> id;
        std::getline(fields, rest);
        out.items[kind + " " + name + (id.empty() ? "" : " " + id)] = rest;
    }
    return true;
}

int judge(const std::string& before_path, const std::string& after_path, const std::string& state_path)
{
    state_file before, after, now;
    if (!read_state(before_path, before) || !read_state(after_path, after) || !read_state(state_path, now)) {
        std::cerr << "fault_check: a state file cannot be read\n";
        return 2;
    }
    int mixed_files = 0, lost_files = 0, bad_records = 0, lost_records = 0, temporaries = 0;
    for (const std::string& error : now.errors) std::cout << "  " << error << "\n";
    for (const auto& [key, value] : now.items) {
        const bool record = key[0] == 'R';
        const auto old_item = before.items.find(key);
        const auto new_item = after.items.find(key);
        const bool old_match = old_item != before.items.end() && old_item->second == value;
        const bool new_match = new_item != after.items.end() && new_item->second == value;
        if (old_match || new_match) continue;
        // A file whose whole copy stands beside it under the label NAME.kept (WIN.INI, written in
        // place by the system) is whole when the copy holds its old or new content: the next run
        // puts the copy back.
        if (!record) {
            const auto kept = now.items.find(key + ".kept");
            if (kept != now.items.end() &&
                ((old_item != before.items.end() && old_item->second == kept->second) ||
                 (new_item != after.items.end() && new_item->second == kept->second))) {
                std::cout << "  kept whole in its copy " << key.substr(2) << "\n";
                continue;
            }
        }
        // In neither state: made by the run for its own use (a staged copy, a temporary file,
        // the database's index); a later run must remove it, which the campaign checks.
        if (!record && old_item == before.items.end() && new_item == after.items.end()) {
            ++temporaries;
            std::cout << "  temporary " << key.substr(2) << "\n";
            continue;
        }
        std::cout << "  " << (record ? "record " : "file ") << key.substr(2) << " is neither old nor new\n";
        ++(record ? bad_records : mixed_files);
    }
    for (const auto& [key, value] : before.items) {
        if (now.items.count(key)) continue;
        // Gone in the finished update too: a file it deletes or renames, a record it drops.
        if (!after.items.count(key)) continue;
        std::cout << "  " << (key[0] == 'R' ? "record " : "file ") << key.substr(2) << " is missing\n";
        ++(key[0] == 'R' ? lost_records : lost_files);
    }
    std::cout << "files whole: " << (mixed_files ? "FAIL" : "ok") << "\n";
    std::cout << "files kept: " << (lost_files ? "FAIL" : "ok") << "\n";
    std::cout << "records: " << (bad_records || lost_records || !now.errors.empty() ? "FAIL" : "ok") << "\n";
    std::cout << "temporaries: " << temporaries << "\n";
    std::cout << "records with a superseded live copy: " << now.warnings.size() << "\n";
    for (const std::string& warning : now.warnings) std::cout << "  " << warning << "\n";
    return mixed_files || lost_files || bad_records || lost_records || !now.errors.empty() ? 1 : 0;
}

// A log line with its numbers masked: temporary names and counts differ from run to run.
std::string masked(const std::string& line)
{
    std::string out;
    bool in_number = false;
    for (char c : line) {
        const bool digit = (c >= '0' && c <= '9') || ((c >= 'A' && c <= 'F') && in_number);
        if (digit) {
            if (!in_number) out += '#';
        } else {
            out += c;
        }
        in_number = digit;
    }
    return out;
}

int log_prefix(const std::string& reference_path, const std::string& log_path)
{
    std::ifstream reference(reference_path, std::ios::binary), log(log_path, std::ios::binary);
    if (!reference) {
        std::cerr << reference_path << ": cannot be read\n";
        return 2;
    }
    if (!log) {
        std::cout << "0\n";
        return 0;
    }
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)) {
        std::cout << "the log ends in a partial line\n";
        return 1;
    }
    std::istringstream lines(text);
    std::string line, expected;
    int count = 0;
    while (std::getline(lines, line)) {
        if (!std::getline(reference, expected)) {
            std::cout << "line " << count + 1 << " is not in the reference: " << line << "\n";
            return 1;
        }
        if (masked(line) != masked(expected)) {
            std::cout << "line " << count + 1 << " differs: \"" << line << "\" against \"" << expected << "\"\n";
            return 1;
        }
        ++count;
    }
    std::cout << count << "\n";
    return 0;
}

long count_lines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return -1;
    return static_cast<long>(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

// The processes whose command line holds `name` (its arguments joined by blanks).
std::vector<pid_t> processes_named(const std::string& name)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/cmdline", std::ios::binary);
        std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::replace(line.begin(), line.end(), '\0', ' ');
        if (line.find(name) != std::string::npos) found.push_back(pid);
    }
    closedir(proc);
    return found;
}

// The disk fills at a moment of the run named by its log: the program is held while the filler
// takes every free byte, so its next write is the first to find the disk full.
int fill_after(const std::string& log_path, long lines, const std::string& name, const std::string& filler_path)
{
    const timespec pause{0, 500000};
    bool started = false;
    for (int waited = 0;; ++waited) {
        if (count_lines(log_path) >= lines) break;
        // A run that ended short of the line (or never started) is not waited for any longer:
        // every tenth of a second the program is looked for.
        if (waited % 200 == 0) {
            const bool running = !processes_named(name).empty();
            if (started && !running) {
                std::cerr << "fault_check: the run ended with " << count_lines(log_path) << " of " << lines
                          << " lines of " << log_path << "\n";
                return 1;
            }
            started = started || running;
        }
        if (waited > 240000) {  // two minutes
            std::cerr << "fault_check: " << log_path << " never reached " << lines << " lines\n";
            return 1;
        }
        nanosleep(&pause, nullptr);
    }
    const std::vector<pid_t> held = processes_named(name);
    for (const pid_t pid : held) kill(pid, SIGSTOP);
    const int filler = open(filler_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (filler >= 0) {
        static const char block[65536] = {};
        for (std::size_t size = sizeof block; size > 0;)
            if (write(filler, block, size) <= 0) size /= 2;
        close(filler);
    }
    for (const pid_t pid : held) kill(pid, SIGCONT);
    std::cout << "held " << held.size() << " process(es) at line " << count_lines(log_path) << "\n";
    return held.empty() ? 1 : 0;
}

int usage()
{
    std::cerr << "usage: fault_check fill DB FIRST-GID COUNT SEED | bytes SEED SIZE | state LABEL=PATH... | judge BEFORE AFTER STATE |"
                 " log REFERENCE LOG | fill-after LOG LINES NAME FILLER\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "fill" && argc == 6)
        return fill(argv[2], static_cast<std::uint32_t>(std::stoul(argv[3], nullptr, 0)),
                    static_cast<std::uint32_t>(std::stoul(argv[4])), std::stoull(argv[5]));
    if (command == "bytes" && argc == 4) return bytes(std::stoull(argv[2]), std::stoull(argv[3]));
    if (command == "state") return state(argc - 2, argv + 2);
    if (command == "judge" && argc == 5) return judge(argv[2], argv[3], argv[4]);
    if (command == "log" && argc == 4) return log_prefix(argv[2], argv[3]);
    if (command == "fill-after" && argc == 6) return fill_after(argv[2], std::stol(argv[3]), argv[4], argv[5]);
    return usage();
}
