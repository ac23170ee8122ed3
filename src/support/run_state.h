// The one run-wide state of the setup program: every subsystem reads and writes these
// fields and nothing else is shared between them. The header is portable so that code
// without windows.h (command line, package format) fills the same record.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windef.h>
using module_handle = HINSTANCE;
using window_handle = HWND;
#else
using module_handle = void*;
using window_handle = void*;
#endif

constexpr int path_capacity = 260;  // 259 characters and the NUL

// A list of names read from the package; the arrays are empty when count is 0.
struct name_list {
    std::uint16_t count;
    char** names;
};

struct paired_name_list {
    std::uint16_t count;
    char** first;
    char** second;
};

constexpr int number_list_capacity = 64;

struct number_list {
    std::uint16_t count;
    std::uint16_t values[number_list_capacity];
};

struct package_member;
struct member_table;
struct deferred_move;

// A closed temporary archive on the disk and its size.
struct kept_archive {
    char path[path_capacity];
    std::uint32_t size;
};

struct run_state {
    module_handle app_instance;
    char windows_dir[path_capacity];
    window_handle frame_window;
    char target_dir[path_capacity];
    char merge_db_dir[path_capacity];
    std::uint16_t fatal_error;

    int setup_aborted;
    int install_cancelled;
    int search_stopped;
    // The search for the installed client: the best acceptable directory so far and the DOS
    // date-time of its main database (0: none accepted yet).
    char best_client_dir[path_capacity];
    std::uint32_t best_client_time;
    int restart_windows;
    int next_disk_started;
    int offer_low_space_program;
    // Progress that changes faster than anyone follows it (the current file, the gauge, the
    // message pump of the install and the merge) goes to the screen at most this often, in
    // milliseconds; 0 sends every one.
    std::uint32_t screen_pace_ms;

    // Command-line options; some are replaced or completed by the package.
    int crash_mode;
    int quiet_finish;
    int skip_modem;
    int chained_run;
    char previous_target_dir[path_capacity];
    int target_given;
    char given_target_dir[path_capacity];
    int write_version_inf;
    char package_file[path_capacity];

    // Package fields, each text buffer exactly as large as the package allows.
    char progman_group[64];
    char progman_item[128];
    char progman_program[64];
    char product_name[64];
    char package_version[32];
    char welcome_text[512];
    char not_found_text[256];
    char next_disk_command[32];
    char later_disk_marker[32];
    char low_space_program[64];
    char direct_member[32];
    int check_system;
    std::uint16_t db_version;
    std::uint16_t extra_space_kb;
    std::uint32_t required_msie_build;
    paired_name_list rename_list;
    name_list prepare_dir_list;
    name_list windows_dir_deletions;
    name_list target_dir_deletions;
    name_list merge_list_a;
    name_list merge_list_b;
    number_list accepted_builds;
    name_list msie_skip_list;

    // Package access.
    int package_handle;  // -1 while no package file is open
    std::uint32_t package_offset;
    char marker_tag[16];
    unsigned char* io_buffer;
    member_table* file_table;
    std::uint32_t merge_bytes_a;
    std::uint32_t merge_bytes_b;

    std::uint16_t unzip_library_member;
    std::uint16_t deferred_move_count;
    deferred_move* deferred_moves;  // newest first; freed by release_deferred_moves

    // A bit per member index: set when this run's install made the member's file where no file
    // was. A stopped install takes back only these; a file it replaced stays, whole and new.
    unsigned char member_created[65536 / 8];

    // The temporary archives of members done, kept to be written over by the next ones (empty
    // path: none). Two while the next member's archive is written ahead of its turn.
    kept_archive spare_archives[2];
};

// A fresh state, as at the start of a run.
run_state initial_run_state();

extern run_state setup;

// The user gave up on a full disk: the install stops, and the low-space program is offered
// when the package names one.
void give_up_on_disk_space();

// The run cannot go on: fatal_error becomes `error` (support/fatal_errors.h), and 0 is returned
// for the failing step to return.
int stop_with(std::uint16_t error);

// The install stops without a fatal error and without the low-space program (a database whose
// end is damaged takes no more records).
void stop_install();
