#include "clientdb/client_db.h"

#include <cstdarg>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include "support/memory.h"
#include "support/text_format.h"

constexpr std::uint32_t read_block_size = 65536;  // one read of a scan or of bodies; holds any body

struct gid_index {
    std::unordered_map<std::uint32_t, record_entry*> entries;
    // Live copies that a later whole copy of the same gid supersedes: left by a writer stopped
    // between making its new copy live and marking the old one deleted.
    std::vector<record_header> superseded;
};

// Entries are handed out from memory blocks of many entries each, so that a large database does
// not need a block per record. They stay where they are until the handle is freed.
struct entry_slab {
    entry_slab* next;
    std::uint32_t used;
    std::uint32_t capacity;
};

namespace {

const db_host* host = &db_platform_host;

}  // namespace

// Reads through a window of up to 64 KiB of the file, so that a scan makes one file call per
// window instead of two per header, and bodies read one after the other, in either direction,
// come from one read of their neighbourhood.
struct read_window {
    db_file file;
    std::uint32_t length;  // nothing is read at or beyond this offset
    unsigned char* window;
    std::uint32_t base;
    std::uint32_t filled;

    read_window(db_file file, std::uint32_t length)
        : file(file), length(length), window(static_cast<unsigned char*>(alloc_block(read_block_size))), base(0),
          filled(0)
    {
    }
    ~read_window() { free_block(window); }
    read_window(const read_window&) = delete;
    read_window& operator=(const read_window&) = delete;

    // Copies up to `count` bytes (at most read_block_size) from `offset`: the number copied. A miss
    // refills the window from `offset` on, or with `backward` so that it ends where the bytes end.
    std::uint32_t read(std::uint64_t offset, void* out, std::uint32_t count, bool backward = false)
    {
        if (offset >= length) return 0;
        if (count > length - offset) count = static_cast<std::uint32_t>(length - offset);
        if (offset < base || offset + count > static_cast<std::uint64_t>(base) + filled) {
            const std::uint64_t end = offset + count;
            filled = 0;
            base = static_cast<std::uint32_t>(!backward ? offset : end > read_block_size ? end - read_block_size : 0);
            if (!host->seek(file, base)) return 0;
            filled = host->read(file, window, read_block_size);
            const std::uint64_t window_end = std::uint64_t{base} + filled;
            if (offset >= window_end) return 0;
            if (offset + count > window_end) count = static_cast<std::uint32_t>(window_end - offset);
        }
        std::memcpy(out, window + (offset - base), count);
        return count;
    }
    // What the file now holds there is not what the window holds.
    void forget() { filled = 0; }
};

