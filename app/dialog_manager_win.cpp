// The dialog-manager calls of the main dialog on Windows: the template and
// the icon come from the program's own resources (app/watchdog.rc), and the
// shared dialog procedure runs behind a small trampoline that turns the
// Windows types into the portable ones.
#include "app/dialog_manager.h"

#include <string>

#include <windows.h>

#include "service/wide_text_win.h"

namespace dlg {

namespace {

// The procedure of the dialog that runs now; the program runs one at a time.
Procedure gProcedure = nullptr;

INT_PTR CALLBACK trampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (gProcedure == nullptr)
        return FALSE;
    bool handled = gProcedure(static_cast<Handle>(dialog), static_cast<Message>(message), static_cast<WParam>(wParam),
                              static_cast<LParam>(lParam));
    return handled ? TRUE : FALSE;
}

HWND toWindow(Handle dialog)
{
    return static_cast<HWND>(dialog);
}

}  // namespace

std::intptr_t runModal(int templateId, Procedure procedure)
{
    gProcedure = procedure;
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), nullptr, trampoline, 0);
    gProcedure = nullptr;
    return static_cast<std::intptr_t>(result);
}

void startTimer(Handle dialog, unsigned id, unsigned milliseconds)
{
    SetTimer(toWindow(dialog), id, milliseconds, nullptr);
}

bool drawn(Handle)
{
    return true;
}

void endDialog(Handle dialog, std::intptr_t result)
{
    EndDialog(toWindow(dialog), static_cast<INT_PTR>(result));
}

void setItemText(Handle dialog, int id, const std::string& text)
{
    SendDlgItemMessageA(toWindow(dialog), id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// The event list is sorted, so a line's place says nothing of its age: each
// line carries the number of its addition as its item data.
std::uintptr_t gLinesAdded = 0;

void addListLine(Handle dialog, int listId, const std::string& line)
{
    LRESULT index =
        SendDlgItemMessageA(toWindow(dialog), listId, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    if (index >= 0)
        SendDlgItemMessageA(toWindow(dialog), listId, LB_SETITEMDATA, static_cast<WPARAM>(index),
                            static_cast<LPARAM>(gLinesAdded));
    ++gLinesAdded;
}

void resetList(Handle dialog, int listId)
{
    SendDlgItemMessageW(toWindow(dialog), listId, LB_RESETCONTENT, 0, 0);
}

void trimList(Handle dialog, int listId, std::size_t keep)
{
    HWND window = toWindow(dialog);
    LRESULT count = SendDlgItemMessageW(window, listId, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR || static_cast<std::size_t>(count) <= keep)
        return;
    // The lines added since the list last held keep lines are the newest; one
    // pass from the end drops every older one.
    std::uintptr_t oldestKept = gLinesAdded - keep;
    for (LRESULT index = count - 1; index >= 0; --index) {
        auto added = static_cast<std::uintptr_t>(SendDlgItemMessageW(window, listId, LB_GETITEMDATA,
                                                                     static_cast<WPARAM>(index), 0));
        if (added < oldestKept)
            SendDlgItemMessageW(window, listId, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    }
}

void showAlarms(Handle, unsigned long, const std::string&)
{
    // The window shows no alarms.
}

void showProgramIcon(Handle dialog, int iconId, int staticId)
{
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId));
    SendDlgItemMessageA(toWindow(dialog), staticId, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    SendMessageW(toWindow(dialog), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void reportStartFailure(const std::string& reason)
{
    std::wstring text =
        L"The watch dog could not start.\n\n"
        L"Most likely another copy of it is already running and holds UDP port 45654, "
        L"which only one program at a time can use.\n\n"
        L"Reason: ";
    text += widen(reason);
    MessageBoxW(nullptr, text.c_str(), L"Brindlemoor Win32 Watch Dog", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace dlg
