// The setup log, update.log: one line per decision, kept in memory and written once at the end
// of the run (in crash mode, to disk line by line). It never reports a failure.
#pragma once

constexpr int log_format_capacity = 512;
constexpr int log_line_capacity = 1024;
constexpr unsigned log_growth = 4000;
constexpr unsigned log_flush_mark = 64000;

void log_line(const char* format, ...);
void close_log();

// The log's place on the first fixed drive, e.g. "c:\update.log"; rebuilt on each call.
const char* fixed_drive_log_path();

extern int log_flushed;
