// Stands in for a program that the setup starts (the next disk, the 16-bit setup, the
// low-space program): appends its own command line to args.txt beside itself.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH - 10);
    if (!length) return 1;
    char* slash = std::strrchr(path, '\\');
    std::strcpy(slash ? slash + 1 : path, "args.txt");
    FILE* file = std::fopen(path, "a");
    if (!file) return 1;
    std::fprintf(file, "%s\n", GetCommandLineA());
    std::fclose(file);
    return 0;
}
