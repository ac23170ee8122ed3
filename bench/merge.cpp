// Benchmark of the merge stage under Wine: a MERGE.DB of 5,000 and of 50,000 records merged into a
// MAIN.IDX of 100,000 by merge_databases itself (dialog, batches, log lines and all). The records
// have mixed sizes; of the delivered ones 10 % replace records of other sizes (appended copies),
// 40 % replace records of the same size (in place) and half are new. Prints records per second,
// the time against a plain copy of the same bytes (CopyFile of MERGE.DB, then a flush) made in
// the same run, and t(50,000)/t(5,000), which should stay at most 11 (linear growth gives 10),
// with the batches the records went in and the database's flushes.
//
//   merge [--no-flush] [--rounds N] [DIR]
//
// DIR (default: the current directory) receives the client folder, removed after each run.
// --no-flush leaves out the database's flushes to the disk, to show what they cost.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/install_stage.h"
#include "clientdb/client_db.h"
#include "support/log.h"
#include "support/run_state.h"
#include "ui/frame.h"
#include "ui/gauge.h"

namespace {

using seconds = std::chrono::duration<double>;
constexpr std::uint32_t main_records = 100000;
constexpr std::uint32_t first_gid = 0x10000000;

std::uint16_t size_of(std::uint32_t index, std::uint32_t version)
{
    return static_cast<std::uint16_t>(16 + (index * 37 + version * 11) % 300);
}

// The delivered record number i: its gid and its size. Of every ten, one replaces a main
// record with another size, four replace one with the same size, five are new.
void delivered(std::uint32_t i, std::uint32_t& gid, std::uint16_t& size)
{
    const std::uint32_t kind = i % 10;
    const std::uint32_t existing = (i * 2) % main_records;
    if (kind == 0) {
        gid = first_gid + existing;
        size = static_cast<std::uint16_t>(size_of(existing, 0) + 7);
    } else if (kind <= 4) {
        gid = first_gid + existing;
        size = size_of(existing, 0);
    } else {
        gid = first_gid + main_records + i;
        size = size_of(i, 1);
    }
}

bool write_file(const std::string& path, const std::vector<unsigned char>& bytes)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

void add_record(std::vector<unsigned char>& file, std::uint32_t gid, std::uint16_t size, unsigned char fill)
{
    unsigned char header[long_record_header_size];
    const record_header record{record_magic, gid, size, kind_binary, flag_kind_mark, 0, 0,
                               static_cast<std::uint32_t>(file.size())};
    encode_record_header(record, true, header);
    file.insert(file.end(), header, header + long_record_header_size);
    file.insert(file.end(), size, fill);
}

std::vector<unsigned char> file_start()
{
    std::vector<unsigned char> file(long_file_header_size);
    encode_file_header(true, main_database_id, file.data());
    return file;
}

void flush_file(const std::string& path)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
}

struct timing {
    double merge = 0, copy = 0;
    unsigned long flushes = 0, batches = 0;
};

// The database's flushes during a merge, counted (and made or left out) by the host.
unsigned long flush_count;
bool flushing = true;
int counted_flush(db_file file)
{
    ++flush_count;
    return flushing ? db_platform_host.flush(file) : 1;
}

// The batches the merge makes of the delivered records: visited last first, each closed once it
// holds more than 64,000 bytes.
unsigned long batches_of(std::uint32_t count)
{
    unsigned long batches = 0;
    std::uint32_t pending = 0;
    for (std::uint32_t i = count; i-- > 0;) {
        std::uint32_t gid = 0;
        std::uint16_t size = 0;
        delivered(i, gid, size);
        pending += size;
        if (pending > 64000) {
            ++batches;
            pending = 0;
        }
    }
    return batches + (pending > 0);
}

