// The medium notes' text: a line per fact, paths last. A person reads it with cat, so a path is
// shown as on a terminal (QvCliShown), and a line whose path is shown otherwise than it is starts
// with a backslash, as the checksum list marks its escaped lines (notes written when paths were
// escaped as the checksum list escapes them read the same way).
#include "check/QvCliMediumNotes.h"

#include "check/QvCliChecksums.h"
#include "system/QvCliShown.h"

#include <cstdlib>

const char* const kQvCliNotesFile = "QVSPLIT-MEDIUM.txt";

namespace {

const char kHeader[] = "# QvSplit medium: the set it belongs to, for qvsplit restore";

std::string Line(const std::string& head, const std::string& path) {
    const std::string shown = QvCliShownInList(path);
    return shown != path ? "\\" + head + shown + "\n" : head + path + "\n";
}

bool Number(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

std::string QvCliNotesText(const QvCliMediumNotes& notes) {
    std::string text = std::string(kHeader) + "\nset " + notes.set + "\nmedium " + std::to_string(notes.medium) + " of " +
                       std::to_string(notes.media) + "\nfiles " + std::to_string(notes.files) + "\n";
    if (notes.follows) text += "follows " + std::to_string(notes.follows) + "\n";
    for (const QvCliMediumNotes::Cut& cut : notes.cuts) {
        std::string media;
        for (int m : cut.media) media += (media.empty() ? "" : ",") + std::to_string(m);
        text += Line("cut " + std::to_string(cut.parts) + " " + media + " ", cut.path);
    }
    for (const std::string& path : notes.deleted) text += Line("deleted ", path);
    return text;
}

bool QvCliParseNotes(const std::string& text, QvCliMediumNotes& notes, std::string& error) {
    notes = QvCliMediumNotes();
    bool header = false;
    const bool read = QvCliEachLine(text, [&](std::string& line, size_t number) {
        const bool escaped = !line.empty() && line[0] == '\\';
        if (escaped) line.erase(0, 1);
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
        bool ok = true;
        uint64_t value = 0;
        if (number == 1) {
            ok = header = line == kHeader;
        } else if (key == "set") {
            ok = rest.size() == 16 && rest.find_first_not_of("0123456789abcdef") == std::string::npos;
            notes.set = rest;
        } else if (key == "medium") {
            const size_t of = rest.find(" of ");
            uint64_t total = 0;
            ok = of != std::string::npos && Number(rest.substr(0, of), value) && Number(rest.substr(of + 4), total) &&
                 value >= 1 && value <= total && total < 1000000;
            notes.medium = static_cast<int>(value);
            notes.media = static_cast<int>(total);
        } else if (key == "files") {
            ok = Number(rest, notes.files);
        } else if (key == "follows") {
            ok = Number(rest, value) && value < 1000000;
            notes.follows = static_cast<int>(value);
        } else if (key == "cut") {
            const size_t a = rest.find(' '), b = a == std::string::npos ? a : rest.find(' ', a + 1);
            QvCliMediumNotes::Cut cut;
            ok = b != std::string::npos && Number(rest.substr(0, a), value) && value >= 1 && value < 1000000 &&
                 QvCliUnshown(rest.substr(b + 1), cut.path) && !cut.path.empty();
            cut.parts = static_cast<int>(value);
            const std::string media = ok ? rest.substr(a + 1, b - a - 1) : std::string();
            for (size_t at = 0; ok && at <= media.size();) {
                size_t comma = media.find(',', at);
                if (comma == std::string::npos) comma = media.size();
                ok = Number(media.substr(at, comma - at), value);
                cut.media.push_back(static_cast<int>(value));
                at = comma + 1;
            }
            ok = ok && cut.media.size() == static_cast<size_t>(cut.parts);
            notes.cuts.push_back(std::move(cut));
        } else if (key == "deleted") {
            std::string path;
            ok = QvCliUnshown(rest, path) && !path.empty();
            notes.deleted.push_back(std::move(path));
        } else {
            ok = line.empty() && !escaped;
        }
        if (!ok) error = "line " + std::to_string(number) + " cannot be read";
        return ok;
    });
    if (!read) return false;
    if (!header || notes.set.empty() || notes.medium == 0) {
        error = header ? "the set or the medium is not named" : "not a medium description";
        return false;
    }
    return true;
}

bool QvCliPartName(const std::string& name, std::string& whole, int& number) {
    const size_t part = name.rfind(".Part");
    if (part == std::string::npos || part < 16 || name[part - 15] != '.') return false;
    const std::string digits = name.substr(part + 5), stamp = name.substr(part - 14, 14);
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos ||
        digits[0] == '0' || stamp.find_first_not_of("0123456789") != std::string::npos)
        return false;
    whole = name.substr(0, part - 15);
    number = std::atoi(digits.c_str());
    return !whole.empty();
}
