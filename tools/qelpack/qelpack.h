// The commands of qelpack, the packaging tool: build a package (and a SETUP.EXE carrying it) from
// a manifest, list a package, extract its members, verify its archives. Each returns the exit
// status (0 success, 1 failure); reports go to `out`, complaints to `err`.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

struct build_request {
    std::string manifest;
    std::string output;
    std::string stub;           // the program file the package is appended to
    bool package_only = false;  // write the bare package instead (for SETUP.EXE -X)
};

int build_command(const build_request& request, std::ostream& out, std::ostream& err);
int list_command(const std::string& file, bool json, std::ostream& out, std::ostream& err);
int extract_command(const std::string& file, const std::string& directory, std::ostream& out, std::ostream& err);
int verify_command(const std::string& file, std::ostream& out, std::ostream& err);

// A text as a JSON string; bytes outside printable ASCII as \u00XX (ANSI bytes read as Latin-1).
std::string json_text(std::string_view text);

// The install rule a member's name alone implies: "system file" (directory part exactly
// "system"), "copy if newer" (first component "if_newer"), "delivered database"
// ("idb\merge.db") or "plain".
const char* rule_of_name(std::string_view name);
