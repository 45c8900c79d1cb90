// Host services of the program: terminals, Ctrl-C, environment, temporary folders.
#include "QvCliSystem.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif
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

bool QvCliStatFile(const std::string& path, unsigned long long& size, std::string& writeTime,
                   bool& isDir) {
#if defined(_WIN32)
    struct _stat64 st;
    if (_wstat64(std::filesystem::u8path(path).wstring().c_str(), &st) != 0) return false;
    std::tm local{};
    const time_t t = static_cast<time_t>(st.st_mtime);
    if (localtime_s(&local, &t) != 0) return false;
    isDir = (st.st_mode & _S_IFDIR) != 0;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    std::tm local{};
    const time_t t = st.st_mtime;
    if (!localtime_r(&t, &local)) return false;
    isDir = S_ISDIR(st.st_mode);
#endif
    size = static_cast<unsigned long long>(st.st_size);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    writeTime = text;
    return true;
}
