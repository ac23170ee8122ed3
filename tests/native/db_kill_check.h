// What the kill campaigns of the client database share (natively with fork and SIGKILL, under
// Wine with TerminateProcess): the bodies the writers write, and the check of what a kill left.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "clientdb/client_db.h"
#include "support/memory.h"

namespace db_kill_check {

constexpr std::uint32_t record_count = 64;
constexpr std::uint32_t first_new_gid = 100000;

// Version v of a record; consecutive versions differ in size. The text names its version.
inline std::string body_of(std::uint32_t gid, std::uint32_t version)
{
    const std::size_t size = 20 + (gid * 7 + version * 13) % 200;
    std::string text;
    while (text.size() < size) text += "gid " + std::to_string(gid) + " version " + std::to_string(version) + "; ";
    text.resize(size);
    return text;
}

inline std::string read_body(client_db* db, std::uint32_t gid)
{
    std::uint16_t size = 0;
    void* body = db_read_record(db, gid, nullptr, &size);
    if (!body) return {};
    std::string text(static_cast<const char*>(body), size);
    free_block(body);
    return text;
}

// The campaign so far: the version each record has, the records added, and what the kills left.
struct campaign {
    std::vector<std::uint32_t> versions = std::vector<std::uint32_t>(record_count + 1, 0);
    std::vector<std::uint32_t> added;
    int mid_run = 0;    // some records of the run updated, others not
    int dead_tail = 0;  // the last header in the file a deleted one: a new copy not yet live
    int two_live = 0;   // more records in two live copies than before (the old one not yet marked)
    int extra_before = 0;
    long checked = 0;
};

struct scan_counts {
    int resyncs = 0;
    std::map<std::uint32_t, int> live_copies;
    bool dead_tail = false;
};

// After the writer of `new_gid` was killed: the file opens without resynchronising, each record
// reads back whole as its old or its new body, the new record is whole or absent, and there is
// one current copy per record.
inline void check_after_kill(const std::string& path, std::uint32_t new_gid, int kill_number, campaign& run)
{
    scan_counts counts;
    db_scan_observer observer{};
    observer.context = &counts;
    observer.resync = [](void* context, std::uint32_t, int, std::uint32_t) { ++static_cast<scan_counts*>(context)->resyncs; };
    observer.header = [](void* context, const record_header& header, std::uint32_t, int) {
        auto& counts = *static_cast<scan_counts*>(context);
        if (!(header.flags & flag_deleted)) ++counts.live_copies[header.gid];
        counts.dead_tail = header.flags & flag_deleted;
    };
    client_db* db = nullptr;
    ASSERT_EQ(db_open_observed(path.c_str(), &db, &observer, 0), 0) << "after kill " << kill_number;
    EXPECT_EQ(counts.resyncs, 0);
    run.dead_tail += counts.dead_tail;

    int updated = 0, extra = 0;
    for (std::uint32_t gid = 1; gid <= record_count; ++gid, ++run.checked) {
        const std::string body = read_body(db, gid);
        if (body == body_of(gid, run.versions[gid] + 1)) {
            ++run.versions[gid];
            ++updated;
        } else {
            ASSERT_EQ(body, body_of(gid, run.versions[gid])) << "gid " << gid << " after kill " << kill_number;
        }
        // An older live copy may stay behind a kill; the last one in the file is the current one.
        extra += counts.live_copies[gid] - 1;
    }
    run.two_live += extra > run.extra_before;
    run.extra_before = extra;
    run.mid_run += updated > 0 && updated < static_cast<int>(record_count);
    const std::string new_body = read_body(db, new_gid);
    if (!new_body.empty()) {
        ASSERT_EQ(new_body, body_of(new_gid, 0));
        run.added.push_back(new_gid);
    } else {
        EXPECT_EQ(db_record_header(db, new_gid), nullptr) << "a new record is whole or absent";
    }
    for (std::uint32_t gid : run.added) ASSERT_EQ(read_body(db, gid), body_of(gid, 0));
    run.checked += 1 + static_cast<long>(run.added.size());
    EXPECT_EQ(db_record_count(db), record_count + run.added.size()) << "one current copy per record";
    db_close(db);
}

}  // namespace db_kill_check
