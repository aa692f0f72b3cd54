// The agent's entry on Windows: starts the service, runs the main dialog until
// Exit, Cancel or the close box, and returns the program's exit code.
#include <windows.h>

#include "app/main_dialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return runWatchDog("WinMain");
}
