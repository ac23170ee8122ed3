// The install stage on packages made by qelpack (tests/win32/install_packages.sh): every rule,
// the unzip library's placing and choice, the gauge, the current-file text, cancel, and damaged
// members. A thread-local message hook records what the progress dialog is sent, so the gauge
// and the texts are checked exactly; it also clicks Cancel at a chosen member, as a user would.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "install/install_loop.h"
#include "package/package_reader.h"
#include "resource_ids.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "ui/gauge.h"
#include "window_answerer.h"

namespace fs = std::filesystem;

namespace {

const std::string packages = "D:\\install_packages\\";

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return "(missing)";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The temporary archives in a folder, by name.
std::vector<std::string> archives_in(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\dec*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// 2026-01-02 03:04:06 UTC, the time of the package's if-newer sources that are not newer.
void set_source_time(const std::string& path)
{
    SYSTEMTIME moment{2026, 1, 5, 2, 3, 4, 6, 0};
    FILETIME time;
    SystemTimeToFileTime(&moment, &time);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

struct gauge_event {
    UINT message;
    LPARAM value;
};

// What the hook saw, and when it clicks Cancel.
struct watch {
    std::vector<gauge_event> gauge;
    std::vector<std::string> texts;
    std::string cancel_at_text;        // Cancel is clicked when the current file shows this
    std::function<void()> on_cancel;   // starts the answers to what the click brings up
    std::string answer_at_text;        // when the current file shows this, on_text runs
    std::function<void()> on_text;
} watched;

LRESULT CALLBACK record_call(int code, WPARAM wparam, LPARAM lparam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
    char class_name[32] = "";
    GetClassNameA(call->hwnd, class_name, sizeof class_name);
    if ((call->message == GAUGE_SETPOS || call->message == GAUGE_SETRANGE) && !lstrcmpA(class_name, GAUGE_CLASS))
        watched.gauge.push_back({call->message, call->lParam});
    if (call->message == WM_SETTEXT && GetDlgCtrlID(call->hwnd) == CTL_TEXT) {
        watched.texts.emplace_back(reinterpret_cast<const char*>(call->lParam));
        if (!watched.answer_at_text.empty() && watched.texts.back() == watched.answer_at_text) {
            watched.answer_at_text.clear();
            watched.on_text();
        }
        if (!watched.cancel_at_text.empty() && watched.texts.back() == watched.cancel_at_text) {
            watched.cancel_at_text.clear();
            if (watched.on_cancel) watched.on_cancel();
            PostMessageA(GetParent(call->hwnd), WM_COMMAND, MAKEWPARAM(BTN_CANCEL, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

struct outcome {
    int result;
    std::string log;
};

class InstallTest : public testing::Test {
protected:
    std::string target;
    // Every current-file text is put up unless a test paces them.
    std::uint32_t screen_pace_ms = 0;

    void SetUp() override
    {
        static bool registered = register_gauge_class(GetModuleHandleA(nullptr));
        ASSERT_TRUE(registered);
        use_system_code_page();
        target = "D:\\install_test\\" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name());
        fresh_target();
        watched = {};
    }

    // install_files works from inside the target, and Windows keeps a current directory.
    void remove_target()
    {
        SetCurrentDirectoryA("C:\\");
        fs::remove_all(target);
    }
    void fresh_target()
    {
        remove_target();
        fs::create_directories(target);
    }

    // Reads the package, installs it into `target`, and gives the result and the log.
    outcome install(const std::string& package, bool chained = false)
    {
        setup = initial_run_state();
        log_flushed = 0;
        setup.app_instance = GetModuleHandleA(nullptr);
        GetWindowsDirectoryA(setup.windows_dir, path_capacity);
        lstrcpynA(setup.package_file, (packages + package).c_str(), path_capacity);
        setup.chained_run = chained;
        setup.screen_pace_ms = screen_pace_ms;
        EXPECT_TRUE(open_package() && read_package()) << "fatal " << setup.fatal_error;
        lstrcpynA(setup.target_dir, target.c_str(), path_capacity);
        HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, record_call, nullptr, GetCurrentThreadId());
        const int result = install_files();
        UnhookWindowsHookEx(hook);
        close_package();
        close_log();
        return {result, read_file(target + "\\update.log")};
    }

    std::string source(const std::string& name) { return read_file(packages + "src\\" + name); }
    std::string installed(const std::string& name) { return read_file(target + "\\" + name); }
};

// If newer: the staged copy is deleted in every case, and one that cannot be deleted (held open
// without delete sharing) leaves the result of the copy standing.
TEST(InstallIfNewer, AStagedCopyThatCannotBeDeletedDoesNotUndoTheInstall)
{
    const std::string folder = "D:\\if_newer_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string staged = folder + "\\staged.ini", destination = folder + "\\qel.ini";
    std::ofstream(destination, std::ios::binary) << "old";
    std::ofstream(staged, std::ios::binary) << "new";
    HANDLE file = CreateFileA(staged.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME later;
    SYSTEMTIME when{2030, 1, 0, 2, 3, 4, 6, 0};
    SystemTimeToFileTime(&when, &later);
    SetFileTime(file, nullptr, nullptr, &later);
    ASSERT_FALSE(DeleteFileA(staged.c_str())) << "the open handle shares no delete";

    EXPECT_EQ(install_if_newer(staged.c_str(), destination.c_str()), 1);
    CloseHandle(file);
    std::ifstream in(destination, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
    in.close();
    EXPECT_EQ(install_if_newer(staged.c_str(), destination.c_str()), 1) << "not newer: kept, and the copy deleted";
    EXPECT_EQ(GetFileAttributesA(staged.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(destination.c_str());
    RemoveDirectoryA(folder.c_str());
}

// The system rule likewise: a staged copy held open is no failure, whether the file went into
// SYSTEM or one there was retained.
TEST(InstallSystemFile, AStagedCopyThatCannotBeDeletedDoesNotFailTheRule)
{
    const std::string folder = "D:\\system_rule_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\SYSTEM").c_str(), nullptr);
    const std::string saved_windows_dir = setup.windows_dir;
    std::strcpy(setup.windows_dir, folder.c_str());
    auto held_copy = [](const std::string& path) {
        std::ofstream(path, std::ios::binary) << "new";
        return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };

    const std::string staged = folder + "\\QELSYS01.DLL";
    HANDLE file = held_copy(staged);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(install_system_file(staged.c_str()), 1) << "copied into SYSTEM";
    CloseHandle(file);
    std::ifstream in(folder + "\\SYSTEM\\QELSYS01.DLL", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
    in.close();

    // A name the system folder holds already: retained.
    const std::string retained = folder + "\\kernel32.dll";
    file = held_copy(retained);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(install_system_file(retained.c_str()), 1) << "retained";
    CloseHandle(file);
    EXPECT_EQ(GetFileAttributesA((folder + "\\SYSTEM\\kernel32.dll").c_str()), INVALID_FILE_ATTRIBUTES);

    std::strcpy(setup.windows_dir, saved_windows_dir.c_str());
    for (const char* name : {"\\SYSTEM\\QELSYS01.DLL", "\\QELSYS01.DLL", "\\kernel32.dll"}) DeleteFileA((folder + name).c_str());
    RemoveDirectoryA((folder + "\\SYSTEM").c_str());
    RemoveDirectoryA(folder.c_str());
}

// The unpacked file's size check: a file that is there counts whether or not another program
// holds it open, and a missing one is not an empty member. Both ways of asking agree: the one
// kernel32 may lack (GetFileAttributesExA) and the directory listing taken without it.
TEST(UnpackedSize, AFileThatIsThereCountsAndNothingElseDoes)
{
    const std::string folder = "D:\\unpacked_size_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    std::ofstream(folder + "\\five.txt", std::ios::binary) << "12345";
    std::ofstream(folder + "\\empty.txt", std::ios::binary).flush();
    CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
    HANDLE held = CreateFileA((folder + "\\five.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(file_size_of((folder + "\\five.txt").c_str()), 0u) << "held open: unshared opening fails";

    for (auto* size_of : {&size_of_present_file, &size_of_listed_file}) {
        std::uint32_t size = 99;
        EXPECT_TRUE(size_of((folder + "\\five.txt").c_str(), size));
        EXPECT_EQ(size, 5u);
        EXPECT_TRUE(size_of((folder + "\\empty.txt").c_str(), size));
        EXPECT_EQ(size, 0u);
        EXPECT_FALSE(size_of((folder + "\\missing.txt").c_str(), size));
        EXPECT_FALSE(size_of((folder + "\\sub").c_str(), size));
        if (size_of == &size_of_listed_file) {
            EXPECT_FALSE(size_of((folder + "\\fiv?.txt").c_str(), size)) << "a wildcard finds another file";
        }
    }
    CloseHandle(held);
    fs::remove_all(folder);
}

TEST_F(InstallTest, EveryRulePutsItsMemberInPlace)
{
    // 20 characters: a 9-character name makes a path of 30, a 10-character one of 31.
    target = "D:\\install_rules\\QEL";
    fresh_target();
    const std::string system_dir = "C:\\windows\\system32\\", windows_system = "C:\\windows\\system\\";
    write_file(system_dir + "QSYSOLD.DLL", "the system's own copy");
    DeleteFileA((system_dir + "QSYSNEW.DLL").c_str());
    DeleteFileA((windows_system + "QSYSNEW.DLL").c_str());
    write_file(target + "\\tool\\same.ini", "installed same");
    write_file(target + "\\tool\\newer.ini", "installed older");
    set_source_time(target + "\\tool\\same.ini");
    set_source_time(target + "\\tool\\newer.ini");
    // Left by an earlier run under the name of member 2's archive: gone once member 2 is written.
    write_file(target + "\\dec2.tmp", "an old archive");
    // Left by a stopped run beside a member's place: an unpacked file never checked, a copy never
    // put in place; a file of the user's of another name stays.
    write_file(target + "\\help\\dzt1A2B.tmp", "half unpacked");
    write_file(target + "\\help\\QELCOPY.TMP", "half copied");
    write_file(target + "\\help\\dztnotes.txt", "the user's");

    const outcome run = install("rules.pkg");
    ASSERT_EQ(run.result, 1) << run.log;
    EXPECT_EQ(setup.fatal_error, 0);
    EXPECT_EQ(installed("README.TXT"), source("readme.txt"));
    EXPECT_EQ(installed("NINE9.TXT"), source("readme.txt"));
    EXPECT_EQ(installed("UPDATE.TXT"), source("update.txt")) << "the direct member, written as stored";
    EXPECT_EQ(installed("dunzipnt.dll"), read_file("E:\\testbin\\dunzipnt.dll"));
    EXPECT_EQ(installed("HELP\\QELHELP.TXT"), source("help\\qelhelp.txt"));
    EXPECT_FALSE(exists(target + "\\help\\dzt1A2B.tmp") || exists(target + "\\help\\QELCOPY.TMP"));
    EXPECT_EQ(installed("help\\dztnotes.txt"), "the user's");
    EXPECT_EQ(installed("SYSTEM\\SUB\\SUB.DLL"), source("sub.dll")) << "system\\sub is a plain directory";
    EXPECT_EQ(installed("IDB\\MERGE.DB"), source("idb\\merge.db"));
    EXPECT_STREQ(setup.merge_db_dir, target.c_str());

    // System files: one already there stays; a missing one goes to the Windows folder's SYSTEM.
    EXPECT_EQ(read_file(system_dir + "QSYSOLD.DLL"), "the system's own copy");
    EXPECT_NE(run.log.find("System file " + system_dir + "qsysold.dll exists (current="), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Retaining existing"), std::string::npos);
    EXPECT_EQ(read_file(windows_system + "QSYSNEW.DLL"), source("qsysnew.dll"));
    EXPECT_NE(run.log.find("Copy " + target + "\\qsysnew.dll -> C:\\windows\\SYSTEM\\qsysnew.dll"), std::string::npos)
        << run.log;
    EXPECT_FALSE(exists(target + "\\QSYSOLD.DLL") || exists(target + "\\QSYSNEW.DLL")) << "staged copies deleted";

    // If newer: the same DOS time keeps the installed file, two seconds later replaces it, a
    // missing one is copied; the staging folder is gone.
    EXPECT_EQ(installed("tool\\same.ini"), "installed same");
    EXPECT_EQ(installed("tool\\newer.ini"), source("tool\\newer.ini"));
    EXPECT_EQ(installed("tool\\fresh.ini"), source("tool\\fresh.ini"));
    EXPECT_FALSE(exists(target + "\\if_newer"));
    const std::string same_line = "Existing file " + target + "\\tool\\same.ini (current=";
    const std::size_t at = run.log.find(same_line);
    ASSERT_NE(at, std::string::npos) << run.log;
    unsigned long current = 0, staged = 0;
    EXPECT_EQ(std::sscanf(run.log.c_str() + at + same_line.size(), "%lu, install=%lu", &current, &staged), 2);
    EXPECT_EQ(current, staged);
    EXPECT_NE(current, 0ul);

    // Preserved through the first 8 bytes of the base name; nothing of the temporary archives left.
    EXPECT_FALSE(exists(target + "\\tool\\LONGFILENAME2.TXT"));
    EXPECT_NE(run.log.find("Not installing tool\\longfilename2.txt (preserved)"), std::string::npos);
    EXPECT_TRUE(archives_in(target).empty());

    // The database merged in place is not installed, and the gauge leaves it out: it ends full.
    EXPECT_FALSE(exists(target + "\\IDB\\INPLACE.DB"));
    EXPECT_NE(run.log.find("Not installing idb\\inplace.db (merged in place)"), std::string::npos) << run.log;
    ASSERT_FALSE(watched.gauge.empty());
    EXPECT_EQ(watched.gauge.front().message, GAUGE_SETRANGE);
    EXPECT_EQ(watched.gauge.back().value, watched.gauge.front().value);
    EXPECT_EQ(setup.merge_bytes_a, static_cast<std::uint32_t>(source("idb\\inplace.db").size()));

    // The current file: 30 characters whole, 31 cut to "..." and the last 24, a long system or
    // if-newer path as its file name.
    auto shown = [](const std::string& text) {
        return std::find(watched.texts.begin(), watched.texts.end(), text) != watched.texts.end();
    };
    EXPECT_TRUE(shown("D:\\INSTALL_RULES\\QEL\\NINE9.TXT"));
    EXPECT_TRUE(shown("...ALL_RULES\\QEL\\README.TXT"));
    EXPECT_TRUE(shown("QSYSOLD.DLL"));
    EXPECT_TRUE(shown("SAME.INI"));
}

// Paced, the current file is put up for the first member at once and then only as the pace
// allows; the last one is always put up before the dialog closes.
TEST_F(InstallTest, CurrentFileTextsKeepThePaceAndEndOnTheLast)
{
    screen_pace_ms = 600000;
    write_file(target + "\\dunzipnt.dll", read_file("E:\\testbin\\dunzipnt.dll"));
    ASSERT_EQ(install("outside.pkg").result, 1) << "fatal " << setup.fatal_error;
    auto shown = [&](std::string name) {
        std::string path = target + "\\" + name;
        CharUpperA(path.data());
        return "..." + path.substr(path.size() - 24);
    };
    EXPECT_EQ(watched.texts, (std::vector<std::string>{shown("README.TXT"), shown("UPDATE.TXT")}))
        << "the help file's name was held back and then replaced";
}

TEST_F(InstallTest, UnzipLibraryFromTheClientsFolder)
{
    const std::string library = read_file("E:\\testbin\\dunzipnt.dll");
    const std::string no_export = read_file("E:\\testbin\\inshlp32.dll");

    // Neither name present: nothing is written and no dialog opens.
    outcome run = install("nolibrary.pkg");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(setup.fatal_error, 13);
    EXPECT_FALSE(exists(target + "\\README.TXT"));
    EXPECT_TRUE(watched.gauge.empty());

    // The second name alone serves.
    write_file(target + "\\dunzip32.dll", library);
    run = install("nolibrary.pkg");
    EXPECT_EQ(run.result, 1) << "fatal " << setup.fatal_error;
    EXPECT_EQ(installed("README.TXT"), source("readme.txt"));

    // With both, dunzipnt.dll is taken: a second name without the export would fail with 14.
    fs::remove(target + "\\README.TXT");
    write_file(target + "\\dunzipnt.dll", library);
    write_file(target + "\\dunzip32.dll", no_export);
    EXPECT_EQ(install("nolibrary.pkg").result, 1) << "fatal " << setup.fatal_error;
    EXPECT_EQ(installed("README.TXT"), source("readme.txt"));

    write_file(target + "\\dunzipnt.dll", no_export);
    EXPECT_EQ(install("nolibrary.pkg").result, 0);
    EXPECT_EQ(setup.fatal_error, 14);
}

// A library of the client's own may open the archive by name with the 16-bit-compatible calls
// (OpenFile, compatibility sharing), as the stand-in dunzip32.dll does: each archive must be
// closed by the time it is handed over, or the open is refused and the member fails with 1061.
TEST_F(InstallTest, AnOutsideLibraryOpeningTheArchiveByNameUnpacksEveryMember)
{
    write_file(target + "\\dunzip32.dll", read_file("E:\\testbin\\standin\\dunzip32.dll"));
    const outcome run = install("outside.pkg");
    ASSERT_EQ(run.result, 1) << "fatal " << setup.fatal_error << "\n" << run.log;
    EXPECT_EQ(installed("README.TXT"), source("readme.txt"));
    EXPECT_EQ(installed("HELP\\QELHELP.TXT"), source("help\\qelhelp.txt"));
    EXPECT_EQ(installed("UPDATE.TXT"), source("update.txt"));
    EXPECT_TRUE(archives_in(target).empty());
}

TEST_F(InstallTest, GaugeRangeLeavesOutTheMergedDatabaseAndDividesLargePackages)
{
    ASSERT_EQ(install("gauge12.pkg").result, 1);
    ASSERT_GE(watched.gauge.size(), 2u);
    EXPECT_EQ(watched.gauge.front().value, 9000000 + static_cast<LPARAM>(installed("dunzipnt.dll").size()));

    watched = {};
    fresh_target();
    ASSERT_EQ(install("gauge20.pkg").result, 1);
    const LPARAM total = 20000000 + static_cast<LPARAM>(installed("dunzipnt.dll").size());
    EXPECT_EQ(watched.gauge.front().value, total / 10);
    EXPECT_EQ(watched.gauge.back().value, total / 10);
    for (const gauge_event& event : watched.gauge) EXPECT_LE(event.value, total / 10);
}

TEST_F(InstallTest, CancelInAChainedRunRemovesWhatWasInstalled)
{
    write_file(target + "\\tool\\long2.txt", "kept: preserved");
    std::future<answered_window> box;
    const std::string readme_text = "D:\\INSTALL_TEST\\CANCELINACHAINEDRUNREMOVESWHATWASINSTALLED\\README.TXT";
    watched.cancel_at_text = "..." + readme_text.substr(readme_text.size() - 24);
    watched.on_cancel = [&] { box = answer_next_window({click(IDYES)}); };

    const outcome run = install("cancel.pkg", true);
    ASSERT_TRUE(box.valid()) << "the cancel point was never shown";
    const answered_window asked = box.get();
    EXPECT_TRUE(asked.found);
    EXPECT_EQ(asked.caption, "Setup");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(setup.fatal_error, 0);
    EXPECT_TRUE(setup.install_cancelled);
    EXPECT_NE(run.log.find("User stopped install"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Cleaning up"), std::string::npos);
    EXPECT_FALSE(exists(target + "\\FIRST.BIN")) << "installed before the cancel, removed by the clean-up";
    EXPECT_FALSE(exists(target + "\\README.TXT")) << "copied but never unpacked";
    EXPECT_EQ(installed("tool\\long2.txt"), "kept: preserved");

    // The first member's 40,000 stored bytes went in two chunks, each one reported.
    const LPARAM base = static_cast<LPARAM>(read_file("E:\\testbin\\dunzipnt.dll").size());
    std::vector<LPARAM> positions;
    for (const gauge_event& event : watched.gauge)
        if (event.message == GAUGE_SETPOS) positions.push_back(event.value);
    ASSERT_GE(positions.size(), 3u);
    EXPECT_EQ(positions[0], base);
    EXPECT_EQ(positions[1], base);
    EXPECT_EQ(positions[2], base + 32768);
}

TEST_F(InstallTest, CancelInAPlainRunSaysTheSetupStopped)
{
    std::future<std::pair<answered_window, answered_window>> answers;
    const std::string readme_text = "D:\\INSTALL_TEST\\CANCELINAPLAINRUNSAYSTHESETUPSTOPPED\\README.TXT";
    watched.cancel_at_text = "..." + readme_text.substr(readme_text.size() - 24);
    watched.on_cancel = [&] {
        answers = std::async(std::launch::async, [] {
            answered_window box = answer_next_window({click(IDYES)}).get();
            return std::make_pair(box, answer_next_window({click(BTN_OK)}).get());
        });
    };
    const outcome run = install("cancel.pkg");
    ASSERT_TRUE(answers.valid());
    const auto [box, stopped] = answers.get();
    EXPECT_TRUE(box.found);
    EXPECT_TRUE(stopped.has_text("You've asked to stop the setup process."));
    EXPECT_EQ(run.result, 0);
    EXPECT_NE(run.log.find("User stopped install"), std::string::npos);
    EXPECT_EQ(run.log.find("Cleaning up"), std::string::npos);
    EXPECT_EQ(installed("FIRST.BIN"), source("first.bin")) << "an unchained run keeps what it installed";
    // The copied, never unpacked member's archive stays, the one of the member before is gone.
    const std::vector<std::string> left = archives_in(target);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0], "dec3.tmp") << "named for README.TXT, member 3";
    EXPECT_EQ(read_file(target + "\\" + left[0]).substr(0, 2), "PK");
}

TEST_F(InstallTest, DamagedMemberStopsWithoutAHalfWrittenFile)
{
    const std::string good = source("data.bin");
    for (const char* package : {"flipped.pkg", "truncated.pkg"}) {
        fresh_target();
        EXPECT_EQ(install(package).result, 0) << package;
        EXPECT_GT(setup.fatal_error, 1000) << package;
        EXPECT_FALSE(exists(target + "\\DATA.BIN")) << package;
        EXPECT_EQ(archives_in(target), std::vector<std::string>{"dec2.tmp"})
            << package << ": the failed member's archive stays, alone, under its own name";
    }
    // An installed copy stays whole until the library puts a checked new one in its place.
    for (const char* package : {"flipped.pkg", "truncated.pkg"}) {
        fresh_target();
        write_file(target + "\\DATA.BIN", "the installed copy");
        EXPECT_EQ(install(package).result, 0) << package;
        EXPECT_NE(setup.fatal_error, 0) << package;
        EXPECT_EQ(installed("DATA.BIN"), "the installed copy") << package;
    }
    // A package file cut short (its direct member's end missing) is refused as it is read.
    setup = initial_run_state();
    lstrcpynA(setup.package_file, (packages + "direct_cut.pkg").c_str(), path_capacity);
    EXPECT_FALSE(open_package() && read_package());
    EXPECT_EQ(setup.fatal_error, 8);
    close_package();
    // Another entry name: the file lands beside the final name, which stays missing.
    fresh_target();
    EXPECT_EQ(install("renamed.pkg").result, 0);
    EXPECT_EQ(setup.fatal_error, 21);
    EXPECT_FALSE(exists(target + "\\DATA.BIN"));
    EXPECT_EQ(archives_in(target), std::vector<std::string>{"dec2.tmp"});
    // A size that disagrees with the member table: the file is whole, the install still stops.
    fresh_target();
    EXPECT_EQ(install("wrong_size.pkg").result, 0);
    EXPECT_EQ(setup.fatal_error, 21);
    EXPECT_EQ(installed("DATA.BIN"), good);
    EXPECT_EQ(archives_in(target), std::vector<std::string>{"dec2.tmp"});
}

// Drive F: is a small tmpfs. A filler file leaves `room` bytes free on it.
class InstallOnAFullDisk : public InstallTest {
protected:
    const std::string filler = "F:\\filler.bin";

    void SetUp() override
    {
        if (GetDriveTypeA("F:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no tmpfs drive F: (mount not permitted)";
        InstallTest::SetUp();
        // BIG.BIN's name is held back behind README.TXT's until the disk box shows it.
        screen_pace_ms = 600000;
        target = "F:\\FULL";
        DeleteFileA(filler.c_str());
        fresh_target();
    }

    void TearDown() override
    {
        remove_target();
        DeleteFileA(filler.c_str());
    }

    void leave_free(std::uint64_t room)
    {
        ULARGE_INTEGER free_bytes;
        ASSERT_TRUE(GetDiskFreeSpaceExA("F:\\", &free_bytes, nullptr, nullptr));
        ASSERT_GT(free_bytes.QuadPart, room);
        write_file(filler, std::string(static_cast<std::size_t>(free_bytes.QuadPart - room), 'f'));
    }

    // When BIG.BIN comes up, waits for the 34050 box, frees the disk if asked, and answers.
    std::future<answered_window> answer_disk_box(int button, bool free_the_disk)
    {
        auto promise = std::make_shared<std::promise<answered_window>>();
        watched.answer_at_text = "F:\\FULL\\BIG.BIN";
        watched.on_text = [=, this] {
            auto box = answer_next_window({});
            std::thread([=, this, box = std::move(box)]() mutable {
                answered_window shown = box.get();
                if (free_the_disk) DeleteFileA(filler.c_str());
                if (shown.found) PostMessageA(shown.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                promise->set_value(shown);
            }).detach();
        };
        return promise->get_future();
    }
};

TEST_F(InstallOnAFullDisk, RetryAfterSpaceIsFreedCompletesTheInstall)
{
    leave_free(300 * 1024);
    auto box = answer_disk_box(IDRETRY, true);
    const outcome run = install("full.pkg");
    const answered_window asked = box.get();
    EXPECT_TRUE(asked.has_text("Setup needs more disk space.\n\nPlease make more space available and select 'Retry' below."))
        << asked.caption;
    EXPECT_EQ(run.result, 1) << "fatal " << setup.fatal_error;
    EXPECT_EQ(installed("BIG.BIN"), source("big.bin"));
    EXPECT_EQ(installed("README.TXT"), source("readme.txt"));
}

TEST_F(InstallOnAFullDisk, CancelWhileCopyingOffersTheLowSpaceProgram)
{
    leave_free(300 * 1024);
    auto box = answer_disk_box(IDCANCEL, false);
    const outcome run = install("full.pkg");
    EXPECT_TRUE(box.get().found);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(setup.fatal_error, 9);
    EXPECT_TRUE(setup.install_cancelled);
    EXPECT_TRUE(setup.offer_low_space_program);
    EXPECT_FALSE(exists(target + "\\BIG.BIN"));
}

TEST_F(InstallOnAFullDisk, UnpackingThatDoesNotFitIsTheLibrarysDiskFull)
{
    // The archive fits; its unpacked copy beside it does not.
    leave_free(1000 * 1024);
    auto box = answer_disk_box(IDCANCEL, false);
    const outcome run = install("full.pkg");
    EXPECT_TRUE(box.get().found);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(setup.fatal_error == 1050 || setup.fatal_error == 1028) << setup.fatal_error;
    EXPECT_FALSE(setup.install_cancelled);
    EXPECT_TRUE(setup.offer_low_space_program);
    EXPECT_FALSE(exists(target + "\\BIG.BIN")) << "no half-written file under the final name";
}

}  // namespace
