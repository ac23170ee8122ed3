// The baselines' program for the locate benchmark (bench/locate.sh):
//   locate_walk.exe locate       runs the program's own locate_client (dialog 202, registry,
//                                WIN.INI, every fixed drive) with the package's build list
//                                {3010} and prints "found=DIR ms=T"
//   locate_walk.exe walk         a plain depth-first FindFirstFile/FindNextFile walk of every
//                                fixed drive that tests each directory for ZOVE.EXE, with no
//                                dialog; prints "found=DIR dirs=N ms=T"
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "locate/locate.h"
#include "support/log.h"
#include "support/run_state.h"

namespace {

std::string first_found;
unsigned long directories = 0;

void walk(const std::string& directory)
{
    ++directories;
    const std::string program = directory + "\\ZOVE.EXE";
    const HANDLE file = CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        if (first_found.empty()) first_found = directory;
    }
    WIN32_FIND_DATAA entry;
    const HANDLE listing = FindFirstFileA((directory + "\\*.*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.cFileName[0] != '.')
            walk(directory + "\\" + entry.cFileName);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    setup.app_instance = GetModuleHandleA(nullptr);
    const DWORD start = GetTickCount();
    if (std::strcmp(argv[1], "locate") == 0) {
        setup.accepted_builds = {1, {3010}};
        char found[path_capacity] = "";
        locate_client(found);
        std::printf("found=%s ms=%lu\n", found, GetTickCount() - start);
    } else if (std::strcmp(argv[1], "walk") == 0) {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            const char root[] = {letter, ':', '\\', '\0'};
            if (GetDriveTypeA(root) == DRIVE_FIXED) walk(std::string(1, letter) + ":");
        }
        std::printf("found=%s dirs=%lu ms=%lu\n", first_found.c_str(), directories, GetTickCount() - start);
    } else {
        return 2;
    }
    return 0;
}
