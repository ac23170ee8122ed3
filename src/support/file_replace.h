// Putting a finished file in place of another so that, at every moment, one of the two stands
// under the target's name: MoveFileEx replaces it in one step. The Windows 95 family has no
// MoveFileEx; there the old file is first renamed aside (`aside`, a name in the same folder),
// the new one renamed in and only then the old one deleted, so an interruption leaves the old
// content under the aside name, never neither. Header-only: the unzip library uses it too.
#pragma once

#include <windows.h>

inline bool replace_file(const char* source, const char* target, const char* aside)
{
    if (MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING)) return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES) return MoveFileA(source, target) != 0;
    DeleteFileA(aside);
    if (!MoveFileA(target, aside)) return false;
    if (!MoveFileA(source, target)) {
        MoveFileA(aside, target);
        return false;
    }
    DeleteFileA(aside);
    return true;
}

// `name` in the folder of `path`, into `out` (MAX_PATH); false when it does not fit.
inline bool sibling_name(const char* path, const char* name, char* out)
{
    const char* file_name = path;
    for (const char* p = path; *p; p = CharNextA(p))
        if (*p == '\\' || *p == ':') file_name = p + 1;
    const int folder = static_cast<int>(file_name - path);
    if (folder + lstrlenA(name) >= MAX_PATH) return false;
    lstrcpynA(out, path, folder + 1);
    lstrcpyA(out + folder, name);
    return true;
}

// The aside name for `path`: "qelaside.tmp" in its folder.
inline bool aside_name(const char* path, char* aside) { return sibling_name(path, "qelaside.tmp", aside); }

// `partial`, a whole new file in the target's folder, takes the place of `target` in one step
// (replace_file). When it cannot, it is deleted and the target stays as it was.
inline bool put_in_place(const char* partial, const char* target)
{
    char aside[MAX_PATH];
    if (aside_name(target, aside) && replace_file(partial, target, aside)) return true;
    DeleteFileA(partial);
    return false;
}
