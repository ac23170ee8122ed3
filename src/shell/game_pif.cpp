#include "shell/game_pif.h"

#include <windows.h>

#include <array>
#include <cstring>

#include "resource_ids.h"
#include "support/file_replace.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/text_format.h"

namespace {

constexpr std::size_t program_field = 0x024;
constexpr std::size_t program_field_size = 63;  // 62 characters and the NUL

using pif_bytes = std::array<unsigned char, game_pif_size>;

constexpr void put_text(pif_bytes& pif, std::size_t at, const char* text, std::size_t field, char pad)
{
    std::size_t i = 0;
    for (; text[i]; ++i) pif[at + i] = static_cast<unsigned char>(text[i]);
    for (; i < field; ++i) pif[at + i] = static_cast<unsigned char>(pad);
}

// `nuls` NULs, then spaces to the end of the field.
constexpr void put_empty(pif_bytes& pif, std::size_t at, std::size_t nuls, std::size_t field)
{
    for (std::size_t i = 0; i < field; ++i) pif[at + i] = i < nuls ? 0 : ' ';
}

constexpr void put_u16(pif_bytes& pif, std::size_t at, unsigned value)
{
    pif[at] = static_cast<unsigned char>(value & 0xFF);
    pif[at + 1] = static_cast<unsigned char>(value >> 8);
}

constexpr void put_header(pif_bytes& pif, std::size_t at, const char* name, unsigned next, unsigned data, unsigned size)
{
    put_text(pif, at, name, 16, '\0');
    put_u16(pif, at + 16, next);
    put_u16(pif, at + 18, data);
    put_u16(pif, at + 20, size);
}

// The Windows 3.x layout: the basic section, then the 386 and 286 extensions. Only the program
// path is ever changed; the checksum stays that of the template as stored.
constexpr pif_bytes make_template()
{
    pif_bytes pif{};
    pif[0x001] = 0x13;
    put_text(pif, 0x002, "DOS Game", 30, ' ');
    put_u16(pif, 0x020, 128);
    put_u16(pif, 0x022, 128);
    put_text(pif, program_field, "D.EXE", 6, '\0');
    put_empty(pif, program_field + 6, 0, program_field_size - 6);
    pif[0x063] = 0x10;
    put_empty(pif, 0x065, 1, 64);
    put_empty(pif, 0x0A5, 6, 64);
    pif[0x0E5] = 0x7F;
    pif[0x0E6] = 1;
    pif[0x0E8] = 0xFF;
    pif[0x0E9] = 25;
    pif[0x0EA] = 80;
    put_u16(pif, 0x0ED, 7);
    pif[0x16F] = 0xE0;
    pif[0x170] = 0x60;

    put_header(pif, 0x171, "MICROSOFT PIFEX", 0x0187, 0x0000, 0x0171);
    put_header(pif, 0x187, "WINDOWS 386 3.0", 0x0205, 0x019D, 0x0068);
    constexpr std::size_t ext = 0x19D;
    put_u16(pif, ext + 0x00, 0xFFFF);
    put_u16(pif, ext + 0x02, 0xFFFF);
    put_u16(pif, ext + 0x04, 1000);
    put_u16(pif, ext + 0x06, 50);
    put_u16(pif, ext + 0x08, 1024);
    put_u16(pif, ext + 0x0C, 1024);
    const unsigned char flags[8] = {0x0C, 0x20, 0x02, 0x00, 0xC9, 0x00, 0x00, 0x00};
    for (std::size_t i = 0; i < 8; ++i) pif[ext + 0x10 + i] = flags[i];
    put_empty(pif, ext + 0x28, 2, 64);
    put_header(pif, 0x205, "WINDOWS 286 3.0", 0xFFFF, 0x021B, 0x0006);
    return pif;
}

constexpr unsigned template_checksum(const pif_bytes& pif)
{
    unsigned sum = 0;
    for (std::size_t i = 0x002; i <= 0x170; ++i) sum += pif[i];
    return sum & 0xFF;
}

constexpr pif_bytes game_pif_template = make_template();
static_assert(template_checksum(game_pif_template) == 0x13, "the stored checksum is the template's own");

// Closes an _lcreat handle unless handed over.
struct lfile_closer {
    HFILE file;
    ~lfile_closer() { if (file != HFILE_ERROR) _lclose(file); }
};

}  // namespace

int write_game_pif()
{
    char program[path_capacity];
    target_path(program, short_resource_text(STR_GAME_PROGRAM));
    // The field holds 62 characters: a longer path is not cut short to something else.
    if (std::strlen(program) >= program_field_size) {
        log_line("Game PIF skipped: %s is too long", program);
        return 0;
    }
    pif_bytes pif = game_pif_template;
    std::memcpy(pif.data() + program_field, program, std::strlen(program) + 1);

    char pif_path[path_capacity];
    join_path(pif_path, setup.windows_dir, short_resource_text(STR_GAME_PIF), nullptr);
    // Written whole under a name of its own, then put in place of an earlier PIF in one step.
    char partial_path[path_capacity];
    join_path(partial_path, setup.windows_dir, "QELPIF.TMP", nullptr);
    lfile_closer file{_lcreat(partial_path, 0)};
    if (file.file == HFILE_ERROR) {
        log_line("Couldn't create game PIF");
        return 0;
    }
    const bool written = write_with_retry(file.file, pif.data(), static_cast<std::uint16_t>(pif.size()));
    const HFILE handle = file.file;
    file.file = HFILE_ERROR;
    const bool closed = _lclose(handle) != HFILE_ERROR;
    if (!written || !closed || !put_in_place(partial_path, pif_path)) {
        DeleteFileA(partial_path);
        log_line(written ? "Couldn't close game PIF" : "Couldn't write game PIF");
        return 0;
    }
    log_line("Created %s", pif_path);
    return 1;
}
