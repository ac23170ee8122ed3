// Finding the installed client, on Wine's registry and file system: the string values of the
// registry, the candidate test with its version verdict, and the search of a directory tree.
#include "locate/locate.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "clientdb/client_db.h"
#include "support/log.h"
#include "support/registry.h"
#include "support/run_state.h"
#include "ui/dialogs.h"
#include "window_answerer.h"

namespace fs = std::filesystem;

namespace {

const char* const test_key = "Software\\QelsetupTests\\Locate";

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup = initial_run_state();
        setup.app_instance = GetModuleHandleA(nullptr);
        RegDeleteKeyA(HKEY_CURRENT_USER, test_key);
    }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, test_key); }

    static void set_raw(const char* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, test_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    static std::string read(const char* name)
    {
        char buffer[path_capacity] = "(unread)";
        const LONG result = reg_read_string(HKEY_CURRENT_USER, test_key, name, buffer, sizeof buffer, 0);
        return result == 0 ? std::string(buffer) : "error " + std::to_string(result);
    }
};

// Refuses every right to write, as Windows NT does on HKEY_LOCAL_MACHINE for a user who is no
// administrator.
LONG APIENTRY open_without_write(HKEY root, LPCSTR subkey, DWORD options, REGSAM rights, PHKEY key)
{
    if (rights & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | WRITE_DAC | WRITE_OWNER | DELETE))
        return ERROR_ACCESS_DENIED;
    return RegOpenKeyExA(root, subkey, options, rights, key);
}

TEST_F(Registry, AKeyThatMayOnlyBeReadIsRead)
{
    set_raw("Build", REG_SZ, " 1712.3", 8);
    open_registry_key = open_without_write;
    EXPECT_EQ(read("Build"), " 1712.3");
    EXPECT_EQ(read("build"), " 1712.3");
    open_registry_key = RegOpenKeyExA;
}