namespace {

// The file calls take signed 32-bit offsets: nothing beyond this can be reached.
constexpr std::uint32_t largest_offset = 0x7FFFFFFF;
// The offset of an entry whose copy in the file is gone (overwritten by a later append).
constexpr std::uint32_t no_copy = 0xFFFFFFFF;
constexpr std::uint32_t io_chunk = 32768;  // the most one write may take
constexpr std::uint32_t first_slab_entries = 64;
constexpr std::uint32_t largest_slab_entries = 4096;

std::uint32_t header_size(const client_db* db) { return record_header_size(db->long_headers != 0); }

record_entry* slab_items(entry_slab* slab) { return reinterpret_cast<record_entry*>(slab + 1); }

record_entry* new_entry(client_db* db)
{
    entry_slab* slab = db->slabs;
    if (!slab || slab->used == slab->capacity) {
        std::uint32_t capacity = slab ? slab->capacity * 2 : first_slab_entries;
        if (capacity > largest_slab_entries) capacity = largest_slab_entries;
        auto* grown = static_cast<entry_slab*>(
            alloc_block(static_cast<std::uint32_t>(sizeof(entry_slab) + capacity * sizeof(record_entry))));
        grown->capacity = capacity;
        grown->next = slab;
        db->slabs = slab = grown;
    }
    return &slab_items(slab)[slab->used++];
}

record_entry* find_entry(const client_db* db, std::uint32_t gid)
{
    const auto found = db->index->entries.find(gid);
    return found == db->index->entries.end() ? nullptr : found->second;
}

// The entry of the header's gid now describes this copy; a new gid gets a new entry in front.
record_entry* remember(client_db* db, const record_header& header)
{
    const auto [place, added] = db->index->entries.try_emplace(header.gid, nullptr);
    if (!added) {
        place->second->header = header;
        return place->second;
    }
    record_entry* entry = new_entry(db);
    entry->header = header;
    entry->next = db->entries;
    db->entries = entry;
    ++db->entry_count;
    place->second = entry;
    return entry;
}

client_db* new_handle()
{
    auto* db = new (alloc_block(sizeof(client_db))) client_db{};
    db->file = no_db_file;
    db->index = new gid_index;
    return db;
}

void free_handle(client_db* db)
{
    while (entry_slab* slab = db->slabs) {
        db->slabs = slab->next;
        free_block(slab);
    }
    delete db->index;
    delete db->reads;
    db->~client_db();
    free_block(db);
}


bool is_separator(char c) { return c == '\\' || c == '/' || c == ':'; }


// Looks for the place to go on after a bad header at `bad`: the first offset after it holding a
// valid header that is followed, right behind its body, by another valid header. `horizon` grows
// to the end of the furthest follower it turned down: the decision depends on those bytes. (The
// places it tried lie in front of the chain's end; the follower it took is a header of the chain,
// or stands at its end, where an append puts another header.)
bool resynchronise(read_window& in, std::uint32_t h, bool long_form, std::uint64_t bad, std::uint32_t& found,
                   record_header& header, std::uint64_t& horizon)
{
    unsigned char raw[long_record_header_size];
    for (std::uint64_t at = bad + 1;; ++at) {
        if (at > largest_offset || in.read(at, raw, h) < h) return false;
        const record_header candidate = decode_record_header(raw, long_form);
        if (candidate.magic != record_magic) continue;
        const std::uint64_t next = at + h + candidate.size;
        if (next > largest_offset || in.read(next, raw, h) < h) return false;
        if (decode_record_header(raw, long_form).magic == record_magic) {
            found = static_cast<std::uint32_t>(at);
            header = candidate;
            return true;
        }
        if (next + h > horizon) horizon = next + h;
    }
}

// Walks the chain of records from `start`, remembering the live headers. 0 when the chain ends
// (at the end of the file or in a header cut off by it), 1 when it is unreadable.
int scan_chain(client_db* db, read_window& in, std::uint32_t start, const db_scan_observer* observer)
{
    const bool long_form = db->long_headers != 0;
    const std::uint32_t h = header_size(db);
    std::uint64_t at = start;
    std::uint64_t horizon = 0;
    bool cut_off_seen = false;
    std::uint64_t cut_off_at = 0;
    unsigned char raw[long_record_header_size];
    for (;;) {
        if (in.read(at, raw, h) < h) break;
        record_header header = decode_record_header(raw, long_form);
        if (header.magic != record_magic) {
            host->log("Resyncing record");
            std::uint32_t found = 0;
            const bool resumed = resynchronise(in, h, long_form, at, found, header, horizon);
            if (observer && observer->resync)
                observer->resync(observer->context, static_cast<std::uint32_t>(at), resumed, found);
            if (!resumed) return 1;
            at = found;
        }
        const std::uint64_t next = at + h + header.size;
        const bool cut_off = next > in.length;
        if (observer && observer->header)
            observer->header(observer->context, header, static_cast<std::uint32_t>(at), cut_off);
        if (!(header.flags & flag_deleted)) {
            header.offset = static_cast<std::uint32_t>(at);
            const record_entry* earlier = find_entry(db, header.gid);
            if (earlier && earlier->header.offset != no_copy && !cut_off && !db->read_only)
                db->index->superseded.push_back(earlier->header);
            record_entry* entry = remember(db, header);
            if (cut_off) db->cut_off_entry = entry;
        }
        if (cut_off) {
            cut_off_seen = true;
            cut_off_at = at;
        }
        if (next > largest_offset) return 1;
        at = next;
    }
    db->tail_offset = static_cast<std::uint32_t>(cut_off_seen ? cut_off_at : at);
    db->resync_horizon = static_cast<std::uint32_t>(horizon);
    if (observer && observer->end) observer->end(observer->context, db->tail_offset, in.length);
    return 0;
}

// Writes at `offset` in chunks of at most 32768 bytes; a short write is taken back and, after
// string 34050, written again whole from the same place. 1 written, 0 given up.
int write_at(client_db* db, std::uint64_t offset, const void* data, std::uint32_t count)
{
    if (db->reads) db->reads->forget();
    const auto* bytes = static_cast<const unsigned char*>(data);
    bool in_place = false;  // a whole chunk written leaves the file where the next one goes
    while (count > 0) {
        const std::uint32_t chunk = count < io_chunk ? count : io_chunk;
        if (offset + chunk > largest_offset + std::uint64_t{1}) return 0;
        for (;;) {
            if (!in_place && !host->seek(db->file, static_cast<std::uint32_t>(offset))) return 0;
            if (host->write(db->file, bytes, chunk) == chunk) break;
            in_place = false;
            if (!host->seek(db->file, static_cast<std::uint32_t>(offset))) return 0;
            if (!host->ask_more_disk_space()) {
                host->gave_up_on_disk_space();
                return 0;
            }
        }
        in_place = true;
        offset += chunk;
        bytes += chunk;
        count -= chunk;
    }
    return 1;
}

int write_header_at(client_db* db, std::uint32_t offset, const record_header& header)
{
    unsigned char raw[long_record_header_size];
    const std::uint32_t length = encode_record_header(header, db->long_headers != 0, raw);
    return write_at(db, offset, raw, length);
}

// Makes room at the end of the file for `needed` bytes: asks the host whether the drive can take
// them (string 34400 until it can or the user gives up), opens the file again, and drops whatever
// stands behind the last whole record. `at` becomes the place of the new record.
int make_room(client_db* db, std::uint32_t needed, std::uint32_t& at)
{
    if (db->lost) return 0;
    // Where a resynchronisation turned a place down for bytes behind the last whole record,
    // cutting them off (or writing after them) would change how the file reads: such a file
    // takes no more records. The install stops, as when the user gives up on a full disk, and
    // the log says why: a merge must not go on as if the record had been written.
    if (db->resync_horizon > db->tail_offset) {
        char line[path_capacity + 96];
        format_text(line, sizeof line, "Cannot add records to %s: its end is damaged", db->path);
        host->log(line);
        host->stop_install();
        return 0;
    }
    const char letter = ascii_upper(db->path[0]);
    while (!host->has_room(db->path, letter, needed)) {
        if (!host->ask_disk_full(letter)) {
            host->gave_up_on_disk_space();
            return 0;
        }
    }
    host->close(db->file);
    if (db->reads) db->reads->forget();
    db->file = host->open(db->path, 1);
    if (db->file == no_db_file) {
        // The file is shut and cannot be had again: no later write can reach it, so the install
        // stops rather than go on logging writes that fail.
        db->lost = 1;
        char line[path_capacity + 96];
        format_text(line, sizeof line, "Lost %s: it could not be opened again", db->path);
        host->log(line);
        host->stop_install();
        return 0;
    }
    std::uint32_t end = 0;
    if (!host->seek_end(db->file, &end)) return 0;
    if (end != db->tail_offset) {
        // A cut header or a cut body, which no read returns: the new record takes their place,
        // as written after them it could never be read. The log keeps what was dropped.
        char line[path_capacity + 96];
        format_text(line, sizeof line, "Dropping %lu bytes of a cut record at the end of %s",
                    static_cast<unsigned long>(end - db->tail_offset), db->path);
        host->log(line);
        if (db->reads) db->reads->forget();
        if (!host->set_length(db->file, db->tail_offset)) return 0;
    }
    if (db->cut_off_entry) {
        // Its header is about to be overwritten; its body could never be read.
        db->cut_off_entry->header.offset = no_copy;
        db->cut_off_entry = nullptr;
    }
    if (static_cast<std::uint64_t>(db->tail_offset) + needed > largest_offset) return 0;
    at = db->tail_offset;
    return 1;
}

// One record of a write: where its new copy goes, or that it is rewritten where it stands.
struct planned_write {
    db_batch_record* record;
    record_header header;
    bool appended;
};

// New copies at the end of the file, in this order: their headers marked deleted and their
// bodies, in one run of writes; a flush; the same bytes again with the headers live; then, after
// another flush, the old copies marked deleted (a batch flushes once more). A crash at any point
// leaves the old copy or the new one as the last live copy in the file, and a copy cut short stays
// marked deleted: the second writing changes nothing but flags of copies already whole on the disk.
// Sets `written` of each; 0 when none could be made.
int append_copies(client_db* db, planned_write* plans, std::uint32_t count, bool flush_at_end)
{
    const std::uint32_t h = header_size(db);
    const bool long_form = db->long_headers != 0;
    std::uint64_t needed = 0;
    for (std::uint32_t i = 0; i < count; ++i)
        if (plans[i].appended) needed += h + plans[i].record->size;
    if (needed == 0) return 1;
    std::uint32_t at = 0;
    if (needed > largest_offset || !make_room(db, static_cast<std::uint32_t>(needed), at)) return 0;

    const auto run_length = static_cast<std::uint32_t>(needed);
    auto* run = static_cast<unsigned char*>(alloc_block(run_length));
    block_closer closer{run};
    std::uint32_t place = 0;
    const planned_write* first = nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!plans[i].appended) continue;
        planned_write& plan = plans[i];
        if (!first) first = &plan;
        plan.header.offset = at + place;
        record_header pending = plan.header;
        pending.flags |= flag_deleted;
        encode_record_header(pending, long_form, run + place);
        if (plan.record->data) std::memcpy(run + place + h, plan.record->data, plan.record->size);
        place += h + plan.record->size;
    }
    if (!write_at(db, at, run, run_length) || !host->flush(db->file)) return 0;
    for (std::uint32_t i = 0; i < count; ++i)
        if (plans[i].appended)
            run[plans[i].header.offset - at + record_flags_position(long_form)] = plans[i].header.flags;
    // One copy: its flags byte alone; more: the run again, which costs fewer calls than a byte each.
    const bool single = run_length == h + first->record->size;
    if (single ? !write_at(db, std::uint64_t{at} + record_flags_position(long_form), &first->header.flags, 1)
               : !write_at(db, at, run, run_length))
        return 0;
    db->tail_offset = at + run_length;

    std::vector<record_header> superseded;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!plans[i].appended) continue;
        const record_entry* old = find_entry(db, plans[i].header.gid);
        if (old && old->header.offset != no_copy) superseded.push_back(old->header);
        remember(db, plans[i].header);
        plans[i].record->written = 1;
    }
    if (superseded.empty()) return 1;
    int marked = host->flush(db->file);
    for (record_header previous : superseded) {
        previous.flags |= flag_deleted;
        marked = marked && write_header_at(db, previous.offset, previous);
    }
    if (flush_at_end) marked = marked && host->flush(db->file);
    return marked;
}

