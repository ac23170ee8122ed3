#include "package/package_reader.h"

#include <windows.h>

#include <cstring>

#include "package/package_format.h"
#include "resource_ids.h"
#include "support/fatal_errors.h"
#include "support/memory.h"
#include "support/run_state.h"

namespace {

// The fields the program reads past; kept for the run like the others.
package_reserved reserved_fields;

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

// Reads through the 16-bit-compatible call, at most 32768 bytes at a time.
bool read_exact(void*, void* buffer, std::uint32_t count)
{
    auto* out = static_cast<char*>(buffer);
    while (count > 0) {
        const UINT chunk = count < io_buffer_size ? count : io_buffer_size;
        const UINT got = _lread(setup.package_handle, out, chunk);
        if (got == static_cast<UINT>(HFILE_ERROR) || got < chunk) return false;
        out += chunk;
        count -= chunk;
    }
    return true;
}

}  // namespace

int open_package()
{
    setup.io_buffer = static_cast<unsigned char*>(alloc_block(io_buffer_size));
    setup.package_offset = 0;
    if (!setup.package_file[0]) {
        if (!load_marker()) return stop_with(fatal::no_marker);
        if (!GetModuleFileNameA(setup.app_instance, setup.package_file, 257)) return stop_with(fatal::no_program_name);
    }
    setup.package_handle = _lopen(setup.package_file, OF_READ);
    if (setup.package_handle == HFILE_ERROR) return stop_with(fatal::package_not_opened);
    return 1;
}

int read_package()
{
    // The file's length bounds the members' data: a download cut short stops here, before anything is touched.
    const LONG file_end = _llseek(setup.package_handle, 0, FILE_END);
    if (file_end == HFILE_ERROR ||
        _llseek(setup.package_handle, static_cast<LONG>(setup.package_offset), FILE_BEGIN) == HFILE_ERROR)
        return stop_with(fatal::package_seek);
    package_source source{nullptr, read_exact};
    if (const std::uint16_t error = read_package_fields(source, setup.package_offset,
                                                        static_cast<std::uint32_t>(file_end), setup, reserved_fields))
        return stop_with(error);
    return 1;
}

int close_package()
{
    if (setup.package_handle != HFILE_ERROR) {
        _lclose(setup.package_handle);
        setup.package_handle = HFILE_ERROR;
    }
    release_package_fields(setup, reserved_fields);
    if (setup.io_buffer) {
        free_block(setup.io_buffer);
        setup.io_buffer = nullptr;
    }
    return 1;
}
