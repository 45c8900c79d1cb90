// Host services of the program: terminals, Ctrl-C, environment, temporary folders.
#include "system/QvCliSystem.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

namespace {
std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }
}  // namespace

std::vector<std::string> QvCliArguments(int argc, char** argv) {
    std::vector<std::string> args;
#if defined(_WIN32)
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide && count == argc) {
        for (int i = 0; i < count; ++i) args.push_back(std::filesystem::path(wide[i]).u8string());
        LocalFree(wide);
        return args;
    }
    if (wide) LocalFree(wide);
#endif
    args.assign(argv, argv + argc);
    return args;
}

#if defined(_WIN32)
// _isatty is true for any character device, NUL included, so a script's "< NUL" would look
// like a person at a console; only a console handle has a console mode.
bool QvCliStderrIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool QvCliStdinIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}
#else
bool QvCliStderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

bool QvCliStdinIsTerminal() { return isatty(fileno(stdin)) != 0; }
#endif

void QvCliInstallInterruptHandler() {
    std::signal(SIGINT, OnInterrupt);
#if !defined(_WIN32)
    std::signal(SIGTERM, OnInterrupt);
#endif
}

bool QvCliInterrupted() { return g_interrupted; }

void QvCliSetEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
#else
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::string QvCliMakeTempDir(const std::string& prefix) {
    namespace fs = std::filesystem;
    std::random_device rd;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return std::string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path dir = base / fs::u8path(prefix + std::to_string(rd() % 1000000000u));
        if (fs::create_directory(dir, ec)) return dir.u8string();
    }
    return std::string();
}

namespace {

// The file at path opened for reading, -1 when it cannot be. Not blocking: what was a file may
// be a pipe now.
int OpenForReading(const std::string& path) {
#if defined(_WIN32)
    return _wopen(std::filesystem::u8path(path).wstring().c_str(), _O_RDONLY | _O_BINARY);
#else
    return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
#endif
}

void CloseFile(int fd) {
#if defined(_WIN32)
    _close(fd);
#else
    close(fd);
#endif
}

}  // namespace

bool QvCliStatFile(const std::string& path, unsigned long long& size, std::string& writeTime,
                   bool& isDir, bool andOpen) {
#if defined(_WIN32)
    struct _stat64 st;
    const auto describeOpen = [&st](int fd) { return _fstat64(fd, &st); };
    const auto describe = [&st, &path] { return _wstat64(std::filesystem::u8path(path).wstring().c_str(), &st); };
#else
    struct stat st;
    const auto describeOpen = [&st](int fd) { return fstat(fd, &st); };
    const auto describe = [&st, &path] { return stat(path.c_str(), &st); };
#endif
    if (andOpen) {
        const int fd = OpenForReading(path);
        if (fd < 0) return false;
        const int described = describeOpen(fd);
        CloseFile(fd);
        if (described != 0) return false;
    } else if (describe() != 0) {
        return false;
    }
    std::tm local{};
    const time_t t = static_cast<time_t>(st.st_mtime);
#if defined(_WIN32)
    if (localtime_s(&local, &t) != 0) return false;
    isDir = (st.st_mode & _S_IFDIR) != 0;
#else
    if (!localtime_r(&t, &local)) return false;
    isDir = S_ISDIR(st.st_mode);
#endif
    size = static_cast<unsigned long long>(st.st_size);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    writeTime = text;
    return true;
}

bool QvCliOpensForReading(const std::string& path) {
    const int fd = OpenForReading(path);
    if (fd < 0) return false;
    CloseFile(fd);
    return true;
}

bool QvCliListChildren(const std::filesystem::path& folder, bool followLinks, std::vector<QvCliChild>& children,
                       std::error_code& ec) {
    namespace fs = std::filesystem;
    children.clear();
    ec.clear();
#if defined(_WIN32)
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        QvCliChild child;
        child.name = it->path().filename();
        std::error_code own;
        const fs::file_status status = it->symlink_status(own);
        const bool followed = fs::is_symlink(status) && followLinks && it->is_regular_file(own);
        if (fs::is_symlink(status) && !followed)
            child.kind = QvCliChild::kLink;
        else if (fs::is_directory(status))
            child.kind = QvCliChild::kFolder;
        else if (fs::is_regular_file(status) || followed)
            child.kind = QvCliChild::kFile;
        if (child.kind == QvCliChild::kFile) child.size = it->file_size(own);
        children.push_back(std::move(child));
    }
    if (ec) return false;
#else
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    const int fd = dirfd(dir);
    errno = 0;
    while (const struct dirent* de = readdir(dir)) {
        if (std::strcmp(de->d_name, ".") == 0 || std::strcmp(de->d_name, "..") == 0) continue;
        QvCliChild child;
        child.name = de->d_name;
        struct stat st;
        const bool known = de->d_type != DT_UNKNOWN;
        const bool listedFolder = de->d_type == DT_DIR;
        if (listedFolder) {
            child.kind = QvCliChild::kFolder;
        } else if (known && de->d_type != DT_REG && de->d_type != DT_LNK) {
            child.kind = QvCliChild::kOther;
        } else if (fstatat(fd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(st.st_mode)) {
                struct stat target;
                const bool followed = followLinks && fstatat(fd, de->d_name, &target, 0) == 0 && S_ISREG(target.st_mode);
                child.kind = followed ? QvCliChild::kFile : QvCliChild::kLink;
                if (followed) child.size = static_cast<uint64_t>(target.st_size);
            } else if (S_ISDIR(st.st_mode)) {
                child.kind = QvCliChild::kFolder;
            } else if (S_ISREG(st.st_mode)) {
                child.kind = QvCliChild::kFile;
                child.size = static_cast<uint64_t>(st.st_size);
            }
        }
        children.push_back(std::move(child));
        errno = 0;
    }
    const int listingError = errno;
    closedir(dir);
    if (listingError) {
        ec.assign(listingError, std::generic_category());
        return false;
    }
#endif
    std::sort(children.begin(), children.end(),
              [](const QvCliChild& a, const QvCliChild& b) { return a.name.native() < b.name.native(); });
    return true;
}
