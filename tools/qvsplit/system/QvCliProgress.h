// The progress line and the stop request, both driven by the library's callback.
#ifndef QVCLIPROGRESS_H
#define QVCLIPROGRESS_H

#include "QvSplit.h"

#include <chrono>
#include <cstdint>
#include <string>

struct QvCliProgress {
    bool show = false;        // print the line (standard error is a terminal, no --quiet)
    uint64_t steps = 0;       // callbacks at stop points: entries, groups, folders examined
    bool writing = false;     // the media files are being written
    bool stopped = false;     // a stop request was answered
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastPrint;
    size_t lastWidth = 0;
};

// The SPLITCB handed to the library; lpUserParam is a QvCliProgress*.
DWORD CALLBACK QvCliProgressCallback(DWORD uCode, LPVOID pData, DWORD dwValue, LPVOID lpUserParam);
// Clears the progress line before other output.
void QvCliProgressDone(QvCliProgress& progress);

// A bar of bytes done out of a total, for work whose size is known ahead (pack).
struct QvCliByteProgress {
    bool show = false;        // print the bar (standard error is a terminal, no --quiet)
    uint64_t total = 0;       // bytes of the whole job
    uint64_t base = 0;        // bytes of the parts already finished
    std::string label;        // what is being made now
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastPrint;
    size_t lastWidth = 0;
};

// Shows base + done bytes out of the total, at most five times a second.
void QvCliByteProgressUpdate(QvCliByteProgress& progress, uint64_t done);
// Clears the bar before other output.
void QvCliByteProgressDone(QvCliByteProgress& progress);

#endif
