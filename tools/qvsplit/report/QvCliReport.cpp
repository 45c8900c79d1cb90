// Printing the summary of a media set.
#include "report/QvCliReport.h"

#include "report/QvCliPlanRecord.h"

#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <sstream>

namespace {

const uint64_t kMegabyte = 1048576;

uint64_t FilesOf(const QvCliMedium& m) {
    if (m.hasNumberFiles) return m.numberFiles;
    // Item-list media of an estimate carry no count; fall back to the entries.
    return m.entryCount;
}

// What a medium takes of its size: its predicted image when it was planned for a file system,
// else its file bytes.
uint64_t Used(const QvCliMedium& m) { return m.imageSize ? m.imageSize : m.mediaSize; }

double Fill(const QvCliMedium& m, uint32_t splitSizeMb) {
    if (splitSizeMb == 0) return 0.0;
    return 100.0 * static_cast<double>(Used(m)) / (static_cast<double>(splitSizeMb) * kMegabyte);
}

// Whether a medium needs more than its size.
bool OverCapacity(const QvCliMedium& m, uint32_t splitSizeMb) {
    return splitSizeMb != 0 && Used(m) > static_cast<uint64_t>(splitSizeMb) * kMegabyte;
}

bool AnyImage(const QvCliMediaSet& set) {
    for (const QvCliMedium& m : set.media)
        if (m.imageSize) return true;
    return false;
}

std::string Bar(double percent) {
    const int width = 20;
    int filled = static_cast<int>(percent / 100.0 * width + 0.5);
    if (filled < 0) filled = 0;
    if (filled > width) filled = width;
    return std::string(filled, '#') + std::string(width - filled, '.');
}

// The "left_out" member of a JSON object, one entry per line.
void PrintLeftOutJson(const std::vector<QvCliLeftOut>& leftOut, std::ostream& out) {
    out << "  \"left_out\": [";
    for (size_t i = 0; i < leftOut.size(); ++i) {
        out << (i ? ",\n" : "\n") << "    {\"path\": " << QvCliJsonString(leftOut[i].path)
            << ", \"size\": " << (leftOut[i].sizeKnown ? std::to_string(leftOut[i].size) : std::string("null"))
            << ", \"reason\": " << QvCliJsonString(leftOut[i].reason) << "}";
    }
    out << (leftOut.empty() ? "]" : "\n  ]");
}

// The "dropped_rules" member of a JSON object.
void PrintDroppedJson(const std::vector<QvCliDroppedRule>& dropped, std::ostream& out) {
    out << "  \"dropped_rules\": [";
    for (size_t i = 0; i < dropped.size(); ++i) {
        const QvCliDroppedRule& r = dropped[i];
        out << (i ? ",\n" : "\n") << "    {\"rule\": " << r.rule << ", \"path\": " << QvCliJsonString(r.path)
            << ", \"reason\": " << QvCliJsonString(r.reason) << "}";
    }
    out << (dropped.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string QvCliGrouped(uint64_t value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

std::string QvCliMegabytes(uint64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / kMegabyte);
    return text;
}

std::string QvCliJsonString(const std::string& text) {
    // A name may hold bytes that are not UTF-8, which JSON cannot carry: each becomes U+F000
    // plus its value, as in the media files.
    const std::string valid = QvCliNarrow(QvCliWiden(text));
    std::string out = "\"";
    for (size_t i = 0; i < valid.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(valid[i]);
        switch (c) {
        case '"': out += "\\\""; continue;
        case '\\': out += "\\\\"; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        default: break;
        }
        // Every other control character (DEL and C1 too) and the characters that reorder text
        // are escaped, as the terminal form shows them: JSON on a terminal cannot act on it,
        // and a reader of the JSON gets the same text.
        size_t n = 1;
        while (i + n < valid.size() && (static_cast<unsigned char>(valid[i + n]) & 0xC0) == 0x80) ++n;
        const std::string shown = c < 0x80 && c >= 0x20 && c != 0x7F ? std::string() : QvCliShown(valid.substr(i, n));
        if (shown.size() > 1 && shown[0] == '\\') {
            char esc[8];
            const unsigned long code = std::strtoul(shown.c_str() + 2, nullptr, 16);
            std::snprintf(esc, sizeof esc, "\\u%04lx", code);
            out += esc;
        } else {
            out.append(valid, i, n);
        }
        i += n - 1;
    }
    return out + "\"";
}

QvCliTotals QvCliComputeTotals(const QvCliMediaSet& set, uint32_t splitSizeMb) {
    QvCliTotals t;
    t.splitSizeMb = splitSizeMb;
    if (!t.splitSizeMb && !set.media.empty()) t.splitSizeMb = set.media.front().splitSizeMb;
    t.totalBytes = set.distinctBytes;
    const uint64_t capacity = static_cast<uint64_t>(t.splitSizeMb) * kMegabyte;
    // Planned for a file system, the bound counts what the images need, not the file bytes.
    uint64_t needed = t.totalBytes;
    if (AnyImage(set)) {
        needed = 0;
        for (const QvCliMedium& m : set.media) needed += Used(m);
    }
    if (capacity) t.lowerBound = (needed + capacity - 1) / capacity;
    return t;
}

void QvCliPrintSummary(const QvCliMediaSet& set, uint32_t splitSizeMb,
                       const std::vector<QvCliLeftOut>& leftOut, std::ostream& out) {
    const QvCliTotals t = QvCliComputeTotals(set, splitSizeMb);
    const bool images = AnyImage(set);
    out << std::left << std::setw(14) << "medium" << std::right << std::setw(9) << "entries"
        << std::setw(9) << "files" << std::setw(14) << "size";
    if (images) out << std::setw(14) << "image";
    out << std::setw(8) << "fill" << "\n";
    for (const QvCliMedium& m : set.media) {
        std::ostringstream fill;
        fill << std::fixed << std::setprecision(1) << Fill(m, t.splitSizeMb) << "%";
        out << std::left << std::setw(14) << m.fileName << std::right << std::setw(9)
            << m.entryCount << std::setw(9) << FilesOf(m) << std::setw(14)
            << QvCliMegabytes(m.dataSize ? m.dataSize : m.mediaSize);
        if (images) out << std::setw(14) << QvCliMegabytes(m.imageSize);
        out << std::setw(8) << fill.str() << "  " << Bar(Fill(m, t.splitSizeMb)) << "\n";
    }
    if (images)
        out << "image: the predicted size of each medium's image or archive (whole blocks, entry\n"
               "records or headers, file-system structures) against the capacity of " << t.splitSizeMb << " MB\n";
    if (std::any_of(set.media.begin(), set.media.end(), [](const QvCliMedium& m) { return m.dataSize && m.dataSize < m.mediaSize; }))
        out << "size: the files' bytes, a file of several names (hard links) counted once a medium,\n"
               "as its image holds it\n";
    const long long difference = static_cast<long long>(set.media.size()) - static_cast<long long>(t.lowerBound);
    out << "total " << QvCliMegabytes(t.totalBytes) << " on " << set.media.size()
        << (set.media.size() == 1 ? " medium of " : " media of ") << t.splitSizeMb << " MB; lower bound " << t.lowerBound
        << " (difference " << difference << ")\n";
    // A medium planned beyond its size would not fit its disc; no split should make one, and
    // the summary says so if one does.
    for (const QvCliMedium& m : set.media)
        if (OverCapacity(m, t.splitSizeMb))
            out << "OVER CAPACITY: " << m.fileName << " needs " << QvCliMegabytes(Used(m))
                << ", more than one medium of " << t.splitSizeMb << " MB\n";
    if (!leftOut.empty()) out << "\n";
    QvCliPrintLeftOut(leftOut, out);
}

void QvCliPrintLeftOut(const std::vector<QvCliLeftOut>& leftOut, std::ostream& out) {
    if (leftOut.empty()) return;
    out << "LEFT OUT - on no medium (" << leftOut.size() << "):\n";
    for (const QvCliLeftOut& l : leftOut)
        out << "  " << QvCliShown(l.path) << "  " << (l.sizeKnown ? QvCliMegabytes(l.size) : std::string("size unknown"))
            << "  (" << QvCliShownMessage(l.reason) << ")\n";
}

void QvCliPrintDroppedRules(const std::vector<QvCliDroppedRule>& dropped, std::ostream& out) {
    for (const QvCliDroppedRule& r : dropped)
        out << "WARNING: rule " << r.rule << " (" << QvCliShown(r.path) << ") selects nothing: " << QvCliShownMessage(r.reason) << "\n";
}

void QvCliPrintSummaryJson(const QvCliMediaSet& set, uint32_t splitSizeMb,
                           const std::vector<QvCliLeftOut>& leftOut, std::ostream& out,
                           const std::vector<QvCliDroppedRule>* dropped, uint64_t catalogRoom,
                           const QvCliChanges* since) {
    const QvCliTotals t = QvCliComputeTotals(set, splitSizeMb);
    out << "{\n  \"folder\": " << QvCliJsonString(set.dir) << ",\n  \"split_size_mb\": "
        << t.splitSizeMb << ",\n  \"media\": [";
    for (size_t i = 0; i < set.media.size(); ++i) {
        const QvCliMedium& m = set.media[i];
        out << (i ? ",\n" : "\n") << "    {\"file\": " << QvCliJsonString(m.fileName)
            << ", \"entries\": " << m.entryCount << ", \"files\": " << FilesOf(m)
            << ", \"size\": " << m.mediaSize << ", \"data_size\": " << (m.dataSize ? m.dataSize : m.mediaSize)
            << ", \"image_size\": "
            << (m.imageSize ? std::to_string(m.imageSize) : std::string("null"))
            << ", \"fill\": " << std::fixed
            << std::setprecision(2) << Fill(m, t.splitSizeMb) << ", \"over_capacity\": "
            << (OverCapacity(m, t.splitSizeMb) ? "true" : "false") << "}";
    }
    out << "\n  ],\n  \"total_size\": " << t.totalBytes << ",\n  \"media_count\": "
        << set.media.size() << ",\n  \"lower_bound\": " << t.lowerBound
        << ",\n  \"difference\": "
        << static_cast<long long>(set.media.size()) - static_cast<long long>(t.lowerBound)
        << ",\n";
    // A split says how much of each predicted image it kept for the catalogue files.
    if (dropped) out << "  \"catalog_room_bytes\": " << catalogRoom << ",\n";
    if (since) QvCliPrintChangesJson(*since, out);
    PrintLeftOutJson(leftOut, out);
    if (dropped) {
        out << ",\n";
        PrintDroppedJson(*dropped, out);
    }
    out << "\n}\n";
}

void QvCliPrintChanges(const QvCliChanges& since, std::ostream& out) {
    if (since.sets.empty()) return;
    out << "since ";
    for (size_t i = 0; i < since.sets.size(); ++i) out << (i ? ", " : "") << QvCliShown(since.sets[i]);
    out << ": " << QvCliGrouped(since.newFiles) << " new, " << QvCliGrouped(since.changed) << " changed, "
        << QvCliGrouped(since.unchanged) << " unchanged (not planned), " << QvCliGrouped(since.deleted) << " deleted"
        << (since.deleted ? " (listed in Deleted.xml)" : "") << "\n";
}

void QvCliPrintChangesJson(const QvCliChanges& since, std::ostream& out) {
    if (since.sets.empty()) return;
    out << "  \"since\": {\"sets\": [";
    for (size_t i = 0; i < since.sets.size(); ++i) out << (i ? ", " : "") << QvCliJsonString(since.sets[i]);
    out << "], \"new\": " << since.newFiles << ", \"changed\": " << since.changed << ", \"unchanged\": "
        << since.unchanged << ", \"deleted\": " << since.deleted << "},\n";
}

void QvCliPrintRefusalJson(const std::string& what, const std::string& reason, const std::string& message,
                           const std::vector<QvCliLeftOut>& leftOut,
                           const std::vector<QvCliDroppedRule>& dropped, std::ostream& out) {
    out << "{\n  \"error\": " << QvCliJsonString(what) << ",\n  \"reason\": " << QvCliJsonString(reason)
        << ",\n  \"message\": " << (message.empty() ? std::string("null") : QvCliJsonString(message)) << ",\n";
    PrintLeftOutJson(leftOut, out);
    out << ",\n";
    PrintDroppedJson(dropped, out);
    out << "\n}\n";
}
