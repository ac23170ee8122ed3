// The commands of qeldb, the client database tool: make a database file, put and get records, dump
// and verify a file. Each returns the exit status (0 success, 1 failure); reports go to `out`,
// complaints to `err`. They work through the same record access as SETUP.EXE.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qeldb {

using byte_buffer = std::vector<unsigned char>;

int create_command(const std::string& path, std::uint32_t database_id, bool short_form, std::ostream& out,
                   std::ostream& err);
int put_command(const std::string& path, std::uint32_t gid, const byte_buffer& body, char kind, std::ostream& out,
                std::ostream& err);
int get_command(const std::string& path, std::uint32_t gid, bool hex, std::ostream& out, std::ostream& err);
int dump_command(const std::string& path, bool json, bool all, std::ostream& out, std::ostream& err);
int verify_command(const std::string& path, std::ostream& out, std::ostream& err);

// "12", "0x1400000D": a u32; false for anything else.
bool parse_number(const std::string& text, std::uint32_t& value);
// Pairs of hex digits, blanks between pairs allowed; false for anything else.
bool parse_hex(const std::string& text, byte_buffer& bytes);

}  // namespace qeldb
