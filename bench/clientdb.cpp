// Benchmark of the client database: for databases of 20,000 and 200,000 records, the time to open
// one, to read every record, and to rewrite every tenth record with a body of another size (each
// such rewrite appends a copy and marks the old one deleted, with two flushes to the disk). Prints
// the times, records per second and the ratio t(200k)/t(20k), which should stay at most 12
// (growth in proportion to the number of records gives 10). The figures are means over rounds;
// each round runs the small database ten times and the large one once, in turns, so that both
// sizes are timed over about the same stretch of time and a change in the machine's load weighs
// on both alike.
//
//   clientdb [--no-flush] [--rounds N] [DIR]
//
// DIR (default: the current directory) receives the database files, removed after each run.
// --no-flush leaves out the flushes, to show the record access's own cost; --rounds (default 3).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clientdb/client_db.h"

namespace {

using seconds = std::chrono::duration<double>;

constexpr std::uint32_t first_gid = 0x10000000;

std::uint16_t size_of(std::uint32_t index, std::uint32_t version) { return static_cast<std::uint16_t>(16 + (index * 37 + version * 11) % 113); }

// A long-form database of `count` records, written in one go; every eighth body scrambled.
bool make_database(const std::string& path, std::uint32_t count)
{
    std::vector<unsigned char> file(long_file_header_size);
    encode_file_header(true, main_database_id, file.data());
    unsigned char header[long_record_header_size];
    for (std::uint32_t i = 0; i < count; ++i) {
        record_header record{record_magic, first_gid + i, size_of(i, 0), kind_binary,
                             static_cast<std::uint8_t>(flag_kind_mark | (i % 8 == 0 ? flag_scrambled : 0)), 0, 0,
                             static_cast<std::uint32_t>(file.size())};
        encode_record_header(record, true, header);
        file.insert(file.end(), header, header + long_record_header_size);
        for (std::uint32_t b = 0; b < record.size; ++b) file.push_back(static_cast<unsigned char>(i + b));
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) return false;
    // On the disk before the clock starts, so that writing it back does not weigh on the run.
    const db_file handle = db_platform_host.open(path.c_str(), 1);
    const bool flushed = handle != no_db_file && db_platform_host.flush(handle);
    db_platform_host.close(handle);
    return flushed;
}

struct timing {
    double open, read, rewrite, close;
    double total() const { return open + read + rewrite + close; }
    void add(const timing& other, double share)
    {
        open += other.open * share;
        read += other.read * share;
        rewrite += other.rewrite * share;
        close += other.close * share;
    }
};

struct read_tally {
    std::uint32_t records;
    std::uint64_t bytes;
};

unsigned char body_buffer[65536];

// The flushes the database asks for, counted (and made or left out) by the host.
unsigned long flush_count;
double flushes_per_rewrite;  // in the last run
bool flushing = true;
int counted_flush(db_file file)
{
    ++flush_count;
    return flushing ? db_platform_host.flush(file) : 1;
}

bool run(const std::string& path, std::uint32_t count, timing& times)
{
    if (!make_database(path, count)) {
        std::fprintf(stderr, "%s: cannot be written\n", path.c_str());
        return false;
    }
    auto now = [] { return std::chrono::steady_clock::now(); };
    auto t0 = now();
    client_db* db = nullptr;
    if (db_open(path.c_str(), &db) != 0) {
        std::fprintf(stderr, "%s: cannot be opened\n", path.c_str());
        return false;
    }
    auto t1 = now();
    read_tally tally{0, 0};
    db_for_each(db, [](client_db* db, std::uint32_t gid, std::uint16_t, void* context) {
        std::uint16_t size = 0;
        auto& tally = *static_cast<read_tally*>(context);
        if (db_read_record(db, gid, body_buffer, &size)) {
            ++tally.records;
            tally.bytes += size;
        }
        return 1;
    }, &tally);
    auto t2 = now();
    std::uint32_t rewritten = 0;
    const unsigned long flushes_before = flush_count;
    for (std::uint32_t i = 0; i < count; i += 10) {
        const std::uint16_t size = size_of(i, 1);
        std::memset(body_buffer, static_cast<int>(i), size);
        rewritten += db_write_record(db, first_gid + i, body_buffer, size, kind_binary);
    }
    auto t3 = now();
    flushes_per_rewrite = static_cast<double>(flush_count - flushes_before) / ((count + 9) / 10);
    db_close(db);
    auto t4 = now();
    times = {seconds(t1 - t0).count(), seconds(t2 - t1).count(), seconds(t3 - t2).count(), seconds(t4 - t3).count()};

    // Not timed: the file reads back as written.
    bool good = tally.records == count && rewritten == (count + 9) / 10;
    if (good && db_open(path.c_str(), &db) == 0) {
        std::uint16_t size = 0;
        good = db_record_count(db) == count && db_read_record(db, first_gid + 10, body_buffer, &size) &&
            size == size_of(10, 1) && body_buffer[0] == 10;
        db_close(db);
    } else {
        good = false;
    }
    std::remove(path.c_str());
    if (!good) std::fprintf(stderr, "%s: did not read back as written\n", path.c_str());
    return good;
}

// The open by scan as the merge meets MAIN.IDX: a file of `count` records, made when missing (and
// then kept, so that a second program scans the same file), opened and closed `rounds` times;
// prints the best time.
int scan_only(const std::string& path, std::uint32_t count, int rounds)
{
    if (FILE* existing = std::fopen(path.c_str(), "rb")) {
        std::fclose(existing);
    } else if (!make_database(path, count)) {
        std::fprintf(stderr, "%s: cannot be written\n", path.c_str());
        return 1;
    }
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const auto started = std::chrono::steady_clock::now();
        client_db* db = nullptr;
        if (db_open(path.c_str(), &db) != 0 || db_record_count(db) != count) {
            std::fprintf(stderr, "%s: does not open with %u records\n", path.c_str(), count);
            return 1;
        }
        const double took = seconds(std::chrono::steady_clock::now() - started).count();
        db_close(db);
        if (took < best) best = took;
    }
    std::printf("scan %u %.6f\n", count, best);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // clientdb --scan PATH COUNT [ROUNDS]
    if (argc >= 4 && std::strcmp(argv[1], "--scan") == 0)
        return scan_only(argv[2], static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)),
                         argc > 4 ? std::atoi(argv[4]) : 5);

    std::string directory = ".";
    bool flush = true;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-flush") == 0) flush = false;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else directory = argv[i];
    }
    if (rounds < 1) rounds = 1;
    db_host host = db_platform_host;
    flushing = flush;
    host.flush = counted_flush;
    db_use_host(&host);

    const std::uint32_t sizes[] = {20000, 200000};
    const int runs_per_round[] = {10, 1};
    timing times[2]{};
    std::printf("client database, %s flushes, means over %d rounds\n", flush ? "with" : "without", rounds);
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const int i = (turn + round) % 2;
            const std::string path = directory + db_path_separator + "bench_" + std::to_string(sizes[i]) + ".idx";
            for (int run_number = 0; run_number < runs_per_round[i]; ++run_number) {
                timing attempt{};
                if (!run(path, sizes[i], attempt)) return 1;
                times[i].add(attempt, 1.0 / (runs_per_round[i] * rounds));
            }
        }
    }
    std::printf("%8s %9s %9s %10s %9s %9s %12s\n", "records", "open s", "read s", "rewrite s", "close s", "total s",
                "records/s");
    for (int i = 0; i < 2; ++i)
        std::printf("%8u %9.3f %9.3f %10.3f %9.3f %9.3f %12.0f\n", sizes[i], times[i].open, times[i].read,
                    times[i].rewrite, times[i].close, times[i].total(), sizes[i] / times[i].total());
    std::printf("flushes per rewrite: %.2f (each its own transaction)\n", flushes_per_rewrite);
    const double ratio = times[1].total() / times[0].total();
    std::printf("t(200k)/t(20k) = %.2f (at most 12)\n", ratio);
    return ratio <= 12 ? 0 : 1;
}
