#include "install/disk_space.h"

#include <windows.h>

#include <io.h>

#include "install/space_estimate.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/system_functions.h"

namespace {

// The drive's free bytes, as far as this process may use them, and its cluster size.
struct drive_space {
    std::uint32_t cluster;
    std::uint64_t free_bytes;
};

using free_space_ex = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

bool query_drive(const char* root, drive_space& space)
{
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
    if (!GetDiskFreeSpaceA(root, &sectors_per_cluster, &bytes_per_sector, &free_clusters, &total_clusters))
        return false;
    space.cluster = cluster_size_of(bytes_per_sector, sectors_per_cluster);
    space.free_bytes = static_cast<std::uint64_t>(space.cluster) * free_clusters;
    // GetDiskFreeSpace reports at most 2 GiB; the extended query, where kernel32 has it (the
    // Windows 95 family before OSR2 does not), gives the whole free space open to this caller.
    static const auto extended = loaded_system_function<free_space_ex>("kernel32.dll", "GetDiskFreeSpaceExA");
    ULARGE_INTEGER available{}, total{}, free_total{};
    if (extended && extended(root, &available, &total, &free_total)) space.free_bytes = available.QuadPart;
    return true;
}

bool present_file_size(void* context, const char* member_name, std::uint32_t* size)
{
    char path[path_capacity];
    join_path(path, static_cast<const char*>(context), member_name, nullptr);
    if (!file_can_open(path)) return false;
    // A file another program holds open reads as size 0 and so saves at most one cluster.
    *size = file_size_of(path);
    return true;
}

}  // namespace

std::uint64_t space_needed(std::uint32_t cluster) { return members_space(setup, cluster); }

std::uint64_t existing_savings(std::uint32_t cluster, const char* directory)
{
    return replaced_space(setup, cluster, present_file_size, const_cast<char*>(directory));
}

int check_disk_space(int drive, const char* directory, std::uint32_t* needed)
{
    if (needed) *needed = 0;
    char root[] = "C:\\";
    root[0] = static_cast<char>('A' + drive);

    // Mode 2: write access. A root that is no drive (1:\ when the directory does not begin with a
    // letter) fails here as well as a read-only one.
    if (_access(root, 2) != 0) {
        log_line("%s not writable", root);
        return 0;
    }
    drive_space space{};
    if (!query_drive(root, space)) return 0;
    log_line("Drive %c: cluster size = %lu, free space = %llu", root[0], static_cast<unsigned long>(space.cluster),
             static_cast<unsigned long long>(space.free_bytes));

    const std::uint64_t need = need_with_merge_reserve(setup, space_needed(space.cluster));
    const std::uint64_t savings = existing_savings(space.cluster, directory);
    // The line keeps a place for space won back from old files; the estimate wins none, so 0.
    log_line("Space needed = %llu, extra from old = %lu, existing savings = %llu", static_cast<unsigned long long>(need),
             0ul, static_cast<unsigned long long>(savings));

    const space_verdict verdict = judge_space(need, savings, space.free_bytes);
    log_line("Total = %llu", static_cast<unsigned long long>(verdict.total));
    // The callers show the need in a 32-bit %lu text.
    if (needed) *needed = verdict.total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(verdict.total);
    log_line(verdict.fits ? "It'll fit" : "Won't fit");
    return verdict.fits ? 1 : 0;
}

bool room_beyond_need(const char* directory, std::uint64_t extra)
{
    if (!directory[0] || directory[1] != ':') return false;
    char root[] = "C:\\";
    root[0] = directory[0];
    drive_space space{};
    return query_drive(root, space) && space.free_bytes >= need_with_merge_reserve(setup, space_needed(space.cluster)) + extra;
}
