#include "install/member_rules.h"

#include <cstring>

#include "package/package_format.h"
#include "support/path_text.h"
#include "support/run_state.h"

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

void find_place(const char* name, member_place& place)
{
    char directory_part[path_capacity], first_component[path_capacity];
    path_directory(directory_part, name);
    first_path_component(first_component, directory_part);
    const char* file_name = path_file_name(name);
    place.real_path[0] = '\0';
    place.upper_case_final = false;
    if (same_name(directory_part, "SYSTEM")) {
        place.rule = install_rule::system;
        target_path_text(place.directory, setup.target_dir, "");
        join_path_text(place.final_path, {setup.target_dir, file_name});
        place.upper_case_final = std::strlen(place.final_path) <= 30;
    } else if (same_name(first_component, "IF_NEWER")) {
        place.rule = install_rule::if_newer;
        join_path_text(place.directory, {setup.target_dir, "if_newer"});
        join_path_text(place.final_path, {place.directory, file_name});
        place.upper_case_final = true;
        target_path_text(place.real_path, setup.target_dir, name + 9);  // past "if_newer\"
    } else {
        place.rule = install_rule::plain;
        target_path_text(place.directory, setup.target_dir, directory_part);
        // Kept as the member and the folder spell it (the dialog still shows it upper-cased): the
        // system ignores case, but under Wine a path spelt otherwise than on the disk is looked up
        // by reading each folder on the way, on every use.
        target_path_text(place.final_path, setup.target_dir, name);
    }
}
