// The install benchmark's payload: about 100 MB in 500 files (with --quick about 10 MB in 100),
// the same bytes on every run. A few big files, some of a megabyte or so, many small ones; three
// kinds of content:
//   text    lines of words from a made-up vocabulary, a few words far more frequent than the rest
//           (deflate takes it to about a third);
//   records fixed-size binary records with counters, times, names from a short table and zero
//           padding, now and then a block of one repeated pattern (deflates well);
//   random  pseudo-random bytes (deflate cannot shrink them and stores them as they are).
// Text goes to DOCS and DOCS/NOTES, records to DATA and DATA/TABLES, random bytes to MEDIA; one
// small file in twenty lies at the top. Names are upper case and 8.3, as the install stage
// writes them. Every file gets the same modification time, so a package made of them is the
// same bytes too.
//
//   make_payload [--quick] DIR
//
// DIR must not exist yet. Prints one line per file, "KIND SIZE PATH" (PATH relative to DIR, with
// '/'), in creation order, and a summary on standard error. Exit 0, or 1 with a message.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast, and the same sequence on every machine.
struct random_source {
    std::uint64_t state;
    explicit random_source(std::uint64_t seed) : state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    // Uniform in [low, high].
    std::uint64_t between(std::uint64_t low, std::uint64_t high) { return low + next() % (high - low + 1); }
};

constexpr std::uint64_t payload_seed = 0x51E7A11B0057ull;

enum class kind { text, records, random };

const char* kind_name(kind k) { return k == kind::text ? "text" : k == kind::records ? "records" : "random"; }

struct file_plan {
    kind content;
    std::uint64_t size;
    std::string path;  // relative, '/' between components
};

// Sizes: 1 % of the files (at least one) share 45 % of the bytes, unevenly; most files are small
// (log-uniform from 64 bytes to 128 KB); a tenth of them, of medium size, take what is left.
std::vector<file_plan> plan_files(int count, std::uint64_t total, random_source& rng)
{
    const int big = count / 100 > 0 ? count / 100 : 1;
    const int medium = count / 10;
    std::vector<file_plan> plan(static_cast<std::size_t>(count));

    const std::uint64_t big_bytes = total * 45 / 100;
    std::uint64_t big_weights = 0;
    for (int i = 0; i < big; ++i) big_weights += static_cast<std::uint64_t>(i + 2);
    std::uint64_t used = 0;
    for (int i = 0; i < big; ++i) {
        plan[static_cast<std::size_t>(i)].size = big_bytes * static_cast<std::uint64_t>(i + 2) / big_weights;
        used += plan[static_cast<std::size_t>(i)].size;
    }
    for (int i = big + medium; i < count; ++i) {
        const double size = 64.0 * std::exp2(rng.unit() * 11.0);  // 64 B .. 128 KB
        plan[static_cast<std::size_t>(i)].size = static_cast<std::uint64_t>(size);
        used += plan[static_cast<std::size_t>(i)].size;
    }
    std::vector<double> weights(static_cast<std::size_t>(medium));
    double weight_sum = 0;
    for (double& w : weights) weight_sum += (w = 0.5 + rng.unit());
    const std::uint64_t medium_bytes = total > used ? total - used : 0;
    std::uint64_t medium_used = 0;
    for (int i = 0; i < medium; ++i) {
        std::uint64_t size = static_cast<std::uint64_t>(static_cast<double>(medium_bytes) * weights[static_cast<std::size_t>(i)] / weight_sum);
        if (i == medium - 1) size = medium_bytes - medium_used;  // the total comes out exact
        plan[static_cast<std::size_t>(big + i)].size = size;
        medium_used += size;
    }

    // Kinds: the big files take turns; the others 40 % text, 35 % records, 25 % random.
    int numbers[3] = {0, 0, 0};
    for (int i = 0; i < count; ++i) {
        file_plan& file = plan[static_cast<std::size_t>(i)];
        if (i < big) {
            file.content = static_cast<kind>((i + 2) % 3);
        } else {
            const double u = rng.unit();
            file.content = u < 0.40 ? kind::text : u < 0.75 ? kind::records : kind::random;
        }
        static const char* const text_dirs[] = {"DOCS/", "DOCS/NOTES/"};
        static const char* const record_dirs[] = {"DATA/", "DATA/TABLES/"};
        static const char* const text_exts[] = {".TXT", ".INI", ".LOG"};
        static const char* const record_exts[] = {".DAT", ".IDX", ".TBL"};
        static const char* const random_exts[] = {".PAK", ".BIN"};
        const std::uint64_t pick = rng.next();
        std::string dir, prefix, ext;
        switch (file.content) {
        case kind::text: dir = text_dirs[pick % 2]; prefix = "T"; ext = text_exts[(pick >> 8) % 3]; break;
        case kind::records: dir = record_dirs[pick % 2]; prefix = "R"; ext = record_exts[(pick >> 8) % 3]; break;
        case kind::random: dir = "MEDIA/"; prefix = "M"; ext = random_exts[(pick >> 8) % 2]; break;
        }
        if (i >= big + medium && (pick >> 16) % 20 == 0) dir.clear();
        char number[16];
        std::snprintf(number, sizeof number, "%05d", numbers[static_cast<int>(file.content)]++);
        file.path = dir + prefix + number + ext;
    }
    return plan;
}

