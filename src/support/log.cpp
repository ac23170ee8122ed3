#include "support/log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "support/memory.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/text_format.h"

int log_flushed;

namespace {

char format_buffer[log_format_capacity];
char line_buffer[log_line_capacity];
char* log_buffer;
std::uint16_t log_capacity;
std::uint16_t log_used;
HFILE log_file = HFILE_ERROR;
char fixed_drive_path[path_capacity];
// The file this run has written to. A file that the run has not written yet is made anew,
// so it never keeps an earlier run's lines, even when the first flush found no destination.
char written_path[path_capacity];

void write_whole(HFILE file, const char* text, UINT length) { _lwrite(file, text, length); }

// Whether this run has begun its crash-mode log: from then on the file is only appended to.
bool crash_log_begun;

// The crash-mode log, open at its end: made anew by the run's first line (an earlier run's
// lines go); after that reopened, and made again only when it is gone, so a reopen that fails
// loses that line but never the lines already written.
HFILE open_crash_log()
{
    const char* path = fixed_drive_log_path();
    if (crash_log_begun) {
        const HFILE file = _lopen(path, OF_WRITE);
        if (file != HFILE_ERROR) {
            _llseek(file, 0, FILE_END);
            return file;
        }
        if (path_exists(path)) return HFILE_ERROR;
    }
    const HFILE file = _lcreat(path, 0);
    if (file != HFILE_ERROR) crash_log_begun = true;
    return file;
}

// Crash mode: every line reaches the disk before the next one is made.
void write_crash_line(const char* line, UINT length)
{
    if (log_file == HFILE_ERROR) {
        log_file = open_crash_log();
        if (log_file == HFILE_ERROR) return;
    }
    write_whole(log_file, line, length);
    _lclose(log_file);
    log_file = open_crash_log();
}

void start_buffer()
{
    log_buffer = static_cast<char*>(alloc_block(log_growth));
    log_capacity = log_growth;
    log_used = 0;
}

const char* closing_log_path()
{
    if (setup.fatal_error) return fixed_drive_log_path();
    if (setup.target_dir[0] && path_exists(setup.target_dir)) {
        static char path[path_capacity];
        return join_path(path, setup.target_dir, "update.log", nullptr);
    }
    return nullptr;
}

}  // namespace

const char* fixed_drive_log_path()
{
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        if (GetDriveTypeA(root) == DRIVE_FIXED) {
            const char path[] = {static_cast<char>(letter - 'A' + 'a'), ':', '\\', '\0'};
            std::strcpy(fixed_drive_path, path);
            std::strcat(fixed_drive_path, "update.log");
            return fixed_drive_path;
        }
    }
    std::strcpy(fixed_drive_path, "update.log");
    return fixed_drive_path;
}

void log_line(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const int formatted = format_text_v(format_buffer, sizeof format_buffer, format, args);
    va_end(args);
    if (formatted < 0) return;

    // Room is kept for the end of line and the NUL; a longer line is cut, never overflows.
    std::size_t length = escape_log_text(format_buffer, line_buffer, sizeof line_buffer - 2);
    line_buffer[length++] = '\r';
    line_buffer[length++] = '\n';
    line_buffer[length] = '\0';

    if (setup.crash_mode) {
        write_crash_line(line_buffer, static_cast<UINT>(length));
        return;
    }
    if (!log_buffer) start_buffer();
    if (log_used + length >= log_flush_mark) {
        close_log();  // writes what is held so far, without this line
        start_buffer();
    }
    log_used = static_cast<std::uint16_t>(log_used + length);
    if (log_used >= log_capacity) {
        const std::uint16_t grown = static_cast<std::uint16_t>(log_capacity + log_growth);
        char* bigger = static_cast<char*>(alloc_block(grown));
        std::memcpy(bigger, log_buffer, log_used - length);
        free_block(log_buffer);
        log_buffer = bigger;
        log_capacity = grown;
    }
    std::memcpy(log_buffer + (log_used - length), line_buffer, length + 1);
}

void close_log()
{
    if (log_file != HFILE_ERROR) {
        _lclose(log_file);
        log_file = HFILE_ERROR;
    }
    if (!log_buffer) return;
    if (const char* path = closing_log_path()) {
        const bool same_file = log_flushed && lstrcmpiA(path, written_path) == 0;
        HFILE file = same_file ? _lopen(path, OF_WRITE) : HFILE_ERROR;
        if (file == HFILE_ERROR) file = _lcreat(path, 0);
        if (file != HFILE_ERROR) {
            lstrcpynA(written_path, path, sizeof written_path);
            _llseek(file, 0, FILE_END);
            write_whole(file, log_buffer, log_used);
            _lclose(file);
        }
    }
    log_flushed = 1;
    free_block(log_buffer);
    log_buffer = nullptr;
}