// The same size: rewritten where it stands, a small record's header and body in one write.
int rewrite_in_place(client_db* db, planned_write& plan, record_entry* entry)
{
    const std::uint32_t h = header_size(db);
    const db_batch_record& record = *plan.record;
    plan.header.offset = entry->header.offset;
    unsigned char joined[long_record_header_size + 1024];
    const bool join = record.data && record.size <= sizeof joined - h;
    encode_record_header(plan.header, db->long_headers != 0, joined);
    if (join) std::memcpy(joined + h, record.data, record.size);
    if (!write_at(db, plan.header.offset, joined, join ? h + record.size : h)) return 0;
    entry->header = plan.header;
    if (record.data && record.size && !join &&
        !write_at(db, std::uint64_t{plan.header.offset} + h, record.data, record.size))
        return 0;
    return 1;
}

// Plans and writes records whose gids differ from each other.
int write_distinct(client_db* db, db_batch_record* records, std::uint32_t count, bool flush_at_end)
{
    std::vector<planned_write> plans(count);
    int all = 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        db_batch_record& record = records[i];
        record.written = 0;
        record_header header{};
        header.magic = record_magic;
        header.gid = record.gid;
        header.size = record.size;
        header.kind = record.kind ? record.kind : kind_binary;
        header.flags = header.kind == kind_p ? 0 : flag_kind_mark;
        record_entry* entry = find_entry(db, record.gid);
        const bool appended = !entry || entry == db->cut_off_entry || entry->header.offset == no_copy ||
            entry->header.size != record.size;
        plans[i] = {&record, header, appended};
        if (!appended) {
            record.written = rewrite_in_place(db, plans[i], entry);
            all = all && record.written;
        }
    }
    return append_copies(db, plans.data(), count, flush_at_end) && all;
}