// The vocabulary: words of two to four syllables, the lower indices the more frequent.
std::vector<std::string> make_vocabulary(random_source& rng)
{
    static const char* const syllables[] = {"ka", "lo", "mer", "sin", "ta", "ve", "qel", "mo", "ra", "dun",
                                            "pi", "zo", "ath", "el", "nor", "bi", "cu", "fen", "gra", "hol",
                                            "ix", "jas", "ul", "wen", "yor", "es", "tri", "ond", "sal", "mi"};
    std::vector<std::string> words(3000);
    for (std::string& word : words) {
        const std::uint64_t parts = rng.between(1, 4);
        for (std::uint64_t p = 0; p < parts; ++p) word += syllables[rng.next() % (sizeof syllables / sizeof *syllables)];
    }
    return words;
}

// Each writer produces at least `size` bytes; the caller keeps the first `size`.
void write_text(std::string& out, std::uint64_t size, const std::vector<std::string>& words, random_source& rng)
{
    while (out.size() < size) {
        const std::uint64_t count = rng.between(6, 14);
        std::string line;
        for (std::uint64_t w = 0; w < count; ++w) {
            const double u = rng.unit();
            const std::size_t index = static_cast<std::size_t>(static_cast<double>(words.size()) * u * u * u);
            std::string word = words[index];
            if (w == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
            if (w) line += ' ';
            line += word;
        }
        line += rng.next() % 5 == 0 ? ",\r\n" : ".\r\n";
        if (rng.next() % 9 == 0) line += "\r\n";
        out += line;
    }
}

void write_records(std::string& out, std::uint64_t size, random_source& rng)
{
    static const char names[8][16] = {"ARDEN", "BELMOR", "CASTEL", "DORWYN", "ELSMERE", "FARHOLT", "GLENNAR", "HASKET"};
    std::uint32_t id = static_cast<std::uint32_t>(rng.next() % 100000);
    std::uint32_t time = 0x3A000000u + static_cast<std::uint32_t>(rng.next() % 0x1000000);
    std::int32_t value = 1000;
    while (out.size() < size) {
        if (rng.next() % 200 == 0) {  // a run of one pattern, as a table's empty slots
            unsigned char pattern[16];
            for (unsigned char& b : pattern) b = static_cast<unsigned char>(rng.next());
            for (int i = 0; i < 256; ++i) out.append(reinterpret_cast<const char*>(pattern), sizeof pattern);
            continue;
        }
        unsigned char record[48] = {};
        ++id;
        time += 60 + static_cast<std::uint32_t>(rng.next() % 8);
        value += static_cast<std::int32_t>(rng.next() % 21) - 10;
        const std::uint16_t type = static_cast<std::uint16_t>(rng.next() % 6);
        const std::uint16_t flags = static_cast<std::uint16_t>(type == 0 ? 0x8001 : 0x0001);
        std::memcpy(record + 0, &id, 4);
        std::memcpy(record + 4, &time, 4);
        std::memcpy(record + 8, &type, 2);
        std::memcpy(record + 10, &flags, 2);
        std::memcpy(record + 12, names[rng.next() % 8], 16);
        std::memcpy(record + 28, &value, 4);
        const std::uint32_t checksum = id * 2654435761u ^ time;
        std::memcpy(record + 32, &checksum, 4);
        out.append(reinterpret_cast<const char*>(record), sizeof record);
    }
}

void write_random(std::string& out, std::uint64_t size, random_source& rng)
{
    while (out.size() < size) {
        const std::uint64_t word = rng.next();
        out.append(reinterpret_cast<const char*>(&word), 8);
    }
}

bool make_directories(const std::string& root, const std::string& relative)
{
    std::size_t from = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', from);
        if (slash == std::string::npos) return true;
        const std::string dir = root + "/" + relative.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
        from = slash + 1;
    }
}

