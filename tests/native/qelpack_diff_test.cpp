// qelpack diff: two client trees into an update's manifest, files and MERGE.DB, and every bad
// input refused with one line and nothing left behind.
#include "diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "clientdb/client_db.h"
#include "qeldb.h"
#include "qelpack.h"

namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "(missing)";
}

void write_text(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

qeldb::byte_buffer bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// The current records of a database: gid -> kind and body.
std::map<std::uint32_t, std::pair<char, std::string>> records_of(const fs::path& path)
{
    std::map<std::uint32_t, std::pair<char, std::string>> records;
    client_db* db = nullptr;
    if (db_open_observed(path.string().c_str(), &db, nullptr, 1) != 0) return records;
    db_for_each(
        db,
        [](client_db* db, std::uint32_t gid, std::uint16_t size, void* context) -> int {
            std::string body(size + 1u, '\0');
            db_read_record(db, gid, body.data(), nullptr);
            body.resize(size);
            (*static_cast<decltype(records)*>(context))[gid] = {static_cast<char>(db_record_header(db, gid)->kind), body};
            return 1;
        },
        &records);
    db_close(db);
    return records;
}

class QelpackDiff : public ::testing::Test {
protected:
    fs::path dir;
    std::ostringstream out, err;

    void SetUp() override
    {
        char name[] = "/tmp/qelpack-diff-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        // OLD: build 3010 (0xC2, 0x0B); NEW: version 204.11.
        for (const char* tree : {"old", "new"}) {
            fs::create_directories(dir / tree / "IDB");
            ASSERT_EQ(qeldb::create_command((dir / tree / "IDB" / "MAIN.IDX").string(), 0x01000401, false, out, err), 0);
        }
        put("old", 0x14000006, std::string("\0\xC2\x0B", 3));
        put("new", 0x14000006, std::string("\0\xCC\x0B", 3));
    }
    void TearDown() override { fs::remove_all(dir); }

    void put(const char* tree, std::uint32_t gid, const std::string& body, char kind = 'b')
    {
        ASSERT_EQ(qeldb::put_command((dir / tree / "IDB" / "MAIN.IDX").string(), gid, bytes_of(body), kind, out, err), 0);
    }
    int diff(const std::string& base = {}, bool json = false, const std::string& output = "update")
    {
        out.str(""), err.str("");
        diff_request request{(dir / "old").string(), (dir / "new").string(), (dir / output).string(), base, json};
        return diff_command(request, out, err);
    }
    // A refusal: exit 1, one line naming `path`, no output folder and nothing half-made beside it.
    void expect_refused(const std::string& path, const std::string& reason, const std::string& output = "update")
    {
        EXPECT_EQ(diff({}, false, output), 1) << reason;
        const std::string message = err.str();
        EXPECT_NE(message.find(path), std::string::npos) << reason << ": " << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << reason << ": " << message;
        EXPECT_FALSE(fs::exists(dir / output)) << reason;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << reason;
    }
};

TEST_F(QelpackDiff, FilesRecordsAndVersionsOfTwoTrees)
{
    write_text(dir / "old/ZOVE.EXE", "same program");
    write_text(dir / "new/ZOVE.EXE", "same program");
    write_text(dir / "old/data/maps/m1.dat", "old map");
    write_text(dir / "new/data/maps/m1.dat", "new map, longer");
    write_text(dir / "new/data/maps/m2.dat", "added map");
    write_text(dir / "old/data/retired.dat", "gone in NEW");
    write_text(dir / "old/help.txt", "gone too");
    put("old", 0x02000001, "same");
    put("new", 0x02000001, "same");
    put("old", 0x02000002, "old body");
    put("new", 0x02000002, "new body");
    put("new", 0x02000003, "added");
    put("old", 0x02000004, "same body");
    put("new", 0x02000004, "same body", 't');  // only its kind differs
    put("old", 0x02000005, "removed in NEW");
    put("new", 0x14000044, "3.1.9", 't');  // stamped by the merge itself
    put("new", 0x02000006, "");

    ASSERT_EQ(diff(), 0) << err.str();
    const fs::path update = dir / "update";
    const std::string manifest = read_text(update / "manifest.ini");
    for (const char* line : {"db_version = 204.11\n", "[accepted_builds]\n3010\n", "data\\maps\\m1.dat = files/data/maps/m1.dat\n",
                             "data\\maps\\m2.dat = files/data/maps/m2.dat\n", "IDB\\MERGE.DB = files/IDB/MERGE.DB\n",
                             "[target_dir_deletions]\ndata\\retired.dat\nhelp.txt\n"})
        EXPECT_NE(manifest.find(line), std::string::npos) << line << "\n" << manifest;
    EXPECT_EQ(manifest.find("ZOVE.EXE"), std::string::npos) << "unchanged";
    EXPECT_EQ(manifest.find("MAIN.IDX"), std::string::npos);
    EXPECT_EQ(read_text(update / "files/data/maps/m1.dat"), "new map, longer");

    const auto delivered = records_of(update / "files/IDB/MERGE.DB");
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered.at(0x02000002).second, "new body");
    EXPECT_EQ(delivered.at(0x02000003).second, "added");
    EXPECT_EQ(delivered.at(0x02000004), std::make_pair('t', std::string("same body")));

    const std::string summary = out.str();
    EXPECT_NE(summary.find("record 0x02000005 is in OLD but not in NEW"), std::string::npos) << summary;
    EXPECT_NE(summary.find("record 0x02000006 is empty in NEW"), std::string::npos) << summary;
    EXPECT_NE(summary.find("1 added, 1 changed, 2 deleted"), std::string::npos) << summary;
    EXPECT_NE(summary.find("record 0x02000004 has kind 't' in NEW: the merge writes it with kind 'b'"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("3 records delivered; 3 warnings"), std::string::npos) << summary;

    // The same as one JSON document; and the manifest builds.
    ASSERT_EQ(diff({}, true, "update-json"), 0) << err.str();
    EXPECT_NE(out.str().find("\"records_delivered\": 3"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"deletions\": [\"data\\\\retired.dat\", \"help.txt\"]"), std::string::npos) << out.str();
    EXPECT_EQ(build_command({(update / "manifest.ini").string(), (dir / "u.pkg").string(), {}, true}, out, err), 0)
        << err.str();
}

TEST_F(QelpackDiff, TheBaseGivesTextsAndRulesAndItsEntriesWin)
{
    write_text(dir / "old/QELPREFS.INI", "user's settings");
    write_text(dir / "new/QELPREFS.INI", "new defaults");
    write_text(dir / "new/qelmac.dll", "a system library");
    write_text(dir / "old/notes.txt", "old notes");
    write_text(dir / "new/notes.txt", "new notes");
    write_text(dir / "new/SYSTEM/x.dll", "under SYSTEM");
    write_text(dir / "base/own-notes.txt", "the base's own notes");
    write_text(dir / "base/base.ini",
               "[package]\nproduct_name = Qelmora Update\ndb_version = 205.11\n\n[accepted_builds]\n3010, 3011\n\n"
               "[rules]\n*.INI = preserved\n*.DLL = system\n\n[members]\nnotes.txt = own-notes.txt\n");
    const std::string base = (dir / "base/base.ini").string();
    ASSERT_EQ(diff(base), 0) << err.str();
    const std::string manifest = read_text(dir / "update/manifest.ini");
    for (const std::string& line : std::vector<std::string>{"product_name = Qelmora Update\n", "db_version = 205.11\n", "3010, 3011\n",
                                   "[rename_list]\nQELPREFS.INI =\n", "system\\qelmac.dll = files/qelmac.dll\n",
                                   "system\\x.dll = files/SYSTEM/x.dll\n",
                                   "notes.txt = " + (dir / "base/own-notes.txt").string() + "\n"})
        EXPECT_NE(manifest.find(line), std::string::npos) << line << "\n" << manifest;
    EXPECT_EQ(manifest.find("db_version = 204.11"), std::string::npos);
    EXPECT_EQ(manifest.find("[rules]"), std::string::npos);
    EXPECT_EQ(manifest.find("files/notes.txt"), std::string::npos) << "the base's entry wins";
    EXPECT_EQ(build_command({(dir / "update/manifest.ini").string(), (dir / "u.pkg").string(), {}, true}, out, err), 0)
        << err.str();

    // Without a rule, a file under SYSTEM cannot be a plain member.
    write_text(dir / "base/plain.ini", "[package]\nproduct_name = X\n");
    EXPECT_EQ(diff((dir / "base/plain.ini").string(), false, "update2"), 1);
    EXPECT_NE(err.str().find("x.dll"), std::string::npos) << err.str();
}

TEST_F(QelpackDiff, AProgressLineCountsTheFilesCompared)
{
    for (int i = 0; i < 120; ++i) write_text(dir / "new" / ("F" + std::to_string(i) + ".DAT"), std::to_string(i));
    diff_request request{(dir / "old").string(), (dir / "new").string(), (dir / "update").string(), {}, false, true};
    ASSERT_EQ(diff_command(request, out, err), 0) << err.str();
    // 121 files with MAIN.IDX, each count over the last on the same line.
    EXPECT_EQ(err.str(), "\rcomparing files: 50 of 121\rcomparing files: 100 of 121\rcomparing files: 121 of 121\n");
}

TEST_F(QelpackDiff, BadInputIsRefusedWithOneLineAndNothingWritten)
{
    expect_refused((dir / "new").string(), "NEW equal to OLD: nothing to update");
    write_text(dir / "new/data/a.dat", "added");

    expect_refused((dir / "new").string(), "OUTDIR inside NEW", "new/update");
    write_text(dir / "old/data/x*.dat", "a wildcard in a name to delete");
    expect_refused("x*.dat", "a wildcard");
    fs::remove(dir / "old/data/x*.dat");
    // A name to delete takes at most 127 bytes in the package.
    const fs::path long_name = dir / "old" / (std::string(130, 'n') + ".dat");
    write_text(long_name, "too long a name");
    expect_refused(std::string(130, 'n'), "a name past the package's limit");
    fs::remove(long_name);

    write_text(dir / "new/IDB/MAIN.IDX", "QELDB-25" + std::string(17, '\0') + "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXX");
    expect_refused((dir / "new/IDB/MAIN.IDX").string(), "a damaged MAIN.IDX");
    fs::remove_all(dir / "old");
    expect_refused((dir / "old").string(), "OLD missing");

    write_text(dir / "update/left.txt", "something already there");
    EXPECT_EQ(diff(), 1);
    EXPECT_EQ(read_text(dir / "update/left.txt"), "something already there");
}

}  // namespace
