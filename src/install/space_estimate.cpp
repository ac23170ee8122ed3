#include "install/space_estimate.h"

#include "package/package_format.h"

std::uint32_t cluster_size_of(std::uint32_t bytes_per_sector, std::uint32_t sectors_per_cluster)
{
    const std::uint64_t cluster = static_cast<std::uint64_t>(bytes_per_sector) * sectors_per_cluster;
    if (cluster == 0 || cluster > 0xFFFFFFFFu) return default_cluster_size;
    return static_cast<std::uint32_t>(cluster);
}

std::uint64_t clusters_for(std::uint64_t size, std::uint32_t cluster)
{
    if (cluster == 0) return 0;
    return (size / cluster + 1) * cluster;
}

std::uint64_t members_space(const run_state& state, std::uint32_t cluster)
{
    std::uint64_t total = 0;
    if (const member_table* table = state.file_table) {
        for (std::uint16_t i = 0; i < table->count; ++i) {
            const package_member* member = table->members[i];
            const std::uint64_t occupied = clusters_for(member->unpacked_size, cluster);
            total += occupied;
            // The delivered database is there twice while the merge copies its records.
            if (same_name(member_name(member), "IDB\\MERGE.DB")) total += occupied;
        }
    }
    total += static_cast<std::uint64_t>(state.extra_space_kb) * 1024;
    const std::uint64_t merged = static_cast<std::uint64_t>(state.merge_bytes_a) + state.merge_bytes_b;
    return total > merged ? total - merged : 0;
}

std::uint64_t need_with_merge_reserve(const run_state& state, std::uint64_t need)
{
    return state.merge_list_a.count > 0 ? need + merge_list_reserve : need;
}

std::uint64_t replaced_space(const run_state& state, std::uint32_t cluster, existing_file_size lookup, void* context)
{
    std::uint64_t sum = 0;
    const member_table* table = state.file_table;
    if (!table) return 0;
    for (std::uint16_t i = 0; i < table->count; ++i) {
        const package_member* member = table->members[i];
        const char* name = member_name(member);
        if (same_name(name, "IDB\\MAIN.IDX")) continue;
        std::uint32_t present_size = 0;
        if (!lookup(context, name, &present_size)) continue;
        const std::uint64_t present = clusters_for(present_size, cluster);
        const std::uint64_t delivered = clusters_for(member->unpacked_size, cluster);
        sum += present < delivered ? present : delivered;
    }
    return sum;
}

space_verdict judge_space(std::uint64_t need, std::uint64_t savings, std::uint64_t free_bytes)
{
    const std::uint64_t total = savings < need ? need - savings : need;
    return {total, total < free_bytes};
}
