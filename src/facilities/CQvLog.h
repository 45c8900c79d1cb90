// The process-wide trace log: entry and exit lines of every public method, and messages.
//
// QVSPLIT_LOG names a file the log is appended to (UTF-8), or "-" for standard error; unset,
// nothing is written. Each record is one line ending in "[LEVEL] TEXT". Lines are gathered in
// memory and written out in large blocks: at once after a WARNING or ERROR line, when an
// operation of the interface returns (Flush), when the second of the time stamp changes, when
// the destination changes and at process exit. QVSPLIT_LOG_MAX_MB (default 256) bounds a log
// file: past it the file becomes FILE.1 (replacing an older one) and a new FILE is begun.
// Pipes and devices are written without a bound.
#ifndef CQVLOG_H
#define CQVLOG_H

#include "CQvString.h"
#include "QvFormat.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

enum class QvLogLevel { Enter, Exit, Error, Warning, Info };

// One record as tests capture it.
struct QvLogRecord {
    QvLogLevel level;
    std::wstring text;
};

class QVSPLIT_API CQvLog {
public:
    static CQvLog* GetInstance();

    // Opens a trace scope with a printf-style message (QvFormat.h).
    template <class... A>
    void EnterFunction(const wchar_t* fmt, const A&... args) {
        if (!m_traceActive) {
            PushScope(nullptr, nullptr, 0);
            return;
        }
        const QvFormatArg list[] = {QvFormatArg(args)..., QvFormatArg()};
        PushScope(fmt, list, sizeof...(A));
    }
    // Closes the innermost scope without a result.
    void ExitFunction();
    // Closes the innermost scope, records value as its result and returns it unchanged.
    template <class T>
    T ExitFunction(T value) {
        if (m_traceActive) {
            const QvFormatArg arg(value);
            PopScope(&arg);
        } else {
            PopScope(nullptr);
        }
        return value;
    }

    template <class... A>
    void AddError(const wchar_t* fmt, const A&... args) {
        Add(QvLogLevel::Error, fmt, args...);
    }
    template <class... A>
    void AddWarning(const wchar_t* fmt, const A&... args) {
        Add(QvLogLevel::Warning, fmt, args...);
    }
    template <class... A>
    void AddInfo(const wchar_t* fmt, const A&... args) {
        Add(QvLogLevel::Info, fmt, args...);
    }

    // Sends the log to a file (appended), to standard error ("-"), or nowhere (null or "").
    void SetDestination(const char* path);
    // Writes out the lines gathered so far.
    void Flush();
    // Bound of a log file in MiB (a positive whole number; anything else means the default,
    // 256); QVSPLIT_LOG_MAX_MB sets it when the log is created. Only a regular file has one.
    void SetMaximumSize(const char* megabytes);
    static const uint64_t kDefaultMaxMegabytes = 256;
    // Lowest level written out: "trace" (everything, the default), "info", "warning" or
    // "error"; QVSPLIT_LOG_LEVEL sets it when the log is created. Captures get everything.
    void SetMinimumLevel(const char* name);
    // Whether anything is recorded now (a destination or a capture); formatting is skipped
    // otherwise.
    bool IsActive() const { return m_active; }
    // Whether a record of that level is recorded now.
    bool LevelActive(QvLogLevel level) const {
        return m_capturing || (m_out != nullptr && Rank(level) >= m_minRank);
    }

    // Tests: records every line in memory from now on, as well as writing it out.
    void StartCapture();
    // Tests: ends the capture and hands over what it recorded.
    std::vector<QvLogRecord> StopCapture();
    // Tests: what the running capture recorded so far.
    const std::vector<QvLogRecord>& Captured() const { return m_captured; }

    // The error messages since the last ClearErrors, whether or not a log is written (at most
    // kMaxKeptErrors, the first ones: the first error is the cause, later ones its echoes).
    const std::vector<std::wstring>& Errors() const { return m_errors; }
    void ClearErrors() { m_errors.clear(); }
    static const size_t kMaxKeptErrors = 64;

