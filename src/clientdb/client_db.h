// Record access on the client's database files (layout in db_format.h): open a database file, or
// one stored inside another file, keep a directory of its records, read a body by gid, write or
// replace a record, close. Portable: the files are reached through the db_host of db_file.h.
//
// The directory is a list with one entry per gid, most recently added first, as db_for_each
// visits it; entries are found through a hash index on the gid, so opening a file and merging
// into it grow linearly with the number of records. Records are never moved: a replacement of
// another size is appended and the old copy then marked deleted. The writes are ordered so that at
// every instant the file holds a live copy of each record, and the copy that a scan of the file
// keeps (the last live one) is a whole one.
#pragma once

#include <cstdint>

#include "clientdb/db_file.h"
#include "clientdb/db_format.h"
#include "support/run_state.h"

constexpr int db_path_capacity = 257;  // 256 characters and the NUL

struct record_entry {
    record_entry* next;
    record_header header;  // long form; `offset` is where this copy's header stands in the file
};

struct entry_slab;
struct gid_index;
struct read_window;

struct client_db {
    db_file file;
    int long_headers;
    record_entry* entries;
    std::uint32_t entry_count;
    char path[db_path_capacity];
    char index_path[path_capacity];  // empty when there is none

    int read_only;  // embedded, or opened for looking only
    int embedded;   // stored inside another file, read through a duplicate of its handle
    std::uint32_t end_limit;  // embedded: where its records end in the outer file
    // Where the next record goes: right behind the last whole record of the chain. Bytes beyond it
    // (a header or body cut off by the end of the file) are dropped by the next append.
    std::uint32_t tail_offset;
    int header_incomplete;        // the file is shorter than its own header: never written to
    std::uint32_t resync_horizon;  // the end of the furthest bytes a resynchronisation read, or 0
    record_entry* cut_off_entry;  // a live record at tail_offset whose body the file cuts off
    int lost;  // the file could not be opened again to add a record: nothing more is written
    entry_slab* slabs;
    gid_index* index;
    read_window* reads;  // the bodies read last and their neighbours; made by the first read
};

// What a scan of a database file met, for the tools: every header in file order and each place
// where it had to resynchronise. Any member may be null.
struct db_scan_observer {
    void* context;
    // `cut_off`: the body runs past the end of the file.
    void (*header)(void* context, const record_header& header, std::uint32_t offset, int cut_off);
    // A bad header at `bad_offset`; the scan went on at `found_offset`, or (found 0) could not.
    void (*resync)(void* context, std::uint32_t bad_offset, int found, std::uint32_t found_offset);
    // The scan ended: the chain ends at `chain_end`, the file at `file_length`.
    void (*end)(void* context, std::uint32_t chain_end, std::uint32_t file_length);
};

using db_visitor = int (*)(client_db* db, std::uint32_t gid, std::uint16_t size, void* context);

// The path of the first file in `directory` whose file header carries `database_id` ("DC" files, or
// "QELDB-25" in any case), into `out` (path_capacity characters); null when there is none.
char* db_find_file(char* out, const char* directory, std::uint32_t database_id);

// 0 opened (`*out` set); 1 the file opened but its record chain is unreadable; 2 the file could
// not be opened for reading and writing (or its path is longer than 256 characters).
int db_open(const char* path, client_db** out);

// db_open with an observer of the scan; `read_only` opens the file for reading only, with no index
// path (nothing is deleted at the close) and no writes.
int db_open_observed(const char* path, client_db** out, const db_scan_observer* observer, int read_only);

// A long-form database stored in `file` from `start` for `length` bytes; its file header is not
// examined. 0 opened (`*out` set); 1 the handle could not be duplicated or the seek failed.
// Offsets in the entries are positions in the outer file; the handle only reads.
int db_open_embedded(const char* name, client_db** out, std::uint32_t start, std::uint32_t length, db_file file);

// Closes the file, deletes the index file, frees the handle. 1 closed, 0 given none.
int db_close(client_db* db);

// Frees the handle without deleting anything: for embedded databases, whose duplicate handle it
// closes (the handle it was opened on stays open). Other files stay open. 1, or 0 given none.
int db_release(client_db* db);

std::uint32_t db_record_count(const client_db* db);

// The record's body: into `buffer` (at least its size), or with a null buffer into a new memory
// block of size + 1 bytes that the caller frees. Scrambled bodies come out plain. Null when there
// is no such record or it cannot be read whole.
void* db_read_record(client_db* db, std::uint32_t gid, void* buffer, std::uint16_t* size);

// The current header of a record, or null.
const record_header* db_record_header(const client_db* db, std::uint32_t gid);

// Writes or replaces a record; kind 0 means 'b'. A null `data` writes only the header in place and
// zeros when appending. 1 written, 0 failed (giving up on a full disk, or the file lost, also sets
// install_cancelled).
int db_write_record(client_db* db, std::uint32_t gid, const void* data, std::uint16_t size, std::uint8_t kind);

// One record of db_write_records; `written` is set to 1 when it went in.
struct db_batch_record {
    std::uint32_t gid;
    const void* data;
    std::uint16_t size;
    std::uint8_t kind;
    int written;
};

// Writes the records as db_write_record would one after the other, to the same bytes, but the
// new copies of other sizes share their writes and flushes: at the end of the file all of them
// marked deleted, a flush, all made live, a flush, all the copies they replace marked deleted, a
// flush. At every moment each record has a whole live copy, old or new. 1 when every record was
// written.
int db_write_records(client_db* db, db_batch_record* records, std::uint32_t count);

// Whether the file was lost: shut to add a record and not opened again. The write failed, the
// install was stopped, and every later write fails.
int db_lost(const client_db* db);

// db_write_record of the text without its NUL, kind 't'.
int db_write_text(client_db* db, std::uint32_t gid, const char* text);

// Calls the visitor for every entry, most recently added first, while it returns non-zero. The
// visitor may read bodies from the same handle. 1, or 0 given none.
int db_for_each(client_db* db, db_visitor visitor, void* context);

// The index path of a database path: the file name's extension replaced by "ind"; empty when the
// name has no extension or its extension is "ind" already (the file itself). `out`: path_capacity.
void db_index_path(char* out, const char* path);

// One line of the setup log, through the host (cut at 511 characters).
void db_log(const char* format, ...);
