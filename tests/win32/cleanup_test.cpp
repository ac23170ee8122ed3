// The rename pass, the clean-up after a failed install and the deletion lists, on folders of D:.
// Rename sources are searched in target_dir; the current directory, each test's "src" folder,
// holds files of the same names that must stay where they are.
#include "install/cleanup.h"

#include <algorithm>

#include "install_fixture.h"

namespace {

using strings = std::vector<std::string>;

class Cleanup : public InstallFixture {
protected:
    void SetUp() override
    {
        InstallFixture::SetUp();
        make_file("target\\DATA\\KEEP.TXT", "keep");
        make_file("src\\DATA\\KEEP.TXT", "not the client's");
        SetCurrentDirectoryA(path("src").c_str());
        std::strcpy(setup.target_dir, path("target").c_str());
    }
};

TEST_F(Cleanup, PreparationMakesFoldersAndRenamesOverAnOldCopy)
{
    make_file("target\\DATA\\A.OLD", "new");
    make_file("target\\DATA\\A.BAK", "old");
    make_file("src\\DATA\\A.OLD", "not the client's");
    append_name(setup.prepare_dir_list, "NEW\\SUB");
    append_pair(setup.rename_list, "DATA\\*.TXT", "");  // preserved: not searched
    append_pair(setup.rename_list, "DATA\\*.OLD", "*.BAK");
    prepare_destination();
    EXPECT_EQ(logged(), (strings{"Preparing dest dir",
                                 "Rename: " + path("target\\DATA\\A.OLD") + " -> " + path("target\\DATA\\A.BAK")}));
    EXPECT_EQ(content("target\\DATA\\A.BAK"), "new");
    EXPECT_FALSE(exists("target\\DATA\\A.OLD"));
    EXPECT_EQ(content("target\\DATA\\KEEP.TXT"), "keep");
    EXPECT_TRUE(exists("target\\NEW\\SUB"));
    // The folder the program was started from is not the client's: its file of that name stays.
    EXPECT_EQ(content("src\\DATA\\A.OLD"), "not the client's");
}

TEST_F(Cleanup, FixedNameLeavesTheLastMatch)
{
    for (const char* name : {"1", "2", "3"}) make_file(std::string("target\\DATA\\") + name + ".LOG", name);
    make_file("src\\DATA\\4.LOG", "4");
    append_pair(setup.rename_list, "DATA\\*.LOG", "LAST.LOG");
    apply_rename_rules();
    const strings lines = logged();
    ASSERT_EQ(lines.size(), 3u);
    // The search's own order decides which match is last: "Rename: <target>\DATA\<n>.LOG -> ...".
    const std::string prefix = "Rename: " + path("target\\DATA\\");
    ASSERT_EQ(lines[2].substr(0, prefix.size()), prefix);
    const std::string last = lines[2].substr(prefix.size(), 1);
    EXPECT_EQ(lines[2], prefix + last + ".LOG -> " + path("target\\DATA\\LAST.LOG"));
    EXPECT_EQ(content("target\\DATA\\LAST.LOG"), last);
    for (const char* name : {"1", "2", "3"}) EXPECT_FALSE(exists(std::string("target\\DATA\\") + name + ".LOG"));
    EXPECT_TRUE(exists("src\\DATA\\4.LOG"));
}

TEST_F(Cleanup, SubfolderBecomesAnEntryOfTheSamePass)
{
    make_file("target\\DATA\\SUB\\Y.DAT", "y");
    make_file("src\\DATA\\OTHER\\Z.DAT", "z");
    append_pair(setup.rename_list, "DATA\\*.*", "*.BAK");
    apply_rename_rules();
    ASSERT_EQ(setup.rename_list.count, 2) << "the current directory's subfolders are not the client's";
    EXPECT_STREQ(setup.rename_list.first[1], "DATA\\SUB\\*.*");
    EXPECT_STREQ(setup.rename_list.second[1], "*.BAK");
    EXPECT_EQ(content("target\\DATA\\KEEP.BAK"), "keep");
    EXPECT_EQ(content("target\\DATA\\SUB\\Y.BAK"), "y");
    EXPECT_EQ(logged().size(), 2u);
    EXPECT_TRUE(exists("src\\DATA\\KEEP.TXT") && exists("src\\DATA\\OTHER\\Z.DAT"));
}

TEST_F(Cleanup, MoveRuleOnlyKeepsDeferredMoves)
{
    make_file("target\\DATA\\M.DAT", "m");
    make_file("target\\DATA\\N.DAT", "n");
    make_file("src\\DATA\\O.DAT", "o");
    append_pair(setup.rename_list, "DATA\\*.DAT", "move");
    apply_rename_rules();
    EXPECT_EQ(setup.deferred_move_count, 2);
    strings records;
    for (const deferred_move* move = setup.deferred_moves; move; move = move->next)
        records.push_back(std::string(move->source) + ">" + move->destination + " " + std::to_string(move->move_flag));
    std::sort(records.begin(), records.end());
    // Kept with the full path, as the current directory changes before the moves are made.
    EXPECT_EQ(records, (strings{path("target\\DATA\\M.DAT") + ">" + path("target\\DATA\\M.DAT") + " 1",
                                path("target\\DATA\\N.DAT") + ">" + path("target\\DATA\\N.DAT") + " 1"}));
    EXPECT_TRUE(exists("target\\DATA\\M.DAT") && exists("target\\DATA\\N.DAT"));
    EXPECT_TRUE(logged().empty());
}

TEST_F(Cleanup, CleanUpTakesOnlyFilesTheRunMadeSparesPreservedMembersAndNeedsATarget)
{
    for (const char* name : {"tool\\T.EXE", "A.DLL", "BIN\\B.DLL", "OLD.DLL"})
        make_file(std::string("target\\") + name, "x");
    set_members({{"tool\\T.EXE", 1}, {"A.DLL", 1}, {"BIN\\B.DLL", 1}, {"GONE.DLL", 1}, {"OLD.DLL", 1}});
    // The install made all but OLD.DLL, which it replaced.
    setup.member_created[0] = 0x0F;
    append_pair(setup.rename_list, "tool\\*.*", "");
    clean_up_installed_files();
    EXPECT_EQ(logged(), strings{"Cleaning up"});
    EXPECT_TRUE(exists("target\\tool\\T.EXE"));
    EXPECT_TRUE(exists("target\\OLD.DLL"));
    EXPECT_FALSE(exists("target\\A.DLL") || exists("target\\BIN\\B.DLL"));

    std::strcpy(setup.target_dir, path("missing").c_str());
    clean_up_installed_files();
    setup.target_dir[0] = '\0';
    clean_up_installed_files();
    EXPECT_TRUE(logged().empty());
}

TEST_F(Cleanup, DeletionListsTakeOnlyTheirFoldersMatches)
{
    for (const char* name : {"win\\X.TMP", "win\\Y.TMP", "win\\Z.TXT", "win\\SUB\\W.TMP", "target\\OLD.DLL"})
        make_file(name, "x");
    std::strcpy(setup.windows_dir, path("win").c_str());
    append_name(setup.windows_dir_deletions, "*.TMP");
    append_name(setup.target_dir_deletions, "OLD.DLL");
    delete_listed_files();
    strings lines = logged();
    std::sort(lines.begin(), lines.begin() + std::min<std::size_t>(lines.size(), 2));
    EXPECT_EQ(lines, (strings{"Deleted file " + path("win\\X.TMP"), "Deleted file " + path("win\\Y.TMP"),
                              "Deleted file " + path("target\\OLD.DLL")}));
    EXPECT_FALSE(exists("win\\X.TMP") || exists("win\\Y.TMP") || exists("target\\OLD.DLL"));
    EXPECT_TRUE(exists("win\\Z.TXT") && exists("win\\SUB\\W.TMP"));
}

// A pattern takes long names only: X.TMPL, whose 8.3 short name ends in .TMP, stays.
TEST_F(Cleanup, DeletionPatternsMatchTheLongNameOnly)
{
    for (const char* name : {"target\\x.tmpl", "target\\a.tmp", "target\\b.tm"}) make_file(name, "x");
    append_name(setup.target_dir_deletions, "*.TMP");
    delete_listed_files();
    EXPECT_EQ(logged(), (strings{"Deleted file " + path("target\\a.tmp")}));
    EXPECT_FALSE(exists("target\\a.tmp"));
    EXPECT_TRUE(exists("target\\x.tmpl") && exists("target\\b.tm"));
}

// The folders, rename rules and deletion lists come from the package: any of them that would
// reach outside target_dir or windows_dir is left out, each with a line in the log.
TEST_F(Cleanup, PackageTextsThatLeadOutsideTheirFolderAreLeftOut)
{
    for (const char* name : {"outside\\KEEP.TXT", "outside\\KEEP.DAT", "win\\", "src\\A.TXT"}) make_file(name, "x");
    std::strcpy(setup.windows_dir, path("win").c_str());
    append_name(setup.prepare_dir_list, "..\\made");
    append_pair(setup.rename_list, "..\\outside\\*.DAT", "*.OLD");
    append_pair(setup.rename_list, "A.TXT", "..\\A.TXT");
    append_pair(setup.rename_list, "A.TXT", "*.\\..\\B");
    append_name(setup.windows_dir_deletions, "..\\outside\\*.*");
    append_name(setup.target_dir_deletions, "...\\outside\\KEEP.TXT");
    prepare_destination();
    delete_listed_files();
    EXPECT_EQ(logged(), (strings{"Preparing dest dir", "Not preparing ..\\made: the name leads outside its folder",
                                 "Not renaming ..\\outside\\*.DAT: the name leads outside its folder",
                                 "Not renaming A.TXT to ..\\A.TXT: the name leads outside its folder",
                                 "Not renaming A.TXT to *.\\..\\B: the name leads outside its folder",
                                 "Not deleting ..\\outside\\*.*: the name leads outside its folder",
                                 "Not deleting ...\\outside\\KEEP.TXT: the name leads outside its folder"}));
    EXPECT_TRUE(exists("outside\\KEEP.TXT") && exists("outside\\KEEP.DAT") && exists("src\\A.TXT"));
    EXPECT_FALSE(exists("made") || exists("outside\\KEEP.OLD") || exists("A.TXT") || exists("target\\A.TXT"));
}

}  // namespace
