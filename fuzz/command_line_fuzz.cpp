// Fuzzes parse_command_line with arbitrary text: no read or write outside the buffers, and every
// path it stores stays NUL-terminated within its buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/command_line.h"
#include "support/run_state.h"

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "command_line_fuzz: %s\n", what);
        std::abort();
    }
}

// Says yes for paths of even length, so both -T outcomes are reached; the path must be terminated.
bool even_length_exists(const char* path)
{
    check(path != nullptr, "existence test given a null path");
    return std::strlen(path) % 2 == 0;
}

// Reading the whole message makes AddressSanitizer check that it ends within its buffer.
void checked_print(const char* text)
{
    check(text != nullptr, "print given a null text");
    check(std::strlen(text) > 0, "print given an empty message");
}

template <std::size_t N>
bool terminated(const char (&buffer)[N])
{
    return std::memchr(buffer, '\0', N) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    setup = initial_run_state();
    // A heap copy of exactly the input and its NUL, so a read past the end is a sanitizer error;
    // an embedded NUL ends the text as it would for any caller.
    const std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    parse_command_line(text.get(), even_length_exists, checked_print);

    check(terminated(setup.previous_target_dir), "previous_target_dir not terminated");
    check(terminated(setup.given_target_dir), "given_target_dir not terminated");
    check(terminated(setup.package_file), "package_file not terminated");
    if (setup.chained_run) check(setup.previous_target_dir[0] != ' ', "-P argument keeps leading blanks");
    if (setup.setup_aborted) check(setup.target_given, "aborted without a -T");
    return 0;
}
