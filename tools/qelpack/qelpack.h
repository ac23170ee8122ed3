// The commands of qelpack, the packaging tool: build a package (and a SETUP.EXE carrying it) from
// a manifest, list a package, extract its members, verify its archives. Each returns the exit
// status (0 success, 1 failure); reports go to `out`, complaints to `err`.
#pragma once

#include <ostream>
#include <string>

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
