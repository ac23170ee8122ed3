// Passes over whole groups of files named by the package, around the install loop.
#pragma once

void prepare_destination();
void apply_rename_rules();
void clean_up_installed_files();
void delete_listed_files();
