// The summary of a media set, as a table or as JSON.
#ifndef QVCLIREPORT_H
#define QVCLIREPORT_H

#include "mediaset/QvCliMediaSet.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// A selected file that no medium holds, and why.
struct QvCliLeftOut {
    std::string path;
    uint64_t size = 0;
    bool sizeKnown = true;  // false for a folder that could not be read
    std::string reason;
};

// A rule that selects nothing, and why.
struct QvCliDroppedRule {
    int rule = 0;
    std::string path;
    std::string reason;
};

// Figures of a media set.
struct QvCliTotals {
    uint64_t totalBytes = 0;   // sum of the sizes of the distinct entries
    uint32_t splitSizeMb = 0;  // medium size
    uint64_t lowerBound = 0;   // total divided by the medium size, rounded up
};

QvCliTotals QvCliComputeTotals(const QvCliMediaSet& set, uint32_t splitSizeMb);

// One row per medium, the total, the media count against its lower bound, and what was left out.
void QvCliPrintSummary(const QvCliMediaSet& set, uint32_t splitSizeMb,
                       const std::vector<QvCliLeftOut>& leftOut, std::ostream& out);
struct QvCliChanges;
void QvCliPrintSummaryJson(const QvCliMediaSet& set, uint32_t splitSizeMb,
                           const std::vector<QvCliLeftOut>& leftOut, std::ostream& out,
                           const std::vector<QvCliDroppedRule>* dropped = nullptr, uint64_t catalogRoom = 0,
                           const QvCliChanges* since = nullptr);
// What a split that followed earlier sets found, as a line of the summary ("since ...: 3 new,
// ...") and as the summary's "since" member; nothing for a split that followed none.
void QvCliPrintChanges(const QvCliChanges& since, std::ostream& out);
void QvCliPrintChangesJson(const QvCliChanges& since, std::ostream& out);
// A split that was refused or failed, as one JSON object: what failed ("error"), why
// ("reason"), the library's message it comes from ("message", null when none), and the
// "left_out" and "dropped_rules" lists as the summary gives them.
void QvCliPrintRefusalJson(const std::string& what, const std::string& reason, const std::string& message,
                           const std::vector<QvCliLeftOut>& leftOut,
                           const std::vector<QvCliDroppedRule>& dropped, std::ostream& out);
// The "LEFT OUT" part of the summary: every selected entry on no medium, with size and reason.
void QvCliPrintLeftOut(const std::vector<QvCliLeftOut>& leftOut, std::ostream& out);
// One warning line per rule that selects nothing.
void QvCliPrintDroppedRules(const std::vector<QvCliDroppedRule>& dropped, std::ostream& out);

// Text as a JSON string literal.
std::string QvCliJsonString(const std::string& text);
// Bytes as megabytes with one decimal.
std::string QvCliMegabytes(uint64_t bytes);
// "12,345" for 12345.
std::string QvCliGrouped(uint64_t value);

#endif
