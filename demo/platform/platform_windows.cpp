#include "platform.h"

#include <windows.h>

#include <io.h>

#include <csignal>
#include <cstdio>
#include <cwchar>
#include <iterator>

namespace Platform {

// A Windows session always has a desktop to open a window on.
DisplayConnection::DisplayConnection() = default;
DisplayConnection::~DisplayConnection() = default;

bool DisplayConnection::available() const
{
    return true;
}

// Every Windows desktop makes OpenGL contexts; one too old to draw the show is told by its
// version.
bool DisplayConnection::offersOpenGL() const
{
    return true;
}

// Windows always offers its video modes.
DisplayConnection::Size DisplayConnection::screenWithoutModes() const
{
    return {};
}

void DisplayConnection::requestFullScreen(sf::WindowHandle /*window*/) const
{
}

WindowTitle::WindowTitle(const DisplayConnection& /*display*/, sf::WindowHandle window_)
    : window(window_)
{
}

void WindowTitle::set(const char* utf8, const char* /*ascii*/) const
{
    wchar_t wide[256];
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, static_cast<int>(std::size(wide))) > 0)
        SetWindowTextW(window, wide);
}

ScreenWatch::ScreenWatch(const DisplayConnection& /*display*/, DisplayConnection::Size window)
    : last(window)
{
}

// The primary screen's size, as the full-screen window covers it; asking is a cheap call.
bool ScreenWatch::changed(DisplayConnection::Size& size)
{
    const DisplayConnection::Size now{static_cast<unsigned>(GetSystemMetrics(SM_CXSCREEN)),
                                      static_cast<unsigned>(GetSystemMetrics(SM_CYSCREEN))};
    if (now.width == 0 || (now.width == last.width && now.height == last.height))
        return false;
    last = now;
    size = now;
    return true;
}

namespace {

// The console's handler runs on a thread of its own and can reach only static storage.
volatile LONG receivedEvent = 0;
// The thread that may be blocked writing to a child that reads nothing, while it writes: the
// handler cancels that write, so that a stop is not held up by the child.
HANDLE writingThread = nullptr;
volatile LONG writing = 0;

// The first request is the one reported.
void record(LONG signal)
{
    InterlockedCompareExchange(&receivedEvent, signal, 0);
    for (int i = 0; i < 100 && InterlockedCompareExchange(&writing, 0, 0) != 0; ++i) {
        if (CancelSynchronousIo(writingThread))
            break;
        Sleep(10); // between the check and the write's start: try again
    }
}

BOOL WINAPI recordConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        record(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
        record(SIGTERM);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        record(1);
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
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &writingThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(recordConsoleEvent, TRUE);
}

StopRequests::~StopRequests()
{
    SetConsoleCtrlHandler(recordConsoleEvent, FALSE);
    if (writingThread != nullptr)
        CloseHandle(writingThread);
    writingThread = nullptr;
}

int StopRequests::received() const
{
    return static_cast<int>(InterlockedCompareExchange(&receivedEvent, 0, 0));
}

ChildProcess::~ChildProcess()
{
    if (started)
        kill();
    if (output != -1)
        CloseHandle(reinterpret_cast<HANDLE>(output));
}

bool ChildProcess::start(const std::vector<std::string>& arguments)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // What the child says goes to a temporary file of a fresh name that nobody else may open
    // and that goes away with its last handle.
    wchar_t folder[MAX_PATH + 1], name[MAX_PATH + 1];
    const DWORD folderLength = GetTempPathW(MAX_PATH + 1, folder);
    if (folderLength == 0 || folderLength > MAX_PATH || GetTempFileNameW(folder, L"dmo", 0, name) == 0)
        return false;
    HANDLE log = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inheritable, TRUNCATE_EXISTING,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        return false;
    }
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        CloseHandle(log);
        return false;
    }
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);

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
    if (!created) {
        CloseHandle(writeEnd);
        CloseHandle(log);
        return false;
    }
    // Our handle keeps the output readable after the child has gone; no other process inherits it.
    SetHandleInformation(log, HANDLE_FLAG_INHERIT, 0);
    CloseHandle(info.hThread);
    if (output != -1)
        CloseHandle(reinterpret_cast<HANDLE>(output));
    process = reinterpret_cast<long long>(info.hProcess);
    input = reinterpret_cast<long long>(writeEnd);
    output = reinterpret_cast<long long>(log);
    started = true;
    return true;
}

bool ChildProcess::write(const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    bool complete = true;
    InterlockedExchange(&writing, 1);
    while (size > 0 && complete) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        complete = InterlockedCompareExchange(&receivedEvent, 0, 0) == 0 &&
                   WriteFile(reinterpret_cast<HANDLE>(input), bytes, chunk, &written, nullptr);
        bytes += written;
        size -= written;
    }
    InterlockedExchange(&writing, 0);
    return complete;
}

int ChildProcess::wait(const StopRequests* stop)
{
    if (!started)
        return -1;
    CloseHandle(reinterpret_cast<HANDLE>(input));
    input = -1;
    started = false;
    const HANDLE handle = reinterpret_cast<HANDLE>(process);
    // Polled, so that a stop requested while the child finishes its work is acted on at once.
    DWORD waited = WAIT_TIMEOUT;
    while ((waited = WaitForSingleObject(handle, 10)) == WAIT_TIMEOUT) {
        if (stop != nullptr && stop->received() != 0) {
            TerminateProcess(handle, 1);
            stop = nullptr;
        }
    }
    DWORD code = 0;
    const bool known = waited == WAIT_OBJECT_0 && GetExitCodeProcess(handle, &code);
    CloseHandle(handle);
    return known ? static_cast<int>(code) : -1;
}

void ChildProcess::kill()
{
    if (!started)
        return;
    TerminateProcess(reinterpret_cast<HANDLE>(process), 1);
    wait(nullptr);
}

std::string ChildProcess::writtenOutput() const
{
    if (output == -1)
        return {};
    const HANDLE file = reinterpret_cast<HANDLE>(output);
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    OVERLAPPED at{};
    while (ReadFile(file, buffer, sizeof buffer, &got, &at) && got > 0) {
        text.append(buffer, got);
        const unsigned long long next = (static_cast<unsigned long long>(at.OffsetHigh) << 32 | at.Offset) + got;
        at.Offset = static_cast<DWORD>(next);
        at.OffsetHigh = static_cast<DWORD>(next >> 32);
    }
    return text;
}

std::FILE* openForWriting(const std::string& path)
{
    return _wfopen(widen(path).c_str(), L"wb");
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
    // Only PATH's folders, as on Linux: the search the system offers looks in the current
    // folder first, where anyone may have left a program of that name.
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring path(size, L'\0');
    path.resize(size > 0 ? GetEnvironmentVariableW(L"PATH", path.data(), size) : 0);
    std::wstring name = widen(program);
    if (name.size() < 4 || _wcsicmp(name.c_str() + name.size() - 4, L".exe") != 0)
        name += L".exe";
    size_t begin = 0;
    while (begin < path.size()) {
        size_t end = path.find(L';', begin);
        if (end == std::wstring::npos)
            end = path.size();
        std::wstring folder = path.substr(begin, end - begin);
        begin = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        // An empty entry or "." would name the current folder again.
        if (folder.empty() || folder == L".")
            continue;
        if (folder.back() != L'\\' && folder.back() != L'/')
            folder += L'\\';
        const std::wstring candidate = folder + name;
        const DWORD attributes = GetFileAttributesW(candidate.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return narrow(candidate);
    }
    return {};
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
