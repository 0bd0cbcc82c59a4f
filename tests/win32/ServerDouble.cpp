// Stands in for the server the installer stops: a windowless program that waits to be ended.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ::Sleep(INFINITE);
    return 0;
}
