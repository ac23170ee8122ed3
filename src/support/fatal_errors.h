// Every fatal error of a run, by name, number and meaning. A stage that cannot go on sets the
// run's fatal_error to one of them (stop_with in run_state.h) and the finish reports the number;
// qelpack names the meaning of a package that SETUP.EXE would refuse. Portable.
#pragma once

#include <cstdint>

// name, number, meaning
#define QEL_FATAL_ERRORS(X)                                                                                      \
    X(no_marker, 1, "the resource marker is missing or does not load, or its package offset is 0")              \
    X(no_program_name, 2, "the program's own file name cannot be had")                                           \
    X(package_not_opened, 3, "the package file cannot be opened for reading")                                    \
    X(package_seek, 4, "the package file cannot be read from the package's offset")                              \
    X(bad_header_field, 5, "a header field or the member count is too long for its capacity, or cut short")      \
    X(bad_member_entry, 6, "a group record or a member entry is malformed or cut short")                         \
    X(member_seek, 7, "the package cannot be read from a member's data")                                         \
    X(member_read, 8, "a member's data cannot be read whole")                                                    \
    X(member_write, 9, "a member's archive could not be written: the user gave up on the disk space")            \
    X(address_out_of_reach, 10, "an address for the unzip library's command record lies above 4 GiB")            \
    X(unzip_library_not_created, 11, "dunzipnt.dll cannot be created in the client's folder")                    \
    X(unzip_library_not_closed, 12, "dunzipnt.dll cannot be closed once written")                                \
    X(unzip_library_not_loaded, 13, "neither dunzipnt.dll nor dunzip32.dll loads from the client's folder")      \
    X(unzip_library_no_export, 14, "the unzip library has no export \"dunzip\"")                                 \
    X(gauge_class, 15, "the gauge's window class cannot be registered")                                          \
    X(frame_class, 16, "the frame's window class cannot be registered")                                          \
    X(frame_window, 17, "the frame window cannot be created")                                                    \
    X(bad_magic, 18, "the package does not begin with RS")                                                       \
    X(archive_not_created, 19, "a member's temporary archive (or a direct member's file) cannot be created")     \
    X(archive_not_closed, 20, "a member's temporary archive cannot be closed")                                   \
    X(unpacked_size, 21, "an unpacked file is missing or its size differs from the member's")                    \
    X(main_database, 22, "the client's IDB\\MAIN.IDX cannot be opened, or opened again to add a record")      \
    X(version_not_written, 23, "the version record cannot be written back")                                      \
    X(version_not_read, 24, "the version record of MAIN.IDX cannot be read")                                     \
    X(package_version_not_written, 25, "the package version cannot be written into MAIN.IDX")                    \
    X(dialog_procedures, 28, "the dialog procedures of the modal runners are missing")                           \
    X(marker_tag_not_written, 29, "the marker tag cannot be written into MAIN.IDX")                              \
    X(rule_not_carried_out, 30, "a system or if-newer member could not be put in place")                         \
    X(bad_number_18, 31, "reserved_number_18 is too long or cut short")                                          \
    X(bad_switch_19, 32, "reserved_switch_19 is too long or cut short")                                          \
    X(bad_switch_20, 33, "reserved_switch_20 is too long or cut short")                                          \
    X(bad_number_17, 34, "reserved_number_17 is too long or cut short")

namespace fatal {

#define QEL_FATAL_NUMBER(name, number, meaning) constexpr std::uint16_t name = number;
QEL_FATAL_ERRORS(QEL_FATAL_NUMBER)
#undef QEL_FATAL_NUMBER

// The unzip library failed with a result it is not asked again about: 1000 plus that result.
constexpr std::uint16_t unzip_library_result = 1000;

}  // namespace fatal

struct fatal_error_meaning {
    std::uint16_t number;
    const char* name;
    const char* meaning;
};

#define QEL_FATAL_ENTRY(name, number, meaning) {number, #name, meaning},
inline constexpr fatal_error_meaning fatal_error_meanings[] = {QEL_FATAL_ERRORS(QEL_FATAL_ENTRY)};
#undef QEL_FATAL_ENTRY

// What a fatal error number means; null for a number not in the list. Numbers from 1000 on are
// the unzip library's result plus 1000.
inline const char* fatal_error_meaning_of(std::uint16_t number)
{
    if (number >= fatal::unzip_library_result) return "the unzip library failed (1000 plus its result code)";
    for (const fatal_error_meaning& entry : fatal_error_meanings)
        if (entry.number == number) return entry.meaning;
    return nullptr;
}
