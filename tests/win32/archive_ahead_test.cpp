// The archive written ahead on the second thread: the member's stored bytes from the package,
// the file closed and cut at their end when it is written over, and nothing left behind by a job
// that failed, was for another member, or was never taken.
#include <windows.h>

#include <string>

#include "install/archive_ahead.h"
#include "install_fixture.h"

namespace {

class ArchiveAhead : public InstallFixture {
protected:
    std::string package_bytes;

    void SetUp() override
    {
        InstallFixture::SetUp();
        // A header, then 40,000 bytes of a member (two chunks), then 500 of another.
        package_bytes = "HEADER";
        for (int i = 0; i < 40500; ++i) package_bytes += static_cast<char>('a' + (i * 7 + i / 13) % 26);
        make_file("package.bin", package_bytes);
        lstrcpynA(setup.package_file, path("package.bin").c_str(), path_capacity);
        ASSERT_TRUE(open_archive_ahead());
    }
    void TearDown() override
    {
        close_archive_ahead();
        InstallFixture::TearDown();
    }
    // Whether the file can be had with no sharing at all: no handle of the thread is left on it.
    bool closed(const std::string& relative) const
    {
        const HANDLE file = CreateFileA(path(relative).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        CloseHandle(file);
        return true;
    }
};

TEST_F(ArchiveAhead, WritesTheStoredBytesClosedAndCutAtTheirEnd)
{
    const package_member big{0, 40000, 6}, small{0, 500, 40006};
    char taken[path_capacity];

    // A new file under the member's own name.
    ASSERT_TRUE(write_archive_ahead(&big, path("dec2.tmp").c_str(), false, 0));
    EXPECT_FALSE(write_archive_ahead(&small, path("dec3.tmp").c_str(), false, 0)) << "one job at a time";
    ASSERT_TRUE(take_archive_ahead(&big, taken));
    EXPECT_EQ(std::string(taken), path("dec2.tmp"));
    EXPECT_EQ(content("dec2.tmp"), package_bytes.substr(6, 40000));
    EXPECT_TRUE(closed("dec2.tmp"));

    // Over a kept archive that was longer: nothing of its old end may stay behind the new one.
    ASSERT_TRUE(write_archive_ahead(&small, path("dec2.tmp").c_str(), true, 40000));
    ASSERT_TRUE(take_archive_ahead(&small, taken));
    EXPECT_EQ(content("dec2.tmp"), package_bytes.substr(40006, 500));
    EXPECT_TRUE(closed("dec2.tmp"));
    EXPECT_FALSE(take_archive_ahead(&small, taken)) << "taken once";
}

TEST_F(ArchiveAhead, AJobNotTakenAsWrittenLeavesNothing)
{
    const package_member big{0, 40000, 6}, small{0, 500, 40006}, beyond{0, 500, 40300};
    char taken[path_capacity];

    // Taken for another member: not this one's archive, and deleted.
    ASSERT_TRUE(write_archive_ahead(&big, path("dec2.tmp").c_str(), false, 0));
    EXPECT_FALSE(take_archive_ahead(&small, taken));
    EXPECT_FALSE(exists("dec2.tmp"));

    // Cut short by the package's end, or not creatable: no part of an archive is handed over.
    ASSERT_TRUE(write_archive_ahead(&beyond, path("dec3.tmp").c_str(), false, 0));
    EXPECT_FALSE(take_archive_ahead(&beyond, taken));
    EXPECT_FALSE(exists("dec3.tmp"));
    ASSERT_TRUE(write_archive_ahead(&small, path("no folder\\dec4.tmp").c_str(), false, 0));
    EXPECT_FALSE(take_archive_ahead(&small, taken));

    // Dropped, and at the end with a job in hand.
    ASSERT_TRUE(write_archive_ahead(&small, path("dec5.tmp").c_str(), false, 0));
    EXPECT_TRUE(drop_archive_ahead());
    EXPECT_FALSE(exists("dec5.tmp"));
    EXPECT_FALSE(drop_archive_ahead()) << "nothing in hand";
    ASSERT_TRUE(write_archive_ahead(&small, path("dec6.tmp").c_str(), false, 0));
    close_archive_ahead();
    EXPECT_FALSE(exists("dec6.tmp"));
    EXPECT_FALSE(write_archive_ahead(&small, path("dec7.tmp").c_str(), false, 0)) << "the thread has ended";
}

}  // namespace
