// Writers killed at random points: a child process replaces every record of a database with a
// body of another size and adds one record, until the parent kills it with SIGKILL. After each
// kill the database must open without resynchronising and hold one current copy per record, each
// reading back whole as its old or its new body (a new record whole or absent). The next writer
// goes on from whatever the kill left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "clientdb/client_db.h"
#include "db_kill_check.h"

namespace {

namespace fs = std::filesystem;
using namespace db_kill_check;
using microseconds = std::chrono::microseconds;

constexpr int kills = 200;
constexpr unsigned seed = 20240611;

int write(client_db* db, std::uint32_t gid, const std::string& body)
{
    return db_write_record(db, gid, body.data(), static_cast<std::uint16_t>(body.size()), 'b');
}

// The records of a run in batches of `batch` (the merge's way), the new one in the last.
bool write_in_batches(client_db* db, const std::vector<std::uint32_t>& versions, std::uint32_t new_gid,
                      std::uint32_t batch)
{
    std::vector<std::string> bodies;
    std::vector<std::uint32_t> gids;
    for (std::uint32_t gid = 1; gid <= record_count; ++gid) {
        gids.push_back(gid);
        bodies.push_back(body_of(gid, versions[gid] + 1));
    }
    gids.push_back(new_gid);
    bodies.push_back(body_of(new_gid, 0));
    for (std::size_t first = 0; first < gids.size(); first += batch) {
        std::vector<db_batch_record> records;
        for (std::size_t i = first; i < gids.size() && i < first + batch; ++i)
            records.push_back({gids[i], bodies[i].data(), static_cast<std::uint16_t>(bodies[i].size()), 'b', 0});
        if (!db_write_records(db, records.data(), static_cast<std::uint32_t>(records.size()))) return false;
    }
    return true;
}

// One writer: a run of replacements, one record at a time or (batch > 0) in batches, then a
// normal end; returns the time it took.
microseconds run_writer(const std::string& path, const std::vector<std::uint32_t>& versions, std::uint32_t new_gid,
                        long kill_after_us, std::uint32_t batch)
{
    const auto started = std::chrono::steady_clock::now();
    const pid_t writer = fork();
    if (writer == 0) {
        client_db* db = nullptr;
        if (db_open(path.c_str(), &db) != 0) _exit(3);
        if (batch) {
            if (!write_in_batches(db, versions, new_gid, batch)) _exit(4);
        } else {
            for (std::uint32_t gid = 1; gid <= record_count; ++gid)
                if (!write(db, gid, body_of(gid, versions[gid] + 1))) _exit(4);
            if (!write(db, new_gid, body_of(new_gid, 0))) _exit(5);
        }
        db_close(db);
        _exit(0);
    }
    if (kill_after_us >= 0) {
        std::this_thread::sleep_for(microseconds(kill_after_us));
        kill(writer, SIGKILL);
    }
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "the writer failed";
    return std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - started);
}

// What the kills left, over the whole campaign.
struct campaign_counts {
    int mid_run = 0, dead_tail = 0, two_live = 0;
};

void kill_campaign(std::uint32_t batch, campaign_counts& result)
{
    const fs::path dir =
        fs::temp_directory_path() / ("clientdb_crash_" + std::to_string(getpid()) + "_" + std::to_string(batch));
    fs::create_directories(dir);
    const std::string path = (dir / "MAIN.IDX").string();
    unsigned char header[long_file_header_size];
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(header), encode_file_header(true, main_database_id, header));
    campaign run;
    client_db* db = nullptr;
    ASSERT_EQ(db_open(path.c_str(), &db), 0);
    for (std::uint32_t gid = 1; gid <= record_count; ++gid) ASSERT_EQ(write(db, gid, body_of(gid, 0)), 1);
    db_close(db);

    // The shortest of three whole runs (the disk's flushes vary) is the span the kills fall in.
    microseconds span = std::chrono::hours(1);
    for (std::uint32_t whole = 0; whole < 3; ++whole) {
        span = std::min(span, run_writer(path, run.versions, first_new_gid + whole, -1, batch));
        for (auto& version : run.versions) ++version;
        run.added.push_back(first_new_gid + whole);
    }

    std::mt19937 random(seed);
    std::uniform_int_distribution<long> delay(0, span.count());
    for (int kill_number = 0; kill_number < kills; ++kill_number) {
        const std::uint32_t new_gid = first_new_gid + 3 + kill_number;
        run_writer(path, run.versions, new_gid, delay(random), batch);
        check_after_kill(path, new_gid, kill_number, run);
        if (::testing::Test::HasFatalFailure()) return;
    }
    std::printf("%s, seed %u, a whole run %ld us: %d kills, %d in the middle of a run, %d with a new copy not "
                "yet live at the end, %d with a record in two live copies; %ld records checked\n",
                batch ? "batches" : "one record at a time", seed, static_cast<long>(span.count()), kills, run.mid_run,
                run.dead_tail, run.two_live, run.checked);
    fs::remove_all(dir);
    result = {run.mid_run, run.dead_tail, run.two_live};
}

TEST(ClientDbCrash, EveryKilledWriterLeavesEachRecordOldOrNew)
{
    campaign_counts counts;
    kill_campaign(0, counts);
    EXPECT_GT(counts.mid_run, kills / 4) << "the kills should mostly land inside runs";
}

// Batches of 16 records share their flushes: kills land between batches and inside them, between
// a batch's new copies written and made live, and between made live and the old ones marked.
TEST(ClientDbCrash, EveryWriterKilledInsideABatchLeavesEachRecordOldOrNew)
{
    campaign_counts counts;
    kill_campaign(16, counts);
    EXPECT_GT(counts.mid_run, kills / 8) << "the kills should land between batches";
    // How the kills inside a batch divide between its steps depends on the disk's flushes.
    EXPECT_GT(counts.dead_tail + counts.two_live, kills / 20) << "the kills should land inside batches";
    EXPECT_GT(counts.dead_tail, 0) << "a kill should land before a batch's copies are live";
    EXPECT_GT(counts.two_live, 0) << "a kill should land before a batch's old copies are marked";
}

}  // namespace
