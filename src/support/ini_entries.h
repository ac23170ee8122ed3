// Comparing two texts of an INI file entry by entry. Portable (no windows.h): SETUP.EXE uses it to
// tell whether WIN.INI came through a write whole, and the native build tests it.
#pragma once
#include <span>
#include <string_view>

// Whether `current` still holds every entry of `earlier`, apart from the keys `written_keys` of
// section `written_section` (the ones a writer was changing). An entry is a key and its value in a
// section; a line without '=' is a key without a value. Section and key names compare without
// regard to ASCII case, values exactly; blanks around names and values and empty lines do not
// count, as a profile writer may drop them. A text cut off in a line lacks that line's entry.
bool ini_keeps_entries(std::string_view earlier, std::string_view current, std::string_view written_section,
                       std::span<const std::string_view> written_keys);

// Whether `current` reads as `earlier` cut short, as a writer stopped while it saved the file
// anew leaves it: shorter, and every entry it holds (but a last line cut off in the middle, and
// the keys `written_keys` of `written_section` that the writer was changing) is in `earlier`
// with the same value. A file that another program has edited since is not.
bool ini_is_cut_form(std::string_view earlier, std::string_view current, std::string_view written_section,
                     std::span<const std::string_view> written_keys);

// Whether the text holds `key` in `section` (both without regard to ASCII case) with exactly
// `value`, blanks around it aside.
bool ini_holds(std::string_view text, std::string_view section, std::string_view key, std::string_view value);
