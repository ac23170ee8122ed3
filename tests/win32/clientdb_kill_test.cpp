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
#include <random>
#include <string>
#include <vector>

#include "clientdb/client_db.h"
#include "db_kill_check.h"

namespace {

using namespace db_kill_check;

constexpr std::uint32_t batch = 16;
constexpr int kills = 60;
constexpr unsigned seed = 20261210;
constexpr const char* ready_event = "QelKillTestWriterReady";

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
    campaign run;
    DWORD span = 60000;
    for (std::uint32_t whole = 0; whole < 3; ++whole) {
        span = std::min(span, run_writer(path, first_new_gid + whole, -1));
        for (auto& version : run.versions) ++version;
        run.added.push_back(first_new_gid + whole);
    }

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, static_cast<int>(span));
    for (int kill_number = 0; kill_number < kills; ++kill_number) {
        const std::uint32_t new_gid = first_new_gid + 3 + kill_number;
        run_writer(path, new_gid, delay(random));
        check_after_kill(path, new_gid, kill_number, run);
        if (HasFatalFailure()) return;
    }
    std::printf("seed %u, a whole run %lu ms: %d kills, %d between batches, %d before a batch's copies were live, "
                "%d before its old copies were marked; %ld records checked\n",
                seed, static_cast<unsigned long>(span), kills, run.mid_run, run.dead_tail, run.two_live, run.checked);
    EXPECT_GT(run.mid_run + run.dead_tail + run.two_live, kills / 4) << "the kills should land inside the runs";
    DeleteFileA(path.c_str());
}

}  // namespace
