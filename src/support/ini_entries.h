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
