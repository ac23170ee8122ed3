#include "install/member_rules.h"

#include "app/run_state.h"
#include "install/path_text.h"
#include "package/package_format.h"

namespace {

// Equal without regard to case, or the pattern's part starts with the wildcard.
bool part_matches(const char* pattern, const char* name) { return pattern[0] == '*' || same_name(pattern, name); }

}  // namespace

int is_preserved(const char* name)
{
    const paired_name_list& list = setup.rename_list;
    char name_directory[path_capacity], name_base[path_capacity], name_extension[path_capacity];
    path_directory(name_directory, name);
    path_base_name(name_base, name);
    path_extension(name_extension, name);
    for (int i = 0; i < list.count; ++i) {
        if (list.second[i] && list.second[i][0]) continue;
        const char* pattern = list.first[i];
        char directory[path_capacity], base[path_capacity], extension[path_capacity];
        path_directory(directory, pattern);
        if (!same_name(directory, name_directory)) continue;
        if (!part_matches(path_base_name(base, pattern), name_base)) continue;
        path_extension(extension, pattern);
        if (part_matches(extension, name_extension)) return 1;
    }
    return 0;
}
