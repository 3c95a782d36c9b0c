// config_stub.cpp -- the demo game's settings program: says which version it belongs to
#include <windows.h>

#ifndef GAME_VERSION
#define GAME_VERSION "0.00"
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(NULL, "Ostrevan " GAME_VERSION " settings (demo game).", "Ostrevan Config", MB_OK | MB_ICONINFORMATION);
    return 0;
}
