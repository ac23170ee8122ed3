// The merge writes a MAIN.IDX byte for byte as the reference under tests/native/data says: the
// records of a delivered database, several batches of them, go in as new records, as same-size
// rewrites in place and as copies of other sizes appended, behind a record the file cut off, and
// the stamps follow. The reference was written by the merge before its batches shared their
// flushes; QEL_WRITE_REFERENCE=1 writes it anew instead of comparing (natively). The Win32 suites
// run the same test through SETUP.EXE's own file calls.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "clientdb/client_db.h"
#include "clientdb/record_merge.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<unsigned char>;

constexpr std::uint32_t first_gid = 0x10000000;
constexpr std::uint32_t main_records = 1500;
constexpr std::uint32_t delivered_records = 1600;

std::uint16_t size_of(std::uint32_t index, std::uint32_t version)
{
    return static_cast<std::uint16_t>(16 + (index * 37 + version * 11) % 160);
}

void add_record(bytes& file, std::uint32_t gid, std::uint16_t size, std::uint8_t flags, unsigned char fill)
{
    unsigned char header[long_record_header_size];
    const record_header record{record_magic, gid, size, kind_binary, flags, 0, 0,
                               static_cast<std::uint32_t>(file.size())};
    encode_record_header(record, true, header);
    file.insert(file.end(), header, header + long_record_header_size);
    for (std::uint16_t i = 0; i < size; ++i) file.push_back(static_cast<unsigned char>(fill + i * 7));
}

bytes file_start()
{
    bytes file(long_file_header_size);
    encode_file_header(true, main_database_id, file.data());
    return file;
}

// MAIN.IDX: the version record, records of mixed sizes (every ninth scrambled, every
// thirteenth deleted), and a last record whose body the end of the file cuts off.
bytes main_database()
{
    bytes file = file_start();
    add_record(file, version_record_gid, 3, flag_kind_mark, 1);
    for (std::uint32_t i = 0; i < main_records; ++i) {
        std::uint8_t flags = flag_kind_mark;
        if (i % 9 == 0) flags |= flag_scrambled;
        if (i % 13 == 0) flags |= flag_deleted;
        add_record(file, first_gid + i, size_of(i, 0), flags, static_cast<unsigned char>(i));
    }
    add_record(file, first_gid + main_records, 90, flag_kind_mark, 'c');
    file.resize(file.size() - 40);
    return file;
}

// MERGE.DB: of every ten records one replaces a main record with another size, four replace
// one with the same size, five are new (among them 'p' records of 0x01xxxxxx); one is empty.
// The replacements come round again after 500 records, so some gids come twice.
bytes delivered_database()
{
    bytes file = file_start();
    for (std::uint32_t i = 0; i < delivered_records; ++i) {
        const std::uint32_t kind = i % 10, existing = (i * 3) % main_records;
        if (kind == 0)
            add_record(file, first_gid + existing, static_cast<std::uint16_t>(size_of(existing, 0) + 5), 0, 'd');
        else if (kind <= 4)
            add_record(file, first_gid + existing, size_of(existing, 0), 0, 'e');
        else if (kind == 5)
            add_record(file, 0x01000000 + i, size_of(i, 1), 0, 'p');
        else
            add_record(file, first_gid + main_records + 1 + i, i == 7 ? 0 : size_of(i, 2), 0, 'n');
    }
    return file;
}

void write_file(const fs::path& path, const bytes& content)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

bytes read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const db_host* quiet_host()
{
    static db_host host = [] {
        db_host h = db_platform_host;
        h.log = [](const char*) {};
        return h;
    }();
    return &host;
}

TEST(MergeBytes, MainDatabaseIsTheReferenceByteForByte)
{
    const fs::path dir = fs::temp_directory_path() / ("qel-merge-bytes-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path main_path = dir / "MAIN.IDX", merge_path = dir / "MERGE.DB";
    const bytes main_before = main_database(), delivered = delivered_database();
    ASSERT_GT(delivered.size(), 3u * 64000) << "the records fill several batches";
    write_file(main_path, main_before);
    write_file(merge_path, delivered);

    const db_host* previous = db_use_host(quiet_host());
    client_db* main = nullptr;
    client_db* source = nullptr;
    ASSERT_EQ(db_open(main_path.string().c_str(), &main), 0);
    ASSERT_EQ(db_open(merge_path.string().c_str(), &source), 0);
    mark_installed(main);
    std::uint32_t advanced = 0;
    const merge_progress progress{&advanced, [](void* count, std::uint32_t) { ++*static_cast<std::uint32_t*>(count); },
                                  [](void*) {}, [](void*) { return 0; }};
    record_copy copy{main, &progress, 0, false, nullptr, 0};
    copy_records(copy, source);
    // Replacements repeat every 500 records: the later copy of a gid is the one delivered.
    EXPECT_EQ(copy.position, db_record_count(source));
    EXPECT_EQ(advanced, db_record_count(source));
    EXPECT_LT(db_record_count(source), delivered_records);
    EXPECT_EQ(stamp_main_database(main, 0x0B0C, "3.1.2", "SAMPLE-3.1.2"), 0);
    db_close(source);
    db_close(main);
    db_use_host(previous);

    const bytes merged = read_file(main_path);
    const fs::path reference = QEL_MERGE_REFERENCE;
    if (std::getenv("QEL_WRITE_REFERENCE")) {
        write_file(reference, merged);
        GTEST_SKIP() << "wrote " << reference;
    }
    const bytes expected = read_file(reference);
    ASSERT_EQ(merged.size(), expected.size()) << "against " << reference;
    for (std::size_t i = 0; i < merged.size(); ++i)
        ASSERT_EQ(merged[i], expected[i]) << "the first difference is at offset " << i;
    fs::remove_all(dir);
}

}  // namespace
