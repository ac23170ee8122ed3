// dunzip32.dll as an outside unzip library may be written: the 16-bit-compatible file calls, the
// archive opened by its name with OpenFile (compatibility sharing) and read whole, the entry
// written with _lcreat under its name in the destination. For the program's tests: any library
// the client's folder holds must do. It keeps a copy of the last command record it was given
// (export "last_command"), so a test can read the record at its byte offsets.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "install/unzip_record.h"
#include "unzip_core.h"

namespace {

using progress_callback = int(__stdcall*)(DWORD written, DWORD total, DWORD reserved);
using entry_callback = int(__stdcall*)(DWORD name, DWORD unpacked_size, DWORD packed_size, DWORD crc,
                                       DWORD method, DWORD dos_time, DWORD flags);

unsigned char last_record[unzip_record::size];
char announced_name[MAX_PATH];

struct memory_archive {
    const unsigned char* bytes;
    static bool read(void* context, std::uint32_t offset, void* buffer, std::uint32_t count)
    {
        std::memcpy(buffer, static_cast<memory_archive*>(context)->bytes + offset, count);
        return true;
    }
};

struct output {
    HFILE file;
    static int write(void* context, const void* data, std::uint32_t count)
    {
        const UINT done = _lwrite(static_cast<output*>(context)->file, static_cast<LPCSTR>(data), count);
        return done == count ? unzip::ok : unzip::disk_full;
    }
};

int unpack(const unsigned char* bytes, std::uint32_t size, const char* destination, entry_callback announce,
           progress_callback progress)
{
    memory_archive archive{bytes};
    const unzip::unzip_reader reader{&archive, size, memory_archive::read};
    unzip::entry_info entry;
    int result = unzip::find_only_entry(reader, entry);
    if (!result) result = unzip::check_entry_name(entry.name, entry.name_length);
    char target[MAX_PATH];
    if (!result && std::strlen(destination) + 1 + entry.name_length >= MAX_PATH) result = unzip::cannot_create;
    if (!result) {
        lstrcpynA(announced_name, entry.name, sizeof announced_name);
        std::uint32_t name_field = 0;
        if (announce && (!unzip_record::address_field(announced_name, name_field) ||
                         !announce(name_field, entry.unpacked_size, entry.packed_size, entry.crc, entry.method,
                                   entry.dos_time, entry.flags)))
            result = unzip::skipped;
    }
    if (!result) {
        std::strcpy(target, destination);
        const std::size_t length = std::strlen(target);
        if (length && target[length - 1] != '\\') std::strcat(target, "\\");
        std::strcat(target, entry.name);
        output out{_lcreat(target, 0)};
        if (out.file == HFILE_ERROR) result = unzip::cannot_create;
        else {
            result = unzip::extract_entry(reader, entry, unzip::unzip_writer{&out, output::write});
            if (_lclose(out.file) == HFILE_ERROR && !result) result = unzip::cannot_create;
            if (result) DeleteFileA(target);
        }
        if (!result && progress) progress(entry.unpacked_size, entry.unpacked_size, 0);
    }
    unzip::release_entry(entry);
    return result;
}

}  // namespace

extern "C" const unsigned char* __stdcall last_command() { return last_record; }

extern "C" int __stdcall dunzip(void* record_pointer)
{
    auto* record = static_cast<unsigned char*>(record_pointer);
    if (!record || unzip_record::get(record, unzip_record::at_size) != unzip_record::size) return unzip::bad_record;
    std::memcpy(last_record, record, unzip_record::size);
    if (unzip_record::get(record, unzip_record::at_command) != unzip_record::command_extract) return unzip::bad_record;
    const auto* archive_path = unzip_record::field_address<const char*>(unzip_record::get(record, unzip_record::at_archive));
    const auto* destination = unzip_record::field_address<const char*>(unzip_record::get(record, unzip_record::at_destination));
    OFSTRUCT opened{};
    const HFILE file = OpenFile(archive_path, &opened, OF_READ | OF_SHARE_COMPAT);
    if (file == HFILE_ERROR) return unzip::cannot_read;
    const LONG size = _llseek(file, 0, FILE_END);
    auto* bytes = size > 0 ? static_cast<unsigned char*>(std::malloc(size)) : nullptr;
    int result = bytes ? unzip::ok : size > 0 ? unzip::no_memory : unzip::damaged;
    if (!result && (_llseek(file, 0, FILE_BEGIN) != 0 || _lread(file, bytes, size) != static_cast<UINT>(size)))
        result = unzip::cannot_read;
    _lclose(file);
    if (!result)
        result = unpack(bytes, static_cast<std::uint32_t>(size), destination,
                        unzip_record::field_address<entry_callback>(unzip_record::get(record, unzip_record::at_entry)),
                        unzip_record::field_address<progress_callback>(unzip_record::get(record, unzip_record::at_progress)));
    std::free(bytes);
    return result;
}
