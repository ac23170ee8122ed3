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
#include "support/memory.h"

namespace {

namespace fs = std::filesystem;
using microseconds = std::chrono::microseconds;

constexpr std::uint32_t record_count = 64;
constexpr std::uint32_t first_new_gid = 100000;
constexpr int kills = 200;
constexpr unsigned seed = 20240611;

// Version v of a record; consecutive versions differ in size.
std::string body_of(std::uint32_t gid, std::uint32_t version)
{
    std::string text;
    while (text.size() < 20 + (gid * 7 + version * 13) % 200)
        text += "gid " + std::to_string(gid) + " version " + std::to_string(version) + "; ";
    text.resize(20 + (gid * 7 + version * 13) % 200);
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

struct scan_counts {
    int resyncs = 0;
    std::map<std::uint32_t, int> live_copies;
    bool dead_tail = false;  // the last header in the file is a deleted one
};

// What the kills left, over the whole campaign.
struct campaign_counts {
    int mid_run = 0;    // some records of the run updated, others not
    int dead_tail = 0;  // a new copy at the end not yet live
    int two_live = 0;   // a record in two live copies (the new one live, the old one not yet marked)
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
    std::vector<std::uint32_t> versions(record_count + 1, 0);
    client_db* db = nullptr;
    ASSERT_EQ(db_open(path.c_str(), &db), 0);
    for (std::uint32_t gid = 1; gid <= record_count; ++gid) ASSERT_EQ(write(db, gid, body_of(gid, 0)), 1);
    db_close(db);

    // The shortest of three whole runs (the disk's flushes vary) is the span the kills fall in.
    microseconds span = std::chrono::hours(1);
    std::vector<std::uint32_t> added;
    for (std::uint32_t run = 0; run < 3; ++run) {
        span = std::min(span, run_writer(path, versions, first_new_gid + run, -1, batch));
        for (auto& version : versions) ++version;
        added.push_back(first_new_gid + run);
    }

    std::mt19937 random(seed);
    std::uniform_int_distribution<long> delay(0, span.count());
    int mid_run = 0, two_live = 0, dead_tail = 0, extra_before = 0;
    long checked = 0;
    for (int kill_number = 0; kill_number < kills; ++kill_number) {
        const std::uint32_t new_gid = first_new_gid + 3 + kill_number;
        run_writer(path, versions, new_gid, delay(random), batch);

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
        for (std::uint32_t gid = 1; gid <= record_count; ++gid, ++checked) {
            const std::string body = read_body(db, gid);
            if (body == body_of(gid, versions[gid] + 1)) {
                ++versions[gid];
                ++updated;
            } else {
                ASSERT_EQ(body, body_of(gid, versions[gid])) << "gid " << gid << " after kill " << kill_number;
            }
            // An older live copy may stay behind a kill; the last one in the file is the current one.
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
        checked += 1 + static_cast<long>(added.size());
        EXPECT_EQ(db_record_count(db), record_count + added.size()) << "one current copy per record";
        db_close(db);
    }
    std::printf("%s, seed %u, a whole run %ld us: %d kills, %d in the middle of a run, %d with a new copy not "
                "yet live at the end, %d with a record in two live copies; %ld records checked\n",
                batch ? "batches" : "one record at a time", seed, static_cast<long>(span.count()), kills, mid_run,
                dead_tail, two_live, checked);
    fs::remove_all(dir);
    result = {mid_run, dead_tail, two_live};
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
    EXPECT_GT(counts.dead_tail, kills / 20) << "the kills should land before a batch's copies are live";
    EXPECT_GT(counts.two_live, kills / 20) << "the kills should land before a batch's old copies are marked";
}

}  // namespace
