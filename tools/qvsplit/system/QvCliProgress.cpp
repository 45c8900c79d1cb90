// Progress reporting and Ctrl-C handling through the split callback.
#include "system/QvCliProgress.h"

#include "system/QvCliShown.h"

#include "system/QvCliSystem.h"

#include <cstdio>

namespace {

void PrintLine(QvCliProgress& p) {
    const auto now = std::chrono::steady_clock::now();
    if (now - p.lastPrint < std::chrono::milliseconds(200)) return;
    p.lastPrint = now;
    const long long secs =
        std::chrono::duration_cast<std::chrono::seconds>(now - p.start).count();
    char line[160];
    const int width = std::snprintf(line, sizeof line,
                                    "\rqvsplit: %s  %zu media written  %llu entries examined  %lld:%02lld",
                                    p.writing ? "writing media" : "scanning     ",
                                    static_cast<size_t>(QvGetMediaCount()),
                                    static_cast<unsigned long long>(p.steps), secs / 60, secs % 60);
    std::fputs(line, stderr);
    std::fflush(stderr);
    p.lastWidth = width > 0 ? static_cast<size_t>(width) : 0;
}

}  // namespace

DWORD CALLBACK QvCliProgressCallback(DWORD uCode, LPVOID, DWORD, LPVOID lpUserParam) {
    QvCliProgress& p = *static_cast<QvCliProgress*>(lpUserParam);
    if (uCode == 0) p.writing = true;
    if (uCode == 1) ++p.steps;
    if (QvCliInterrupted()) {
        p.stopped = true;
        return 1;
    }
    if (p.show) PrintLine(p);
    return 0;
}

void QvCliProgressDone(QvCliProgress& p) {
    if (p.show && p.lastWidth) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(p.lastWidth), "");
        std::fflush(stderr);
    }
}

void QvCliByteProgressUpdate(QvCliByteProgress& p, uint64_t done) {
    if (!p.show) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - p.lastPrint < std::chrono::milliseconds(200)) return;
    p.lastPrint = now;
    const uint64_t at = p.base + done;
    const double share = p.total ? static_cast<double>(at) / static_cast<double>(p.total) : 0.0;
    const int filled = static_cast<int>(share * 20.0 + 0.5);
    const long long secs = std::chrono::duration_cast<std::chrono::seconds>(now - p.start).count();
    char line[200];
    const int width = std::snprintf(line, sizeof line, "\rqvsplit: %-12.40s [%-20.*s] %3d%%  %.1f / %.1f MB  %lld:%02lld",
                                    QvCliShown(p.label).c_str(), filled > 20 ? 20 : filled, "####################",
                                    static_cast<int>(share * 100.0), at / 1048576.0, p.total / 1048576.0,
                                    secs / 60, secs % 60);
    std::fputs(line, stderr);
    std::fflush(stderr);
    p.lastWidth = width > 0 ? static_cast<size_t>(width) : 0;
}

void QvCliByteProgressDone(QvCliByteProgress& p) {
    if (p.show && p.lastWidth) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(p.lastWidth), "");
        std::fflush(stderr);
    }
    p.lastWidth = 0;
}