// Noon on 1 January 2026, local time, for every file.
bool set_fixed_time(const std::string& path)
{
    std::tm noon{};
    noon.tm_year = 126;
    noon.tm_mday = 1;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const std::time_t when = std::mktime(&noon);
    const timespec times[2] = {{when, 0}, {when, 0}};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    const char* root = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else if (!root && argv[i][0] != '-') root = argv[i];
        else root = nullptr, i = argc;
    }
    if (!root) {
        std::fprintf(stderr, "usage: make_payload [--quick] DIR\n");
        return 2;
    }
    if (mkdir(root, 0755) != 0) {
        std::fprintf(stderr, "make_payload: cannot make %s: %s\n", root, std::strerror(errno));
        return 1;
    }
    const int count = quick ? 100 : 500;
    const std::uint64_t total = quick ? 10'000'000 : 100'000'000;
    random_source rng(payload_seed);
    const std::vector<file_plan> plan = plan_files(count, total, rng);
    const std::vector<std::string> words = make_vocabulary(rng);

    std::uint64_t bytes[3] = {0, 0, 0};
    int files[3] = {0, 0, 0};
    std::string content;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const file_plan& file = plan[i];
        random_source file_rng(payload_seed ^ (0x100000001B3ull * (i + 1)));
        content.clear();
        switch (file.content) {
        case kind::text: write_text(content, file.size, words, file_rng); break;
        case kind::records: write_records(content, file.size, file_rng); break;
        case kind::random: write_random(content, file.size, file_rng); break;
        }
        content.resize(static_cast<std::size_t>(file.size));
        const std::string path = std::string(root) + "/" + file.path;
        FILE* out = make_directories(root, file.path) ? std::fopen(path.c_str(), "wb") : nullptr;
        bool ok = out != nullptr;
        if (out) {
            ok = std::fwrite(content.data(), 1, content.size(), out) == content.size();
            ok = std::fclose(out) == 0 && ok;
        }
        if (!ok || !set_fixed_time(path)) {
            std::fprintf(stderr, "make_payload: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("%s %llu %s\n", kind_name(file.content), static_cast<unsigned long long>(file.size), file.path.c_str());
        bytes[static_cast<int>(file.content)] += file.size;
        ++files[static_cast<int>(file.content)];
    }
    std::fprintf(stderr, "make_payload: %d files, %llu bytes (text %d/%llu, records %d/%llu, random %d/%llu)\n",
                 count, static_cast<unsigned long long>(total), files[0], static_cast<unsigned long long>(bytes[0]),
                 files[1], static_cast<unsigned long long>(bytes[1]), files[2], static_cast<unsigned long long>(bytes[2]));
    return 0;
}