    // Open scopes, and closing them down to a depth without EXIT lines: after an exception
    // left the scopes it passed open.
    size_t ScopeDepth() const { return m_scopes.size(); }
    void UnwindTo(size_t depth);

    // Text of a level as it appears in a line: ENTER, EXIT, ERROR, WARNING, INFO.
    static const char* LevelName(QvLogLevel level);

private:
    CQvLog();
    ~CQvLog();
    CQvLog(const CQvLog&) = delete;
    CQvLog& operator=(const CQvLog&) = delete;

    template <class... A>
    void Add(QvLogLevel level, const wchar_t* fmt, const A&... args) {
        const bool keep = level == QvLogLevel::Error && m_errors.size() < kMaxKeptErrors;
        if (!keep && !LevelActive(level)) return;
        const QvFormatArg list[] = {QvFormatArg(args)..., QvFormatArg()};
        std::wstring text;
        try {
            text = QvFormatV(fmt, list, sizeof...(A));
        } catch (const std::bad_alloc&) {
            return;  // logging never fails its caller
        }
        if (keep) KeepError(text);
        if (LevelActive(level)) Write(level, text);
    }
    void KeepError(const std::wstring& text);
    void PushScope(const wchar_t* fmt, const QvFormatArg* args, size_t count);
    struct CompiledFormat;
    const CompiledFormat* Compiled(const wchar_t* fmt);
    void PopScope(const QvFormatArg* result);
    void Write(QvLogLevel level, const std::wstring& text, const QvFormatArg* result = nullptr,
               size_t encoded = kNotEncoded);
    void WriteLine(QvLogLevel level, const std::wstring& text, const QvFormatArg* result, size_t encoded);
    bool Writes(QvLogLevel level) const { return m_out != nullptr && Rank(level) >= m_minRank; }
    char* Reserve(size_t bytes);
    size_t AppendTimeStamp();
    long long NowMilliseconds();
    void AppendResult(const QvFormatArg& result);
    void FinishLine(size_t start, bool flushNow);
    void WriteBuffered(size_t bytes);
    void Rotate();
    void UpdateActive();
    static void FlushAtExit();

    static int Rank(QvLogLevel level) {
        return level == QvLogLevel::Error     ? 3
               : level == QvLogLevel::Warning ? 2
               : level == QvLogLevel::Info    ? 1
                                              : 0;
    }

    bool m_active = false;
    bool m_traceActive = false;  // entry and exit lines are recorded
    int m_minRank = 0;
    bool m_capturing = false;
    void* m_out = nullptr;  // FILE* of the destination, or null
    bool m_ownsOut = false;
    std::string m_path;          // the log file, for rotation; empty for standard error
    uint64_t m_maxBytes = kDefaultMaxMegabytes << 20;
    uint64_t m_fileBytes = 0;    // in the file now, written out or still gathered
    std::string m_buffer;        // lines not yet written out: the first m_used bytes
    size_t m_used = 0;
    static constexpr long long kNoTime = std::numeric_limits<long long>::min();
    long long m_stampSecond = kNoTime;  // the second m_stamp shows
    long long m_stampMs = kNoTime;      // and the millisecond
    char m_stamp[48] = "";              // "YYYY-MM-DD hh:mm:ss.mmm " of it, local time
    size_t m_stampLen = 0;
    bool m_exiting = false;        // after the exit handler: every line written out at once
    // An open scope: its entry text, and how many bytes its line text took at the end of
    // m_scopeBytes, so the EXIT line copies them instead of converting the text again.
    static const size_t kNotEncoded = static_cast<size_t>(-1);
    struct Scope {
        std::wstring text;
        size_t encoded = kNotEncoded;
    };
    std::vector<Scope> m_scopes;
    std::string m_scopeBytes;  // the first m_scopeUsed bytes; the rest is room
    size_t m_scopeUsed = 0;
    // Entry formats taken apart, by where they are: a few dozen formats make nearly all lines.
    static const size_t kCompiledFormats = 256;
    std::vector<std::unique_ptr<CompiledFormat>> m_compiled;
    std::vector<QvLogRecord> m_captured;
    std::vector<std::wstring> m_errors;
};

#endif
