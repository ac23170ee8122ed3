#include "clientdb/merge.h"

#include <windows.h>

#include <cstring>

#include "app/run_state.h"
#include "clientdb/client_db.h"
#include "install/cleanup.h"
#include "install/paths.h"
#include "locate/registry.h"
#include "package/package_format.h"
#include "resource_ids.h"
#include "shell/shell_entries.h"
#include "shell/win_ini_copy.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/text_format.h"
#include "ui/dialogs.h"
#include "ui/gauge.h"

namespace {

constexpr std::uint32_t version_gid = 0x14000006;
constexpr std::uint32_t installed_mark_gid = 0x140000D1;
constexpr std::uint32_t package_version_gid = 0x14000044;
constexpr std::uint32_t marker_tag_gid = 0x14000046;
constexpr std::uint32_t batch_limit = 64000;
constexpr const char* client_key = "SOFTWARE\\Qelmora\\QEL\\CurrentVersion";

// One record read from the source and not yet written: this header, then `size` body bytes,
// in one memory block.
struct pending_record {
    std::uint32_t gid;
    std::uint16_t size;
    pending_record* next;
};

unsigned char* body_of(pending_record* item) { return reinterpret_cast<unsigned char*>(item + 1); }

// What one copy into MAIN.IDX works with.
struct merge_pass {
    client_db* main;
    HWND gauge;
    std::uint32_t progress;
    bool step_by_size;  // the passes over embedded databases advance by size / 10, not by 1
    pending_record* batch;  // newest first
    std::uint32_t pending_bytes;
};

void set_gauge(HWND gauge, UINT message, std::uint32_t value)
{
    if (gauge) SendMessageA(gauge, message, 0, static_cast<LPARAM>(value));
}

// Records whose gid has 0x01 as its top byte keep kind 'p'; every other copy is 'b'.
std::uint8_t copied_kind(std::uint32_t gid) { return (gid >> 24) == 0x01 ? kind_p : kind_binary; }

void drop_batch(merge_pass& pass)
{
    while (pass.batch) {
        pending_record* next = pass.batch->next;
        free_block(pass.batch);
        pass.batch = next;
    }
    pass.pending_bytes = 0;
}

// Writes the batch, most recently read first; a cancel drops what is left.
void write_out_batch(merge_pass& pass)
{
    while (pass.batch) {
        pending_record* item = pass.batch;
        if (db_write_record(pass.main, item->gid, body_of(item), item->size, copied_kind(item->gid)))
            log_line("Wrote GID %lu (size %u)", static_cast<unsigned long>(item->gid), unsigned{item->size});
        else
            log_line("Failed to write GID %lu", static_cast<unsigned long>(item->gid));
        if (setup.install_cancelled) break;
        pass.batch = item->next;
        free_block(item);
        pump_messages();
    }
    drop_batch(pass);
}

int copy_visitor(client_db* source, std::uint32_t gid, std::uint16_t size, void* context)
{
    merge_pass& pass = *static_cast<merge_pass*>(context);
    if (setup.install_cancelled) return 0;
    pass.progress += pass.step_by_size ? size / 10u : 1u;
    set_gauge(pass.gauge, GAUGE_SETPOS, pass.progress);
    pump_messages();
    if (size == 0) return 1;

    auto* item = static_cast<pending_record*>(alloc_block(static_cast<std::uint32_t>(sizeof(pending_record)) + size));
    std::uint16_t read_size = size;
    if (!db_read_record(source, gid, body_of(item), &read_size) || read_size != size) {
        log_line("Couldn't read GID %lu", static_cast<unsigned long>(gid));
        free_block(item);
        return 1;
    }
    item->gid = gid;
    item->size = size;
    item->next = pass.batch;
    pass.batch = item;
    pass.pending_bytes += size;
    if (pass.pending_bytes > batch_limit) write_out_batch(pass);
    return 1;
}

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
    setup.fatal_error = 22;
    return false;
}

// One of the passes over the databases the package carries in place (stored raw, each a whole
// long-form database file): every record of every listed member goes into MAIN.IDX.
// false when the stage is to end.
bool merge_embedded_list(const name_list& list, std::uint32_t list_bytes, unsigned template_id)
{
    if (list.count == 0) return true;
    merge_pass pass{};
    if (!open_main_database(&pass.main)) return false;
    const HWND dialog = open_dialog(template_id, silent_dialog_proc);
    pass.gauge = dialog_gauge(dialog);
    pass.step_by_size = true;
    set_gauge(pass.gauge, GAUGE_SETRANGE, list_bytes / 10);
    for (std::uint16_t i = 0; i < list.count && !setup.install_cancelled; ++i) {
        const package_member* member = find_member(list.names[i]);
        client_db* source = nullptr;
        if (!member ||
            db_open_embedded(list.names[i], &source, member->data_offset, member->unpacked_size, setup.package_handle)) {
            log_line("Couldn't open %s in the package", list.names[i]);
            continue;
        }
        db_for_each(source, copy_visitor, &pass);
        db_release(source);
        if (!setup.install_cancelled) write_out_batch(pass);
    }
    drop_batch(pass);
    db_close(pass.main);
    close_dialog(template_id);
    return !setup.install_cancelled;
}

