#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "hostapp/system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace hostapp {
namespace {

struct Stream {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool console = false;
};
Stream out_stream, err_stream;
bool styled = false;
bool input_console = false;
WORD default_attributes = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;

std::wstring Wide(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            length);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                            length, nullptr, nullptr);
    return text;
}

// In the system's ANSI code page; false where a letter has no place there
// (no "best fit": ż would become z, another name).
bool Ansi(const std::wstring& wide, std::string& text) {
    BOOL lost = FALSE;
    const int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr, &lost);
    text.assign(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
    return !lost;
}

DWORD Attributes(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str());
}

Stream Open(DWORD which) {
    Stream stream;
    stream.handle = GetStdHandle(which);
    DWORD mode = 0;
    stream.console = stream.handle != INVALID_HANDLE_VALUE && stream.handle != nullptr &&
                     GetConsoleMode(stream.handle, &mode);
    return stream;
}

void WriteWide(HANDLE handle, std::string_view utf8) {
    const std::wstring text = Wide(std::string(utf8));
    DWORD written = 0;
    if (!text.empty())
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The console's own attributes for the SGR sequences that Render writes (a
// console counts escape sequences as cells of its lines, so they are not
// passed through): 1 bright, 4 and 7 as colours, 0 the console's default.
WORD ConsoleAttributes(std::string_view parameters) {
    WORD attributes = default_attributes;
    size_t at = 0;
    while (at <= parameters.size()) {
        const size_t end = std::min(parameters.find(';', at), parameters.size());
        const std::string_view code = parameters.substr(at, end - at);
        if (code == "0" || code.empty())
            attributes = default_attributes;
        else if (code == "1")
            attributes |= FOREGROUND_INTENSITY;
        else if (code == "4")
            attributes = FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY;
        else if (code == "7")
            attributes = BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE;
        at = end + 1;
    }
    return attributes;
}

void Write(const Stream& stream, std::string_view utf8) {
    if (stream.handle == INVALID_HANDLE_VALUE || stream.handle == nullptr || utf8.empty())
        return;
    if (!stream.console) {
        size_t at = 0;
        while (at < utf8.size()) {
            DWORD written = 0;
            if (!WriteFile(stream.handle, utf8.data() + at, static_cast<DWORD>(utf8.size() - at),
                           &written, nullptr) ||
                written == 0)
                return;
            at += written;
        }
        return;
    }
    size_t at = 0;
    for (;;) {
        const size_t escape = utf8.find("\x1b[", at);
        const size_t end = escape == std::string_view::npos ? escape : utf8.find('m', escape);
        if (end == std::string_view::npos) {
            WriteWide(stream.handle, utf8.substr(at));
            return;
        }
        WriteWide(stream.handle, utf8.substr(at, escape - at));
        SetConsoleTextAttribute(stream.handle,
                                ConsoleAttributes(utf8.substr(escape + 2, end - escape - 2)));
        at = end + 1;
    }
}

}  // namespace

void InitTerminal() {
    out_stream = Open(STD_OUTPUT_HANDLE);
    err_stream = Open(STD_ERROR_HANDLE);
    styled = out_stream.console;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (styled && GetConsoleScreenBufferInfo(out_stream.handle, &info))
        default_attributes = info.wAttributes;
    DWORD mode = 0;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    input_console =
        input != INVALID_HANDLE_VALUE && input != nullptr && GetConsoleMode(input, &mode);
}

bool StyledOutput() {
    return styled;
}

void Out(std::string_view utf8) {
    Write(out_stream, utf8);
}

void Err(std::string_view utf8) {
    Write(err_stream, utf8);
}

bool InputIsConsole() {
    return input_console;
}

// Byte by byte, so that nothing beyond the line is taken from a pipe that
// later prompts still read from.
bool ReadLine(std::string& line) {
    line.clear();
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE || input == nullptr)
        return false;
    bool any = false;
    for (;;) {
        char c = 0;
        DWORD read = 0;
        if (!ReadFile(input, &c, 1, &read, nullptr) || read == 0)
            return any;
        any = true;
        if (c == '\n')
            break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::string SystemPath(const std::string& utf8) {
    const std::wstring wide = Wide(utf8);
    std::string ansi;
    if (Ansi(wide, ansi))
        return ansi;
    // A folder named with letters outside the code page: its short name,
    // which the system keeps in plain letters, and the file's own name.
    const size_t slash = wide.find_last_of(L"\\/");
    wchar_t folder[MAX_PATH] = {};
    if (slash == std::wstring::npos)
        return ansi;
    const DWORD length = GetShortPathNameW(wide.substr(0, slash).c_str(), folder, MAX_PATH);
    std::string shorter;
    if (length == 0 || length >= MAX_PATH || !Ansi(folder + wide.substr(slash), shorter))
        return ansi;
    return shorter;
}

std::string ExeDirectory() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::string directory = Utf8(std::wstring(path, length < MAX_PATH ? length : 0));
    const size_t slash = directory.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : directory.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CanReplace(const std::string& path, std::string& reason) {
    const DWORD attributes = Attributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        reason = "plik jest tylko do odczytu";
        return false;
    }
    const size_t slash = path.find_last_of("\\/");
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // A probe file of its own name (not the saving's temporary one), gone
    // when closed.
    const std::wstring probe =
        Wide(folder + ".veldan-zapis-" + std::to_string(GetCurrentProcessId()) + ".tmp");
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = "w katalogu „" + (folder.empty() ? std::string(".") : folder) +
                 "” nie da się utworzyć pliku (błąd systemu " + std::to_string(GetLastError()) +
                 ")";
        return false;
    }
    CloseHandle(file);
    DeleteFileW(probe.c_str());
    return true;
}

