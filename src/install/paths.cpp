#include "install/paths.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "app/run_state.h"
#include "support/memory.h"

namespace {

void append_bounded(char* buffer, const char* text)
{
    const std::size_t used = std::strlen(buffer);
    const std::size_t room = path_capacity - 1 - used;
    const std::size_t length = strnlen(text, room);
    std::memcpy(buffer + used, text, length);
    buffer[used + length] = '\0';
}

bool system_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

}  // namespace

void use_system_code_page() { set_lead_byte_test(system_lead_byte); }

char* join_path(char* out, ...)
{
    char work[path_capacity] = "";
    std::va_list parts;
    va_start(parts, out);
    while (const char* part = va_arg(parts, const char*)) {
        if (!*part) continue;
        if (work[0]) append_bounded(work, "\\");
        append_bounded(work, part);
        strip_trailing_backslash(work);
    }
    va_end(parts);
    if (!out) out = static_cast<char*>(alloc_block(static_cast<std::uint32_t>(std::strlen(work) + 1)));
    std::strcpy(out, work);
    return out;
}

int path_exists(const char* path)
{
    static char name[path_capacity];
    std::strncpy(name, path, path_capacity - 1);
    name[path_capacity - 1] = '\0';
    // Names are ANSI; only file calls switched to the OEM set need the OEM form.
    if (!AreFileApisANSI()) CharToOemA(name, name);
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

int drive_has_room(int drive, std::uint32_t bytes)
{
    char root[4] = {static_cast<char>('A' + drive), ':', '\\', '\0'};
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
    if (!GetDiskFreeSpaceA(root, &sectors_per_cluster, &bytes_per_sector, &free_clusters, &total_clusters)) return 0;
    std::uint32_t needed = bytes / 8192;
    if (bytes_per_sector && sectors_per_cluster)
        needed = ((bytes + bytes_per_sector) / bytes_per_sector + sectors_per_cluster) / sectors_per_cluster;
    return needed < free_clusters;
}
