// Test helpers: temporary folders mapped to a drive letter, and log capture.
#include "support/QvTestSupport.h"

#include "platform/QvPlatform.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qvtest {

namespace {

[[maybe_unused]] std::string DriveVar(wchar_t letter) {
    std::string name = "QVSPLIT_DRIVE_";
    name += static_cast<char>(letter);
    return name;
}

[[maybe_unused]] void SetEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

[[maybe_unused]] void UnsetEnv(const std::string& name) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), "");
#else
    unsetenv(name.c_str());
#endif
}

fs::path MakeUniqueDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream name;
        name << "qvsplit-test-" << qvp::GetCurrentProcessId() << "-" << counter++ << "-" << rd();
        fs::path dir = base / name.str();
        std::error_code ec;
        if (fs::create_directory(dir, ec)) return dir;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

}  // namespace

TempTree::TempTree(wchar_t driveLetter) : m_root(MakeUniqueDir()), m_drive(driveLetter) {
#if !defined(_WIN32)
    const std::string var = DriveVar(m_drive);
    if (const char* old = std::getenv(var.c_str())) {
        m_hadDriveEnv = true;
        m_oldDriveEnv = old;
    }
    SetEnv(var, m_root.string());
#endif
}

TempTree::~TempTree() {
#if !defined(_WIN32)
    const std::string var = DriveVar(m_drive);
    if (m_hadDriveEnv)
        SetEnv(var, m_oldDriveEnv);
    else
        UnsetEnv(var);
#endif
    std::error_code ec;
    // Read-only entries would stop the removal on Windows; make everything writable first.
    for (auto it = fs::recursive_directory_iterator(m_root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_root, ec);
}

fs::path TempTree::Native(const std::string& rel) const {
    std::string r = rel;
    for (char& c : r)
        if (c == '\\') c = '/';
    if (r.empty()) return m_root;
    return m_root / fs::u8path(r);
}

std::wstring TempTree::WinPath(const std::string& rel) const {
    std::wstring tail = qvp::Utf8ToWide(rel);
    for (wchar_t& c : tail)
        if (c == L'/') c = L'\\';
#if defined(_WIN32)
    std::wstring root = m_root.wstring();
#else
    std::wstring root;
    root += m_drive;
    root += L":";
#endif
    if (tail.empty()) return root;
    return root + L"\\" + tail;
}

wchar_t TempTree::Drive() const {
#if defined(_WIN32)
    return m_root.wstring().at(0);
#else
    return m_drive;
#endif
}

bool UnderWine() {
#if defined(_WIN32)
    return std::getenv("WINECONFIGDIR") != nullptr || std::getenv("WINELOADER") != nullptr;
#else
    return false;
#endif
}

void TempTree::WriteFile(const std::string& rel, const std::string& content) const {
    const fs::path p = Native(rel);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

void TempTree::WriteSparse(const std::string& rel, uint64_t size) const {
    const fs::path p = Native(rel);
    fs::create_directories(p.parent_path());
    { std::ofstream out(p, std::ios::binary | std::ios::trunc); }
    fs::resize_file(p, size);
}

void TempTree::MakeDir(const std::string& rel) const { fs::create_directories(Native(rel)); }

std::string TempTree::ReadFile(const std::string& rel) const {
    std::ifstream in(Native(rel), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool TempTree::Exists(const std::string& rel) const {
    std::error_code ec;
    return fs::exists(Native(rel), ec);
}

std::vector<std::string> TempTree::List(const std::string& rel) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Native(rel), ec)) names.push_back(e.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

LogCapture::LogCapture() { CQvLog::GetInstance()->StartCapture(); }

LogCapture::~LogCapture() { CQvLog::GetInstance()->StopCapture(); }

const std::vector<QvLogRecord>& LogCapture::Records() const {
    return CQvLog::GetInstance()->Captured();
}

bool LogCapture::Has(QvLogLevel level, const std::wstring& text) const {
    for (const auto& r : Records())
        if (r.level == level && r.text == text) return true;
    return false;
}

bool LogCapture::HasContaining(QvLogLevel level, const std::wstring& part) const {
    for (const auto& r : Records())
        if (r.level == level && r.text.find(part) != std::wstring::npos) return true;
    return false;
}

size_t LogCapture::Count(QvLogLevel level) const {
    size_t n = 0;
    for (const auto& r : Records())
        if (r.level == level) ++n;
    return n;
}

std::string LogCapture::Dump() const {
    std::string out;
    for (const auto& r : Records()) {
        out += CQvLog::LevelName(r.level);
        out += " ";
        out += Narrow(r.text);
        out += "\n";
    }
    return out;
}

std::string Narrow(const std::wstring& s) { return qvp::WideToUtf8(s); }

}  // namespace qvtest
