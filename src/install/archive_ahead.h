// The next member's archive written on a second thread while the unzip library unpacks the
// current one's: on two processors the copy out of the package and the library's work overlap.
// The thread reads the package through a handle of its own, writes that one file, closes it and
// shows nothing; the library is given an archive only once it is whole and closed, as when the
// main thread writes it. Anything that goes wrong leaves the member to be written as before.
#pragma once

#include <cstdint>

struct package_member;

// Starts the thread for one install loop; false, and nothing is ever written ahead, when it
// cannot be started.
bool open_archive_ahead();

// Ends the thread after the job in hand; an archive written and not taken is deleted.
void close_archive_ahead();

// Starts writing `member`'s archive to `path`: over the file there (`old_size` bytes long, cut to
// the archive's end) when `reuse`, else a new file. False when not started: no thread, or a job
// is in hand.
bool write_archive_ahead(const package_member* member, const char* path, bool reuse, std::uint32_t old_size);

// Waits for the job in hand. True when it was `member`'s and the archive is whole and closed, its
// name copied to `path` (path_capacity). Otherwise whatever the job wrote is deleted, and false.
bool take_archive_ahead(const package_member* member, char* path);

// Waits for the job in hand and deletes what it wrote; true when there was a job.
bool drop_archive_ahead();
