// The client database on SETUP.EXE's own file services: the 16-bit-compatible file calls, the
// directory listing, duplicated handles, the index file, the free-space query and the retry
// boxes 34400 and 34050, answered as a user would answer them.
#include "clientdb/client_db.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "support/memory.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "window_answerer.h"

namespace {

class ClientDbWin32 : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        setup = initial_run_state();
        setup.app_instance = GetModuleHandleA(nullptr);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir = std::string(temp) + "clientdb_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    void TearDown() override
    {
        db_use_host(nullptr);
        for (const char* name : {"\\MAIN.IDX", "\\MAIN.ind", "\\OTHER.DB", "\\PACKAGE.BIN"})
            DeleteFileA((dir + name).c_str());
        RemoveDirectoryA(dir.c_str());
    }

    std::string make_file(const char* name, const std::string& content)
    {
        HFILE file = _lcreat((dir + name).c_str(), 0);
        _lwrite(file, content.data(), static_cast<UINT>(content.size()));
        _lclose(file);
        return dir + name;
    }
    static std::string file_header(bool long_form, std::uint32_t id)
    {
        unsigned char bytes[long_file_header_size];
        return std::string(reinterpret_cast<char*>(bytes), encode_file_header(long_form, id, bytes));
    }
    static std::string text(client_db* db, std::uint32_t gid)
    {
        char* body = static_cast<char*>(db_read_record(db, gid, nullptr, nullptr));
        const std::string copy = body ? body : "(none)";
        if (body) free_block(body);
        return copy;
    }
};

TEST_F(ClientDbWin32, FindsWritesAndReopensAndDeletesTheIndexFile)
{
    make_file("\\OTHER.DB", file_header(false, 0x99));
    const std::string path = make_file("\\MAIN.IDX", file_header(true, main_database_id));
    char found[path_capacity];
    ASSERT_NE(db_find_file(found, dir.c_str(), main_database_id), nullptr);
    EXPECT_STREQ(found, path.c_str());

    make_file("\\MAIN.ind", "x");
    client_db* db = nullptr;
    ASSERT_EQ(db_open(path.c_str(), &db), 0);
    EXPECT_EQ(db_write_text(db, 0x14000044, "1.0"), 1);
    EXPECT_EQ(db_write_text(db, 0x14000044, "1.0.1"), 1);
    db_close(db);
    EXPECT_EQ(GetFileAttributesA((dir + "\\MAIN.ind").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(db_open(path.c_str(), &db), 0);
    EXPECT_EQ(text(db, 0x14000044), "1.0.1");
    EXPECT_EQ(db_record_header(db, 0x14000044)->offset, 25u + 26 + 3);
    db_close(db);
}

TEST_F(ClientDbWin32, EmbeddedDatabaseReadsThroughADuplicateOfTheCallersHandle)
{
    unsigned char header[long_record_header_size];
    const record_header record{record_magic, 7, 6, kind_text, flag_kind_mark, 0, 0, 325};
    const std::string path = make_file("\\PACKAGE.BIN", std::string(300, 'p') + file_header(true, 0) +
                                           std::string(reinterpret_cast<char*>(header),
                                                       encode_record_header(record, true, header)) +
                                           "inside");
    HFILE handle = _lopen(path.c_str(), OF_READ);
    client_db* db = nullptr;
    ASSERT_EQ(db_open_embedded("IDB\\MERGE.DB", &db, 300, 57, handle), 0);
    EXPECT_EQ(text(db, 7), "inside");
    EXPECT_EQ(db_release(db), 1);
    char first = 0;
    EXPECT_EQ(_llseek(handle, 0, FILE_BEGIN), 0) << "the caller's handle stays open";
    EXPECT_EQ(_lread(handle, &first, 1), 1u);
    EXPECT_EQ(first, 'p');
    _lclose(handle);
}

// The answers of has_room and the short writes come from the test; the boxes are the program's.
int room_denials;
int short_writes;

TEST_F(ClientDbWin32, FullDisksShowTheRetryBoxesAndCancelGivesUp)
{
    EXPECT_EQ(drive_has_room(dir[0] - 'A', 0), 1);
    int missing = 25;
    while (missing > 2 && (GetLogicalDrives() & (1u << missing))) --missing;
    EXPECT_EQ(drive_has_room(missing, 0), 0) << "a drive that is not there";

    static db_host host = db_platform_host;
    host.has_room = [](const char*, char, std::uint32_t) { return room_denials-- > 0 ? 0 : 1; };
    host.write = [](db_file file, const void* data, std::uint32_t count) {
        return db_platform_host.write(file, data, short_writes-- > 0 ? count / 2 : count);
    };
    db_use_host(&host);
    std::string path = make_file("\\MAIN.IDX", file_header(true, main_database_id));
    path[0] = static_cast<char>(path[0] | 0x20);  // the box names the drive in upper case
    client_db* db = nullptr;
    ASSERT_EQ(db_open(path.c_str(), &db), 0);

    room_denials = 1;
    auto retry = answer_next_window({click(IDRETRY)});
    EXPECT_EQ(db_write_text(db, 1, "first"), 1);
    const answered_window box = retry.get();
    EXPECT_EQ(box.caption, "Setup");
    EXPECT_TRUE(box.has_text(std::string("There is not enough disk space to continue!\n\nPlease delete one or more "
                                         "files from drive ") +
                             static_cast<char>(path[0] & ~0x20) + ": and then select Retry to continue."))
        << box.text_of(-1);

    short_writes = 1;
    auto more = answer_next_window({click(IDRETRY)});
    EXPECT_EQ(db_write_text(db, 2, "second"), 1);
    EXPECT_TRUE(more.get().has_text(
        "Setup needs more disk space.\n\nPlease make more space available and select 'Retry' below."));

    std::strcpy(setup.low_space_program, "CLEANUP.EXE");
    room_denials = 1;
    auto cancel = answer_next_window({click(IDCANCEL)});
    EXPECT_EQ(db_write_text(db, 1, "replacement"), 0);
    cancel.get();
    EXPECT_EQ(setup.install_cancelled, 1);
    EXPECT_EQ(setup.offer_low_space_program, 1);
    db_close(db);
    ASSERT_EQ(db_open(path.c_str(), &db), 0);
    EXPECT_EQ(text(db, 1), "first");
    EXPECT_EQ(text(db, 2), "second");
    db_close(db);
}

}  // namespace
