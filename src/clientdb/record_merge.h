// The records a merge brings into the client's main database, and the stamps it leaves there.
// Every non-empty record of a source database is copied: gathered in memory and written in
// batches of just over 64,000 bytes, the most recently read first, each batch in one
// db_write_records (three flushes); records of 0x01000000 to
// 0x01FFFFFF keep kind 'p', all others get 'b'. Portable; the caller's gauge, message pump and
// cancel come in through merge_progress, and the log lines go to the database's host.
#pragma once

#include <cstdint>

#include "clientdb/client_db.h"

struct merge_progress {
    void* context;
    // After each record read: the position reached. The caller moves its gauge and lets messages
    // through (as often as it sees fit), and may cancel.
    void (*advance)(void* context, std::uint32_t position);
    // After a batch written: the caller lets messages through.
    void (*pump)(void* context);
    // Nonzero once the install is cancelled: the copy stops and drops what it has not written.
    int (*cancelled)(void* context);
};

struct pending_record;

// One copy into the main database. `position` counts records, or with `step_by_size` (the
// databases read in place from the package) their sizes divided by 10.
struct record_copy {
    client_db* main;
    const merge_progress* progress;
    std::uint32_t position;
    bool step_by_size;
    pending_record* batch;  // read and not yet written, newest first
    std::uint32_t pending_bytes;
};

// Copies every record of `source` into the main database, the last batch too unless cancelled.
void copy_records(record_copy& copy, client_db* source);

// Drops what a cancelled copy read and did not write.
void drop_pending_records(record_copy& copy);

// Logs "Old version: %u.%u" with bytes 1 and 2 of the source's version record (0.0 without one).
void log_source_version(client_db* source);

// The record 0x140000D1 that says the client was installed over: 00 00 00 01.
void mark_installed(client_db* main);

// Stamps `db_version` into the version record (when not 0; logs "New version: %u.%u"), then the
// package version and the marker tag as texts (each when not empty). 0 done, else the fatal
// error that stopped it.
std::uint16_t stamp_main_database(client_db* main, std::uint16_t db_version, const char* package_version,
                                  const char* marker_tag);
