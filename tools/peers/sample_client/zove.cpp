// ZOVE.EXE of the sample client installation: the setup program looks for this file when it
// searches the drives. Started, it only says what it is.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(nullptr, "This is the sample Qelmora client that the setup program updates.", "Qelmora",
                MB_OK | MB_ICONINFORMATION);
    return 0;
}
