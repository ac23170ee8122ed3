// The client database on arbitrary file contents: db_open must succeed or fail cleanly; every
// record of an opened file must read whole or not at all. Then one record is written and the file
// opened again. For a file that opened without resynchronising, the write must succeed, the file
// must open again, the written record must read back, and every other record that read before
// must read the same. (Where a scan had to resynchronise, a rewrite in place may change bytes the
// resynchronisation looked at, so such a file is only required to be handled cleanly.) Every
// memory block must come back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "clientdb/client_db.h"
#include "support/memory.h"

namespace {

using body = std::vector<unsigned char>;

const std::string& scratch_path()
{
    static const std::string path = "/tmp/clientdb_fuzz_" + std::to_string(getpid()) + ".idx";
    return path;
}

void require(bool condition)
{
    if (!condition) std::abort();
}

// Every record's body, or nothing for a record that cannot be read; checks the visit as it goes.
std::map<std::uint32_t, std::pair<bool, body>> read_all(client_db* db)
{
    std::map<std::uint32_t, std::pair<bool, body>> records;
    struct visit {
        std::map<std::uint32_t, std::pair<bool, body>>* records;
        std::uint32_t visited;
    } state{&records, 0};
    db_for_each(db, [](client_db* db, std::uint32_t gid, std::uint16_t size, void* context) {
        auto& state = *static_cast<visit*>(context);
        ++state.visited;
        require(state.records->count(gid) == 0);  // one entry per gid
        std::uint16_t got = 0xFFFF;
        void* read = db_read_record(db, gid, nullptr, &got);
        auto& entry = (*state.records)[gid];
        if (read) {
            require(got == size);
            entry = {true, body(static_cast<unsigned char*>(read), static_cast<unsigned char*>(read) + got)};
            free_block(read);
        }
        return 1;
    }, &state);
    require(state.visited == db_record_count(db));
    return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = scratch_path();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);

    const auto blocks_before = blocks_in_use;
    client_db* db = nullptr;
    int resyncs = 0;
    db_scan_observer observer{};
    observer.context = &resyncs;
    observer.resync = [](void* context, std::uint32_t, int, std::uint32_t) { ++*static_cast<int*>(context); };
    const int opened = db_open_observed(path.c_str(), &db, &observer, 0);
    require(opened == 0 || opened == 1);
    if (opened == 0) {
        const auto before = read_all(db);
        const bool incomplete = db->header_incomplete;
        const bool strict = !incomplete && resyncs == 0;
        const std::uint32_t cut_off_gid = db->cut_off_entry ? db->cut_off_entry->header.gid : 0;
        const bool had_cut_off = db->cut_off_entry != nullptr;

        // Rewrite the most recent record (same size or another, as the input says), or add one.
        const std::uint32_t gid = db->entries ? db->entries->header.gid : 0x14000006;
        std::uint16_t length = db->entries ? static_cast<std::uint16_t>(db->entries->header.size & 0xFFFF) : 4;
        if (size && data[size - 1] & 1) length = static_cast<std::uint16_t>(length % 300 + 1);
        body written(length);
        for (std::size_t i = 0; i < written.size(); ++i) written[i] = static_cast<unsigned char>(size ? data[i % size] + i : i);
        const int result = db_write_record(db, gid, written.data(), length, size ? data[0] : 0);
        require(result == 0 || result == 1);
        require(incomplete ? result == 0 : result == 1 || !strict);
        db_close(db);

        if (!strict) {
            if (db_open(path.c_str(), &db) == 0) {
                read_all(db);
                db_close(db);
            }
        } else {
            require(db_open(path.c_str(), &db) == 0);
            const auto after = read_all(db);
            const auto found = after.find(gid);
            require(found != after.end() && found->second.first && found->second.second == written);
            for (const auto& [other, record] : before)
                if (other != gid && !(had_cut_off && other == cut_off_gid) && record.first)
                    require(after.count(other) && after.at(other) == record);
            db_close(db);
        }
    }
    std::remove(path.c_str());
    require(blocks_in_use == blocks_before);
    return 0;
}
