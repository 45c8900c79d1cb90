// Shared test helpers: real temporary folders reachable through Windows paths, and log capture.
#ifndef QVTESTSUPPORT_H
#define QVTESTSUPPORT_H

#include "facilities/CQvLog.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qvtest {

// A fresh folder on the real disk, removed with everything in it at the end of the test.
// On POSIX it is mapped to a drive letter (QVSPLIT_DRIVE_<letter>), so the library reaches it
// as "<letter>:\..."; on Windows WinPath gives its real path.
class TempTree {
public:
    explicit TempTree(wchar_t driveLetter = L'T');
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // Host path of the folder, and of a relative path below it ("a/b.txt").
    const std::filesystem::path& Root() const { return m_root; }
    std::filesystem::path Native(const std::string& rel) const;
    // The Windows path the library uses for a relative path ("a/b.txt" or "a\\b.txt");
    // an empty rel gives the root with no trailing backslash.
    std::wstring WinPath(const std::string& rel = "") const;
    // The drive letter of WinPath: the mapped letter on POSIX, the real drive on Windows.
    wchar_t Drive() const;
    // WinPath without its drive letter (":\\dir\\f.bin"), as part lists keep it.
    std::wstring DrivelessPath(const std::string& rel) const { return WinPath(rel).substr(1); }

    // Creates the folders of rel and a file holding content.
    void WriteFile(const std::string& rel, const std::string& content) const;
    // Creates a sparse file of size bytes (no disk cost).
    void WriteSparse(const std::string& rel, uint64_t size) const;
    // Creates a folder and its parents.
    void MakeDir(const std::string& rel) const;
    std::string ReadFile(const std::string& rel) const;
    bool Exists(const std::string& rel) const;
    // Names in a folder, sorted, without "." and "..".
    std::vector<std::string> List(const std::string& rel = "") const;

private:
    std::filesystem::path m_root;
    wchar_t m_drive;
    std::string m_oldDriveEnv;
    bool m_hadDriveEnv = false;
};

// Records the log lines written while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    // Every record, in order.
    const std::vector<QvLogRecord>& Records() const;
    // Whether a record of that level has exactly that text.
    bool Has(QvLogLevel level, const std::wstring& text) const;
    // Whether a record of that level contains that text.
    bool HasContaining(QvLogLevel level, const std::wstring& part) const;
    // Number of records of that level.
    size_t Count(QvLogLevel level) const;
    // All records as "LEVEL text" lines, for failure messages.
    std::string Dump() const;
};

// Whether the tests run as a Windows program under Wine, whose file and case functions
// differ from Windows in a few places (Wine's loader sets WINECONFIGDIR in every process).
bool UnderWine();

// Narrow UTF-8 text of a wide string, for messages.
std::string Narrow(const std::wstring& s);

}  // namespace qvtest

#endif