struct find_context {
    char* out;
    const char* directory;
    std::uint32_t database_id;
    bool found;
};

bool join_name(char* out, const char* directory, const char* name)
{
    std::size_t length = strnlen(directory, path_capacity);
    if (length == path_capacity) return false;
    std::memcpy(out, directory, length);
    if (length > 0 && out[length - 1] != db_path_separator) out[length++] = db_path_separator;
    const std::size_t name_length = std::strlen(name);
    if (length + name_length >= path_capacity) return false;
    std::memcpy(out + length, name, name_length + 1);
    return true;
}

bool file_carries_id(db_file file, std::uint32_t database_id)
{
    unsigned char head[long_file_header_size];
    if (host->seek(file, 0) && host->read(file, head, short_file_header_size) == short_file_header_size &&
        load_u16(head) == short_file_tag && load_u32(head + 2) == database_id)
        return true;
    return host->seek(file, 0) && host->read(file, head, long_file_header_size) == long_file_header_size &&
        is_long_file_magic(head) && load_u32(head + 9) == database_id;
}

int visit_candidate(void* context, const char* name)
{
    auto& find = *static_cast<find_context*>(context);
    if (!join_name(find.out, find.directory, name)) return 1;
    const db_file file = host->open(find.out, 0);
    if (file == no_db_file) return 1;
    find.found = file_carries_id(file, find.database_id);
    host->close(file);
    return !find.found;
}

}  // namespace

