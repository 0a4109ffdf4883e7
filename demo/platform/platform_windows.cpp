#include "platform.h"

#include <windows.h>

#include <io.h>

#include <csignal>
#include <cstdio>

namespace Platform {

// A Windows session always has a desktop to open a window on.
DisplayConnection::DisplayConnection() = default;
DisplayConnection::~DisplayConnection() = default;

bool DisplayConnection::available() const
{
    return true;
}

namespace {

// The console's handler runs on a thread of its own and can reach only static storage.
volatile LONG receivedEvent = 0;

BOOL WINAPI recordConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        InterlockedExchange(&receivedEvent, SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
        InterlockedExchange(&receivedEvent, SIGTERM);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        InterlockedExchange(&receivedEvent, 1);
        // The process ends when this returns: give the frame loop a moment to shut down.
        Sleep(2000);
        return TRUE;
    default:
        return FALSE;
    }
}

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

// One argument quoted the way the C runtime splits a command line again.
void appendQuoted(std::wstring& line, const std::wstring& argument)
{
    if (!line.empty())
        line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

} // namespace

StopRequests::StopRequests()
{
    InterlockedExchange(&receivedEvent, 0);
    SetConsoleCtrlHandler(recordConsoleEvent, TRUE);
}

StopRequests::~StopRequests()
{
    SetConsoleCtrlHandler(recordConsoleEvent, FALSE);
}

int StopRequests::received() const
{
    return static_cast<int>(InterlockedCompareExchange(&receivedEvent, 0, 0));
}

ChildProcess::~ChildProcess()
{
    if (started)
        kill();
}

bool ChildProcess::start(const std::vector<std::string>& arguments, const std::string& outputLogPath)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return false;
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE log = CreateFileW(widen(outputLogPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return false;
    }

    std::wstring commandLine;
    for (const std::string& argument : arguments)
        appendQuoted(commandLine, widen(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = log;
    startup.hStdError = log;
    PROCESS_INFORMATION info{};
    // Its own process group and no console window: Ctrl-C reaches us, and we end the child.
    const BOOL created = CreateProcessW(widen(arguments[0]).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NEW_PROCESS_GROUP | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
    CloseHandle(readEnd);
    CloseHandle(log);
    if (!created) {
        CloseHandle(writeEnd);
        return false;
    }
    CloseHandle(info.hThread);
    process = reinterpret_cast<long long>(info.hProcess);
    input = reinterpret_cast<long long>(writeEnd);
    started = true;
    return true;
}

bool ChildProcess::write(const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(input), bytes, chunk, &written, nullptr))
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

int ChildProcess::finish()
{
    if (!started)
        return -1;
    CloseHandle(reinterpret_cast<HANDLE>(input));
    input = -1;
    const HANDLE handle = reinterpret_cast<HANDLE>(process);
    WaitForSingleObject(handle, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(handle, &code);
    CloseHandle(handle);
    started = false;
    return static_cast<int>(code);
}

void ChildProcess::kill()
{
    if (!started)
        return;
    TerminateProcess(reinterpret_cast<HANDLE>(process), 1);
    finish();
}

std::string executableDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return ".";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? "." : narrow(path.substr(0, separator));
}

std::string findProgram(const std::string& program)
{
    wchar_t found[MAX_PATH];
    const DWORD length = SearchPathW(nullptr, widen(program).c_str(), L".exe", MAX_PATH, found, nullptr);
    return length > 0 && length < MAX_PATH ? narrow(std::wstring(found, length)) : std::string();
}

bool standardErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

int processId()
{
    return static_cast<int>(GetCurrentProcessId());
}

} // namespace Platform
