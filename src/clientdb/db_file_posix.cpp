// The client database's file services on POSIX calls, for the native tools and tests. Nobody is
// there to answer a retry box, so both questions are answered "no"; there is no setup log, so log
// lines are dropped (the tools watch scans through db_scan_observer instead).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "clientdb/db_file.h"
#include "support/run_state.h"

namespace {

db_file open_file(const char* path, int writable)
{
    const int descriptor = ::open(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    return descriptor < 0 ? no_db_file : descriptor;
}

db_file duplicate_file(db_file file)
{
    const int descriptor = file < 0 ? -1 : ::dup(file);
    return descriptor < 0 ? no_db_file : descriptor;
}

void close_file(db_file file)
{
    if (file >= 0) ::close(file);
}

int seek_file(db_file file, std::uint32_t offset)
{
    return file >= 0 && ::lseek(file, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

int seek_file_end(db_file file, std::uint32_t* end)
{
    const off_t found = file < 0 ? -1 : ::lseek(file, 0, SEEK_END);
    if (found < 0 || found > static_cast<off_t>(UINT32_MAX)) return 0;
    *end = static_cast<std::uint32_t>(found);
    return 1;
}

std::uint32_t read_file(db_file file, void* buffer, std::uint32_t count)
{
    auto* out = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (file >= 0 && done < count) {
        const ssize_t got = ::read(file, out + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::uint32_t>(got);
    }
    return done;
}

std::uint32_t write_file(db_file file, const void* data, std::uint32_t count)
{
    const auto* in = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (file >= 0 && done < count) {
        const ssize_t put = ::write(file, in + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<std::uint32_t>(put);
    }
    return done;
}

int set_file_length(db_file file, std::uint32_t length)
{
    return file >= 0 && ::ftruncate(file, static_cast<off_t>(length)) == 0;
}

int flush_file(db_file file) { return file >= 0 && ::fdatasync(file) == 0; }

void remove_file(const char* path) { ::unlink(path); }

void list_directory(const char* directory, int (*visit)(void*, const char*), void* context)
{
    DIR* listing = ::opendir(directory);
    if (!listing) return;
    while (const dirent* item = ::readdir(listing)) {
        struct stat status {};
        if (::fstatat(::dirfd(listing), item->d_name, &status, 0) != 0 || S_ISDIR(status.st_mode)) continue;
        if (!visit(context, item->d_name)) break;
    }
    ::closedir(listing);
}

// Room on the file system holding `path`, counted in its blocks as the Win32 side counts clusters:
// the blocks needed must be strictly fewer than the blocks free.
int has_room(const char* path, char, std::uint32_t bytes)
{
    std::string directory(path);
    const auto slash = directory.rfind('/');
    directory = slash == std::string::npos ? "." : slash == 0 ? "/" : directory.substr(0, slash);
    struct statvfs status {};
    if (::statvfs(directory.c_str(), &status) != 0 || status.f_frsize == 0) return 0;
    const unsigned long long needed = bytes / status.f_frsize + 1;
    return needed < static_cast<unsigned long long>(status.f_bavail);
}

int answer_no(char) { return 0; }
int answer_no_question() { return 0; }
void drop_line(const char*) {}

}  // namespace

const db_host db_platform_host = {
    .open = open_file,
    .duplicate = duplicate_file,
    .close = close_file,
    .seek = seek_file,
    .seek_end = seek_file_end,
    .read = read_file,
    .write = write_file,
    .set_length = set_file_length,
    .flush = flush_file,
    .remove = remove_file,
    .list_directory = list_directory,
    .has_room = has_room,
    .ask_disk_full = answer_no,
    .ask_more_disk_space = answer_no_question,
    .log = drop_line,
    .gave_up_on_disk_space = give_up_on_disk_space,
    .stop_install = stop_install,
};