// The "move" rules of the preparation, kept until the records are in: one gauge step each.
void carry_out_deferred_moves(merge_pass& pass)
{
    for (deferred_move* move = setup.deferred_moves; move; move = move->next) {
        char parent[path_capacity], parent_path[path_capacity];
        path_directory(parent, move->destination);
        if (parent[0] && format_text(parent_path, sizeof parent_path, "%s\\", parent) < path_capacity)
            make_directory_path(parent_path);
        // What is already at the destination stays: a move never overwrites.
        if (rename_path(move->source, move->destination)) log_line("Moved %s -> %s", move->source, move->destination);
        else log_line("Couldn't move %s -> %s", move->source, move->destination);
        set_gauge(pass.gauge, GAUGE_SETPOS, ++pass.progress);
        pump_messages();
    }
}

// WIN.INI's [ZOVE] keys "Installed" and "AppPath". (A single write of the whole section would
// keep the two together, but Wine answers it with success and writes nothing.)
bool write_client_section()
{
    return WriteProfileStringA("ZOVE", "Installed", "US") && WriteProfileStringA("ZOVE", "AppPath", setup.target_dir);
}

// 0 when WIN.INI could not be written and the user gave up on the disk space. A write that lost
// other entries of WIN.INI counts as failed: the copy kept beside it is put back first.
int record_installation()
{
    while (!keep_win_ini_copy() || !write_client_section() || !win_ini_came_through()) {
        settle_win_ini_copy();
        if (!ask_more_disk_space()) {
            log_line("Couldn't write WIN.INI");
            give_up_on_disk_space();
            return 0;
        }
    }
    reg_update_string(HKEY_LOCAL_MACHINE, client_key, "AppPath", setup.target_dir);
    reg_update_string(HKEY_CURRENT_USER, client_key, "AppPath", setup.target_dir);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        register_help_contents();
        register_uninstall_entry();
    }
    return 1;
}

}  // namespace

int merge_databases()
{
    if (!merge_embedded_list(setup.merge_list_a, setup.merge_bytes_a, DLG_MERGE_PROGRESS_A)) return 0;
    if (!merge_embedded_list(setup.merge_list_b, setup.merge_bytes_b, DLG_MERGE_PROGRESS_B)) return 0;

    merge_pass pass{};
    client_db* source = nullptr;
    HWND dialog = nullptr;
    const bool delivered = setup.merge_db_dir[0] != '\0';
    char source_path[path_capacity];
    join_path(source_path, setup.merge_db_dir, "IDB\\MERGE.DB", nullptr);
    if (delivered) {
        dialog = open_dialog(DLG_DB_PROGRESS, silent_dialog_proc);
        pass.gauge = dialog_gauge(dialog);
        set_gauge(pass.gauge, GAUGE_SETPOS, 1);
        if (db_open(source_path, &source) != 0) {
            log_line("Couldn't open old db");
            source = nullptr;
        } else {
            unsigned char version[3] = {};
            std::uint16_t size = 0;
            if (auto* body = static_cast<unsigned char*>(db_read_record(source, version_gid, nullptr, &size))) {
                std::memcpy(version, body, size < sizeof version ? size : sizeof version);
                free_block(body);
            }
            log_line("Old version: %u.%u", unsigned{version[1]}, unsigned{version[2]});
        }
        set_gauge(pass.gauge, GAUGE_SETPOS, 2);
    }
    pump_messages();

    auto end_stage = [&](std::uint16_t error) {
        drop_batch(pass);
        if (source) db_close(source);
        if (pass.main) db_close(pass.main);
        if (dialog) close_dialog(DLG_DB_PROGRESS);
        if (error) setup.fatal_error = error;
        return 0;
    };
    if (!open_main_database(&pass.main)) return end_stage(22);
    const unsigned char installed_mark[4] = {0, 0, 0, 1};
    db_write_record(pass.main, installed_mark_gid, installed_mark, sizeof installed_mark, kind_binary);

    if (source) {
        set_gauge(pass.gauge, GAUGE_SETRANGE, db_record_count(source) + setup.deferred_move_count);
        pass.progress = 0;
        db_for_each(source, copy_visitor, &pass);
        if (!setup.install_cancelled) write_out_batch(pass);
        if (setup.install_cancelled) return end_stage(0);
    }
    carry_out_deferred_moves(pass);

    if (setup.db_version) {
        std::uint16_t size = 0;
        auto* body = static_cast<unsigned char*>(db_read_record(pass.main, version_gid, nullptr, &size));
        if (!body || size < 3) {
            if (body) free_block(body);
            return end_stage(24);
        }
        block_closer closer{body};
        store_u16(body + 1, setup.db_version);
        if (!db_write_record(pass.main, version_gid, body, size, kind_binary)) return end_stage(23);
        log_line("New version: %u.%u", setup.db_version & 0xFFu, static_cast<unsigned>(setup.db_version) >> 8);
    }
    if (setup.package_version[0] && !db_write_text(pass.main, package_version_gid, setup.package_version))
        return end_stage(25);
    if (setup.marker_tag[0] && !db_write_text(pass.main, marker_tag_gid, setup.marker_tag)) return end_stage(29);

    if (source) db_close(source);
    db_close(pass.main);
    if (dialog) close_dialog(DLG_DB_PROGRESS);
    if (delivered) DeleteFileA(source_path);
    return record_installation();
}