bool run(const std::string& directory, std::uint32_t count, timing& time)
{
    const std::string client = directory + "\\bench_client", idb = client + "\\IDB";
    CreateDirectoryA(client.c_str(), nullptr);
    CreateDirectoryA(idb.c_str(), nullptr);
    std::vector<unsigned char> main = file_start(), merge = file_start();
    add_record(main, 0x14000006, 3, 1);
    for (std::uint32_t i = 0; i < main_records; ++i) add_record(main, first_gid + i, size_of(i, 0), 'm');
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t gid = 0;
        std::uint16_t size = 0;
        delivered(i, gid, size);
        add_record(merge, gid, size, 'd');
    }
    const std::string main_path = idb + "\\MAIN.IDX", merge_path = idb + "\\MERGE.DB", copy_path = idb + "\\COPY.DB";
    if (!write_file(main_path, main) || !write_file(merge_path, merge)) return false;
    flush_file(main_path);
    flush_file(merge_path);

    auto start = std::chrono::steady_clock::now();
    if (!CopyFileA(merge_path.c_str(), copy_path.c_str(), FALSE)) return false;
    flush_file(copy_path);
    time.copy += seconds(std::chrono::steady_clock::now() - start).count();
    DeleteFileA(copy_path.c_str());

    run_state fresh = initial_run_state();
    fresh.app_instance = setup.app_instance;
    fresh.frame_window = setup.frame_window;
    setup = fresh;
    std::strcpy(setup.target_dir, client.c_str());
    std::strcpy(setup.merge_db_dir, client.c_str());
    start = std::chrono::steady_clock::now();
    const unsigned long flushes_before = flush_count;
    const int merged = merge_databases();
    time.merge += seconds(std::chrono::steady_clock::now() - start).count();
    time.flushes += flush_count - flushes_before;
    time.batches += batches_of(count);
    DeleteFileA(main_path.c_str());
    DeleteFileA(merge_path.c_str());
    RemoveDirectoryA(idb.c_str());
    RemoveDirectoryA(client.c_str());
    if (!merged) std::fprintf(stderr, "the merge of %u records failed (error %u)\n", count, setup.fatal_error);
    return merged == 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string directory = ".";
    int rounds = 1;
    bool flush = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-flush") == 0) flush = false;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else directory = argv[i];
    }
    if (rounds < 1) rounds = 1;
    setup.app_instance = GetModuleHandleA(nullptr);
    // The merge's dialog over the frame, as in SETUP.EXE (an unowned one would be closed through
    // the window manager, which Xvfb lacks: Wine waits two seconds for it).
    if (!create_frame("Merge Benchmark")) return 3;
    db_host host = db_platform_host;
    flushing = flush;
    host.flush = counted_flush;
    db_use_host(&host);

    const std::uint32_t sizes[] = {5000, 50000};
    timing times[2];
    for (int round = 0; round < rounds; ++round)
        for (int i = 0; i < 2; ++i)
            if (!run(directory, sizes[i], times[i])) return 1;
    std::printf("merge into a MAIN.IDX of %u records, %s flushes, means over %d rounds\n", main_records,
                flush ? "with" : "without", rounds);
    std::printf("%8s %9s %9s %12s %11s %8s %9s\n", "records", "merge s", "copy s", "records/s", "merge/copy",
                "batches", "flushes");
    for (int i = 0; i < 2; ++i) {
        const double merge = times[i].merge / rounds, copy = times[i].copy / rounds;
        std::printf("%8u %9.3f %9.4f %12.0f %11.1f %8lu %9lu\n", sizes[i], merge, copy, sizes[i] / merge, merge / copy,
                    times[i].batches / rounds, times[i].flushes / rounds);
    }
    // Beside the batches' flushes: the installed mark and the three stamps, a flush or two each.
    std::printf("flushes per batch: %.2f (%s to the disk)\n",
                static_cast<double>(times[1].flushes) / static_cast<double>(times[1].batches),
                flush ? "made" : "counted, not made");
    const double ratio = times[1].merge / times[0].merge;
    std::printf("merge/copy of 50,000 at most 100; t(50,000)/t(5,000) = %.2f (at most 11)\n", ratio);
    return ratio <= 11 ? 0 : 1;
}
