#include "app/install_stage.h"

#include <windows.h>

#include "clientdb/client_db.h"
#include "clientdb/record_merge.h"
#include "install/cleanup.h"
#include "install/install_loop.h"
#include "package/package_format.h"
#include "resource_ids.h"
#include "shell/dde_client.h"
#include "shell/installation_record.h"
#include "support/fatal_errors.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "ui/dialogs.h"
#include "ui/gauge.h"
#include "ui/screen_pace.h"

namespace {

// The merge's progress on a dialog's gauge: a record costs less than a drawing or a pump, so both
// keep the screen's pace (a Cancel is seen within it); settle_gauge then shows where the copy
// ended. The install is cancelled through the run state.
void advance_gauge(void* context, std::uint32_t position) { pace_gauge(*static_cast<screen_pace*>(context), position); }

void let_messages_through(void* context) { pace_turn(*static_cast<screen_pace*>(context)); }

int install_cancelled(void*) { return setup.install_cancelled; }

merge_progress progress_on(screen_pace& pace) { return {&pace, advance_gauge, let_messages_through, install_cancelled}; }

// The member of the package of that name, or null.
const package_member* find_member(const char* name)
{
    if (!setup.file_table) return nullptr;
    for (std::uint16_t i = 0; i < setup.file_table->count; ++i)
        if (same_name(member_name(setup.file_table->members[i]), name)) return setup.file_table->members[i];
    return nullptr;
}

bool open_main_database(client_db** main)
{
    char path[path_capacity];
    join_path(path, setup.target_dir, "IDB", "MAIN.IDX", nullptr);
    if (db_open(path, main) == 0) return true;
    stop_with(fatal::main_database);
    return false;
}

// One of the passes over the databases the package carries in place (stored raw, each a whole
// long-form database file): every record of every listed member goes into MAIN.IDX.
// false when the stage is to end.
bool merge_embedded_list(const name_list& list, std::uint32_t list_bytes, unsigned template_id)
{
    if (list.count == 0) return true;
    client_db* main = nullptr;
    if (!open_main_database(&main)) return false;
    const HWND dialog = open_dialog(template_id, silent_dialog_proc);
    const HWND gauge = dialog_gauge(dialog);
    screen_pace pace{gauge};
    const merge_progress progress = progress_on(pace);
    record_copy copy{main, &progress, 0, true, nullptr, 0};
    set_gauge(gauge, GAUGE_SETRANGE, list_bytes / 10);
    for (std::uint16_t i = 0; i < list.count && !setup.install_cancelled; ++i) {
        const package_member* member = find_member(list.names[i]);
        client_db* source = nullptr;
        if (!member ||
            db_open_embedded(list.names[i], &source, member->data_offset, member->unpacked_size, setup.package_handle)) {
            log_line("Couldn't open %s in the package", list.names[i]);
            continue;
        }
        copy_records(copy, source);
        db_release(source);
    }
    settle_gauge(pace);
    drop_pending_records(copy);
    if (db_lost(main)) stop_with(fatal::main_database);
    db_close(main);
    close_dialog(template_id);
    return !setup.install_cancelled;
}

}  // namespace

int merge_databases()
{
    if (!merge_embedded_list(setup.merge_list_a, setup.merge_bytes_a, DLG_MERGE_PROGRESS_A)) return 0;
    if (!merge_embedded_list(setup.merge_list_b, setup.merge_bytes_b, DLG_MERGE_PROGRESS_B)) return 0;

    client_db* source = nullptr;
    HWND dialog = nullptr;
    HWND gauge = nullptr;
    const bool delivered = setup.merge_db_dir[0] != '\0';
    char source_path[path_capacity];
    join_path(source_path, setup.merge_db_dir, "IDB\\MERGE.DB", nullptr);
    if (delivered) {
        dialog = open_dialog(DLG_DB_PROGRESS, silent_dialog_proc);
        gauge = dialog_gauge(dialog);
        set_gauge(gauge, GAUGE_SETPOS, 1);
        if (db_open(source_path, &source) != 0) {
            log_line("Couldn't open old db");
            source = nullptr;
        } else {
            log_source_version(source);
        }
        set_gauge(gauge, GAUGE_SETPOS, 2);
    }
    pump_messages();

    screen_pace pace{gauge};
    const merge_progress progress = progress_on(pace);
    record_copy copy{nullptr, &progress, 0, false, nullptr, 0};
    auto end_stage = [&](std::uint16_t error) {
        drop_pending_records(copy);
        if (source) db_close(source);
        if (copy.main) db_close(copy.main);
        if (dialog) close_dialog(DLG_DB_PROGRESS);
        if (error) stop_with(error);
        return 0;
    };
    if (!open_main_database(&copy.main)) return end_stage(fatal::main_database);
    mark_installed(copy.main);

    if (source) {
        set_gauge(gauge, GAUGE_SETRANGE, db_record_count(source) + setup.deferred_move_count);
        copy_records(copy, source);
        settle_gauge(pace);
    }
    // A cancel, a full disk given up on, or MAIN.IDX lost as a record went in.
    if (setup.install_cancelled) return end_stage(db_lost(copy.main) ? fatal::main_database : 0);
    carry_out_deferred_moves(gauge, copy.position);

    if (const std::uint16_t error =
            stamp_main_database(copy.main, setup.db_version, setup.package_version, setup.marker_tag))
        return end_stage(error);

    if (source) db_close(source);
    db_close(copy.main);
    if (dialog) close_dialog(DLG_DB_PROGRESS);
    if (delivered) DeleteFileA(source_path);
    return 1;
}

int install_stage()
{
    if (!install_files()) return 0;
    if (!merge_databases()) {
        clean_up_installed_files();
        return 0;
    }
    // The records are in and the database names the new build: from here on nothing is taken
    // back, so that the client is whole however the rest goes (a re-run finishes its record).
    if (!record_installation()) return 0;
    delete_listed_files();
    if (setup.progman_program[0]) {
        char program_path[path_capacity];
        target_path(program_path, setup.progman_program);
        if (!setup.quiet_finish) add_progman_item(setup.progman_group, setup.progman_item, program_path);
    }
    return 1;
}
