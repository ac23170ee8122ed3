// The disk-space arithmetic: whole clusters, the delivered database twice, merge sums that must not
// wrap the need below zero, savings, and the verdict at its edges, past 4 GiB too.
#include "install/space_estimate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "support/memory.h"

namespace {

std::map<std::string, std::uint32_t> present;  // files in the directory, by member name

bool lookup(void*, const char* name, std::uint32_t* size)
{
    const auto found = present.find(name);
    if (found != present.end()) *size = found->second;
    return found != present.end();
}

struct Members {
    std::vector<package_member*> list;
    member_table table{};
    run_state state = initial_run_state();
    Members(std::initializer_list<std::pair<const char*, std::uint32_t>> members)
    {
        for (const auto& [name, size] : members) {
            list.push_back(static_cast<package_member*>(alloc_block(sizeof(package_member) + std::strlen(name) + 1)));
            list.back()->unpacked_size = size;
            std::strcpy(member_name(list.back()), name);
        }
        table = {static_cast<std::uint16_t>(list.size()), 0, list.data()};
        state.file_table = &table;
    }
    ~Members()
    {
        for (package_member* member : list) free_block(member);
    }
};

TEST(SpaceEstimate, NeedInWholeClusters)
{
    EXPECT_EQ(cluster_size_of(512, 8), 4096u);
    EXPECT_EQ(cluster_size_of(0, 8), 8192u);
    EXPECT_EQ(cluster_size_of(512, 0), 8192u);
    EXPECT_EQ(members_space(Members({{"EMPTY", 0}, {"EXACT", 4096}}).state, 4096), 4096u + 8192);
    EXPECT_EQ(clusters_for(0xFFFFFFFFu, 4096), 0x100000000u);  // no wrap to 0 at the top

    Members m({{"idb\\Merge.db", 1000}, {"BIN\\QEL.EXE", 40000}});
    EXPECT_EQ(members_space(m.state, 32768), 131072u);
    m.state.extra_space_kb = 3;
    m.state.merge_bytes_a = 1000;
    m.state.merge_bytes_b = 72;
    EXPECT_EQ(members_space(m.state, 32768), 131072u + 3072 - 1072);
    m.state.merge_bytes_a = 0xFFFFFFFFu;
    EXPECT_EQ(members_space(m.state, 32768), 0u);

    EXPECT_EQ(need_with_merge_reserve(m.state, 10), 10u);
    char name[] = "MAIN.IDX";
    char* names[] = {name};
    m.state.merge_list_a = {1, names};
    EXPECT_EQ(need_with_merge_reserve(m.state, 10), 10u + 5242880);
}

TEST(SpaceEstimate, SavingsTakeTheSmallerSizeAndNeverTheMainIndex)
{
    // A: present larger, the new size counts; B: present smaller; C: held open (size 0), one
    // cluster; D: not present.
    Members m({{"IDB\\main.idx", 100000}, {"A", 10000}, {"B", 100000}, {"C", 5000}, {"D", 5000}});
    present = {{"IDB\\main.idx", 900000}, {"A", 50000}, {"B", 4096}, {"C", 0}};
    EXPECT_EQ(replaced_space(m.state, 4096, lookup, nullptr), 12288u + 8192 + 4096);
}

TEST(SpaceEstimate, VerdictAtItsEdges)
{
    EXPECT_EQ(judge_space(8192, 4096, 1 << 20).total, 4096u);
    EXPECT_EQ(judge_space(8192, 8192, 1 << 20).total, 8192u);  // savings reaching the need: the whole need
    EXPECT_EQ(judge_space(8192, 9000, 1 << 20).total, 8192u);
    EXPECT_FALSE(judge_space(8192, 0, 8192).fits);
    EXPECT_TRUE(judge_space(8191, 0, 8192).fits);
    // 4 GiB and 4 KiB free is 4 KiB in 32 bits: a need of 8 KiB fits only when counted in full.
    EXPECT_TRUE(judge_space(8192, 0, 0x100001000u).fits);
}

}  // namespace
