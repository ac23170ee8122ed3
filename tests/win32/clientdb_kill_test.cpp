// Writers killed inside the merge's batches, through SETUP.EXE's own file calls: a child process
// (this program, started with --writer) replaces every record of a database with a body of
// another size and adds one record, in batches of 16 (db_write_records), until the parent ends it
// with TerminateProcess at a moment drawn over a whole run. After each kill the database must open
// without resynchronising and hold one current copy per record, each reading back whole as its old
// or its new body (a new record whole or absent). The next writer goes on from what the kill left.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "clientdb/client_db.h"
#include "support/memory.h"

namespace {

constexpr std::uint32_t record_count = 64;
constexpr std::uint32_t batch = 16;
constexpr std::uint32_t first_new_gid = 100000;
constexpr int kills = 60;
constexpr unsigned seed = 20261210;
constexpr const char* ready_event = "QelKillTestWriterReady";

// Version v of a record; consecutive versions differ in size. The text names its version.
std::string body_of(std::uint32_t gid, std::uint32_t version)
{
    const std::size_t size = 20 + (gid * 7 + version * 13) % 200;
    std::string text;
    while (text.size() < size) text += "gid " + std::to_string(gid) + " version " + std::to_string(version) + "; ";
    text.resize(size);
    return text;
}

std::string read_body(client_db* db, std::uint32_t gid)
{
    std::uint16_t size = 0;
    void* body = db_read_record(db, gid, nullptr, &size);
    if (!body) return {};
    std::string text(static_cast<const char*>(body), size);
    free_block(body);
    return text;
}

std::uint32_t version_in(const std::string& body)
{
    const std::size_t at = body.find(" version ");
    return at == std::string::npos ? 0 : static_cast<std::uint32_t>(std::strtoul(body.c_str() + at + 9, nullptr, 10));
}

// The child: the next version of every record and one new record, in batches.
int write_next_versions(const char* path, std::uint32_t new_gid)
{
    client_db* db = nullptr;
    if (db_open(path, &db) != 0) return 3;
    std::vector<std::string> bodies;
    std::vector<std::uint32_t> gids;
    for (std::uint32_t gid = 1; gid <= record_count; ++gid) {
        gids.push_back(gid);
        bodies.push_back(body_of(gid, version_in(read_body(db, gid)) + 1));
    }
    gids.push_back(new_gid);
    bodies.push_back(body_of(new_gid, 0));
    if (const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready_event)) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    for (std::size_t first = 0; first < gids.size(); first += batch) {
        std::vector<db_batch_record> records;
        for (std::size_t i = first; i < gids.size() && i < first + batch; ++i)
            records.push_back({gids[i], bodies[i].data(), static_cast<std::uint16_t>(bodies[i].size()), 'b', 0});
        if (!db_write_records(db, records.data(), static_cast<std::uint32_t>(records.size()))) return 4;
    }
    db_close(db);
    return 0;
}

// Started as "PROGRAM --writer PATH NEW-GID", the program is the writer and ends before the tests.
const bool writer_done = [] {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count != 4 || wcscmp(arguments[1], L"--writer") != 0) return false;
    char path[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, arguments[2], -1, path, sizeof path, nullptr, nullptr);
    ExitProcess(static_cast<UINT>(write_next_versions(path, static_cast<std::uint32_t>(wcstoul(arguments[3], nullptr, 10)))));
}();

// One writer, ended `kill_after_ms` after it opened the database (negative: left to finish); the
// time from its open to its end.
DWORD run_writer(const std::string& path, std::uint32_t new_gid, int kill_after_ms)
{
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string command = "\"" + std::string(program) + "\" --writer \"" + path + "\" " + std::to_string(new_gid);
    const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, ready_event);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    const HANDLE both[] = {ready, process.hProcess};
    WaitForMultipleObjects(2, both, FALSE, 30000);
    const DWORD opened = GetTickCount();
    if (kill_after_ms >= 0) {
        Sleep(static_cast<DWORD>(kill_after_ms));
        TerminateProcess(process.hProcess, 137);
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    EXPECT_TRUE(status == 0 || status == 137) << "the writer failed with " << status;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(ready);
    return GetTickCount() - opened;
}