const db_host* db_use_host(const db_host* replacement)
{
    const db_host* previous = host;
    host = replacement ? replacement : &db_platform_host;
    return previous;
}

void db_index_path(char* out, const char* path)
{
    out[0] = '\0';
    const std::size_t length = strnlen(path, db_path_capacity);
    if (length >= db_path_capacity) return;
    std::size_t name = length;
    while (name > 0 && !is_separator(path[name - 1])) --name;
    std::size_t dot = length;
    for (std::size_t i = name; i < length; ++i)
        if (path[i] == '.') dot = i;
    // No extension: no index file. An extension "ind" would name the database itself.
    if (dot == length || dot + 1 == length) return;
    if (length - dot - 1 == 3 && ascii_upper(path[dot + 1]) == 'I' && ascii_upper(path[dot + 2]) == 'N' && ascii_upper(path[dot + 3]) == 'D')
        return;
    std::memcpy(out, path, dot + 1);
    std::memcpy(out + dot + 1, "ind", 4);
}

char* db_find_file(char* out, const char* directory, std::uint32_t database_id)
{
    find_context find{out, directory, database_id, false};
    host->list_directory(directory, visit_candidate, &find);
    if (find.found) return out;
    out[0] = '\0';
    return nullptr;
}

// The file keeps one live copy of each record: superseded ones are marked deleted, one byte
// each. The current copy is whole, so a stop between these writes loses nothing.
void mark_superseded_deleted(client_db* db)
{
    for (record_header header : db->index->superseded) {
        header.flags |= flag_deleted;
        const std::uint8_t flags = header.flags;
        if (!write_at(db, std::uint64_t{header.offset} + record_flags_position(db->long_headers != 0), &flags, 1)) break;
    }
    if (!db->index->superseded.empty()) host->flush(db->file);
    db->index->superseded.clear();
}

int db_open(const char* path, client_db** out) { return db_open_observed(path, out, nullptr, 0); }

int db_open_observed(const char* path, client_db** out, const db_scan_observer* observer, int read_only)
{
    if (!path || strnlen(path, db_path_capacity) >= db_path_capacity) return 2;
    const db_file file = host->open(path, !read_only);
    if (file == no_db_file) return 2;
    if (!host->seek(file, short_file_header_size)) {
        host->close(file);
        return 1;
    }
    client_db* db = new_handle();
    db->file = file;
    db->read_only = read_only;
    copy_bounded(db->path, sizeof db->path, path);
    if (!read_only) db_index_path(db->index_path, path);

    std::uint32_t length = 0;
    if (!host->seek_end(file, &length)) {
        db_close(db);
        return 1;
    }
    read_window in(file, length);
    unsigned char head[short_file_header_size];
    db->long_headers = !(in.read(0, head, sizeof head) == sizeof head && load_u16(head) == short_file_tag);
    const std::uint32_t start = file_header_size(db->long_headers != 0);
    db->header_incomplete = length < start;
    if (scan_chain(db, in, start, observer) != 0) {
        db_close(db);
        return 1;
    }
    mark_superseded_deleted(db);
    *out = db;
    return 0;
}

int db_open_embedded(const char* name, client_db** out, std::uint32_t start, std::uint32_t length, db_file file)
{
    const db_file duplicate = host->duplicate(file);
    if (duplicate == no_db_file) return 1;
    const std::uint64_t first = std::uint64_t{start} + long_file_header_size;
    if (first > largest_offset || !host->seek(duplicate, static_cast<std::uint32_t>(first))) {
        host->close(duplicate);
        return 1;
    }
    client_db* db = new_handle();
    db->file = duplicate;
    db->long_headers = 1;
    db->read_only = 1;
    db->embedded = 1;
    copy_bounded(db->path, sizeof db->path, name);
    std::uint64_t end = std::uint64_t{start} + length;
    if (end > largest_offset) end = largest_offset;
    db->end_limit = static_cast<std::uint32_t>(end);

    read_window in(duplicate, db->end_limit);
    unsigned char raw[long_record_header_size];
    for (std::uint64_t at = first; at < end;) {
        if (in.read(at, raw, long_record_header_size) < long_record_header_size) break;
        record_header header = decode_record_header(raw, true);
        if (header.magic != record_magic) break;
        if (!(header.flags & flag_deleted)) {
            header.offset = static_cast<std::uint32_t>(at);
            remember(db, header);
        }
        at += long_record_header_size + std::uint64_t{header.size};
    }
    *out = db;
    return 0;
}

