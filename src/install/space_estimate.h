// The arithmetic of the disk-space estimate, without windows.h: what the package's members will
// occupy on a drive of a given cluster size, what copies already in the directory save, and the
// verdict. check_disk_space (disk_space.h) asks the drive and the files and logs each step.
//
// Sizes of single files are 32-bit, as the package and the file calls give them; every sum is
// 64-bit. Free space on today's drives passes 4 GiB, and 32-bit sums would wrap there and could
// judge a drive with plenty of room full.
#pragma once

#include <cstdint>

#include "support/run_state.h"

// Assumed when a drive reports 0 bytes per sector or 0 sectors per cluster.
constexpr std::uint32_t default_cluster_size = 8192;
// Added to the need when merge_list_a names any database: room for the merge's work files.
constexpr std::uint64_t merge_list_reserve = 5242880;

// bytes per sector x sectors per cluster; default_cluster_size when either is 0 (or the product
// does not fit in 32 bits, which no real drive reports).
std::uint32_t cluster_size_of(std::uint32_t bytes_per_sector, std::uint32_t sectors_per_cluster);

// The whole clusters a file of `size` bytes is counted as: the smallest multiple of `cluster`
// strictly above the size, so an empty file counts one cluster and an exact multiple one more.
// 0 when cluster is 0.
std::uint64_t clusters_for(std::uint64_t size, std::uint32_t cluster);

// Bytes the members of state.file_table occupy: each member's unpacked size in whole clusters,
// IDB\MERGE.DB (any case) twice, plus extra_space_kb KiB, less merge_bytes_a and merge_bytes_b.
// Never below 0: a need wrapped below zero would claim gigabytes and refuse every drive.
std::uint64_t members_space(const run_state& state, std::uint32_t cluster);

// The need with merge_list_reserve added when merge_list_a has at least one name.
std::uint64_t need_with_merge_reserve(const run_state& state, std::uint64_t need);

// Looks a member's name up among the files already present: true with its size when the file
// can be read.
using existing_file_size = bool (*)(void* context, const char* member_name, std::uint32_t* size);

// Bytes that present copies of the members occupy and the package replaces: for each member that
// `lookup` finds, the smaller of its present and its new size, each in whole clusters. The
// client's IDB\MAIN.IDX (any case) never counts: the merge adds to it rather than replacing it.
std::uint64_t replaced_space(const run_state& state, std::uint32_t cluster, existing_file_size lookup, void* context);

struct space_verdict {
    std::uint64_t total;  // the need after the savings
    bool fits;
};

// The savings come off the need only while they are smaller than it; savings that reach the need
// leave the whole need (a package made only of replacements still needs room for its new copies
// beside the old ones while it installs). It fits when the total is strictly below the free bytes.
space_verdict judge_space(std::uint64_t need, std::uint64_t savings, std::uint64_t free_bytes);
