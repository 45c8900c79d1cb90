// The checksum list's format; the hash itself is in a source of its own per library.
#include "check/QvCliChecksums.h"

#include "mediaset/QvCliMediumLayout.h"
#include "system/QvCliPaths.h"

#include <algorithm>
#include <fstream>
#include <sstream>

const char* const kQvCliSumsFile = "QVSPLIT-SHA256SUMS";

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool QvCliNeedsEscape(const std::string& path) { return path.find_first_of("\\\n\r") != std::string::npos; }

std::string QvCliEscape(const std::string& path) {
    std::string escaped;
    escaped.reserve(path.size() + 2);
    for (char c : path) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '\n') escaped += "\\n";
        else if (c == '\r') escaped += "\\r";
        else escaped += c;
    }
    return escaped;
}

bool QvCliUnescape(const std::string& escaped, std::string& path) {
    path.clear();
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            path += escaped[i];
            continue;
        }
        const char next = i + 1 < escaped.size() ? escaped[++i] : '\0';
        if (next == '\\') path += '\\';
        else if (next == 'n') path += '\n';
        else if (next == 'r') path += '\r';
        else return false;
    }
    return true;
}

std::string QvCliSumsLine(const std::string& hex, const std::string& path) {
    if (QvCliNeedsEscape(path)) return "\\" + hex + "  " + QvCliEscape(path) + "\n";
    return hex + "  " + path + "\n";
}

size_t QvCliSumsLineBytes(const std::string& path) {
    size_t bytes = 64 + 2 + path.size() + 1;
    if (!QvCliNeedsEscape(path)) return bytes;
    for (char c : path)
        if (c == '\\' || c == '\n' || c == '\r') ++bytes;
    return bytes + 1;
}

bool QvCliEachLine(const std::string& text, const std::function<bool(std::string& line, size_t number)>& take) {
    size_t start = 0, number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!take(line, ++number)) return false;
    }
    return true;
}

bool QvCliParseSums(const std::string& text, std::vector<QvCliSumsEntry>& entries, std::string& error) {
    return QvCliEachLine(text, [&](std::string& line, size_t number) {
        if (line.empty()) return true;
        const bool escaped = line[0] == '\\';
        const size_t at = escaped ? 1 : 0;
        bool ok = line.size() >= at + 66 && (line[at + 64] == ' ') && (line[at + 65] == ' ' || line[at + 65] == '*');
        for (size_t i = 0; ok && i < 64; ++i) ok = IsHexDigit(line[at + i]);
        QvCliSumsEntry entry;
        if (ok) {
            entry.hex = line.substr(at, 64);
            for (char& c : entry.hex)
                if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
            const std::string raw = line.substr(at + 66);
            if (escaped)
                ok = QvCliUnescape(raw, entry.path);
            else
                entry.path = raw;
            ok = ok && !entry.path.empty();
        }
        if (!ok) {
            error = "line " + std::to_string(number) + " is not a checksum line";
            return false;
        }
        entries.push_back(std::move(entry));
        return true;
    });
}

std::string QvCliHex(const unsigned char* digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(64, '0');
    for (size_t i = 0; i < 32; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    return hex;
}

bool QvCliAddSumsItem(QvCliMediumLayout& layout) {
    std::string reason;
    if (!QvCliSha256::Available(reason)) return false;
    QvCliPackItem item;
    item.kind = QvCliPackItem::kGenerated;
    item.mediumPath = kQvCliSumsFile;
    for (const QvCliPackItem& file : layout.items)
        if (file.kind == QvCliPackItem::kFile || file.kind == QvCliPackItem::kGenerated)
            item.size += QvCliSumsLineBytes(file.mediumPath);
    layout.items.push_back(item);
    layout.fileBytes += item.size;
    layout.hashing = true;
    return true;
}

std::string QvCliSumsText(const QvCliMediumLayout& layout) {
    std::vector<size_t> files;
    for (size_t i = 0; i < layout.items.size(); ++i) {
        const QvCliPackItem& item = layout.items[i];
        if (item.kind == QvCliPackItem::kFile || (item.kind == QvCliPackItem::kGenerated && item.mediumPath != kQvCliSumsFile))
            files.push_back(i);
    }
    std::sort(files.begin(), files.end(),
              [&](size_t a, size_t b) { return layout.items[a].mediumPath < layout.items[b].mediumPath; });
    std::string text;
    for (size_t i : files) text += QvCliSumsLine(QvCliHex(layout.digests[i].data()), layout.items[i].mediumPath);
    return text;
}

std::string QvCliGenerated(const QvCliMediumLayout& layout, size_t index) {
    if (layout.items[index].mediumPath == kQvCliSumsFile || !layout.generate) return QvCliSumsText(layout);
    return layout.generate(layout, index);
}

std::string QvCliBesidePlan(const std::string& planDir, const std::string& source, const std::string& suffix) {
    if (planDir.empty()) return std::string();
    const std::string stem = QvCliPathText(QvCliFsPath(source).stem());
    std::ifstream in(QvCliFsPath(planDir) / QvCliFsPath(stem + suffix), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}
