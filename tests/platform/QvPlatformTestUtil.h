// Helpers for the platform tests: listing a pattern, reading and writing whole files.
#ifndef QVPLATFORMTESTUTIL_H
#define QVPLATFORMTESTUTIL_H

#include "platform/QvPlatform.h"

#include <cstdlib>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <unistd.h>
#endif

namespace qvtest {

// Names FindFirstFileW/FindNextFileW report for pattern, in order; on failure an empty list and
// the last error in *error.
inline std::vector<std::wstring> ListNames(const std::wstring& pattern, DWORD* error = nullptr) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE h = qvp::FindFirstFileW(pattern.c_str(), &data);
    if (error) *error = h == INVALID_HANDLE_VALUE ? qvp::GetLastError() : ERROR_SUCCESS;
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (qvp::FindNextFileW(h, &data));
    if (error) *error = qvp::GetLastError();  // ERROR_NO_MORE_FILES at a clean end
    qvp::FindClose(h);
    return names;
}

// The whole content of a file read through CreateFileW/ReadFile; "<fail N>" when it cannot.
inline std::string ReadAll(const std::wstring& path) {
    HANDLE h = qvp::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<fail " + std::to_string(qvp::GetLastError()) + ">";
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (qvp::ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) out.append(buf, got);
    qvp::CloseHandle(h);
    return out;
}

// Writes data to path with the given disposition; false when any step fails.
inline bool WriteAll(const std::wstring& path, const std::string& data, DWORD disposition = CREATE_ALWAYS) {
    HANDLE h = qvp::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = qvp::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                    written == data.size();
    return qvp::CloseHandle(h) && ok;
}

#if !defined(_WIN32)
// Restores the working folder and an environment variable at the end of a test.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : m_name(name) {
        if (const char* v = std::getenv(name)) m_old = v, m_had = true;
        char buf[4096];
        if (getcwd(buf, sizeof(buf))) m_cwd = buf;
    }
    ~EnvGuard() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
        if (!m_cwd.empty() && chdir(m_cwd.c_str()) != 0) ADD_FAILURE() << "cannot restore the working folder";
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string m_name, m_old, m_cwd;
    bool m_had = false;
};
#endif

}  // namespace qvtest

#endif
