// The merge stage on folders of D:: a delivered database that cannot be opened, a user's cancel in
// the middle of the copy, which the stage meets after a pump (here raised by the file layer as the
// second record's body goes out), and a MAIN.IDX that cannot be opened again to add a record.
#include "app/install_stage.h"

#include <algorithm>
#include <string>

#include "clientdb/client_db.h"
#include "install_fixture.h"
#include "ui/gauge.h"

namespace {

db_host cancelling_host;
int bodies_until_cancel;

std::uint32_t write_then_cancel(db_file file, const void* data, std::uint32_t count)
{
    const std::uint32_t written = db_platform_host.write(file, data, count);
    if (count == 30000 && --bodies_until_cancel == 0) setup.install_cancelled = 1;
    return written;
}

// A drive that goes away after MAIN.IDX has been opened `main_opens_left` times.
db_host vanishing_host;
int main_opens_left;

db_file open_until_gone(const char* path, int writable)
{
    const std::string name(path);
    if (name.size() >= 8 && name.compare(name.size() - 8, 8, "MAIN.IDX") == 0 && main_opens_left-- <= 0)
        return no_db_file;
    return db_platform_host.open(path, writable);
}

class Merge : public InstallFixture {
protected:
    void SetUp() override
    {
        InstallFixture::SetUp();
        setup.app_instance = GetModuleHandleA(nullptr);
        register_gauge_class(setup.app_instance);  // dialog 210's bar, as the frame registers it
        std::strcpy(setup.target_dir, base.c_str());
        std::strcpy(setup.merge_db_dir, base.c_str());
        make_file("IDB\\MAIN.IDX", file_header());
        make_file("IDB\\MERGE.DB", file_header());
    }
    void TearDown() override
    {
        db_use_host(nullptr);
        InstallFixture::TearDown();
    }
    static std::string file_header()
    {
        unsigned char bytes[long_file_header_size];
        return std::string(reinterpret_cast<char*>(bytes), encode_file_header(true, main_database_id, bytes));
    }
    // The records of a database file, as gid -> size, read by a fresh open.
    std::vector<std::pair<std::uint32_t, std::uint16_t>> records(const char* relative) const
    {
        std::vector<std::pair<std::uint32_t, std::uint16_t>> found;
        client_db* db = nullptr;
        if (db_open(path(relative).c_str(), &db) != 0) return found;
        db_for_each(db, [](client_db* opened, std::uint32_t gid, std::uint16_t size, void* context) {
            std::uint16_t got = 0;
            void* body = db_read_record(opened, gid, nullptr, &got);
            if (body && got == size) static_cast<decltype(found)*>(context)->push_back({gid, size});
            if (body) free_block(body);
            return 1;
        }, &found);
        db_close(db);
        return found;
    }
};

TEST_F(Merge, CancelDuringTheCopyKeepsWhatWasWritten)
{
    client_db* source = nullptr;
    ASSERT_EQ(db_open(path("IDB\\MERGE.DB").c_str(), &source), 0);
    const std::string body(30000, 'r');
    // Visited newest first: 0x02000005, 04, 03 make more than 64000 bytes, so they go out
    // together, the last read first (03, 04, 05); the cancel comes as 04 is written.
    for (std::uint32_t gid = 0x02000001; gid <= 0x02000005; ++gid)
        ASSERT_EQ(db_write_record(source, gid, body.data(), 30000, 0), 1);
    db_close(source);

    cancelling_host = db_platform_host;
    cancelling_host.write = write_then_cancel;
    bodies_until_cancel = 2;
    db_use_host(&cancelling_host);
    EXPECT_EQ(merge_databases(), 0);
    db_use_host(nullptr);

    EXPECT_EQ(setup.fatal_error, 0);
    const auto kept = records("IDB\\MAIN.IDX");
    EXPECT_EQ(kept, (std::vector<std::pair<std::uint32_t, std::uint16_t>>{
                        {0x02000004, 30000}, {0x02000003, 30000}, {0x140000D1, 4}}))
        << "the mark, the batch's first record and the one written as the cancel came";
    EXPECT_TRUE(exists("IDB\\MERGE.DB")) << "a cancelled merge keeps the delivered database";
    const std::vector<std::string> lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Wrote GID 33554435 (size 30000)"), 1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("Wrote GID", 0) == 0; }), 2);
}

TEST_F(Merge, MainDatabaseLostAsARecordGoesInStopsWithItsError)
{
    client_db* source = nullptr;
    ASSERT_EQ(db_open(path("IDB\\MERGE.DB").c_str(), &source), 0);
    for (std::uint32_t gid = 0x02000001; gid <= 0x02000003; ++gid)
        ASSERT_EQ(db_write_record(source, gid, "record", 6, 0), 1);
    db_close(source);

    // Opened by the stage, opened again for the installed mark, then gone for good.
    vanishing_host = db_platform_host;
    vanishing_host.open = open_until_gone;
    main_opens_left = 2;
    db_use_host(&vanishing_host);
    EXPECT_EQ(merge_databases(), 0) << "a merge that wrote nothing is no success";
    db_use_host(nullptr);

    EXPECT_EQ(setup.fatal_error, 22);
    EXPECT_TRUE(exists("IDB\\MERGE.DB")) << "the delivered database stays for a re-run";
    const std::vector<std::string> lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Lost " + path("IDB\\MAIN.IDX") + ": it could not be opened again"), 1);
    EXPECT_LE(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("Failed to write GID", 0) == 0; }), 1)
        << "the copy stops at the first write that found the file lost";
    EXPECT_EQ(records("IDB\\MAIN.IDX"), (std::vector<std::pair<std::uint32_t, std::uint16_t>>{{0x140000D1, 4}}));
}

TEST_F(Merge, DeliveredDatabaseThatCannotBeOpenedIsPassedBy)
{
    // Held by another program without sharing: neither opened nor deleted, and no error.
    const HANDLE held = CreateFileA(path("IDB\\MERGE.DB").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    setup.db_version = 0x0203;
    const int result = merge_databases();
    CloseHandle(held);
    EXPECT_EQ(result, 0) << "the main database has no version record to stamp";
    EXPECT_EQ(setup.fatal_error, 24);
    const std::vector<std::string> lines = logged();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Couldn't open old db");
    EXPECT_EQ(records("IDB\\MAIN.IDX"), (std::vector<std::pair<std::uint32_t, std::uint16_t>>{{0x140000D1, 4}}));
}

}  // namespace
