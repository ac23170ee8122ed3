// check_disk_space on real drives: the log lines in their order, savings from files present in the
// directory, a root that is no drive, and the exact edge of a full drive on F:, a small tmpfs whose
// free space nothing else changes (see scripts/wine-prefix.sh).
#include "install/disk_space.h"

#include <cstdlib>

#include "install/space_estimate.h"
#include "install_fixture.h"

namespace {

using DiskSpace = InstallFixture;
using strings = std::vector<std::string>;

std::uint64_t in_clusters(std::uint64_t size, std::uint64_t cluster) { return (size / cluster + 1) * cluster; }

TEST_F(DiskSpace, LogsEachStepAndCountsPresentCopies)
{
    make_file("A.DLL", std::string(50000, 'a'));  // larger than the new copy: the new size is saved
    make_file("IDB\\MAIN.IDX", std::string(9000, 'i'));
    set_members({{"A.DLL", 10000}, {"IDB\\MAIN.IDX", 0}, {"NEW.DLL", 0}});
    setup.extra_space_kb = 1;
    DWORD sectors = 0, bytes = 0, free_clusters = 0, total = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA("D:\\", &sectors, &bytes, &free_clusters, &total));
    const std::uint64_t cluster = std::uint64_t{sectors} * bytes;
    const std::uint64_t need = in_clusters(10000, cluster) + 2 * cluster + 1024;
    const std::uint64_t savings = in_clusters(10000, cluster);

    std::uint32_t needed = 0;
    EXPECT_EQ(check_disk_space('D' - 'A', base.c_str(), &needed), 1);
    EXPECT_EQ(needed, need - savings);
    const strings lines = logged();
    ASSERT_EQ(lines.size(), 4u);
    const std::string drive_line = "Drive D: cluster size = " + std::to_string(cluster) + ", free space = ";
    ASSERT_EQ(lines[0].substr(0, drive_line.size()), drive_line);
    // All the free bytes open to this process, past 4 GiB too; the host's other work moves them a little.
    ULARGE_INTEGER available{}, unused{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("D:\\", &available, &unused, nullptr));
    const std::uint64_t logged_free = std::strtoull(lines[0].c_str() + drive_line.size(), nullptr, 10);
    EXPECT_LT(std::llabs(static_cast<long long>(logged_free - available.QuadPart)), 1ll << 28);
    EXPECT_EQ(lines[1], "Space needed = " + std::to_string(need) + ", extra from old = 0, existing savings = " +
                            std::to_string(savings));
    EXPECT_EQ(lines[2], "Total = " + std::to_string(need - savings));
    EXPECT_EQ(lines[3], "It'll fit");
}

TEST_F(DiskSpace, RootThatIsNoDriveIsNotWritable)
{
    std::uint32_t needed = 77;
    EXPECT_EQ(check_disk_space('1' - 'A', "1:\\QEL", &needed), 0);
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(logged(), strings{"1:\\ not writable"});
}

// The need is tuned to the free space: one empty member (one cluster), the reserve in KiB and
// merge_bytes_a to take back the rest.
TEST_F(DiskSpace, NeedEqualToFreeSpaceDoesNotFit)
{
    DWORD sectors = 0, bytes = 0, free_clusters = 0, total = 0;
    if (!GetDiskFreeSpaceA("F:\\", &sectors, &bytes, &free_clusters, &total))
        GTEST_SKIP() << "no drive F: (scripts/wine-prefix.sh could not mount its tmpfs)";
    const std::uint64_t cluster = std::uint64_t{sectors} * bytes;
    const std::uint64_t free_bytes = cluster * free_clusters;
    set_members({{"EMPTY.DAT", 0}});
    setup.extra_space_kb = static_cast<std::uint16_t>(free_bytes / 1024 + 1);
    setup.merge_bytes_a = static_cast<std::uint32_t>(cluster + setup.extra_space_kb * 1024ull - free_bytes);
    std::uint32_t needed = 0;
    EXPECT_EQ(check_disk_space('F' - 'A', "F:\\", &needed), 0);
    EXPECT_EQ(needed, free_bytes);
    const std::string drive_line = "Drive F: cluster size = " + std::to_string(cluster) + ", free space = " +
                                   std::to_string(free_bytes);
    EXPECT_EQ(logged(), (strings{drive_line, "Space needed = " + std::to_string(free_bytes) +
                                                 ", extra from old = 0, existing savings = 0",
                                 "Total = " + std::to_string(free_bytes), "Won't fit"}));
    ++setup.merge_bytes_a;
    EXPECT_EQ(check_disk_space('F' - 'A', "F:\\", &needed), 1);
    EXPECT_EQ(needed, free_bytes - 1);
    EXPECT_EQ(logged(), (strings{drive_line, "Space needed = " + std::to_string(free_bytes - 1) +
                                                 ", extra from old = 0, existing savings = 0",
                                 "Total = " + std::to_string(free_bytes - 1), "It'll fit"}));
    // A name in merge_list_a asks 5 MiB more, which the 2 MiB drive does not have.
    append_name(setup.merge_list_a, "MAIN.IDX");
    EXPECT_EQ(check_disk_space('F' - 'A', "F:\\", &needed), 0);
    EXPECT_EQ(needed, free_bytes - 1 + merge_list_reserve);
}

}  // namespace
