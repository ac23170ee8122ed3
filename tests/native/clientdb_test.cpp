// The client database: both file forms, copies of one gid, rewrites, damaged chains, embedded
// databases, the disk-space questions, and qeldb's view of hand-made files.
#include "clientdb/client_db.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "qeldb.h"
#include "support/memory.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<unsigned char>;
using gids = std::vector<std::uint32_t>;

// Files laid out byte by byte, independently of the layer's own encoder.
void put(bytes& b, std::uint64_t v, int width)
{
    for (int i = 0; i < width; ++i, v >>= 8) b.push_back(static_cast<unsigned char>(v));
}
void put(bytes& b, std::string_view text) { b.insert(b.end(), text.begin(), text.end()); }

bytes long_file(std::uint32_t id = main_database_id, std::string_view magic = {"QELDB-25\0", 9})
{
    bytes b;
    put(b, magic);
    put(b, id, 4);
    b.resize(25);
    return b;
}

bytes short_file(std::uint32_t id)
{
    bytes b{'D', 'C'};
    put(b, id, 4);
    b.resize(10);
    return b;
}

// Appends a record in the file's form; returns its offset.
std::uint32_t record(bytes& file, bool long_form, std::uint32_t gid, std::string_view body, std::uint8_t flags = 0x20,
                     char kind = 'b')
{
    const auto at = static_cast<std::uint32_t>(file.size());
    put(file, long_form ? "R2D2" : "RE");
    put(file, gid, 4);
    put(file, static_cast<std::uint32_t>(body.size()), long_form ? 4 : 2);
    file.push_back(static_cast<unsigned char>(kind));
    file.push_back(flags);
    put(file, 0, 8);
    put(file, at, 4);
    put(file, body);
    return at;
}

// The layer's questions and log lines, answered and recorded by the test.
struct host_script {
    int room_denials = 0;  // has_room answers "no" this many times
    int disk_full_answer = 1;
    int disk_full_asks = 0;
    char asked_letter = 0;
    int short_writes = 0;  // this many writes put only half their bytes
    int more_space_answer = 1;
    int more_space_asks = 0;
    std::vector<std::string> log;
} script;

db_host scripted_host()
{
    db_host host = db_platform_host;
    host.has_room = [](const char*, char, std::uint32_t) { return script.room_denials-- > 0 ? 0 : 1; };
    host.ask_disk_full = [](char letter) {
        ++script.disk_full_asks;
        script.asked_letter = letter;
        return script.disk_full_answer;
    };
    host.ask_more_disk_space = [] {
        ++script.more_space_asks;
        return script.more_space_answer;
    };
    host.write = [](db_file file, const void* data, std::uint32_t count) {
        return db_platform_host.write(file, data, script.short_writes-- > 0 ? count / 2 : count);
    };
    host.log = [](const char* line) { script.log.emplace_back(line); };
    return host;
}
const db_host test_host = scripted_host();

class ClientDb : public ::testing::Test {
protected:
    fs::path dir, previous_directory;
    std::uint16_t blocks_before = 0;

