// The one list of fatal errors: each number once, each with a name and a meaning, every number the
// package reader can answer among them, and no code that sets a fatal error by its bare number.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "package/package_format.h"
#include "support/fatal_errors.h"

namespace {

TEST(FatalErrors, EachNumberOnceWithANameAndAMeaning)
{
    std::set<std::uint16_t> numbers;
    std::set<std::string> names;
    for (const fatal_error_meaning& entry : fatal_error_meanings) {
        EXPECT_TRUE(numbers.insert(entry.number).second) << "number " << entry.number << " is listed twice";
        EXPECT_TRUE(names.insert(entry.name).second) << "name " << entry.name << " is listed twice";
        EXPECT_GT(entry.number, 0) << entry.name << ": 0 means no error";
        EXPECT_LT(entry.number, fatal::unzip_library_result) << entry.name << ": the unzip library's results start there";
        EXPECT_GT(std::string(entry.meaning).size(), 10u) << entry.name << " has no meaning to speak of";
        EXPECT_STREQ(fatal_error_meaning_of(entry.number), entry.meaning);
    }
    EXPECT_EQ(fatal_error_meaning_of(0), nullptr);
    EXPECT_EQ(fatal_error_meaning_of(27), nullptr) << "a number nothing sets";
    EXPECT_NE(fatal_error_meaning_of(fatal::unzip_library_result + 50), nullptr);
}

TEST(FatalErrors, EveryNumberTheReaderAnswersIsListed)
{
    for (const header_field& field : header_fields())
        EXPECT_NE(fatal_error_meaning_of(field.fatal_error), nullptr) << "field " << field.name;
    for (const std::uint16_t number : {fatal::bad_magic, fatal::bad_header_field, fatal::bad_member_entry})
        EXPECT_NE(fatal_error_meaning_of(number), nullptr);
}

// The program sets every fatal error by its name: a bare number in an assignment or in stop_with
// would be one the list may not know.
TEST(FatalErrors, NoneIsSetByItsBareNumber)
{
    const std::regex bare(R"((fatal_error\s*=\s*[1-9])|(stop_with\(\s*[0-9]))");
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(QEL_SOURCE_ROOT "/src")) {
        const auto extension = entry.path().extension();
        if (extension != ".cpp" && extension != ".h") continue;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number)
            EXPECT_FALSE(std::regex_search(line, bare)) << entry.path().string() << ":" << number << ": " << line;
    }
    EXPECT_GT(files, 50);
}

}  // namespace
