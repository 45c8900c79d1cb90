// The process-wide trace log: scopes, levels, one flushed UTF-8 line per record.
#include "facilities/CQvLog.h"

#include "platform/QvPlatform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <utility>

namespace {

// Deeper scopes are not indented further, so a runaway recursion cannot make huge lines.
const size_t kMaxIndent = 32;

FILE* AsFile(void* p) { return static_cast<FILE*>(p); }

// "YYYY-MM-DD hh:mm:ss.mmm" in local time.
std::string TimeStamp() {
    using namespace std::chrono;
    const system_clock::time_point now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    char buf[40] = "";
    // The library starts no threads, so the shared result of localtime is safe here.
    if (const std::tm* tmv = std::localtime(&secs)) std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", tmv);
    char out[64];
    std::snprintf(out, sizeof out, "%s.%03d", buf, ms);
    return out;
}

// One record stays one line: line breaks inside the text become the two characters \n, \r.
std::wstring Escaped(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\n') out += L"\\n";
        else if (c == L'\r') out += L"\\r";
        else out += c;
    }
    return out;
}

// The result of ExitFunction as it follows " = " in the EXIT line.
std::wstring ResultText(const QvFormatArg& result) {
    switch (result.kind()) {
        case QvFormatArg::Signed: return QvFormatV(L"%lld", &result, 1);
        case QvFormatArg::Unsigned: return QvFormatV(L"%llu", &result, 1);
        case QvFormatArg::Float: return QvFormatV(L"%g", &result, 1);
        case QvFormatArg::WideChar: return QvFormatV(L"%c", &result, 1);
        case QvFormatArg::Pointer: return QvFormatV(L"%p", &result, 1);
        case QvFormatArg::WideString:
        case QvFormatArg::NarrowString: return QvFormatV(L"%s", &result, 1);
        case QvFormatArg::None: break;
    }
    return std::wstring();
}

}  // namespace

CQvLog* CQvLog::GetInstance() {
    // Deliberately never destroyed: static destructors of other singletons may still log.
    static CQvLog* const instance = new CQvLog();
    return instance;
}

CQvLog::CQvLog() {
    SetMinimumLevel(std::getenv("QVSPLIT_LOG_LEVEL"));
    SetDestination(std::getenv("QVSPLIT_LOG"));
}

void CQvLog::SetMinimumLevel(const char* name) {
    const std::string level = name ? name : "";
    m_minRank = level == "error" ? 3 : level == "warning" ? 2 : level == "info" ? 1 : 0;
    UpdateActive();
}

CQvLog::~CQvLog() { SetDestination(nullptr); }

void CQvLog::SetDestination(const char* path) {
    if (m_out && m_ownsOut) std::fclose(AsFile(m_out));
    m_out = nullptr;
    m_ownsOut = false;
    if (path && path[0] == '-' && path[1] == '\0') {
        m_out = stderr;
    } else if (path && *path) {
        // Appended in binary so the bytes are exactly the UTF-8 we produce on every host.
        m_out = std::fopen(path, "ab");
        m_ownsOut = m_out != nullptr;
    }
    UpdateActive();
}

void CQvLog::UpdateActive() {
    m_active = m_out != nullptr || m_capturing;
    m_traceActive = m_capturing || (m_out != nullptr && m_minRank == 0);
}

void CQvLog::PushScope(const wchar_t* fmt, const QvFormatArg* args, size_t count) {
    try {
        if (!fmt) {
            // Inactive: only the depth is kept, so a later EXIT still pairs with its scope.
            m_scopes.emplace_back();
            return;
        }
        std::wstring text = QvFormatV(fmt, args, count);
        Write(QvLogLevel::Enter, text);
        m_scopes.push_back(std::move(text));
    } catch (const std::bad_alloc&) {
        // Logging must never fail its caller.
    }
}

void CQvLog::ExitFunction() { PopScope(nullptr); }

void CQvLog::PopScope(const QvFormatArg* result) {
    try {
        // An unmatched exit logs an empty scope text rather than popping nothing.
        std::wstring text;
        if (!m_scopes.empty()) {
            text.swap(m_scopes.back());
            m_scopes.pop_back();
        }
        if (!m_traceActive) return;
        if (result) {
            text += L" = ";
            text += ResultText(*result);
        }
        Write(QvLogLevel::Exit, text);
    } catch (const std::bad_alloc&) {
    }
}

void CQvLog::KeepError(const std::wstring& text) {
    try {
        if (!text.empty()) m_errors.push_back(text);
    } catch (const std::bad_alloc&) {
    }
}

void CQvLog::Write(QvLogLevel level, const std::wstring& text) {
    if (!IsActive()) return;
    try {
        if (m_capturing) m_captured.push_back(QvLogRecord{level, text});
        if (!m_out || Rank(level) < m_minRank) return;
        std::string line = TimeStamp();
        line += ' ';
        line.append(std::min(m_scopes.size(), kMaxIndent) * 2, ' ');
        line += '[';
        line += LevelName(level);
        line += "] ";
        line += qvp::WideToUtf8(Escaped(text));
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), AsFile(m_out));
        // Flushed at once, so a crash right after a record does not lose it.
        std::fflush(AsFile(m_out));
    } catch (const std::bad_alloc&) {
    }
}

void CQvLog::StartCapture() {
    m_captured.clear();
    m_capturing = true;
    UpdateActive();
}

std::vector<QvLogRecord> CQvLog::StopCapture() {
    std::vector<QvLogRecord> records;
    records.swap(m_captured);
    m_capturing = false;
    UpdateActive();
    return records;
}

const char* CQvLog::LevelName(QvLogLevel level) {
    switch (level) {
        case QvLogLevel::Enter: return "ENTER";
        case QvLogLevel::Exit: return "EXIT";
        case QvLogLevel::Error: return "ERROR";
        case QvLogLevel::Warning: return "WARNING";
        case QvLogLevel::Info: return "INFO";
    }
    return "INFO";
}