struct scan_counts {
    int resyncs = 0;
    std::map<std::uint32_t, int> live_copies;
    bool dead_tail = false;  // the last header in the file is a deleted one
};

TEST(ClientDbKill, EveryWriterKilledInsideABatchLeavesEachRecordOldOrNew)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "QELKILL.IDX";
    DeleteFileA(path.c_str());
    {
        unsigned char header[long_file_header_size];
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(header, 1, encode_file_header(true, main_database_id, header), file);
        std::fclose(file);
    }
    client_db* db = nullptr;
    ASSERT_EQ(db_open(path.c_str(), &db), 0);
    for (std::uint32_t gid = 1; gid <= record_count; ++gid) {
        const std::string body = body_of(gid, 0);
        ASSERT_EQ(db_write_record(db, gid, body.data(), static_cast<std::uint16_t>(body.size()), 'b'), 1);
    }
    db_close(db);

    // The shortest of three whole runs is the span the kills fall in.
    std::vector<std::uint32_t> versions(record_count + 1, 0);
    std::vector<std::uint32_t> added;
    DWORD span = 60000;
    for (std::uint32_t run = 0; run < 3; ++run) {
        span = std::min(span, run_writer(path, first_new_gid + run, -1));
        for (auto& version : versions) ++version;
        added.push_back(first_new_gid + run);
    }

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, static_cast<int>(span));
    int mid_run = 0, dead_tail = 0, two_live = 0, extra_before = 0;
    for (int kill_number = 0; kill_number < kills; ++kill_number) {
        const std::uint32_t new_gid = first_new_gid + 3 + kill_number;
        run_writer(path, new_gid, delay(random));

        scan_counts counts;
        db_scan_observer observer{};
        observer.context = &counts;
        observer.resync = [](void* context, std::uint32_t, int, std::uint32_t) { ++static_cast<scan_counts*>(context)->resyncs; };
        observer.header = [](void* context, const record_header& header, std::uint32_t, int) {
            auto& counts = *static_cast<scan_counts*>(context);
            if (!(header.flags & flag_deleted)) ++counts.live_copies[header.gid];
            counts.dead_tail = header.flags & flag_deleted;
        };
        ASSERT_EQ(db_open_observed(path.c_str(), &db, &observer, 0), 0) << "after kill " << kill_number;
        EXPECT_EQ(counts.resyncs, 0);
        dead_tail += counts.dead_tail;
        int updated = 0, extra = 0;
        for (std::uint32_t gid = 1; gid <= record_count; ++gid) {
            const std::string body = read_body(db, gid);
            if (body == body_of(gid, versions[gid] + 1)) {
                ++versions[gid];
                ++updated;
            } else {
                ASSERT_EQ(body, body_of(gid, versions[gid])) << "gid " << gid << " after kill " << kill_number;
            }
            extra += counts.live_copies[gid] - 1;
        }
        two_live += extra > extra_before;
        extra_before = extra;
        mid_run += updated > 0 && updated < static_cast<int>(record_count);
        const std::string new_body = read_body(db, new_gid);
        if (!new_body.empty()) {
            ASSERT_EQ(new_body, body_of(new_gid, 0));
            added.push_back(new_gid);
        } else {
            EXPECT_EQ(db_record_header(db, new_gid), nullptr) << "a new record is whole or absent";
        }
        for (std::uint32_t gid : added) ASSERT_EQ(read_body(db, gid), body_of(gid, 0));
        EXPECT_EQ(db_record_count(db), record_count + added.size()) << "one current copy per record";
        db_close(db);
    }
    std::printf("seed %u, a whole run %lu ms: %d kills, %d between batches, %d before a batch's copies were live, "
                "%d before its old copies were marked\n",
                seed, static_cast<unsigned long>(span), kills, mid_run, dead_tail, two_live);
    EXPECT_GT(mid_run + dead_tail + two_live, kills / 4) << "the kills should land inside the runs";
    DeleteFileA(path.c_str());
}

}  // namespace
