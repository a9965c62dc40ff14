// The document file on disk. Paths come as UTF-8 and go to the system as
// UTF-16, so that a folder or file named with letters outside the system's
// ANSI code page (pl\łódź.json on a Western system) is found as typed.
#include <windows.h>

#include "documentfile/document_file.h"

namespace document_file {
namespace {

std::wstring Wide(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            length);
    return wide;
}

// The whole file; false with the system's error.
bool ReadAll(const std::string& path, std::string& bytes, DWORD& error) {
    bytes.clear();
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    char buffer[65536];
    DWORD read = 0;
    bool good = true;
    // Enough of a file too large to tell it so: the rest is never read in.
    while (bytes.size() <= kLargestFile &&
           (good = ReadFile(file, buffer, sizeof buffer, &read, nullptr)) && read > 0)
        bytes.append(buffer, read);
    error = good ? 0 : GetLastError();
    CloseHandle(file);
    return good;
}

bool WriteAll(const std::string& path, const std::string& bytes, DWORD& error) {
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    size_t at = 0;
    DWORD written = 0;
    bool good = true;
    while (good && at < bytes.size()) {
        good = WriteFile(file, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written,
                         nullptr) &&
               written > 0;
        at += written;
    }
    good = good && FlushFileBuffers(file);
    error = good ? 0 : GetLastError();
    CloseHandle(file);
    return good;
}

Problem FileProblem(Fault kind, const std::string& path, DWORD error) {
    Problem problem;
    problem.kind = kind;
    problem.found = path;
    problem.number = error;
    return problem;
}

}  // namespace

bool LoadDocumentFile(const std::string& path, DocumentFile& file, std::vector<Problem>& problems) {
    std::string bytes;
    DWORD error = 0;
    if (!ReadAll(path, bytes, error)) {
        file = DocumentFile{};
        problems = {FileProblem(Fault::kCannotOpen, path, error)};
        return false;
    }
    return ReadDocuments(bytes, file, problems);
}

bool SaveDocumentFile(const std::string& path, const DocumentSet& documents,
                      const DocumentFile* before, Problem& problem) {
    const std::string bytes = WriteDocuments(documents, before);
    std::string present;
    DWORD error = 0;
    if (!path.empty() && ReadAll(path, present, error) && present == bytes)
        return true;
    if (path.empty()) {
        problem = FileProblem(Fault::kCannotWrite, "(brak ścieżki)", 0);
        return false;
    }
    const std::string temporary = path + ".tmp";
    if (!WriteAll(temporary, bytes, error)) {
        problem = FileProblem(Fault::kCannotWrite, temporary, error);
        DeleteFileW(Wide(temporary).c_str());
        return false;
    }
    if (!MoveFileExW(Wide(temporary).c_str(), Wide(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        problem = FileProblem(Fault::kCannotReplace, path, GetLastError());
        DeleteFileW(Wide(temporary).c_str());
        return false;
    }
    return true;
}

}  // namespace document_file