TEST_F(Registry, ReadingWithAndWithoutCreating)
{
    char buffer[path_capacity] = "C:\\DEFAULT";
    EXPECT_EQ(reg_read_string(HKEY_CURRENT_USER, test_key, "AppPath", buffer, sizeof buffer, 0), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg_read_string(nullptr, test_key, "AppPath", buffer, sizeof buffer, 1), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(reg_read_string(HKEY_CURRENT_USER, test_key, "AppPath", buffer, sizeof buffer, 1), 0)
        << "a missing key is created with the default as its value";
    EXPECT_STREQ(buffer, "C:\\DEFAULT");
    EXPECT_EQ(read("AppPath"), "C:\\DEFAULT");

    std::strcpy(buffer, "second default");
    EXPECT_EQ(reg_read_string(HKEY_CURRENT_USER, test_key, "Other", buffer, sizeof buffer, 0), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(read("Other"), "error 259") << "nothing is stored without the create flag";
    EXPECT_EQ(reg_read_string(HKEY_CURRENT_USER, test_key, "Other", buffer, sizeof buffer, 1), ERROR_NO_MORE_ITEMS)
        << "the result stays the search's";
    EXPECT_EQ(read("Other"), "second default");
}

TEST_F(Registry, ValuesAreFoundWithoutRegardToCaseAndCopiedAsTextWithinTheBuffer)
{
    set_raw("AppPath", REG_SZ, "D:\\QEL", 7);
    EXPECT_EQ(read("APPPATH"), "D:\\QEL");
    EXPECT_EQ(read("apppath"), "D:\\QEL");

    const char binary[] = {'a', 'b', 'c', '\0', 'x', 'y'};
    set_raw("Raw", REG_BINARY, binary, sizeof binary);
    EXPECT_EQ(read("raw"), "abc") << "any type, up to its first NUL";

    const std::string long_build(40, '7');
    set_raw("Build", REG_SZ, long_build.c_str(), static_cast<DWORD>(long_build.size() + 1));
    char small[16];
    std::memset(small, '#', sizeof small);
    char guard[8];
    std::memset(guard, '#', sizeof guard);
    EXPECT_EQ(reg_read_string(HKEY_CURRENT_USER, test_key, "Build", small, sizeof small, 0), 0);
    EXPECT_EQ(std::string(small), std::string(15, '7')) << "a longer value is cut to the buffer";
    EXPECT_EQ(std::string(guard, sizeof guard), std::string(8, '#'));
}

TEST_F(Registry, LoweringARevisionAsksAndAnyOtherValueIsOverwritten)
{
    ASSERT_EQ(reg_write_string(HKEY_CURRENT_USER, test_key, "Revision", "5.2"), 0);

    auto declined = answer_next_window({click(IDNO)});
    EXPECT_EQ(reg_update_string(HKEY_CURRENT_USER, test_key, "REVISION", "5.1"), 0);
    const answered_window box = declined.get();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, "Qelmora");
    EXPECT_TRUE(box.has_text("There is a newer QEL registered on your system.  Do you still want to over write that newer QEL?"));
    EXPECT_EQ(read("Revision"), "5.2") << "No keeps the newer value";

    auto accepted = answer_next_window({click(IDYES)});
    EXPECT_EQ(reg_update_string(HKEY_CURRENT_USER, test_key, "Revision", "5.1"), 0);
    EXPECT_TRUE(accepted.get().found);
    EXPECT_EQ(read("Revision"), "5.1");

    EXPECT_EQ(reg_update_string(HKEY_CURRENT_USER, test_key, "Revision", "5.3"), 0) << "a newer text: no question";
    EXPECT_EQ(reg_update_string(HKEY_CURRENT_USER, test_key, "Revision", "5.3"), 0) << "an equal text: no question";
    EXPECT_EQ(read("Revision"), "5.3");

    ASSERT_EQ(reg_write_string(HKEY_CURRENT_USER, test_key, "AppPath", "Z:\\NEWER"), 0);
    EXPECT_EQ(reg_update_string(HKEY_CURRENT_USER, test_key, "AppPath", "C:\\QEL"), 0);
    EXPECT_EQ(read("AppPath"), "C:\\QEL") << "only a Revision is protected";
    EXPECT_EQ(reg_update_string(HKEY_CURRENT_USER, test_key, "Fresh", "1"), 0);
    EXPECT_EQ(read("Fresh"), "1");

    RegDeleteKeyA(HKEY_CURRENT_USER, test_key);
    EXPECT_EQ(reg_update_string(HKEY_CURRENT_USER, test_key, "Revision", "4.0"), 0) << "a missing key is created";
    EXPECT_EQ(read("Revision"), "4.0");
}

// Client folders made on the spot: IDB\MAIN.IDX with the version record, and the program file.
class Locate : public ::testing::Test {
protected:
    std::string root;

    void SetUp() override
    {
        setup = initial_run_state();
        setup.app_instance = GetModuleHandleA(nullptr);
        log_flushed = 0;
        root = "D:\\locate_" + std::to_string(GetCurrentProcessId());
        fs::remove_all(root);
        fs::create_directories(root);
        setup.accepted_builds = {2, {132, 133}};
    }
    void TearDown() override
    {
        SetCurrentDirectoryA("C:\\");
        fs::remove_all(root);
    }

    // A client folder below root whose database reports `major`.`minor`, written in `year`.
    std::string make_client(const std::string& name, int major, int minor, bool program = true, WORD year = 2001,
                            WORD second = 0)
    {
        const std::string folder = root + "\\" + name;
        fs::create_directories(folder + "\\IDB");
        const std::string database = folder + "\\IDB\\MAIN.IDX";
        unsigned char header[long_file_header_size];
        const std::uint32_t length = encode_file_header(false, 0x01000401, header);
        std::ofstream(database, std::ios::binary).write(reinterpret_cast<char*>(header), length);
        client_db* db = nullptr;
        EXPECT_EQ(db_open(database.c_str(), &db), 0);
        const unsigned char version[3] = {1, static_cast<unsigned char>(major), static_cast<unsigned char>(minor)};
        EXPECT_EQ(db_write_record(db, 0x14000006, version, sizeof version, 0), 1);
        db_close(db);
        if (program) std::ofstream(folder + "\\ZOVE.EXE") << "MZ";
        set_time(database, year, second);
        return folder;
    }
    static void set_time(const std::string& path, WORD year, WORD second)
    {
        SYSTEMTIME when{};
        when.wYear = year, when.wMonth = 6, when.wDay = 1, when.wHour = 12, when.wSecond = second;
        FILETIME stamp;
        SystemTimeToFileTime(&when, &stamp);
        HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        SetFileTime(file, nullptr, nullptr, &stamp);
        CloseHandle(file);
    }
    std::string log()
    {
        lstrcpynA(setup.target_dir, root.c_str(), path_capacity);
        close_log();
        setup.target_dir[0] = '\0';
        const std::string text = read_file(root + "\\update.log");
        DeleteFileA((root + "\\update.log").c_str());
        return text;
    }
};

TEST_F(Locate, TheVerdictReadsTheVersionRecordAndDeletesTheCompanionIndex)
{
    const std::string accepted = make_client("A", 0x84, 7);
    const std::string database = accepted + "\\IDB\\MAIN.IDX";
    std::ofstream(accepted + "\\IDB\\MAIN.ind") << "stale index";
    EXPECT_EQ(client_db_verdict(database.c_str()), 1);
    EXPECT_FALSE(fs::exists(accepted + "\\IDB\\MAIN.ind"));

    setup.accepted_builds = {1, {0x0584}};
    EXPECT_EQ(client_db_verdict(database.c_str()), 0) << "0x0584 wants minor 5";
    const std::string minor_five = make_client("B", 0x84, 5);
    EXPECT_EQ(client_db_verdict((minor_five + "\\IDB\\MAIN.IDX").c_str()), 1);
    EXPECT_EQ(client_db_verdict((root + "\\nothing\\MAIN.IDX").c_str()), 0);

    const std::string text = log();
    EXPECT_NE(text.find("IAB:Verdict for " + database + " (build 84) = yes"), std::string::npos) << text;
    EXPECT_NE(text.find("IAB:Verdict for " + database + " (build 84) = no"), std::string::npos);
    EXPECT_NE(text.find("IAB:DBO failed on " + root + "\\nothing\\MAIN.IDX"), std::string::npos);
}

TEST_F(Locate, CandidatesCountByTheirDatabaseAndTheLatestAcceptedWins)
{
    const std::string old_one = make_client("OLD", 132, 0, true, 2001);
    const std::string new_one = make_client("NEW", 133, 0, true, 2003);
    const std::string rejected = make_client("REJECTED", 99, 0, true, 2005);
    const std::string timeless = make_client("TIMELESS", 132, 0, true, 1970);  // before every DOS date
    fs::create_directories(root + "\\EMPTY");

    EXPECT_EQ(client_candidate((root + "\\EMPTY").c_str()), 0);
    EXPECT_EQ(client_candidate(old_one.c_str()), 1);
    EXPECT_EQ(client_candidate(rejected.c_str()), 1) << "a database found, whatever its verdict";
    EXPECT_EQ(setup.best_client_dir, old_one);
    EXPECT_EQ(client_candidate(new_one.c_str()), 1);
    EXPECT_EQ(client_candidate(old_one.c_str()), 1);
    EXPECT_EQ(setup.best_client_dir, new_one) << "the later database wins";

    const std::string same_time = make_client("SAME", 133, 0, true, 2003);
    EXPECT_EQ(client_candidate(same_time.c_str()), 1);
    EXPECT_EQ(setup.best_client_dir, new_one) << "an equal time keeps the first found";

    const std::uint32_t best = setup.best_client_time;
    EXPECT_EQ(client_candidate(timeless.c_str()), 1) << "a time of 0 counts as found";
    EXPECT_EQ(setup.best_client_time, best);

    EXPECT_EQ(client_dir_acceptable(old_one.c_str()), 1);
    EXPECT_EQ(setup.best_client_dir, old_one);
    EXPECT_EQ(client_dir_acceptable(rejected.c_str()), 0);
    EXPECT_EQ(client_dir_acceptable(timeless.c_str()), 0) << "never accepted";
    EXPECT_NE(log().find("CFA:Time for " + old_one + "\\IDB\\MAIN.IDX = "), std::string::npos);
}

TEST_F(Locate, TheTreeSearchPrunesBelowClientsAndLeavesOutDottedNames)
{
    // The program file without a database: not a client, and the tree below is searched.
    fs::create_directories(root + "\\T\\PROGRAM_ONLY");
    std::ofstream(root + "\\T\\PROGRAM_ONLY\\ZOVE.EXE") << "MZ";
    fs::rename(make_client("INNER", 132, 0, true, 2002), root + "\\T\\PROGRAM_ONLY\\INNER");
    // Below a client nothing is searched: the newer client there is never seen.
    fs::rename(make_client("OUTER", 132, 0, true, 2001), root + "\\T\\OUTER");
    fs::rename(make_client("HIDDEN", 132, 0, true, 2009), root + "\\T\\OUTER\\HIDDEN");
    // A name starting with '.' is left out.
    fs::rename(make_client("DOTTED", 132, 0, true, 2010), root + "\\T\\.DOTTED");

    setup.best_client_time = 0;
    search_tree((root + "\\T").c_str(), nullptr);
    EXPECT_EQ(setup.best_client_dir, root + "\\T\\PROGRAM_ONLY\\INNER");
}

TEST_F(Locate, TheSearchDialogShowsEachDirectoryAndExitStopsTheSearch)
{
    const std::string client = make_client("SHOWN", 132, 0);
    const HWND dialog = open_dialog(202, search_dialog_proc);
    ASSERT_TRUE(dialog);
    search_tree(client.c_str(), dialog);
    char shown[path_capacity] = "";
    GetDlgItemTextA(dialog, 501, shown, sizeof shown);
    EXPECT_EQ(shown, client);

    // Exit, then Resume in dialog 205: the search goes on.
    auto resumed = answer_next_window({click(407)});
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(403, BN_CLICKED), 0);
    while (resumed.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) pump_messages();
    pump_messages();
    EXPECT_TRUE(resumed.get().found);
    EXPECT_EQ(setup.search_stopped, 0);
    EXPECT_TRUE(IsWindowVisible(dialog)) << "Resume shows the search again";

    auto confirmed = answer_next_window({click(403)});
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(403, BN_CLICKED), 0);
    while (confirmed.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) pump_messages();
    pump_messages();
    EXPECT_TRUE(confirmed.get().found);
    EXPECT_EQ(setup.search_stopped, 1);
    EXPECT_EQ(setup.setup_aborted, 1);
    close_dialog(202);
    EXPECT_NE(log().find("User exit"), std::string::npos);
}

}  // namespace
