// The agent's entry on Windows: starts the service and keeps it running until
// the user closes the message box.
#include <exception>
#include <string>

#include <windows.h>

#include "app/trace.h"
#include "service/zq_srv.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    try {
        gSrv = new zq::ZqSrv();
    } catch (const std::exception&) {
        trace("*** EXCEPTION  WinMain\n");
        MessageBoxW(nullptr,
                    L"The watch dog service could not start. Another copy may already hold UDP port 45654.",
                    L"Brindlemoor Win32 Watch Dog", MB_OK | MB_ICONERROR);
        return 1;
    }
    MessageBoxW(nullptr, L"The watch dog is running. Press OK to stop it.", L"Brindlemoor Win32 Watch Dog",
                MB_OK | MB_ICONINFORMATION);
    delete gSrv;
    gSrv = nullptr;
    return 0;
}
