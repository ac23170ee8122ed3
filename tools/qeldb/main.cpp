// qeldb - makes, inspects and checks the client's database files. See docs/qeldb.md.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "qeldb.h"

namespace {

const char usage_text[] =
    "usage: qeldb create PATH --id ID [--short]\n"
    "       qeldb put PATH GID (--text T | --file F | --hex H) [--kind t|p|b]\n"
    "       qeldb get PATH GID [--hex]\n"
    "       qeldb dump PATH [--json] [--all]\n"
    "       qeldb verify PATH\n";

int usage()
{
    std::cerr << usage_text;
    return 2;
}

int bad_number(const std::string& what, const std::string& text)
{
    std::cerr << "qeldb: " << what << " must be a number from 0 to 0xFFFFFFFF, not \"" << text << "\"\n";
    return 2;
}

int put(int argc, char** argv)
{
    if (argc < 4) return usage();
    const std::string path = argv[2];
    std::uint32_t gid = 0;
    if (!qeldb::parse_number(argv[3], gid)) return bad_number("GID", argv[3]);
    qeldb::byte_buffer body;
    int sources = 0;
    char kind = 0;
    bool text = false;
    for (int i = 4; i < argc; i += 2) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string value = argv[i + 1];
        if (option == "--text") {
            body.assign(value.begin(), value.end());
            text = true;
            ++sources;
        } else if (option == "--hex") {
            if (!qeldb::parse_hex(value, body)) {
                std::cerr << "qeldb: --hex wants pairs of hex digits, not \"" << value << "\"\n";
                return 2;
            }
            ++sources;
        } else if (option == "--file") {
            std::ifstream in(value, std::ios::binary);
            if (!in) {
                std::cerr << value << ": cannot be read\n";
                return 1;
            }
            body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            ++sources;
        } else if (option == "--kind" && (value == "t" || value == "p" || value == "b")) {
            kind = value[0];
        } else {
            return usage();
        }
    }
    if (sources != 1) return usage();
    // A text is kind 't' unless --kind says otherwise; other bodies 'b'.
    if (!kind) kind = text ? 't' : 'b';
    return qeldb::put_command(path, gid, body, kind, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return usage();
    const std::string command = argv[1];
    const std::string path = argv[2];
    if (command == "create") {
        std::uint32_t id = 0;
        bool short_form = false, have_id = false;
        for (int i = 3; i < argc; ++i) {
            const std::string option = argv[i];
            if (option == "--short") {
                short_form = true;
            } else if (option == "--id" && i + 1 < argc) {
                if (!qeldb::parse_number(argv[++i], id)) return bad_number("ID", argv[i]);
                have_id = true;
            } else {
                return usage();
            }
        }
        if (!have_id) return usage();
        return qeldb::create_command(path, id, short_form, std::cout, std::cerr);
    }
    if (command == "put") return put(argc, argv);
    if (command == "get" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "--hex"))) {
        std::uint32_t gid = 0;
        if (!qeldb::parse_number(argv[3], gid)) return bad_number("GID", argv[3]);
        return qeldb::get_command(path, gid, argc == 5, std::cout, std::cerr);
    }
    if (command == "dump") {
        bool json = false, all = false;
        for (int i = 3; i < argc; ++i) {
            const std::string option = argv[i];
            if (option == "--json") json = true;
            else if (option == "--all") all = true;
            else return usage();
        }
        return qeldb::dump_command(path, json, all, std::cout, std::cerr);
    }
    if (command == "verify" && argc == 3) return qeldb::verify_command(path, std::cout, std::cerr);
    return usage();
}