    void SetUp() override
    {
        script = {};
        setup = initial_run_state();
        db_use_host(&test_host);
        dir = fs::temp_directory_path() /
            ("clientdb_test_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        previous_directory = fs::current_path();
        fs::current_path(dir);
        blocks_before = blocks_in_use;
    }
    void TearDown() override
    {
        EXPECT_EQ(blocks_in_use, blocks_before) << "memory blocks left behind";
        fs::current_path(previous_directory);
        fs::remove_all(dir);
        db_use_host(nullptr);
    }

    static void write(const fs::path& path, const bytes& content)
    {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    }
    static bytes contents(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static client_db* open(const char* name)
    {
        client_db* db = nullptr;
        EXPECT_EQ(db_open(name, &db), 0) << name;
        return db;
    }
    static std::string body(client_db* db, std::uint32_t gid)
    {
        std::uint16_t size = 0;
        void* read = db_read_record(db, gid, nullptr, &size);
        if (!read) return "(none)";
        std::string text(static_cast<const char*>(read), size);
        free_block(read);
        return text;
    }
    static gids visit_order(client_db* db)
    {
        gids visited;
        db_for_each(db, [](client_db*, std::uint32_t gid, std::uint16_t, void* context) {
            static_cast<gids*>(context)->push_back(gid);
            return 1;
        }, &visited);
        return visited;
    }
};

// ---- the two forms ----

TEST_F(ClientDb, FormIsShortOnlyForDcAndRecordsStartRightBehindTheFileHeader)
{
    bytes odd(25, 'x');  // neither "DC" nor "QELDB-25": still the long form
    record(odd, true, 1, "long");
    write("odd.idx", odd);
    client_db* db = open("odd.idx");
    EXPECT_EQ(body(db, 1), "long");
    db_close(db);

    write("long.idx", long_file());
    write("short.idx", short_file(3));
    for (const char* name : {"long.idx", "short.idx"}) {
        db = open(name);
        const bool long_form = db->long_headers;
        EXPECT_EQ(db_record_count(db), 0u);
        ASSERT_EQ(db_write_text(db, 0x14000044, "1.0"), 1);
        db_close(db);
        const bytes file = contents(name);
        const std::size_t at = long_form ? 25 : 10;
        ASSERT_EQ(file.size(), at + (long_form ? 26 : 22) + 3);
        EXPECT_EQ(std::string(file.begin() + at, file.begin() + at + (long_form ? 4 : 2)), long_form ? "R2D2" : "RE");
        EXPECT_EQ(file[at + (long_form ? 12 : 8)], 't');
        EXPECT_EQ(file[at + (long_form ? 22 : 18)], at) << "the header carries its own offset";
        db = open(name);
        EXPECT_EQ(body(db, 0x14000044), "1.0");
        db_close(db);
    }

    write("stub.idx", bytes{'Q', 'E', 'L'});  // shorter than its header: opens empty, takes nothing
    db = open("stub.idx");
    EXPECT_EQ(db_write_text(db, 1, "x"), 0);
    db_close(db);
    EXPECT_EQ(contents("stub.idx").size(), 3u);
}

TEST_F(ClientDb, FindFileMatchesTheIdInEitherFormAndTheLongTextInAnyCase)
{
    write("short.db", short_file(5));
    write("lower.db", long_file(7, {"qeldb-25\0", 9}));
    write("no_nul.db", long_file(8, "QELDB-250"));  // byte 8 must be the NUL
    bytes cut = long_file(6);
    cut.resize(24);
    write("cut.db", cut);
    fs::create_directory("QELDB-25.dir");

    char found[path_capacity];
    ASSERT_NE(db_find_file(found, dir.c_str(), 7), nullptr);
    EXPECT_EQ(fs::path(found), dir / "lower.db");
    ASSERT_NE(db_find_file(found, dir.c_str(), 5), nullptr);
    EXPECT_EQ(fs::path(found), dir / "short.db");
    EXPECT_EQ(db_find_file(found, dir.c_str(), 8), nullptr);
    EXPECT_EQ(db_find_file(found, dir.c_str(), 6), nullptr);
    EXPECT_STREQ(found, "");
}

// ---- copies, rewrites, flags, order ----

TEST_F(ClientDb, TheLastLiveCopyIsCurrentAndForEachGoesByFirstLiveAppearanceReversed)
{
    bytes file = long_file();
    record(file, true, 1, "live first");
    record(file, true, 1, "deleted later", 0x24);
    record(file, true, 2, "deleted first", 0x24);
    record(file, true, 2, "live later");
    record(file, true, 3, "old live");
    record(file, true, 3, "new live");
    write("copies.idx", file);
    client_db* db = open("copies.idx");
    EXPECT_EQ(body(db, 1), "live first");
    EXPECT_EQ(body(db, 2), "live later");
    EXPECT_EQ(body(db, 3), "new live");
    EXPECT_EQ(visit_order(db), (gids{3, 2, 1}));
    db_write_text(db, 2, "a longer body");  // a known gid keeps its place
    db_write_text(db, 5, "new");
    EXPECT_EQ(visit_order(db), (gids{5, 3, 2, 1}));
    db_close(db);
}

// A writer stopped between making its new copy live and marking the old one deleted leaves two
// live copies; the next open for writing marks the earlier one, a read-only open changes nothing.
TEST_F(ClientDb, AWritableOpenMarksSupersededLiveCopiesDeleted)
{
    for (const bool long_form : {true, false}) {
        bytes file = long_form ? long_file() : short_file(main_database_id);
        const std::uint32_t old_copy = record(file, long_form, 7, "old body");
        record(file, long_form, 8, "other");
        record(file, long_form, 7, "the new, longer body");
        write("stopped.idx", file);
        client_db* db = nullptr;
        ASSERT_EQ(db_open_observed("stopped.idx", &db, nullptr, 1), 0);
        db_close(db);
        EXPECT_EQ(contents("stopped.idx"), file);

        db = open("stopped.idx");
        EXPECT_EQ(body(db, 7), "the new, longer body");
        db_close(db);
        bytes expected = file;
        expected[old_copy + record_flags_position(long_form)] |= flag_deleted;
        EXPECT_EQ(contents("stopped.idx"), expected) << (long_form ? "long form" : "short form");
    }
}

TEST_F(ClientDb, SameSizeRewritesInPlaceOtherSizesAppendThenMarkTheOldCopy)
{
    for (bool long_form : {true, false}) {
        bytes file = long_form ? long_file() : short_file(1);
        const std::uint32_t h = long_form ? 26 : 22, flags = long_form ? 13 : 9;
        const std::uint32_t at = record(file, long_form, 0x14000006, "abc");
        write("db.idx", file);
        client_db* db = open("db.idx");
        ASSERT_EQ(db_write_record(db, 0x14000006, "xyz", 3, 'b'), 1);
        EXPECT_EQ(contents("db.idx").size(), file.size());
        ASSERT_EQ(db_write_record(db, 0x14000006, "longer", 6, 'b'), 1);
        db_close(db);

        const bytes after = contents("db.idx");
        ASSERT_EQ(after.size(), file.size() + h + 6);
        EXPECT_EQ(after[at + flags], 0x24) << "old copy marked deleted";
        EXPECT_EQ(after[file.size() + flags], 0x20) << "new copy live";
        EXPECT_EQ(std::string(after.begin() + at + h, after.begin() + at + h + 3), "xyz");
        db = open("db.idx");
        EXPECT_EQ(body(db, 0x14000006), "longer");
        db_close(db);
    }
}

TEST_F(ClientDb, ScrambledBodiesReadPlainAndKindsSetTheirFlags)
{
    bytes file = short_file(1);
    std::string scrambled = "secret";
    for (char& c : scrambled) c = static_cast<char>(c ^ 0xA6);
    const std::uint32_t at = record(file, false, 4, scrambled, 0x22);
    write("s.idx", file);
    client_db* db = open("s.idx");
    const std::string plain = body(db, 4);
    EXPECT_EQ(plain, "secret");
    ASSERT_EQ(db_write_record(db, 4, plain.data(), 6, 'p'), 1);
    EXPECT_EQ(db_write_record(db, 5, "x", 1, 0), 1);
    EXPECT_EQ(db_record_header(db, 5)->kind, 'b');
    db_close(db);
    const bytes after = contents("s.idx");
    EXPECT_EQ(after[at + 9], 0x00) << "written back plain (0x02 clear); kind 'p' leaves 0x20 clear";
    EXPECT_EQ(std::string(after.begin() + at + 22, after.begin() + at + 28), "secret");
    EXPECT_EQ(after[at + 28 + 9], 0x20);
}

// ---- damaged chains ----

TEST_F(ClientDb, ResynchronisesOverGarbageButNotOntoAHeaderWithoutAFollower)
{
    bytes file = long_file();
    record(file, true, 1, "one");
    put(file, "zz\x01");
    bytes decoy;  // a whole header of size 0 whose follower is no header
    record(decoy, true, 77, "");
    put(file, std::string_view(reinterpret_cast<const char*>(decoy.data()), decoy.size()));
    put(file, "junk");
    record(file, true, 2, "two");
    record(file, true, 3, "three");
    write("r.idx", file);
    client_db* db = open("r.idx");
    EXPECT_EQ(script.log, std::vector<std::string>{"Resyncing record"});
    EXPECT_EQ(visit_order(db), (gids{3, 2, 1}));
    EXPECT_EQ(body(db, 2), "two");
    db_close(db);
}

TEST_F(ClientDb, ABadHeaderBeforeTheLastRecordFailsTheOpenAndDeletesTheIndexFile)
{
    bytes file = long_file();
    record(file, true, 1, "one");
    put(file, "garbage");
    record(file, true, 2, "last");
    write("bad.idx", file);
    write("bad.ind", bytes{1});
    client_db* db = nullptr;
    EXPECT_EQ(db_open("bad.idx", &db), 1);
    EXPECT_EQ(db, nullptr);
    EXPECT_FALSE(fs::exists("bad.ind"));
    EXPECT_EQ(db_open("missing.idx", &db), 2);
    EXPECT_EQ(db_open(std::string(257, 'a').c_str(), &db), 2) << "a path longer than 256 characters";
}

TEST_F(ClientDb, TailsCutOffByTheEndOfTheFileAreReplacedByTheNextAppend)
{
    bytes file = long_file();
    record(file, true, 1, "one");
    const auto chain_end = static_cast<std::uint32_t>(file.size());
    bytes torn;
    record(torn, true, 2, "two");
    file.insert(file.end(), torn.begin(), torn.begin() + 11);  // a header cut off
    write("t.idx", file);
    client_db* db = open("t.idx");
    EXPECT_EQ(db_record_count(db), 1u);
    ASSERT_EQ(db_write_text(db, 3, "three"), 1);
    EXPECT_EQ(db_record_header(db, 3)->offset, chain_end);
    EXPECT_EQ(script.log, std::vector<std::string>{"Dropping 11 bytes of a cut record at the end of t.idx"});
    EXPECT_EQ(setup.install_cancelled, 0);
    db_close(db);
    EXPECT_EQ(contents("t.idx").size(), chain_end + 26 + 5);

    file = long_file();
    record(file, true, 1, "one");
    const auto cut_at = record(file, true, 2, std::string(100, 'x'));
    file.resize(cut_at + 26 + 40);  // a body cut off: its entry stays, reading it gives nothing
    write("c.idx", file);
    db = open("c.idx");
    EXPECT_EQ(visit_order(db), (gids{2, 1}));
    char buffer[100];
    EXPECT_EQ(db_read_record(db, 2, buffer, nullptr), nullptr);
    ASSERT_EQ(db_write_text(db, 3, "three"), 1);
    EXPECT_EQ(db_record_header(db, 3)->offset, cut_at);
    EXPECT_EQ(body(db, 2), "(none)");
    db_close(db);
    db = open("c.idx");
    EXPECT_EQ(visit_order(db), (gids{3, 1}));
    EXPECT_EQ(body(db, 3), "three");
    db_close(db);
}

TEST_F(ClientDb, AFileWhoseResynchronisationReadItsCutTailTakesNoRecordAndStopsTheInstall)
{
    bytes file = long_file();
    record(file, true, 1, "one");
    put(file, "zz");
    bytes decoy;  // its follower lies inside the body that the file cuts off
    record(decoy, true, 77, std::string(60, '-'));
    put(file, std::string_view(reinterpret_cast<const char*>(decoy.data()), 26));
    record(file, true, 2, "xxxx");
    const auto cut_at = record(file, true, 3, std::string(100, 'y'));
    file.resize(cut_at + 26 + 80);
    write("h.idx", file);
    client_db* db = open("h.idx");
    EXPECT_EQ(body(db, 2), "xxxx");
    script.log.clear();
    // Refused, and not silently: the log says why and the install stops.
    EXPECT_EQ(db_write_text(db, 9, "x"), 0);
    EXPECT_EQ(script.log, std::vector<std::string>{"Cannot add records to h.idx: its end is damaged"});
    EXPECT_EQ(setup.install_cancelled, 1);
    db_close(db);
    EXPECT_EQ(contents("h.idx"), file) << "not a byte changed";
}

// ---- a database inside another file ----

TEST_F(ClientDb, EmbeddedDatabaseIsReadInPlaceBetweenItsOffsets)
{
    bytes outer(100, 'p');
    bytes inner = long_file(0, {"XXXXXXXXX", 9});  // the file header is not examined
    record(inner, true, 1, "kept");
    record(inner, true, 2, "gone", 0x24);
    outer.insert(outer.end(), inner.begin(), inner.end());
    record(outer, true, 4, "behind the member");
    write("package.bin", outer);

    const int handle = ::open("package.bin", O_RDONLY);
    client_db* db = nullptr;
    ASSERT_EQ(db_open_embedded("IDB\\A.DB", &db, 100, static_cast<std::uint32_t>(inner.size()), handle), 0);
    EXPECT_EQ(visit_order(db), (gids{1}));
    EXPECT_EQ(db_record_header(db, 1)->offset, 125u) << "offsets in the outer file";
    EXPECT_EQ(body(db, 1), "kept");
    EXPECT_EQ(db_write_text(db, 5, "x"), 0) << "only read";
    EXPECT_EQ(db_release(db), 1);
    char first[2];
    EXPECT_EQ(::pread(handle, first, 2, 0), 2) << "the caller's handle stays open";
    ::close(handle);
    EXPECT_EQ(db_release(nullptr), 0);
    EXPECT_EQ(db_close(nullptr), 0);
}

// ---- index file ----

TEST_F(ClientDb, IndexPathReplacesTheExtensionAndIsNoneWithoutOne)
{
    char index[path_capacity];
    db_index_path(index, "C:\\QEL\\IDB\\MAIN.IDX");
    EXPECT_STREQ(index, "C:\\QEL\\IDB\\MAIN.ind");
    db_index_path(index, "/qel/idb.d/main.idx");
    EXPECT_STREQ(index, "/qel/idb.d/main.ind");
    for (const char* none : {"/qel/idb.d/main", "C:\\IDB.X\\MAIN", "main.", "MAIN.IND", "main.ind"}) {
        db_index_path(index, none);
        EXPECT_STREQ(index, "") << none;
    }
    write("main.idx", long_file());
    write("main.ind", bytes{1});
    client_db* db = open("main.idx");
    EXPECT_TRUE(fs::exists("main.ind")) << "only the close deletes it";
    db_close(db);
    EXPECT_FALSE(fs::exists("main.ind"));
}

// ---- disk space ----

TEST_F(ClientDb, FullDisksAreAskedAboutAndGivingUpLeavesTheOldCopyCurrent)
{
    bytes file = long_file();
    record(file, true, 1, "old");
    write("main.idx", file);
    client_db* db = open("main.idx");
    script.room_denials = 2;
    ASSERT_EQ(db_write_text(db, 1, "new and longer"), 1);
    EXPECT_EQ(script.disk_full_asks, 2);
    EXPECT_EQ(script.asked_letter, 'M');
    script.short_writes = 1;
    ASSERT_EQ(db_write_text(db, 2, "body"), 1);
    EXPECT_EQ(script.more_space_asks, 1);
    EXPECT_EQ(setup.install_cancelled, 0);
    const auto length = contents("main.idx").size();
    EXPECT_EQ(length, file.size() + 26 + 14 + 26 + 4) << "no partial chunk left in front of the rewrite";

    script.room_denials = 1;
    script.disk_full_answer = 0;
    EXPECT_EQ(db_write_text(db, 1, "newest"), 0);
    EXPECT_EQ(setup.install_cancelled, 1);
    EXPECT_EQ(setup.offer_low_space_program, 0) << "no low-space program named";
    std::strcpy(setup.low_space_program, "CLEANUP.EXE");
    script.short_writes = 1;
    script.more_space_answer = 0;
    EXPECT_EQ(db_write_text(db, 3, "other"), 0);
    EXPECT_EQ(setup.offer_low_space_program, 1);
    EXPECT_EQ(body(db, 1), "new and longer");
    db_close(db);
    db = open("main.idx");
    EXPECT_EQ(visit_order(db), (gids{2, 1}));
    EXPECT_EQ(body(db, 1), "new and longer");
    db_close(db);
}

// ---- qeldb ----

TEST_F(ClientDb, QeldbShowsHandMadeFilesAsWrittenAndRefusesUnreadableOnes)
{
    bytes long_form = long_file();
    record(long_form, true, 0x14000044, "2.5 \"beta\"", 0x20, 't');
    record(long_form, true, 0x01000002, std::string("\x00\xff", 2), 0x00, 'p');
    write("long.idx", long_form);
    bytes short_form = short_file(0x0102);
    record(short_form, false, 7, "gone", 0x24);
    record(short_form, false, 7, std::string("\xA6\xA7", 2), 0x22);
    write("short.idx", short_form);
    std::ostringstream out, err;
    ASSERT_EQ(qeldb::dump_command("long.idx", false, false, out, err), 0) << err.str();
    EXPECT_EQ(out.str(),
              "long.idx: long form (\"QELDB-25\", 26-byte record headers), database id 0x01000401, 89 bytes, 2 records\n"
              "gid 0x14000044  kind \"t\"  flags 0x20  size 10  offset 25\n  text \"2.5 \\\"beta\\\"\"\n"
              "gid 0x01000002  kind \"p\"  flags 0x00  size 2  offset 61\n  hex 00ff\n");
    out.str("");
    ASSERT_EQ(qeldb::dump_command("short.idx", true, true, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("\"form\": \"short\", \"database_id\": 258"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"offset\": 10, \"status\": \"deleted\", \"text\": \"gone\""), std::string::npos);
    EXPECT_NE(out.str().find("\"offset\": 36, \"status\": \"current\", \"hex\": \"0001\""), std::string::npos);

    bytes file = long_file();
    record(file, true, 5, "first");
    put(file, "??");
    const auto landed = record(file, true, 5, "second");
    record(file, true, 6, "end");
    write("v.idx", file);
    out.str("");
    EXPECT_EQ(qeldb::verify_command("v.idx", out, err), 0);
    EXPECT_NE(out.str().find("bad record header at offset 56, the chain goes on at offset " + std::to_string(landed)),
              std::string::npos) << out.str();
    EXPECT_NE(out.str().find("gid 0x00000005 has 2 live copies, at offsets 25 " + std::to_string(landed)),
              std::string::npos);
    file.resize(file.size() - 29);  // the bad header now stands in front of the last record
    write("v.idx", file);
    EXPECT_EQ(qeldb::verify_command("v.idx", out, err), 1);
    EXPECT_NE(err.str().find("v.idx: not a readable database: bad record header at offset 56"), std::string::npos)
        << err.str();
    EXPECT_EQ(qeldb::dump_command("absent.idx", false, false, out, err), 1);
    EXPECT_NE(err.str().find("absent.idx: cannot be opened for reading (No such file or directory)"),
              std::string::npos);
}

}  // namespace
