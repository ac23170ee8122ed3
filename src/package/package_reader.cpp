#include "package/package_reader.h"

#include <windows.h>

#include <cstring>

#include "app/run_state.h"
#include "resource_ids.h"
#include "support/memory.h"

namespace {

int fail(std::uint16_t number)
{
    setup.fatal_error = number;
    return 0;
}

// Offset and tag from RCDATA 100; a missing marker or an offset of 0 means no package.
int load_marker()
{
    HRSRC found = FindResourceA(setup.app_instance, MAKEINTRESOURCEA(RCDATA_MARKER), MAKEINTRESOURCEA(10));
    HGLOBAL loaded = found ? LoadResource(setup.app_instance, found) : nullptr;
    const unsigned char* marker = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    if (!marker || SizeofResource(setup.app_instance, found) < marker_size) return 0;
    std::memcpy(&setup.package_offset, marker + 8, sizeof setup.package_offset);
    std::memcpy(setup.marker_tag, marker + 12, sizeof setup.marker_tag - 1);
    setup.marker_tag[sizeof setup.marker_tag - 1] = '\0';
    return setup.package_offset != 0;
}

int read_exact(void* buffer, unsigned count)
{
    const UINT got = _lread(setup.package_handle, buffer, count);
    return got != HFILE_ERROR && got >= count;
}

}  // namespace

int open_package()
{
    setup.io_buffer = static_cast<unsigned char*>(alloc_block(io_buffer_size));
    setup.package_offset = 0;
    if (!setup.package_file[0]) {
        if (!load_marker()) return fail(1);
        if (!GetModuleFileNameA(setup.app_instance, setup.package_file, 257)) return fail(2);
    }
    setup.package_handle = _lopen(setup.package_file, OF_READ);
    if (setup.package_handle == HFILE_ERROR) return fail(3);
    return 1;
}

int read_package()
{
    if (_llseek(setup.package_handle, static_cast<LONG>(setup.package_offset), FILE_BEGIN) == HFILE_ERROR)
        return fail(4);
    char magic[2];
    if (!read_exact(magic, 2) || magic[0] != 'R' || magic[1] != 'S') return fail(18);
    // The header fields and the member table are not read by this build yet.
    return fail(5);
}

int close_package()
{
    if (setup.package_handle != HFILE_ERROR) {
        _lclose(setup.package_handle);
        setup.package_handle = HFILE_ERROR;
    }
    if (setup.io_buffer) {
        free_block(setup.io_buffer);
        setup.io_buffer = nullptr;
    }
    return 1;
}
