#include "support/ini_entries.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::string_view client_keys[] = {"Installed", "AppPath"};

bool keeps(std::string_view earlier, std::string_view current)
{
    return ini_keeps_entries(earlier, current, "ZOVE", client_keys);
}

const char before[] =
    "; written by hand\r\n"
    "[windows]\r\n"
    "load =  clock.exe \r\n"
    "run=\r\n"
    "NullPort\r\n"
    "\r\n"
    "[ZOVE]\r\n"
    "Installed=US\r\n"
    "AppPath=C:\\QEL\r\n"
    "Other=kept\r\n"
    "[Devices]\r\n"
    "Printer=winspool,LPT1:\r\n";

TEST(IniEntries, AWriteOfTheClientKeysKeepsEverything)
{
    // A profile writer's own spelling: blanks around '=' and empty lines dropped, names in
    // another case, the client's keys changed, one added.
    EXPECT_TRUE(keeps(before,
                      "; written by hand\n[WINDOWS]\nLOAD=clock.exe\nrun=\nNullPort\n[zove]\nInstalled=UK\n"
                      "AppPath=D:\\NEW\nOther=kept\n[Devices]\nPrinter=winspool,LPT1:\n[Extra]\nx=1\n"));
    EXPECT_TRUE(keeps(before, before));
    // Without the client's keys at all: the writer was cut off there.
    EXPECT_TRUE(keeps("[ZOVE]\r\nInstalled=US\r\nAppPath=X\r\n", ""));
    EXPECT_TRUE(keeps("", ""));
}

TEST(IniEntries, ALostOrChangedEntryIsNoticed)
{
    const std::string whole = before;
    // Emptied, and cut at every byte short of the last line's end.
    EXPECT_FALSE(keeps(before, ""));
    for (std::size_t cut = 0; cut + 2 < whole.size(); ++cut)
        EXPECT_FALSE(keeps(before, whole.substr(0, cut))) << "cut at " << cut;
    EXPECT_TRUE(keeps(before, whole.substr(0, whole.size() - 2)));
    // Another value, a key moved to another section, an entry of the client's section that is
    // not its key, a line without '=' turned into an empty key.
    EXPECT_FALSE(keeps("[a]\nk=1\n", "[a]\nk=2\n"));
    EXPECT_FALSE(keeps("[a]\nk=1\n", "[b]\nk=1\n"));
    EXPECT_FALSE(keeps("[ZOVE]\nOther=kept\n", "[ZOVE]\nInstalled=US\n"));
    EXPECT_FALSE(keeps("[a]\nNullPort\n", "[a]\nNullPort=\n"));
    EXPECT_FALSE(keeps("top=1\n[a]\n", "[a]\ntop=1\n"));
}

// A large file rewritten in another order and case still counts as whole, and a single changed
// value anywhere in it does not.
TEST(IniEntries, ManyEntriesInAnyOrder)
{
    std::string earlier, reordered;
    for (int section = 0; section < 200; ++section) {
        earlier += "[Section" + std::to_string(section) + "]\n";
        for (int key = 0; key < 100; ++key)
            earlier += "Key" + std::to_string(key) + "=Value" + std::to_string(section * 100 + key) + "\n";
    }
    for (int section = 199; section >= 0; --section) {
        reordered += "[SECTION" + std::to_string(section) + "]\n";
        for (int key = 99; key >= 0; --key)
            reordered += "key" + std::to_string(key) + " = Value" + std::to_string(section * 100 + key) + "\n";
    }
    EXPECT_TRUE(keeps(earlier, reordered));
    const std::size_t changed_at[] = {reordered.find("Value19999"), reordered.find("Value7777"),
                                      reordered.find("Value0\n")};
    for (const std::size_t at : changed_at) {
        std::string changed = reordered;
        changed[at] = 'v';
        EXPECT_FALSE(keeps(earlier, changed)) << "changed at " << at;
    }
}

// Only a WIN.INI that a stopped write explains gets its copy back: every cut of the copy does, one
// that another program edited since (an entry added or changed, however short) does not.
TEST(IniEntries, OnlyACutFormIsTheCopyCutShort)
{
    const auto cut_form = [](std::string_view earlier, std::string_view current) {
        return ini_is_cut_form(earlier, current, "ZOVE", client_keys);
    };
    const std::string whole = before;
    for (std::size_t cut = 0; cut < whole.size(); ++cut)
        EXPECT_TRUE(cut_form(before, whole.substr(0, cut))) << "cut at " << cut;
    EXPECT_FALSE(cut_form(before, before)) << "not shorter";
    // The stopped writer may have written the client's keys anew before the cut.
    EXPECT_TRUE(cut_form(before, "; written by hand\r\n[windows]\r\nload=clock.exe\r\n[ZOVE]\r\nAppPath=D:\\NEW\r\nIns"));
    // Edited by someone else: a value changed, an entry added, each in a file shorter than the copy.
    EXPECT_FALSE(cut_form(before, "[windows]\r\nload=other.exe\r\n"));
    EXPECT_FALSE(cut_form(before, "[windows]\r\nload=clock.exe\r\n[New]\r\nx=1\r\n"));
    EXPECT_FALSE(cut_form(before, "[Devices]\r\nPrinter=winspool,LPT2:\r\n"));
}

}  // namespace