bool CopyIntoFolder(const std::string& file, const std::string& folder, std::string& reason) {
    if (!IsDirectory(folder) && !CreateDirectoryW(Wide(folder).c_str(), nullptr)) {
        reason =
            "katalogu nie da się utworzyć (błąd systemu " + std::to_string(GetLastError()) + ")";
        return false;
    }
    const size_t slash = file.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    if (!CopyFileW(Wide(file).c_str(), Wide(folder + name).c_str(), FALSE)) {
        reason = "błąd systemu " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

namespace {

int crash_code = 0;

// A line on standard error without the heap, which the crash may have left
// in any state.
void WriteWithoutHeap(const char* utf8) {
    const HANDLE handle = err_stream.handle;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return;
    DWORD written = 0;
    if (!err_stream.console) {
        WriteFile(handle, utf8, static_cast<DWORD>(strlen(utf8)), &written, nullptr);
        return;
    }
    wchar_t wide[512];
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
    if (length > 1)
        WriteConsoleW(handle, wide, static_cast<DWORD>(length - 1), &written, nullptr);
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    ReportExit(crash_code);
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    const auto address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
    // The module the address lies in, by its file name, and the offset there.
    char where[MAX_PATH + 32] = "poza modułami programu";
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH] = {};
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(record.ExceptionAddress), &module) &&
        GetModuleFileNameW(module, path, MAX_PATH) != 0) {
        const wchar_t* name = path;
        for (const wchar_t* at = path; *at != 0; ++at)
            if (*at == L'\\' || *at == L'/')
                name = at + 1;
        char utf8[MAX_PATH * 3] = {};
        WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
        snprintf(where, sizeof where, "w %s+0x%lX", utf8,
                 static_cast<unsigned long>(address - reinterpret_cast<uintptr_t>(module)));
    }
    char access[64] = "";
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2)
        snprintf(access, sizeof access, ", %s 0x%08lX",
                 record.ExceptionInformation[0] == 1 ? "zapis pod adres" : "odczyt spod adresu",
                 static_cast<unsigned long>(record.ExceptionInformation[1]));
    char text[MAX_PATH * 4];
    snprintf(text, sizeof text,
             "veldan_host: awaria programu (wyjątek 0x%08lX%s) pod adresem 0x%08lX, %s; "
             "plik danych nie został zapisany\n",
             static_cast<unsigned long>(record.ExceptionCode), access,
             static_cast<unsigned long>(address), where);
    WriteWithoutHeap(text);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(crash_code));
    return EXCEPTION_CONTINUE_SEARCH;  // not reached
}

}  // namespace

void ReportCrashes(int code) {
    crash_code = code;
    SetUnhandledExceptionFilter(&ReportCrash);
}

void ReportExit(int code) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"QUENDRIX_HOST_STATUS", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    const HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string text = std::to_string(code) + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

LoadError LoadPlugin(const std::string& path, PluginModule& plugin, std::string& detail) {
    plugin = PluginModule{};
    if (!FileExists(path)) {
        detail = "nie ma pliku " + path;
        return LoadError::kMissing;
    }
    // No system error boxes: a module that cannot be loaded is reported here.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryW(Wide(path).c_str());
    const DWORD error = GetLastError();
    SetErrorMode(previous);
    if (!module) {
        detail = path + " nie daje się załadować (błąd systemu " + std::to_string(error) + ")";
        return LoadError::kNotLoadable;
    }
    auto entry = [module](WORD ordinal) {
        return reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
    };
    plugin.start = reinterpret_cast<StartEntry>(entry(30001));
    plugin.install = reinterpret_cast<InstallEntry>(entry(30008));
    plugin.idle = reinterpret_cast<IdleEntry>(entry(30009));
    if (!plugin.start || !plugin.install || !plugin.idle) {
        detail = path + " nie jest wtyczką: brak wejścia o numerze " +
                 std::string(!plugin.start     ? "30001"
                             : !plugin.install ? "30008"
                                               : "30009");
        FreeLibrary(module);
        plugin = PluginModule{};
        return LoadError::kNotAPlugin;
    }
    plugin.module = module;
    return LoadError::kNone;
}

void UnloadPlugin(PluginModule& plugin) {
    if (plugin.module)
        FreeLibrary(static_cast<HMODULE>(plugin.module));
    plugin = PluginModule{};
}

}  // namespace hostapp
