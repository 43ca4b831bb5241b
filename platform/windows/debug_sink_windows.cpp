// Windows side of os_backend.h: path separator, executable path, the support log's folder
// (%LOCALAPPDATA%) and the log's files, through the wide-character calls so that any user name
// works.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/os_backend.h"

const char kOsPathSeparator = '\\';

namespace {

std::wstring wide(const char* utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring text(length > 0 ? size_t(length) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &text[0], length);
    return text;
}

std::string utf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? size_t(length) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
    out.resize(out.size() - 1);  // the terminator
    return out;
}

}  // namespace

bool OsExecutablePath(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    const DWORD capacity = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    const DWORD length = GetModuleFileNameA(nullptr, buffer, capacity);
    // A full buffer means the path was cut (and, before Vista, left unterminated).
    if (length == 0 || length >= capacity) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

void OsDebugWrite(const char* prefix, const char* text, bool standardError) {
    if (!standardError) {
        // Two calls so the log never needs a buffer to join them; the lock keeps them together.
        OutputDebugStringA(prefix);
        OutputDebugStringA(text);
        return;
    }
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    WriteFile(error, prefix, DWORD(strlen(prefix)), &written, nullptr);
    WriteFile(error, text, DWORD(strlen(text)), &written, nullptr);
}

std::string OsSupportLogFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::string();
    }
    return utf8(folder) + "\\LumoraConnector\\logs";
}

intptr_t OsAppendOpen(const char* path) {
    // Append-only access makes every write land at the end, also with other processes writing;
    // sharing delete lets another program rotate the file while it is open here.
    const HANDLE file = CreateFileW(wide(path).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

bool OsAppendWrite(intptr_t file, const char* data, size_t size) {
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(file), data, DWORD(size), &written, nullptr) &&
           written == size;
}

long long OsFileSize(intptr_t file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(reinterpret_cast<HANDLE>(file), &size) ? size.QuadPart : -1;
}

void OsFileClose(intptr_t file) {
    CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool OsFileReplace(const char* from, const char* to) {
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool OsMakeFolder(const char* path) {
    const std::wstring folder = wide(path);
    if (CreateDirectoryW(folder.c_str(), nullptr)) {
        return true;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return true;
    }
    SetLastError(error);
    return false;
}

std::string OsLastErrorText() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = length > 0 ? utf8(text) : "error " + std::to_string(error);
    LocalFree(text);
    // The system's text ends in a period and a line end.
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}
