// The shell entries: the DOS game's PIF byte for byte, the help contents lines and the uninstall
// entry, on folders of D: standing in for the Windows directory and the client's.
#include "shell/game_pif.h"
#include "shell/shell_entries.h"

#include <string>

#include "install_fixture.h"
#include "support/registry.h"

namespace {

// The PIF as its layout describes it, field after field in file order.
std::string expected_pif(const std::string& program)
{
    std::string pif;
    auto bytes = [&](std::initializer_list<int> values) { for (int v : values) pif += static_cast<char>(v); };
    auto word = [&](int value) { bytes({value & 0xFF, (value >> 8) & 0xFF}); };
    auto padded = [&](const std::string& text, std::size_t field, char pad) {
        pif += text;
        pif.append(field - text.size(), pad);
    };
    auto blank = [&](std::size_t nuls, std::size_t field) {
        pif.append(nuls, '\0');
        pif.append(field - nuls, ' ');
    };
    bytes({0x00, 0x13});
    padded("DOS Game", 30, ' ');
    word(128);
    word(128);
    pif += program;
    pif += '\0';
    pif.append(62 - program.size(), ' ');
    bytes({0x10, 0x00});
    blank(1, 64);
    blank(6, 64);
    bytes({0x7F, 1, 0x00, 0xFF, 25, 80, 0, 0});
    word(7);
    pif.append(128, '\0');
    bytes({0xE0, 0x60});
    auto header = [&](const char* name, int next, int data, int length) {
        padded(name, 16, '\0');
        word(next);
        word(data);
        word(length);
    };
    header("MICROSOFT PIFEX", 0x0187, 0x0000, 0x0171);
    header("WINDOWS 386 3.0", 0x0205, 0x019D, 0x0068);
    for (int value : {0xFFFF, 0xFFFF, 1000, 50, 1024, 0, 1024, 0}) word(value);
    bytes({0x0C, 0x20, 0x02, 0x00, 0xC9, 0x00, 0x00, 0x00});
    pif.append(16, '\0');
    blank(2, 64);
    header("WINDOWS 286 3.0", 0xFFFF, 0x021B, 0x0006);
    pif.append(6, '\0');
    return pif;
}

class Desktop : public InstallFixture {
protected:
    void SetUp() override
    {
        InstallFixture::SetUp();
        setup.app_instance = GetModuleHandleA(nullptr);  // the string table
        std::strcpy(setup.windows_dir, path("WINDOWS").c_str());
        std::strcpy(setup.target_dir, path("CLIENT").c_str());
        make_file("WINDOWS\\", "");
        make_file("CLIENT\\", "");
    }
};

TEST_F(Desktop, GamePifIsTheTemplateWithTheProgramPath)
{
    const std::string template_pif = expected_pif("D.EXE");
    ASSERT_EQ(template_pif.size(), game_pif_size);
    unsigned sum = 0;
    for (std::size_t i = 0x002; i <= 0x170; ++i) sum += static_cast<unsigned char>(template_pif[i]);
    ASSERT_EQ(sum % 256, 0x13u) << "the checksum is that of the template as stored";

    make_file("WINDOWS\\VEDUROV.PIF", "an older file, longer than nothing");
    std::strcpy(setup.target_dir, "C:\\CLIENT");
    ASSERT_EQ(write_game_pif(), 1) << ::testing::PrintToString(logged());
    EXPECT_EQ(content("WINDOWS\\VEDUROV.PIF"), expected_pif("C:\\CLIENT\\VEDUROV.EXE"));
    EXPECT_EQ(logged(), (std::vector<std::string>{"Created " + path("WINDOWS\\VEDUROV.PIF")}));
}

TEST_F(Desktop, GamePifSkippedWhenThePathDoesNotFit)
{
    // 50 characters of target_dir fit the field (62 with "\VEDUROV.EXE"); 51 do not.
    const std::string fits = "C:\\" + std::string(47, 'X');  // the folder need not exist
    std::strcpy(setup.target_dir, fits.c_str());
    ASSERT_EQ(write_game_pif(), 1);
    EXPECT_EQ(content("WINDOWS\\VEDUROV.PIF"), expected_pif(fits + "\\VEDUROV.EXE"));
    DeleteFileA(path("WINDOWS\\VEDUROV.PIF").c_str());
    logged();

    std::strcpy(setup.target_dir, (fits + "Y").c_str());
    EXPECT_EQ(write_game_pif(), 0);
    EXPECT_FALSE(exists("WINDOWS\\VEDUROV.PIF"));
    EXPECT_EQ(logged(), (std::vector<std::string>{"Game PIF skipped: " + fits + "Y\\VEDUROV.EXE is too long"}));
}

// The help contents and the uninstall entry use the system's Windows directory and registry.
class ShellEntries : public InstallFixture {
protected:
    std::string contents_path, saved;
    bool had_contents = false;

