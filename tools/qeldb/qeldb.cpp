#include "qeldb.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "clientdb/client_db.h"
#include "support/memory.h"

namespace qeldb {

namespace {

std::string hex_number(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string hex_bytes(const unsigned char* bytes, std::size_t size)
{
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

bool printable(const unsigned char* bytes, std::size_t size)
{
    return std::all_of(bytes, bytes + size,
                       [](unsigned char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r'; });
}

// A text between double quotes, escaped as JSON escapes it (also fit for the plain listing).
std::string quoted(const unsigned char* bytes, std::size_t size)
{
    std::string text = "\"";
    char escape[8];
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = bytes[i];
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            text += escape;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text + "\"";
}

std::string kind_text(std::uint8_t kind) { return quoted(&kind, 1); }

// What a scan of the file met.
struct seen_header {
    record_header header;
    std::uint32_t offset;
    bool cut_off;
};

struct seen_resync {
    std::uint32_t bad_offset;
    bool found;
    std::uint32_t found_offset;
};

struct scan_notes {
    std::vector<seen_header> headers;
    std::vector<seen_resync> resyncs;
    std::uint32_t chain_end = 0;
    std::uint32_t file_length = 0;
    bool ended = false;
};

bool any_cut_off(const scan_notes& notes)
{
    return std::any_of(notes.headers.begin(), notes.headers.end(), [](const seen_header& seen) { return seen.cut_off; });
}

db_scan_observer observer_for(scan_notes& notes)
{
    db_scan_observer observer{};
    observer.context = &notes;
    observer.header = [](void* context, const record_header& header, std::uint32_t offset, int cut_off) {
        static_cast<scan_notes*>(context)->headers.push_back({header, offset, cut_off != 0});
    };
    observer.resync = [](void* context, std::uint32_t bad, int found, std::uint32_t found_offset) {
        static_cast<scan_notes*>(context)->resyncs.push_back({bad, found != 0, found_offset});
    };
    observer.end = [](void* context, std::uint32_t chain_end, std::uint32_t file_length) {
        auto& notes = *static_cast<scan_notes*>(context);
        notes.chain_end = chain_end;
        notes.file_length = file_length;
        notes.ended = true;
    };
    return observer;
}

// Opens a database, for reading only or for writing; complains and gives null when it cannot.
client_db* open_database(const std::string& path, bool writable, scan_notes& notes, std::ostream& err)
{
    client_db* db = nullptr;
    const db_scan_observer observer = observer_for(notes);
    errno = 0;
    const int result = db_open_observed(path.c_str(), &db, &observer, !writable);
    if (result == 0) return db;
    if (result == 2) {
        err << path << ": cannot be opened for " << (writable ? "reading and writing" : "reading");
        if (errno) err << " (" << std::strerror(errno) << ")";
        err << "\n";
        return nullptr;
    }
    err << path << ": not a readable database: ";
    if (!notes.resyncs.empty() && !notes.resyncs.back().found)
        err << "bad record header at offset " << notes.resyncs.back().bad_offset
            << " and no whole record after it to go on from\n";
    else
        err << "a record's size runs past the largest file offset (2 GiB)\n";
    return nullptr;
}

bool read_whole_file(const std::string& path, byte_buffer& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

struct dumped_record {
    record_header header;
    std::uint32_t offset;
    const char* status;  // current, deleted, superseded, cut off
    bool readable;
    byte_buffer body;
    std::uint32_t present;  // body bytes the file holds
};

std::string form_description(const client_db* db, const byte_buffer& file)
{
    if (!db->long_headers) return "short form (\"DC\", 22-byte record headers)";
    if (file.size() >= long_file_header_size && is_long_file_magic(file.data()))
        return "long form (\"QELDB-25\", 26-byte record headers)";
    return "long form (no \"QELDB-25\" text; read as long form, 26-byte record headers)";
}

std::uint32_t database_id_of(const client_db* db, const byte_buffer& file)
{
    const std::size_t at = db->long_headers ? 9 : 2;
    return file.size() >= at + 4 ? load_u32(file.data() + at) : 0;
}

// Every record to show: the current copies, or (all) every header the scan met, in file order.
std::vector<dumped_record> records_to_dump(client_db* db, const scan_notes& notes, const byte_buffer& file, bool all)
{
    std::vector<dumped_record> records;
    const std::uint32_t h = record_header_size(db->long_headers != 0);
    for (const seen_header& seen : notes.headers) {
        const record_header* current = db_record_header(db, seen.header.gid);
        const bool is_current = !(seen.header.flags & flag_deleted) && current && current->offset == seen.offset;
        if (!is_current && !all) continue;
        dumped_record record{seen.header, seen.offset, "current", false, {}, 0};
        record.header.offset = seen.offset;
        if (!is_current) record.status = seen.header.flags & flag_deleted ? "deleted" : "superseded";
        const std::uint32_t size = seen.header.size & 0xFFFF;
        const std::uint64_t body = std::uint64_t{seen.offset} + h;
        record.present = body >= file.size() ? 0 : static_cast<std::uint32_t>(std::min<std::uint64_t>(size, file.size() - body));
        if (is_current) {
            record.body.resize(size + 1u);  // never empty: an empty buffer would ask for a new block
            record.readable = db_read_record(db, seen.header.gid, record.body.data(), nullptr) != nullptr;
            record.body.resize(size);
        } else if (record.present == size) {
            record.body.assign(file.begin() + static_cast<std::ptrdiff_t>(body),
                               file.begin() + static_cast<std::ptrdiff_t>(body + size));
            if (seen.header.flags & flag_scrambled) unscramble_body(record.body.data(), record.body.size());
            record.readable = true;
        }
        if (seen.cut_off && is_current) record.status = "current, cut off";
        else if (seen.cut_off) record.status = seen.header.flags & flag_deleted ? "deleted, cut off" : "superseded, cut off";
        records.push_back(std::move(record));
    }
    return records;
}

std::string body_text(const dumped_record& record)
{
    if (!record.readable)
        return "body cut off by the end of the file (" + std::to_string(record.present) + " of " +
            std::to_string(record.header.size & 0xFFFF) + " bytes)";
    if (printable(record.body.data(), record.body.size()))
        return "text " + quoted(record.body.data(), record.body.size());
    return "hex " + hex_bytes(record.body.data(), record.body.size());
}

void dump_plain(const std::string& path, client_db* db, const scan_notes& notes, const byte_buffer& file,
                const std::vector<dumped_record>& records, bool all, std::ostream& out)
{
    out << path << ": " << form_description(db, file) << ", database id " << hex_number(database_id_of(db, file))
        << ", " << file.size() << " bytes, " << db_record_count(db) << " record" << (db_record_count(db) == 1 ? "" : "s")
        << "\n";
    for (const seen_resync& resync : notes.resyncs)
        out << "resynchronised: bad record header at offset " << resync.bad_offset << ", went on at offset "
            << resync.found_offset << "\n";
    for (const dumped_record& record : records) {
        out << "gid " << hex_number(record.header.gid) << "  kind " << kind_text(record.header.kind) << "  flags 0x";
        char flags[3];
        std::snprintf(flags, sizeof flags, "%02X", record.header.flags);
        out << flags << "  size " << record.header.size << "  offset " << record.offset;
        if (all) out << "  " << record.status;
        out << "\n  " << body_text(record) << "\n";
    }
    if (notes.file_length > notes.chain_end && !any_cut_off(notes))
        out << (notes.file_length - notes.chain_end) << " bytes after the last whole record, from offset "
            << notes.chain_end << "\n";
}

void dump_json(const std::string& path, client_db* db, const scan_notes& notes, const byte_buffer& file,
               const std::vector<dumped_record>& records, std::ostream& out)
{
    const auto* name = reinterpret_cast<const unsigned char*>(path.data());
    out << "{\"path\": " << quoted(name, path.size()) << ", \"form\": \"" << (db->long_headers ? "long" : "short")
        << "\", \"database_id\": " << database_id_of(db, file) << ", \"file_size\": " << file.size()
        << ", \"record_count\": " << db_record_count(db) << ",\n \"resyncs\": [";
    for (std::size_t i = 0; i < notes.resyncs.size(); ++i)
        out << (i ? ", " : "") << "{\"bad_offset\": " << notes.resyncs[i].bad_offset
            << ", \"found_offset\": " << notes.resyncs[i].found_offset << "}";
    out << "],\n \"records\": [";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const dumped_record& record = records[i];
        out << (i ? ",\n  " : "\n  ") << "{\"gid\": " << record.header.gid << ", \"kind\": " << kind_text(record.header.kind)
            << ", \"flags\": " << unsigned{record.header.flags} << ", \"size\": " << record.header.size
            << ", \"offset\": " << record.offset << ", \"status\": \"" << record.status << "\", ";
        if (!record.readable)
            out << "\"cut_off\": true, \"present\": " << record.present;
        else if (printable(record.body.data(), record.body.size()))
            out << "\"text\": " << quoted(record.body.data(), record.body.size());
        else
            out << "\"hex\": \"" << hex_bytes(record.body.data(), record.body.size()) << "\"";
        out << "}";
    }
    out << "]}\n";
}

}  // namespace

bool parse_number(const std::string& text, std::uint32_t& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (errno || *end || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

bool parse_hex(const std::string& text, byte_buffer& bytes)
{
    bytes.clear();
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || digit(text[i]) < 0 || digit(text[i + 1]) < 0) return false;
        bytes.push_back(static_cast<unsigned char>(digit(text[i]) << 4 | digit(text[i + 1])));
        i += 2;
    }
    return true;
}

int create_command(const std::string& path, std::uint32_t database_id, bool short_form, std::ostream& out,
                   std::ostream& err)
{
    unsigned char header[long_file_header_size];
    const std::uint32_t size = encode_file_header(!short_form, database_id, header);
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0) {
        err << path << ": cannot be created (" << std::strerror(errno) << ")\n";
        return 1;
    }
    const bool written = ::write(file, header, size) == static_cast<ssize_t>(size);
    const int saved = errno;
    if (::close(file) != 0 || !written) {
        err << path << ": cannot be written (" << std::strerror(written ? errno : saved) << ")\n";
        ::unlink(path.c_str());
        return 1;
    }
    out << path << ": " << (short_form ? "short" : "long") << "-form database, id " << hex_number(database_id)
        << ", records from offset " << size << "\n";
    return 0;
}

int put_command(const std::string& path, std::uint32_t gid, const byte_buffer& body, char kind, std::ostream& out,
                std::ostream& err)
{
    if (body.size() > 65535) {
        err << path << ": a record body holds at most 65535 bytes, not " << body.size() << "\n";
        return 1;
    }
    scan_notes notes;
    client_db* db = open_database(path, true, notes, err);
    if (!db) return 1;
    if (db->header_incomplete) {
        err << path << ": shorter than its file header (" << file_header_size(db->long_headers != 0)
            << " bytes); nothing is written to it\n";
        db_close(db);
        return 1;
    }
    const auto size = static_cast<std::uint16_t>(body.size());
    const int written = db_write_record(db, gid, body.empty() ? nullptr : body.data(), size, static_cast<std::uint8_t>(kind));
    const record_header* header = db_record_header(db, gid);
    if (written && header)
        out << path << ": gid " << hex_number(gid) << ", " << size << " bytes, kind " << kind_text(header->kind)
            << ", at offset " << header->offset << "\n";
    else
        err << path << ": gid " << hex_number(gid) << " could not be written"
            << (setup.install_cancelled ? " (not enough disk space)" : "") << "\n";
    db_close(db);
    return written ? 0 : 1;
}

int get_command(const std::string& path, std::uint32_t gid, bool hex, std::ostream& out, std::ostream& err)
{
    scan_notes notes;
    client_db* db = open_database(path, false, notes, err);
    if (!db) return 1;
    std::uint16_t size = 0;
    void* body = db_read_record(db, gid, nullptr, &size);
    if (!body) {
        err << path << ": gid " << hex_number(gid)
            << (db_record_header(db, gid) ? ": its body is cut off by the end of the file\n" : ": no such record\n");
        db_close(db);
        return 1;
    }
    const auto* bytes = static_cast<const unsigned char*>(body);
    if (hex)
        out << hex_bytes(bytes, size) << "\n";
    else
        out.write(static_cast<const char*>(body), size);
    free_block(body);
    db_close(db);
    return 0;
}

int dump_command(const std::string& path, bool json, bool all, std::ostream& out, std::ostream& err)
{
    scan_notes notes;
    client_db* db = open_database(path, false, notes, err);
    if (!db) return 1;
    byte_buffer file;
    if (!read_whole_file(path, file)) {
        err << path << ": cannot be read (" << std::strerror(errno) << ")\n";
        db_close(db);
        return 1;
    }
    const std::vector<dumped_record> records = records_to_dump(db, notes, file, all);
    if (json)
        dump_json(path, db, notes, file, records, out);
    else
        dump_plain(path, db, notes, file, records, all, out);
    db_close(db);
    return 0;
}

int verify_command(const std::string& path, std::ostream& out, std::ostream& err)
{
    scan_notes notes;
    client_db* db = open_database(path, false, notes, err);
    if (!db) return 1;
    if (db->long_headers) {
        unsigned char head[long_file_header_size] = {};
        std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(head), sizeof head);
        if (!is_long_file_magic(head))
            out << path << ": the file header is neither \"DC\" nor \"QELDB-25\"; read as the long form\n";
    }
    for (const seen_resync& resync : notes.resyncs)
        out << path << ": resynchronised: bad record header at offset " << resync.bad_offset
            << ", the chain goes on at offset " << resync.found_offset << "\n";
    std::map<std::uint32_t, std::vector<std::uint32_t>> live;
    for (const seen_header& seen : notes.headers)
        if (!(seen.header.flags & flag_deleted)) live[seen.header.gid].push_back(seen.offset);
    std::size_t several = 0;
    for (const auto& [gid, offsets] : live) {
        if (offsets.size() < 2) continue;
        ++several;
        out << path << ": gid " << hex_number(gid) << " has " << offsets.size() << " live copies, at offsets";
        for (std::uint32_t offset : offsets) out << " " << offset;
        out << "; the last is current\n";
    }
    std::size_t unreadable = 0;
    for (const seen_header& seen : notes.headers) {
        if (!seen.cut_off) continue;
        out << path << ": gid " << hex_number(seen.header.gid) << " at offset " << seen.offset
            << ": body cut off by the end of the file" << (seen.header.flags & flag_deleted ? " (a deleted copy)" : "")
            << "\n";
        if (!(seen.header.flags & flag_deleted)) ++unreadable;
    }
    if (notes.file_length > notes.chain_end && !any_cut_off(notes))
        out << path << ": " << (notes.file_length - notes.chain_end)
            << " bytes after the last whole record (a record header cut off by the end of the file), from offset "
            << notes.chain_end << "\n";
    out << path << ": readable, " << db_record_count(db) << " record" << (db_record_count(db) == 1 ? "" : "s") << ", "
        << notes.resyncs.size() << " resynchronisation" << (notes.resyncs.size() == 1 ? "" : "s") << ", " << several
        << " gid" << (several == 1 ? "" : "s") << " with several live copies, " << unreadable
        << " record" << (unreadable == 1 ? "" : "s") << " cut off\n";
    db_close(db);
    return 0;
}

}  // namespace qeldb
