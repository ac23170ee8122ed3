#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "support/run_state.h"
#include "support/text_format.h"

namespace {

bool is_blank(char c) { return c == ' '; }

const char* skip_blanks(const char* p)
{
    while (is_blank(*p)) ++p;
    return p;
}

const char* skip_word(const char* p)
{
    while (*p && !is_blank(*p)) ++p;
    return p;
}

// Copies [begin, end) into a path buffer; longer text is cut at the buffer's 259 characters.
void store_argument(char (&buffer)[path_capacity], const char* begin, const char* end)
{
    std::size_t length = static_cast<std::size_t>(end - begin);
    if (length > path_capacity - 1) length = path_capacity - 1;
    std::memcpy(buffer, begin, length);
    buffer[length] = '\0';
}

// The argument of -T and -X: the rest of the current word, or the next word when the
// letter stands alone (whatever that word is: "-T -C" takes "-C").
const char* take_word_argument(const char* after_letter, char (&buffer)[path_capacity])
{
    const char* begin = skip_blanks(after_letter);
    const char* end = skip_word(begin);
    store_argument(buffer, begin, end);
    return end;
}


}  // namespace

void parse_command_line(const char* text, path_exists_test exists, print_text print)
{
    if (!text) return;
    const char* p = text;
    for (;;) {
        p = skip_blanks(p);
        if (!*p) return;
        if (*p != '-' && *p != '/') {
            p = skip_word(p);
            continue;
        }
        const char letter = ascii_upper(p[1]);
        if (!p[1]) return;  // a lone introducer at the end
        const char* after_letter = p + 2;
        switch (letter) {
        case 'C': setup.crash_mode = 1; break;
        case 'D': setup.quiet_finish = 1; break;
        case 'M': setup.skip_modem = 1; break;
        case 'R': setup.restart_windows = 1; break;
        case 'V': setup.write_version_inf = 1; break;
        case 'X':
            p = take_word_argument(after_letter, setup.package_file);
            continue;
        case 'P': {
            // The rest of the line, blanks included: the previous disk puts -P last.
            const char* begin = skip_blanks(after_letter);
            store_argument(setup.previous_target_dir, begin, begin + std::strlen(begin));
            setup.chained_run = 1;
            return;
        }
        case 'T': {
            setup.target_given = 1;
            p = take_word_argument(after_letter, setup.given_target_dir);
            if (!setup.given_target_dir[0]) {
                setup.setup_aborted = 1;
                print("The -T command-line option was used, but no path was provided.\n");
                return;
            }
            if (!exists(setup.given_target_dir)) {
                setup.setup_aborted = 1;
                char message[path_capacity + 64];
                std::snprintf(message, sizeof message, "The path that was provided, %s, does not exist.\n",
                              setup.given_target_dir);
                print(message);
                return;
            }
            continue;
        }
        default: break;  // other letters are ignored
        }
        p = skip_word(p);
    }
}