    void SetUp() override
    {
        InstallFixture::SetUp();
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, MAX_PATH);
        CreateDirectoryA((std::string(windows) + "\\Help").c_str(), nullptr);
        contents_path = std::string(windows) + "\\Help\\Windows.cnt";
        saved = read(contents_path);
        had_contents = saved != "(none)";
        std::strcpy(setup.target_dir, path("CLIENT").c_str());
        make_file("CLIENT\\", "");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Qelmora");
    }
    void TearDown() override
    {
        if (had_contents) write_contents(saved);
        else DeleteFileA(contents_path.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Qelmora");
        InstallFixture::TearDown();
    }
    void write_contents(const std::string& text) const { std::ofstream(contents_path, std::ios::binary) << text; }
    static std::string uninstall_value(const char* name)
    {
        char value[MAX_PATH] = "(none)";
        reg_read_string(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Qelmora", name,
                        value, sizeof value, 0);
        return value;
    }
};

const std::string help_lines = ":Index Qelmora Help=qel95f.hlp\r\n:Link qel95f.hlp\r\n:include qel95f.cnt\r\n";

TEST_F(ShellEntries, HelpLinesAppendedOnceAndAsTheyAre)
{
    // No final line end: the first line joins the last one, nothing is put between them.
    write_contents(":Base windows.hlp\r\n:Title Windows Help");
    EXPECT_EQ(register_help_contents(), 1);
    EXPECT_EQ(read(contents_path), ":Base windows.hlp\r\n:Title Windows Help" + help_lines);
    EXPECT_EQ(register_help_contents(), 1);
    EXPECT_EQ(read(contents_path), ":Base windows.hlp\r\n:Title Windows Help" + help_lines) << "the marker holds";

    // The marker counts only in its own letter case.
    write_contents(":Base windows.hlp\r\n:include QEL95F.CNT\r\n");
    EXPECT_EQ(register_help_contents(), 1);
    EXPECT_EQ(read(contents_path), ":Base windows.hlp\r\n:include QEL95F.CNT\r\n" + help_lines);

    // A missing or empty contents file is not created or filled.
    write_contents("");
    EXPECT_EQ(register_help_contents(), 0);
    EXPECT_EQ(read(contents_path), "");
    DeleteFileA(contents_path.c_str());
    EXPECT_EQ(register_help_contents(), 0);
    EXPECT_EQ(read(contents_path), "(none)");
}

TEST_F(ShellEntries, UninstallEntryOnlyWithTheRemover)
{
    DeleteFileA(path("CLIENT\\RM_QEL.EXE").c_str());  // left by an earlier run
    EXPECT_EQ(register_uninstall_entry(), 0);
    EXPECT_EQ(uninstall_value("DisplayName"), "(none)");
    make_file("CLIENT\\RM_QEL.EXE", "remover");
    EXPECT_EQ(register_uninstall_entry(), 1);
    EXPECT_EQ(uninstall_value("DisplayName"), "Qelmora");
    EXPECT_EQ(uninstall_value("UninstallString"), path("CLIENT\\RM_QEL.EXE"));
}

// A folder under the test's own whose full path has exactly `length` characters (relative name).
std::string folder_of_length(const std::string& base, std::size_t length)
{
    std::size_t left = length - base.size() - 1;
    std::string relative;
    for (; left > 101; left -= 101) relative += std::string(100, 'd') + "\\";
    return relative + std::string(left, 'e');
}

// Paths one character past 259 are refused, not cut to the name of another file.
TEST_F(ShellEntries, PathsOneCharacterTooLongAreNotCut)
{
    // target_dir\RM_QEL.EXE would be 260 characters; a file stands at its cut name.
    const std::string client = folder_of_length(base, 260 - 11);
    ASSERT_EQ(path(client).size(), 249u);
    make_file(client + "\\RM_QEL.EX", "not the remover");
    std::strcpy(setup.target_dir, path(client).c_str());
    EXPECT_EQ(register_uninstall_entry(), 0);
    EXPECT_EQ(uninstall_value("UninstallString"), "(none)");

    // WINDOWS\Help\Windows.cnt would be 260 characters; a contents file stands at its cut name.
    const std::string windows = folder_of_length(base, 260 - 17);
    make_file(windows + "\\Help\\Windows.cn", ":Base windows.hlp\r\n");
    EXPECT_EQ(register_help_contents(path(windows).c_str()), 0);
    EXPECT_EQ(content(windows + "\\Help\\Windows.cn"), ":Base windows.hlp\r\n");
    // One character shorter, the path fits and the lines go in.
    const std::string fitting = folder_of_length(base, 259 - 17);
    make_file(fitting + "\\Help\\Windows.cnt", ":Base windows.hlp\r\n");
    EXPECT_EQ(register_help_contents(path(fitting).c_str()), 1);
    EXPECT_EQ(content(fitting + "\\Help\\Windows.cnt"), ":Base windows.hlp\r\n" + help_lines);
}

}  // namespace
