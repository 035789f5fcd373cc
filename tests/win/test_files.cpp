// tests/win/test_files.cpp — temporary folders and files for the Windows tests.
#include "tests/win/test_files.h"

#include <windows.h>

std::string MakeTempFolder(const char *prefix)
{
    char base[MAX_PATH], name[MAX_PATH];
    GetTempPathA(sizeof base, base);
    GetTempFileNameA(base, prefix, 0, name);
    DeleteFileA(name);
    CreateDirectoryA(name, NULL);
    char shortName[MAX_PATH];
    DWORD length = GetShortPathNameA(name, shortName, sizeof shortName);
    return length > 0 && length < sizeof shortName ? shortName : name;
}

bool WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadBytes(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "(missing)";
    std::string bytes(GetFileSize(file, NULL), '\0');
    DWORD done = 0;
    if (!bytes.empty())
        ReadFile(file, &bytes[0], (DWORD)bytes.size(), &done, NULL);
    CloseHandle(file);
    return bytes;
}

void RemoveTree(const std::string &folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + "\\" + name);
            else
                DeleteFileA((folder + "\\" + name).c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string BesideProgram(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}
