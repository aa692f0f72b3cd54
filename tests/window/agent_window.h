// What the tests of the agent's real window share: starting watchdog.exe,
// finding its dialog, reading its controls across processes with bounded
// waits, asking the agent for its status, and the PASS/FAIL tally.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace agentwindow {

inline const wchar_t kCaption[] = L"Brindlemoor Win32 Watch Dog";
inline const int kCpuId = 1000;
inline const int kExitId = 1;
inline const int kListId = 40002;
inline const int kIconId = 1001;

inline int gPassed = 0;
inline int gFailed = 0;

inline bool check(bool ok, const std::string& what, const std::string& detail = std::string())
{
    if (ok) {
        ++gPassed;
        std::printf("PASS: %s\n", what.c_str());
    } else {
        ++gFailed;
        std::printf("FAIL: %s%s%s\n", what.c_str(), detail.empty() ? "" : " -- ", detail.c_str());
    }
    std::fflush(stdout);
    return ok;
}

// Wine's ntdll exports its version; Windows' does not.
inline bool underWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out + "\"";
}

inline std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
    return out;
}

inline std::wstring widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], length);
    return out;
}

// A message to a window of the agent, bounded in time so that a hung agent
// fails the test instead of stopping it.
inline bool sendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr)
{
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 3000, &answer) == 0)
        return false;
    if (result != nullptr)
        *result = static_cast<LRESULT>(answer);
    return true;
}

inline std::string windowText(HWND window)
{
    char buffer[1024] = {};
    if (!sendBounded(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer)))
        return "<no answer>";
    return buffer;
}

inline std::string itemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item == nullptr ? "<no control>" : windowText(item);
}

inline std::string className(HWND window)
{
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    return narrow(buffer);
}

// The list box's lines, asked for in wide characters: the message crosses
// into the agent's process, where the list box keeps them as such.
inline std::vector<std::string> listLines(HWND list)
{
    std::vector<std::string> lines;
    LRESULT count = 0;
    if (!sendBounded(list, LB_GETCOUNT, 0, 0, &count) || count < 0)
        return lines;
    for (LRESULT i = 0; i < count && i < 100; ++i) {
        LRESULT length = 0;
        if (!sendBounded(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, &length) || length < 0 || length > 4096)
            break;
        std::wstring line(static_cast<std::size_t>(length) + 1, L'\0');
        DWORD_PTR copied = 0;
        if (SendMessageTimeoutW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&line[0]),
                                SMTO_ABORTIFHUNG, 3000, &copied) == 0 ||
            static_cast<LRESULT>(copied) < 0)
            break;
        line.resize(static_cast<std::size_t>(copied));
        lines.push_back(narrow(line));
    }
    return lines;
}

inline bool isInteger(const std::string& text, int low, int high)
{
    if (text.empty() || text.size() > 4)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (!digit && !(i == 0 && text[i] == '-' && text.size() > 1))
            return false;
    }
    int value = std::atoi(text.c_str());
    return value >= low && value <= high;
}

// One copy of the agent, started with CreateProcess; terminated on the way
// out if it is still running then.
class Agent {
public:
    // quiet: the agent's standard output and error go to NUL, not to ours.
    explicit Agent(const std::wstring& exe, bool quiet = false)
    {
        std::wstring commandLine = L"\"" + exe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        HANDLE nul = INVALID_HANDLE_VALUE;
        if (quiet) {
            SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
            nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                              OPEN_EXISTING, 0, nullptr);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
        }
        started_ = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, quiet ? TRUE : FALSE, 0, nullptr,
                                  nullptr, &startup, &process_) != 0;
        if (nul != INVALID_HANDLE_VALUE)
            CloseHandle(nul);
    }
    ~Agent()
    {
        if (!started_)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            std::printf("note: terminating agent process %lu\n", static_cast<unsigned long>(process_.dwProcessId));
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    bool started() const { return started_; }
    DWORD pid() const { return process_.dwProcessId; }
    bool running() const { return started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
    // For a failure's detail: running, or how it ended.
    std::string state() const
    {
        long code = waitExit(0);
        return code == -1 ? "the agent is running" : "the agent ended with exit code " + std::to_string(code);
    }

    // Waits up to milliseconds for the agent to end; gives its exit code, or
    // -1 when it is still running.
    long waitExit(DWORD milliseconds) const
    {
        if (!started_ || WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    bool started_ = false;
    PROCESS_INFORMATION process_ = {};
};

struct WindowQuery {
    DWORD pid;
    bool mainDialog;  // the dialog with the CPU field, or any other window
    HWND found;
};

inline BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    WindowQuery* query = reinterpret_cast<WindowQuery*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != query->pid || !IsWindowVisible(window))
        return TRUE;
    wchar_t caption[128] = {};
    GetWindowTextW(window, caption, 128);
    if (std::wstring(caption) != kCaption)
        return TRUE;
    bool isMain = GetDlgItem(window, kCpuId) != nullptr;
    if (isMain != query->mainDialog)
        return TRUE;
    query->found = window;
    return FALSE;
}

// The top-level window of process pid with the program's caption, waited for
// up to milliseconds; nullptr if none appeared or the process ended.
inline HWND waitForWindow(const Agent& agent, bool mainDialog, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        WindowQuery query = {agent.pid(), mainDialog, nullptr};
        EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&query));
        if (query.found != nullptr)
            return query.found;
        if (!agent.running())
            return nullptr;
        Sleep(100);
    }
    return nullptr;
}

// Waits up to milliseconds until the first refresh has filled the CPU field.
inline bool waitForRefresh(HWND dialog, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        std::string cpu = itemText(dialog, kCpuId);
        if (!cpu.empty() && cpu != "<no answer>" && cpu != "<no control>")
            return true;
        Sleep(100);
    }
    return false;
}

// Sends "STATUS_REQUEST " to the agent's port on loopback and gives the
// reply, or an empty text after two seconds without one.
inline std::string askStatus()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return std::string();
    DWORD timeout = 2000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in agent = {};
    agent.sin_family = AF_INET;
    agent.sin_port = htons(45654);
    agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char request[] = "STATUS_REQUEST ";
    std::string reply;
    if (sendto(s, request, static_cast<int>(sizeof request - 1), 0, reinterpret_cast<const sockaddr*>(&agent),
               sizeof agent) == static_cast<int>(sizeof request - 1)) {
        char buffer[2048];
        int received = recv(s, buffer, sizeof buffer, 0);
        if (received > 0)
            reply.assign(buffer, static_cast<std::size_t>(received));
    }
    closesocket(s);
    return reply;
}

inline bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

inline bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace agentwindow
