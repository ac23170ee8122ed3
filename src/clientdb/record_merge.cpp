#include "clientdb/record_merge.h"

#include <cstring>
#include <vector>

#include "support/fatal_errors.h"
#include "support/memory.h"

namespace {

constexpr std::uint32_t installed_mark_gid = 0x140000D1;
constexpr std::uint32_t package_version_gid = 0x14000044;
constexpr std::uint32_t marker_tag_gid = 0x14000046;
constexpr std::uint32_t batch_limit = 64000;

}  // namespace

// One record read from the source and not yet written: this header, then `size` body bytes, in
// one memory block.
struct pending_record {
    std::uint32_t gid;
    std::uint16_t size;
    pending_record* next;
};

namespace {

unsigned char* body_of(pending_record* item) { return reinterpret_cast<unsigned char*>(item + 1); }

// Records whose gid has 0x01 as its top byte keep kind 'p'; every other copy is 'b'.
std::uint8_t copied_kind(std::uint32_t gid) { return (gid >> 24) == 0x01 ? kind_p : kind_binary; }

bool cancelled(const record_copy& copy) { return copy.progress->cancelled(copy.progress->context) != 0; }

// Writes the batch, most recently read first, in one go (the records share their flushes); a
// cancel drops what is left.
void write_out_batch(record_copy& copy)
{
    std::vector<db_batch_record> records;
    for (pending_record* item = copy.batch; item; item = item->next)
        records.push_back({item->gid, body_of(item), item->size, copied_kind(item->gid), 0});
    db_write_records(copy.main, records.data(), static_cast<std::uint32_t>(records.size()));
    for (const db_batch_record& record : records) {
        if (record.written)
            db_log("Wrote GID %lu (size %u)", static_cast<unsigned long>(record.gid), unsigned{record.size});
        else
            db_log("Failed to write GID %lu", static_cast<unsigned long>(record.gid));
    }
    drop_pending_records(copy);
    copy.progress->pump(copy.progress->context);
}

int copy_visitor(client_db* source, std::uint32_t gid, std::uint16_t size, void* context)
{
    record_copy& copy = *static_cast<record_copy*>(context);
    if (cancelled(copy)) return 0;
    copy.position += copy.step_by_size ? size / 10u : 1u;
    copy.progress->advance(copy.progress->context, copy.position);
    if (size == 0) return 1;

    auto* item = static_cast<pending_record*>(alloc_block(static_cast<std::uint32_t>(sizeof(pending_record)) + size));
    std::uint16_t read_size = size;
    if (!db_read_record(source, gid, body_of(item), &read_size) || read_size != size) {
        db_log("Couldn't read GID %lu", static_cast<unsigned long>(gid));
        free_block(item);
        return 1;
    }
    item->gid = gid;
    item->size = size;
    item->next = copy.batch;
    copy.batch = item;
    copy.pending_bytes += size;
    if (copy.pending_bytes > batch_limit) write_out_batch(copy);
    return 1;
}

}  // namespace

void copy_records(record_copy& copy, client_db* source)
{
    db_for_each(source, copy_visitor, &copy);
    if (!cancelled(copy)) write_out_batch(copy);
}

void drop_pending_records(record_copy& copy)
{
    while (copy.batch) {
        pending_record* next = copy.batch->next;
        free_block(copy.batch);
        copy.batch = next;
    }
    copy.pending_bytes = 0;
}

void log_source_version(client_db* source)
{
    unsigned char version[3] = {};
    std::uint16_t size = 0;
    if (auto* body = static_cast<unsigned char*>(db_read_record(source, version_record_gid, nullptr, &size))) {
        std::memcpy(version, body, size < sizeof version ? size : sizeof version);
        free_block(body);
    }
    db_log("Old version: %u.%u", unsigned{version[1]}, unsigned{version[2]});
}

void mark_installed(client_db* main)
{
    const unsigned char installed_mark[4] = {0, 0, 0, 1};
    db_write_record(main, installed_mark_gid, installed_mark, sizeof installed_mark, kind_binary);
}

std::uint16_t stamp_main_database(client_db* main, std::uint16_t db_version, const char* package_version,
                                  const char* marker_tag)
{
    if (db_version) {
        std::uint16_t size = 0;
        auto* body = static_cast<unsigned char*>(db_read_record(main, version_record_gid, nullptr, &size));
        if (!body || size < 3) {
            if (body) free_block(body);
            return fatal::version_not_read;
        }
        block_closer closer{body};
        store_u16(body + 1, db_version);
        if (!db_write_record(main, version_record_gid, body, size, kind_binary)) return fatal::version_not_written;
        db_log("New version: %u.%u", db_version & 0xFFu, static_cast<unsigned>(db_version) >> 8);
    }
    if (package_version[0] && !db_write_text(main, package_version_gid, package_version))
        return fatal::package_version_not_written;
    if (marker_tag[0] && !db_write_text(main, marker_tag_gid, marker_tag)) return fatal::marker_tag_not_written;
    return 0;
}
