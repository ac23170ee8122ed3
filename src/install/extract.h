// Writing one member out: its archive copied from the package to a temporary file, unpacked by
// the unzip library loaded from target_dir, the result's size checked.
#pragma once

#include <windows.h>

#include <cstdint>

struct package_member;
struct screen_pace;

// run_unzip's answer when an address the command record would carry lies at 4 GiB or above (only
// a 64-bit build can have one): the library is not called, and write_out_member stops with
// fatal::address_out_of_reach rather than hand over a cut address.
constexpr int unzip_address_out_of_reach = -1;

// Copies the member's stored bytes (its archive) from the package into `file` at its position,
// through io_buffer in chunks of at most 32768 bytes; with a pace, the gauge is moved before
// each chunk to (base + copied) / divisor at the screen's pace. 1 done; 0 with fatal_error 7, 8 or 9.
int copy_member_bytes(int file, const package_member* member, screen_pace* pace, std::uint32_t base,
                      std::uint32_t divisor);

// A first member named dunzipnt.dll is the library itself: written raw to target_dir. 1 to go on.
int place_unzip_library();

// Loads dunzipnt.dll, else dunzip32.dll, from target_dir and finds "dunzip". 1 ready.
int load_unzip_library();

// Unloads the library at the end of the run.
void unload_unzip_library();

// The library's default command record.
void fill_unzip_defaults(unsigned char* record);

// Has the library unpack `archive` into `directory`; its result code, or
// unzip_address_out_of_reach.
int run_unzip(const char* archive, const char* directory);

// The library's two progress calls: their arguments are not needed, the answer is go on.
int __stdcall unzip_callback_a(std::uint32_t, std::uint32_t, std::uint32_t);
int __stdcall unzip_callback_b(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, std::uint32_t);

// Writes the member to `final_path` (directly when `direct`, else through the temporary archive
// and the library, with the memory and disk-space retries) and checks its size. 1 in place; 0
// when the install must stop (fatal_error set, or install_cancelled), and then the archive is
// left under `archive_path`. The gauge and the message pump go at `pace` (none: no progress
// shown). With a `next` member, its archive is written ahead (to a kept archive, else to
// `next_archive`) while the library unpacks this one; an archive written ahead for this member is
// taken instead of copying it now. The archive of a member put in place is done with: it is kept
// (below) rather than being deleted.
int write_out_member(const package_member* member, const char* archive_path, const char* directory,
                     const char* final_path, int direct, screen_pace* pace, std::uint32_t base, std::uint32_t divisor,
                     const package_member* next, const char* next_archive);

// The archives of members done (setup.spare_archives), kept on the disk, closed, and written over
// by the next members under the names they were made with, so that the install loop does not
// create and delete a file per member: on an ext4 without a journal (where Wine runs here) each
// deleted file slows every later file creation on that disk for a minute or more. Deleted here,
// with one written ahead, before anything else needs their space (a direct member, a copy to the
// system folder or of a newer file, the game PIF) and when the loop ends; nothing when there are
// none. True when any went.
bool discard_spare_archive();
