// The merge stage on folders of D:: a delivered database that cannot be opened, a user's cancel in
// the middle of the copy (raised by the file layer as a batch goes out, or queued as a message and
// met at a pump, within half a second), the gauge at its end, and a MAIN.IDX that cannot be opened
// again to add a record.
#include "app/install_stage.h"

#include <algorithm>
#include <string>

#include "clientdb/client_db.h"
#include "install_fixture.h"
#include "ui/gauge.h"

namespace {

db_host cancelling_host;

// The cancel comes as the first batch goes out (its first 32768-byte write).
std::uint32_t write_then_cancel(db_file file, const void* data, std::uint32_t count)
{
    const std::uint32_t written = db_platform_host.write(file, data, count);
    if (count == 32768) setup.install_cancelled = 1;
    return written;
}

// The user's Cancel as a message to a window of the test's own: it sets the flag when a pump
// dispatches it, as the install dialog's button does. The file layer posts it at a flush.
HWND cancel_window;
int flushes_until_cancel;
LARGE_INTEGER cancel_posted_at;

LRESULT CALLBACK cancel_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_APP) {
        setup.install_cancelled = 1;
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int flush_then_post_cancel(db_file file)
{
    const int flushed = db_platform_host.flush(file);
    if (--flushes_until_cancel == 0) {
        PostMessageA(cancel_window, WM_APP, 0, 0);
        QueryPerformanceCounter(&cancel_posted_at);
    }
    return flushed;
}

// Where the merge dialog's gauge stands as MAIN.IDX is closed at the end (its index file deleted).
std::uint32_t gauge_position_at_close, gauge_range_at_close;

BOOL CALLBACK read_gauge_of(HWND window, LPARAM)
{
    if (const HWND gauge = dialog_gauge(window)) {
        gauge_position_at_close = static_cast<std::uint32_t>(GetWindowLongA(gauge, gauge_position_offset));
        gauge_range_at_close = static_cast<std::uint32_t>(GetWindowLongA(gauge, gauge_range_offset));
    }
    return TRUE;
}

void remove_reading_the_gauge(const char* path)
{
    EnumThreadWindows(GetCurrentThreadId(), read_gauge_of, 0);
    db_platform_host.remove(path);
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
    // together, the last read first (03, 04, 05); the cancel comes as they are written.
    for (std::uint32_t gid = 0x02000001; gid <= 0x02000005; ++gid)
        ASSERT_EQ(db_write_record(source, gid, body.data(), 30000, 0), 1);
    db_close(source);

    cancelling_host = db_platform_host;
    cancelling_host.write = write_then_cancel;
    db_use_host(&cancelling_host);
    EXPECT_EQ(merge_databases(), 0);
    db_use_host(nullptr);

    EXPECT_EQ(setup.fatal_error, 0);
    const auto kept = records("IDB\\MAIN.IDX");
    EXPECT_EQ(kept, (std::vector<std::pair<std::uint32_t, std::uint16_t>>{
                        {0x02000005, 30000}, {0x02000004, 30000}, {0x02000003, 30000}, {0x140000D1, 4}}))
        << "the mark and the batch that was going out as the cancel came, not the next one";
    EXPECT_TRUE(exists("IDB\\MERGE.DB")) << "a cancelled merge keeps the delivered database";
    const std::vector<std::string> lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Wrote GID 33554435 (size 30000)"), 1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("Wrote GID", 0) == 0; }), 3);
}

// 50,000 delivered records: a Cancel queued in the middle of the copy ends the stage within
// 0.5 s; merged whole, the gauge ends exactly at its range.
TEST_F(Merge, ACancelTakesEffectWithinHalfASecondAndAWholeMergeEndsTheGaugeAtItsRange)
{
    constexpr std::uint32_t delivered = 50000;
    std::string merge_db = file_header();
    for (std::uint32_t i = 0; i < delivered; ++i) {
        const std::uint16_t size = static_cast<std::uint16_t>(16 + i * 37 % 200);
        unsigned char header[long_record_header_size];
        encode_record_header({record_magic, 0x02000000 + i, size, kind_binary, flag_kind_mark, 0, 0,
                              static_cast<std::uint32_t>(merge_db.size())}, true, header);
        merge_db.append(reinterpret_cast<char*>(header), sizeof header);
        merge_db.append(size, static_cast<char>('a' + i % 26));
    }
    make_file("IDB\\MERGE.DB", merge_db);
    // The log as a normal run keeps it, in memory until it is closed: in crash mode every one of
    // the 50,000 lines would open and close the file.
    setup.crash_mode = 0;

    WNDCLASSA window_class{};
    window_class.lpfnWndProc = cancel_window_proc;
    window_class.hInstance = setup.app_instance;
    window_class.lpszClassName = "QelMergeCancel";
    RegisterClassA(&window_class);
    cancel_window = CreateWindowA("QelMergeCancel", "", 0, 0, 0, 0, 0, nullptr, nullptr, setup.app_instance, nullptr);
    ASSERT_NE(cancel_window, nullptr);
    db_host posting_host = db_platform_host;
    posting_host.flush = flush_then_post_cancel;
    flushes_until_cancel = 4;  // two batches in (new records: two flushes a batch)
    db_use_host(&posting_host);
    EXPECT_EQ(merge_databases(), 0);
    LARGE_INTEGER ended, frequency;
    QueryPerformanceCounter(&ended);
    QueryPerformanceFrequency(&frequency);
    db_use_host(nullptr);
    DestroyWindow(cancel_window);
    UnregisterClassA("QelMergeCancel", setup.app_instance);

    ASSERT_LE(flushes_until_cancel, 0) << "the cancel was posted";
    const double seconds = double(ended.QuadPart - cancel_posted_at.QuadPart) / double(frequency.QuadPart);
    EXPECT_LT(seconds, 0.5) << "from the Cancel queued to the stage's end";
    const std::size_t kept = records("IDB\\MAIN.IDX").size();
    EXPECT_GT(kept, 500u) << "the batches before the cancel are in";
    EXPECT_LT(kept, delivered) << "the cancel stopped the copy";

    // Again, to its end: the gauge stands at its range as the stage closes MAIN.IDX.
    make_file("IDB\\MAIN.IDX", file_header());
    setup.install_cancelled = 0;
    db_host reading_host = db_platform_host;
    reading_host.remove = remove_reading_the_gauge;
    db_use_host(&reading_host);
    EXPECT_EQ(merge_databases(), 1);
    db_use_host(nullptr);
    EXPECT_EQ(gauge_range_at_close, delivered);
    EXPECT_EQ(gauge_position_at_close, delivered);
    EXPECT_EQ(records("IDB\\MAIN.IDX").size(), delivered + 1);
    close_log();
    setup.crash_mode = 1;
}

TEST_F(Merge, MainDatabaseLostAsARecordGoesInStopsWithItsError)
{
    client_db* source = nullptr;
    ASSERT_EQ(db_open(path("IDB\\MERGE.DB").c_str(), &source), 0);
    // Two batches: 05, 04, 03 (more than 64000 bytes), then 02 and 01.
    const std::string body(30000, 'r');
    for (std::uint32_t gid = 0x02000001; gid <= 0x02000005; ++gid)
        ASSERT_EQ(db_write_record(source, gid, body.data(), 30000, 0), 1);
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
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("Failed to write GID", 0) == 0; }), 3)
        << "the copy stops at the first batch that found the file lost";
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
