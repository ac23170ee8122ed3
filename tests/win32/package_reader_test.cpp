// The package reader on files of drive D:: a bare package named as -X names it is opened, read
// into the run-wide state with its members' data offsets, and released again; each way it can
// fail sets its fatal error and leaves nothing behind once closed.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/package_reader.h"
#include "support/fatal_errors.h"
#include "support/memory.h"
#include "support/run_state.h"

namespace {

const std::string folder = "D:\\package_reader";

class PackageReader : public testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryA(folder.c_str(), nullptr);
        setup = initial_run_state();
        setup.app_instance = GetModuleHandleA(nullptr);
        blocks_before = blocks_in_use;
    }
    void TearDown() override
    {
        close_package();
        EXPECT_EQ(setup.package_handle, -1);
        EXPECT_EQ(setup.file_table, nullptr);
        EXPECT_EQ(setup.io_buffer, nullptr);
        EXPECT_EQ(blocks_in_use, blocks_before) << "every block of the package is released";
    }

    // A bare package of the given header fields and members, followed by `data_bytes` bytes.
    std::string write_package(const std::string& name, const std::vector<unsigned char>& header, std::size_t data_bytes)
    {
        const std::string path = folder + "\\" + name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
        out << std::string(data_bytes, 'x');
        return path;
    }

    // open_package and read_package on the file, as -X names it.
    bool read(const std::string& path)
    {
        lstrcpynA(setup.package_file, path.c_str(), path_capacity);
        return open_package() && read_package();
    }

    std::uint16_t blocks_before = 0;
};

std::vector<unsigned char> sample_header(const std::vector<member_entry>& members)
{
    run_state state = initial_run_state();
    package_reserved reserved{};
    std::strcpy(state.product_name, "Reader Sample");
    std::strcpy(state.package_version, "4.5.6");
    state.db_version = 0x0302;
    append_name(state.target_dir_deletions, "OLD.TXT");
    auto header = encode_package_header(state, reserved, members);
    release_package_fields(state, reserved);
    return header;
}

TEST_F(PackageReader, ABarePackageIsReadWithItsMembersBehindTheHeader)
{
    const std::vector<member_entry> members{{"readme.txt", 1200, 700}, {"idb\\merge.db", 100, 60}};
    const auto header = sample_header(members);
    ASSERT_TRUE(read(write_package("sample.pkg", header, 760))) << "fatal " << setup.fatal_error;
    EXPECT_EQ(setup.fatal_error, 0);
    EXPECT_STREQ(setup.product_name, "Reader Sample");
    EXPECT_STREQ(setup.package_version, "4.5.6");
    EXPECT_EQ(setup.db_version, 0x0302);
    ASSERT_EQ(setup.target_dir_deletions.count, 1);
    EXPECT_STREQ(setup.target_dir_deletions.names[0], "OLD.TXT");
    EXPECT_EQ(setup.package_offset, 0u) << "a bare package starts the file";
    EXPECT_NE(setup.io_buffer, nullptr);

    ASSERT_NE(setup.file_table, nullptr);
    ASSERT_EQ(setup.file_table->count, 2);
    EXPECT_EQ(setup.file_table->total_unpacked, 1300u);
    const package_member* first = setup.file_table->members[0];
    const package_member* second = setup.file_table->members[1];
    EXPECT_STREQ(member_name(first), "readme.txt");
    EXPECT_STREQ(member_name(second), "idb\\merge.db");
    EXPECT_EQ(first->data_offset, header.size()) << "the data area follows the member table";
    EXPECT_EQ(second->data_offset, header.size() + 700) << "each member's data after the one before";
    EXPECT_EQ(second->stored_size, 60u);
}

TEST_F(PackageReader, EachFailureSetsItsNumber)
{
    EXPECT_FALSE(read(folder + "\\missing.pkg"));
    EXPECT_EQ(setup.fatal_error, fatal::package_not_opened);
    close_package();

    setup.fatal_error = 0;
    auto header = sample_header({{"readme.txt", 10, 10}});
    header[0] = 'Z';
    EXPECT_FALSE(read(write_package("magic.pkg", header, 10)));
    EXPECT_EQ(setup.fatal_error, fatal::bad_magic);
    close_package();

    // Cut inside the header fields, then inside the member table: the file ends too early.
    header = sample_header({{"readme.txt", 10, 10}});
    setup.fatal_error = 0;
    EXPECT_FALSE(read(write_package("header.pkg", {header.begin(), header.begin() + 20}, 0)));
    EXPECT_EQ(setup.fatal_error, fatal::bad_header_field);
    close_package();
    setup.fatal_error = 0;
    EXPECT_FALSE(read(write_package("members.pkg", {header.begin(), header.end() - 3}, 0)));
    EXPECT_EQ(setup.fatal_error, fatal::bad_member_entry);
}

// Without -X the program reads the package its resource marker points at; the test program's
// marker is the unpatched one, offset 0: there is no package.
TEST_F(PackageReader, AnUnpatchedMarkerMeansNoPackage)
{
    EXPECT_FALSE(open_package());
    EXPECT_EQ(setup.fatal_error, fatal::no_marker);
    EXPECT_EQ(setup.package_file[0], '\0');
    EXPECT_STREQ(fatal_error_meaning_of(setup.fatal_error),
                 "the resource marker is missing or does not load, or its package offset is 0");
}

}  // namespace