int db_close(client_db* db)
{
    if (!db) return 0;
    if (db->file != no_db_file) host->close(db->file);
    if (db->index_path[0]) host->remove(db->index_path);
    free_handle(db);
    return 1;
}

int db_release(client_db* db)
{
    if (!db) return 0;
    if (db->embedded && db->file != no_db_file) host->close(db->file);
    free_handle(db);
    return 1;
}

int db_lost(const client_db* db) { return db && db->lost; }

std::uint32_t db_record_count(const client_db* db) { return db ? db->entry_count : 0; }

const record_header* db_record_header(const client_db* db, std::uint32_t gid)
{
    const record_entry* entry = db ? find_entry(db, gid) : nullptr;
    return entry ? &entry->header : nullptr;
}

void* db_read_record(client_db* db, std::uint32_t gid, void* buffer, std::uint16_t* size)
{
    const record_entry* entry = db ? find_entry(db, gid) : nullptr;
    if (!entry || entry->header.offset == no_copy) return nullptr;
    const std::uint16_t length = static_cast<std::uint16_t>(entry->header.size & 0xFFFF);
    const std::uint64_t body = std::uint64_t{entry->header.offset} + header_size(db);
    if (body > largest_offset || (db->embedded && body + length > db->end_limit)) return nullptr;
    void* out = buffer ? buffer : alloc_block(length + 1u);
    if (!db->reads) db->reads = new read_window(db->file, largest_offset);
    read_window& reads = *db->reads;
    reads.file = db->file;
    // A merge visits the records from the end of the file back: the window then reaches backwards.
    const bool backward = body < reads.base;
    if (length && reads.read(body, out, length, backward) != length) {
        if (!buffer) free_block(out);
        return nullptr;
    }
    if (entry->header.flags & flag_scrambled) unscramble_body(out, length);
    if (size) *size = length;
    return out;
}

namespace {

bool writable(const client_db* db)
{
    return db && !db->read_only && !db->header_incomplete && db->file != no_db_file;
}

}  // namespace

int db_write_record(client_db* db, std::uint32_t gid, const void* data, std::uint16_t size, std::uint8_t kind)
{
    if (!writable(db)) return 0;
    db_batch_record record{gid, data, size, kind, 0};
    return write_distinct(db, &record, 1, false) && record.written;
}

int db_write_records(client_db* db, db_batch_record* records, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i) records[i].written = 0;
    if (!writable(db)) return 0;
    // A gid that comes again starts another part: its second copy goes in after its first.
    std::unordered_map<std::uint32_t, bool> in_part;
    int all = 1;
    std::uint32_t part = 0;
    for (std::uint32_t i = 0; i <= count; ++i) {
        if (i < count && in_part.try_emplace(records[i].gid, true).second) continue;
        all = write_distinct(db, records + part, i - part, true) && all;
        if (db->lost || i == count) break;
        in_part.clear();
        in_part.emplace(records[i].gid, true);
        part = i;
    }
    return all;
}

int db_write_text(client_db* db, std::uint32_t gid, const char* text)
{
    if (!text) return 0;
    const std::size_t length = strnlen(text, 65536);
    if (length > 65535) return 0;
    return db_write_record(db, gid, text, static_cast<std::uint16_t>(length), kind_text);
}

int db_for_each(client_db* db, db_visitor visitor, void* context)
{
    if (!db) return 0;
    for (record_entry* entry = db->entries; entry; entry = entry->next)
        if (!visitor(db, entry->header.gid, static_cast<std::uint16_t>(entry->header.size & 0xFFFF), context)) break;
    return 1;
}

void db_log(const char* format, ...)
{
    char line[512];
    std::va_list args;
    va_start(args, format);
    const int formatted = format_text_v(line, sizeof line, format, args);
    va_end(args);
    if (formatted >= 0) host->log(line);
}
