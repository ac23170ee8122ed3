// Finding the installed client: the directory the registry or WIN.INI records, else a search of
// every fixed drive for the client's program. A directory counts only when its main database
// reports a build the package accepts; of several, the one whose database was written last wins.
#pragma once

#include <windows.h>

#include <cstdint>

// The search under dialog 202. 1 with the directory in `out` (260 characters); 0 with `out`
// empty when none was found or the user stopped the search.
int locate_client(char* out);

// The directory holds a client main database with a non-zero file time and an accepted build
// (best_client_dir then holds it). Used for directories the user types.
int client_dir_acceptable(const char* directory);

// The directory holds a client main database (IDB below it); an accepted one written later than
// best_client_time becomes the best. 1 when a database was there, whatever its verdict.
int client_candidate(const char* directory);

// The version record of the main database at `path` names an accepted build. Opening and closing
// the database deletes its companion index file.
int client_db_verdict(const char* path);

// Depth first below `directory`, showing each directory in control 501 of `dialog` (when given);
// the tree below a client's directory and names starting with '.' are left out. A directory
// whose path would pass 259 characters, or that a link (reparse point) makes one of its own
// ancestors, is passed over.
void search_tree(const char* directory, HWND dialog);

// Dialog 202: Exit (403) asks dialog 205 and, when the user confirms, sets search_stopped.
INT_PTR CALLBACK search_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
