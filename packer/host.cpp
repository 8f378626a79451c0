#include "host.h"
#include <cstdio>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <locale>
#endif

namespace {

#ifdef _WIN32
const char Separators[] = "/\\";

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// "C:" and the like.
bool BeginsWithDrive(const std::string& path)
{
    return path.size() >= 2 && path[1] == ':' && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}
#else
const char Separators[] = "/";
#endif

} // namespace

bool IsAbsolutePath(const std::string& path)
{
#ifdef _WIN32
    return (!path.empty() && IsSeparator(path[0])) || BeginsWithDrive(path);
#else
    return !path.empty() && path[0] == '/';
#endif
}

std::string ParentFolder(const std::string& path)
{
    size_t slash = path.find_last_of(Separators);
#ifdef _WIN32
    if (BeginsWithDrive(path) && (slash == std::string::npos || slash == 2))
        return path.substr(0, 2) + (slash == std::string::npos ? "." : path.substr(2, 1));
#endif
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool RegularFileDetails(const std::string& path, int64_t& modified, uint64_t& size)
{
#ifdef _WIN32
    // The 64-bit form: the plain one's size holds no more than 2 GB.
    struct _stat64 info;
    if (_stat64(path.c_str(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)
        return false;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
#endif
    modified = int64_t(info.st_mtime);
    size = uint64_t(info.st_size);
    return true;
}

bool MoveOver(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    // The C library's rename does not replace a file on Windows.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::wstring UpperCase(std::wstring name)
{
#ifdef _WIN32
    // The system's own folding, in UTF-16 as Windows compares names: of the same length.
    if (!name.empty()
        && LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.c_str(), int(name.size()), &name[0],
               int(name.size()), nullptr, nullptr, 0)
            != int(name.size()))
        name.clear();
#else
    static const std::locale unicode("C.UTF-8");
    for (wchar_t& c : name)
        c = std::toupper(c, unicode);
#endif
    return name;
}
