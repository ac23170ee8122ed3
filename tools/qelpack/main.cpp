// qelpack - builds the package of SETUP.EXE from a manifest and appends it to the program file,
// and lists, extracts and verifies packages. See docs/qelpack.md.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "diff.h"
#include "qelpack.h"
#include "support/path_text.h"

namespace {

const char usage_text[] =
    "usage: qelpack build MANIFEST -o OUT.EXE [--stub STUB.EXE] [--package-only]\n"
    "       qelpack list FILE [--json]\n"
    "       qelpack extract FILE DIR\n"
    "       qelpack verify FILE\n"
    "       qelpack diff OLD NEW OUTDIR [--manifest-base FILE] [--json]\n"
    "Any command takes --code-page 932 when member names are in that double-byte code page.\n";

int usage()
{
    std::cerr << usage_text;
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // --code-page N, anywhere: names are split and upper-cased by that code page's characters.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--code-page") != 0) continue;
        if (std::strcmp(argv[i + 1], "932") == 0) set_lead_byte_test(cp932_lead_byte);
        else if (std::strcmp(argv[i + 1], "1252") != 0 && std::strcmp(argv[i + 1], "437") != 0) return usage();
        for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
        argc -= 2;
        break;
    }
    if (argc < 3) return usage();
    const std::string command = argv[1];
    if (command == "build") {
        build_request request;
        request.stub = QEL_DEFAULT_STUB;
        for (int i = 2; i < argc; ++i) {
            const std::string argument = argv[i];
            if ((argument == "-o" || argument == "--stub") && i + 1 < argc)
                (argument == "-o" ? request.output : request.stub) = argv[++i];
            else if (argument == "--package-only")
                request.package_only = true;
            else if (request.manifest.empty() && argument[0] != '-')
                request.manifest = argument;
            else
                return usage();
        }
        if (request.manifest.empty() || request.output.empty()) return usage();
        return build_command(request, std::cout, std::cerr);
    }
    if (command == "list" && (argc == 3 || (argc == 4 && std::strcmp(argv[3], "--json") == 0)))
        return list_command(argv[2], argc == 4, std::cout, std::cerr);
    if (command == "extract" && argc == 4) return extract_command(argv[2], argv[3], std::cout, std::cerr);
    if (command == "diff") {
        diff_request request;
        std::vector<std::string> trees;
        for (int i = 2; i < argc; ++i) {
            const std::string argument = argv[i];
            if (argument == "--manifest-base" && i + 1 < argc) request.manifest_base = argv[++i];
            else if (argument == "--json") request.json = true;
            else if (argument.empty() || argument[0] == '-') return usage();
            else trees.push_back(argument);
        }
        if (trees.size() != 3) return usage();
        request.old_tree = trees[0];
        request.new_tree = trees[1];
        request.output = trees[2];
        request.progress = isatty(2) != 0;
        return diff_command(request, std::cout, std::cerr);
    }
    if (command == "verify" && argc == 3) return verify_command(argv[2], std::cout, std::cerr);
    return usage();
}
