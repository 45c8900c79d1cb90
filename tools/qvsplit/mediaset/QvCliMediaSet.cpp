// Reading media files back with pugixml.
#include "mediaset/QvCliMediaSet.h"

#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"

#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The medium number of a media file name, or -1 when the name is not one.
int MediumNumber(const std::string& name) {
    if (name == "Last.xml") return INT_MAX;
    if (name.size() < 10 || (name.compare(0, 5, "Media") != 0 && name.compare(0, 5, "media") != 0))
        return -1;
    if (name.compare(name.size() - 4, 4, ".xml") != 0) return -1;
    const std::string digits = name.substr(5, name.size() - 9);
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::atoi(digits.c_str());
}

bool IsCharacterData(const pugi::xml_node& n) {
    return n.type() == pugi::node_cdata || n.type() == pugi::node_pcdata;
}

// The whole character data of a value: the writer splits a value holding "]]>" over two
// CDATA sections, and a file edited by hand may mix sections and plain text.
std::string Joined(const pugi::xml_node& value) {
    std::string text;
    for (pugi::xml_node n = value.first_child(); n; n = n.next_sibling())
        if (IsCharacterData(n)) text += n.value();
    return text;
}

}  // namespace

void QvCliTwoHashes(std::string_view text, uint64_t& first, uint64_t& second) {
    first = std::hash<std::string_view>()(text);
    second = 14695981039346656037ull;
    for (const char c : text) second = (second ^ static_cast<unsigned char>(c)) * 1099511628211ull;
}

namespace {

// The bytes of the distinct paths of a media set: an entry of every medium (or all but one) is
// listed again on each, and counts once. Each path is kept as two independent 64-bit hashes of
// it with its size, 24 bytes an entry however long the path: a set of the paths themselves took
// more memory than the rest of a summary. Two paths would have to agree in all 128 bits to be
// counted as one.
class QvCliDistinctBytes {
public:
    void Add(std::string_view path, uint64_t size) {
        Seen seen{0, 0, size};
        QvCliTwoHashes(path, seen.a, seen.b);
        m_seen.push_back(seen);
    }
    uint64_t Total() {
        std::sort(m_seen.begin(), m_seen.end());
        uint64_t total = 0;
        for (size_t i = 0; i < m_seen.size(); ++i)
            if (i == 0 || !m_seen[i - 1].SamePath(m_seen[i])) total += m_seen[i].size;
        return total;
    }

private:
    struct Seen {
        uint64_t a, b, size;
        bool SamePath(const Seen& o) const { return a == o.a && b == o.b; }
        bool operator<(const Seen& o) const { return a != o.a ? a < o.a : b != o.b ? b < o.b : size < o.size; }
    };
    std::vector<Seen> m_seen;
};

// Cuts a document into runs of whole children of its root element, read a block at a time, so
// that a media file of a million entries is never held whole, nor as one document of nodes.
// Markup inside character data, comments and processing instructions is passed over as such.
class ChildRuns {
public:
    explicit ChildRuns(std::istream& in) : m_in(in) {}

    // Calls take with each run of whole children (at least kRun bytes of them, or what is left
    // when the root ends); false with error set when the document ends early.
    bool Read(const std::function<bool(std::string_view)>& take, std::string& error) {
        for (;;) {
            const Step step = Scan();
            if (step == kNeedMore) {
                // Once nothing more comes, what is left is scanned again without looking ahead.
                const bool ended = m_ended;
                if (Fill() || !ended) continue;
                error = m_rootSeen ? "the file ends before its root element does" : "No document element found";
                return false;
            }
            if (step == kRootEnded || m_childEnd - m_runStart >= kRun) {
                if (m_childEnd > m_runStart &&
                    !take(std::string_view(m_buffer.data() + m_runStart, m_childEnd - m_runStart)))
                    return false;
                if (step == kRootEnded) return true;
                // Keep only what follows the run.
                m_buffer.erase(0, m_childEnd);
                m_at -= m_childEnd;
                m_runStart = m_childEnd = 0;
            }
        }
    }

    const std::string& RootName() const { return m_root; }

private:
    enum Step { kNeedMore, kChildEnded, kRootEnded };
    static const size_t kRun = 1 << 20;

    bool Fill() {
        const size_t at = m_buffer.size();
        m_buffer.resize(at + kRun);
        m_in.read(&m_buffer[at], static_cast<std::streamsize>(kRun));
        m_buffer.resize(at + static_cast<size_t>(m_in.gcount()));
        m_ended = m_buffer.size() == at;
        return !m_ended;
    }

    // The end of the text closing what opens at m_at, or npos when it is not read yet.
    size_t Find(const char* close, size_t from) const {
        const size_t found = m_buffer.find(close, from);
        return found == std::string::npos ? found : found + std::strlen(close);
    }

    // The end of the tag opening at m_at, past quoted attribute values, or npos.
    size_t TagEnd() const {
        for (size_t i = m_at + 1; i < m_buffer.size(); ++i) {
            const char c = m_buffer[i];
            if (c == '>') return i + 1;
            if (c == '"' || c == '\'') {
                i = m_buffer.find(c, i + 1);
                if (i == std::string::npos) return i;
            }
        }
        return std::string::npos;
    }

    // Goes on to the end of the next child of the root, or of the root.
    Step Scan() {
        for (;;) {
            m_at = m_buffer.find('<', m_at);
            if (m_at == std::string::npos) {
                m_at = m_buffer.size();
                return kNeedMore;
            }
            const std::string_view rest(m_buffer.data() + m_at, m_buffer.size() - m_at);
            if (rest.size() < 9 && !m_ended) return kNeedMore;  // too little to tell what opens here
            size_t end;
            int depth = m_depth;
            // Told apart by the character after "<", which names all but one kind.
            const char second = rest.size() > 1 ? rest[1] : '\0';
            if (second == '!' && rest.compare(0, 4, "<!--") == 0) {
                end = Find("-->", m_at + 4);
            } else if (second == '!' && rest.compare(0, 9, "<![CDATA[") == 0) {
                end = Find("]]>", m_at + 9);
            } else if (second == '?') {
                end = Find("?>", m_at + 2);
            } else if (second == '/') {
                end = Find(">", m_at + 2);
                --depth;
            } else if (second == '!') {
                end = Find(">", m_at + 2);  // a document type declaration
            } else {
                end = TagEnd();
                if (end != std::string::npos && m_buffer[end - 2] != '/') ++depth;
                if (end != std::string::npos && m_depth == 0 && !m_rootSeen) {
                    m_rootSeen = true;
                    m_root.assign(rest.substr(1, rest.find_first_of(" \t\r\n/>") - 1));
                    m_runStart = m_childEnd = end;
                }
            }
            if (end == std::string::npos) return kNeedMore;
            m_at = end;
            const bool wasInRoot = m_depth >= 1;
            m_depth = depth;
            if (m_rootSeen && m_depth == 0) return kRootEnded;
            if (wasInRoot && m_depth == 1) {
                m_childEnd = end;
                return kChildEnded;
            }
        }
    }

    std::istream& m_in;
    std::string m_buffer;
    size_t m_at = 0;        // where scanning goes on
    int m_depth = 0;        // elements open at m_at
    bool m_ended = false;   // nothing more to read
    bool m_rootSeen = false;
    std::string m_root;
    size_t m_runStart = 0;  // where the run not yet taken begins
    size_t m_childEnd = 0;  // the end of the last whole child
};

// The values of one FILE element; fullPath gets its FullPath as written.
QvCliEntry EntryOf(const pugi::xml_node& f, std::string& fullPath) {
    QvCliEntry e;
    std::string targetPath, writeTime;
    unsigned attributes = 0;
    fullPath.clear();
    // One pass over the values instead of a search by name for each; a name's first letter
    // passes over the values not read (Path, Name, Extension, Exclusion, CRC32).
    for (pugi::xml_node v = f.first_child(); v; v = v.next_sibling()) {
        const char* name = v.name();
        switch (name[0]) {
            case 'F':
                if (std::strcmp(name, "FullPath") == 0)
                    fullPath = Joined(v);
                else if (std::strcmp(name, "FileSize") == 0)
                    e.size = v.text().as_ullong();
                break;
            case 'T':
                if (std::strcmp(name, "TargetPath") == 0) targetPath = Joined(v);
                break;
            case 'W':
                if (std::strcmp(name, "WriteTime") == 0) writeTime = Joined(v);
                break;
            case 'A':
                if (std::strcmp(name, "Attribute") == 0) attributes = v.text().as_uint();
                break;
            default:
                break;
        }
    }
    e.fullPath = QvCliWiden(fullPath);
    e.targetPath = QvCliWiden(targetPath);
    e.writeTime = QvCliWiden(writeTime);
    e.isLink = (attributes & 0x400u) != 0;
    e.isDir = (attributes & 0x10u) != 0 && !e.isLink;
    return e;
}

}  // namespace

bool QvCliReadMedium(const fs::path& file, QvCliMedium& medium, const QvCliEntryTaker& take, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = QvCliShown(QvCliPathText(file)) + ": cannot be opened";
        return false;
    }
    ChildRuns runs(in);
    bool infoSeen = false;
    std::string fullPath;
    const auto takeRun = [&](std::string_view run) {
        if (runs.RootName() != "Factory") return true;  // not a media file: nothing in it counts
        pugi::xml_document doc;
        // Values are CDATA sections and numbers; line ends inside them are kept as written.
        const unsigned int options = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_fragment;
        const pugi::xml_parse_result parsed = doc.load_buffer(run.data(), run.size(), options, pugi::encoding_utf8);
        if (!parsed) {
            error = parsed.description();
            return false;
        }
        for (pugi::xml_node child = doc.first_child(); child; child = child.next_sibling()) {
            if (std::strcmp(child.name(), "FILE") == 0) {
                ++medium.entryCount;
                QvCliEntry entry = EntryOf(child, fullPath);
                take(std::move(entry), fullPath);
            } else if (!infoSeen && std::strcmp(child.name(), "Media") == 0) {
                infoSeen = true;
                const pugi::xml_node info = child.child("Info");
                medium.splitSizeMb = info.attribute("Split_Size").as_uint();
                medium.mediaSize = info.attribute("Media_Size").as_ullong();
                medium.imageSize = info.attribute("Image_Size").as_ullong();
                medium.numberFiles = info.attribute("Media_NumberFiles").as_uint();
                medium.hasNumberFiles = !info.attribute("Media_NumberFiles").empty();
            }
        }
        return true;
    };
    if (!runs.Read(takeRun, error)) {
        error = QvCliShown(QvCliPathText(file)) + ": " + error;
        return false;
    }
    return true;
}

const char* const kQvCliIncompleteMarker = "qvsplit-incomplete";
const char* const kQvCliLeftOutFile = "qvsplit-left-out.xml";

bool QvCliMarkIncomplete(const std::string& dir) {
    std::ofstream marker(QvCliFsPath(dir) / kQvCliIncompleteMarker, std::ios::binary | std::ios::trunc);
    marker << "A split is writing the media files of this folder, or stopped before it finished.\n";
    marker.flush();
    return static_cast<bool>(marker);
}

void QvCliMarkComplete(const std::string& dir) {
    std::error_code ec;
    fs::remove(QvCliFsPath(dir) / kQvCliIncompleteMarker, ec);
}

bool QvCliSaveLeftOut(const std::string& dir, const std::vector<QvCliLeftOutRecord>& records) {
    const fs::path file = QvCliFsPath(dir) / kQvCliLeftOutFile;
    std::error_code ec;
    if (records.empty()) {
        fs::remove(file, ec);
        return true;
    }
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("LeftOut");
    for (const QvCliLeftOutRecord& r : records) {
        pugi::xml_node entry = root.append_child("Entry");
        entry.append_attribute("Size") = r.size;
        entry.append_attribute("Reason") = r.reason.c_str();
        entry.append_child(pugi::node_cdata).set_value(QvCliNarrow(r.path).c_str());
    }
    return doc.save_file(file.c_str(), "  ", pugi::format_default, pugi::encoding_utf8);
}

std::vector<QvCliLeftOutRecord> QvCliLoadLeftOut(const std::string& dir) {
    std::vector<QvCliLeftOutRecord> records;
    pugi::xml_document doc;
    const fs::path file = QvCliFsPath(dir) / kQvCliLeftOutFile;
    if (!doc.load_file(file.c_str(), pugi::parse_default | pugi::parse_cdata)) return records;
    for (pugi::xml_node entry : doc.child("LeftOut").children("Entry")) {
        QvCliLeftOutRecord r;
        r.path = QvCliWiden(entry.text().get());
        r.size = entry.attribute("Size").as_llong(-1);
        r.reason = entry.attribute("Reason").value();
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<std::wstring> QvCliLoadDeleted(const std::string& dir) {
    std::vector<std::wstring> paths;
    pugi::xml_document doc;
    const fs::path file = QvCliFsPath(dir) / "Deleted.xml";
    if (!doc.load_file(file.c_str(), pugi::parse_default | pugi::parse_cdata)) return paths;
    for (pugi::xml_node entry : doc.child("Deleted").children("FILE"))
        paths.push_back(QvCliWiden(entry.child("FullPath").child_value()));
    return paths;
}

std::vector<std::pair<std::wstring, std::wstring>> QvCliLoadDeletedTargets(const std::string& dir) {
    std::vector<std::pair<std::wstring, std::wstring>> targets;
    pugi::xml_document doc;
    const fs::path file = QvCliFsPath(dir) / "Deleted.xml";
    if (!doc.load_file(file.c_str(), pugi::parse_default | pugi::parse_cdata)) return targets;
    for (pugi::xml_node entry : doc.child("Deleted").children("FILE"))
        targets.emplace_back(QvCliWiden(entry.child("TargetPath").child_value()), QvCliWiden(entry.child("Name").child_value()));
    return targets;
}

bool QvCliLoadMediaSet(const std::string& dir, QvCliMediaSet& set, std::string& error, bool withFigures) {
    set.dir = dir;
    set.media.clear();
    set.distinctBytes = 0;
    QvCliDistinctBytes distinct;
    std::error_code ec;
    if (fs::exists(QvCliFsPath(dir) / kQvCliIncompleteMarker, ec)) {
        error = QvCliShown(dir) + ": the media set is incomplete: a split did not finish writing it";
        return false;
    }
    fs::directory_iterator it(QvCliFsPath(dir), ec);
    if (ec) {
        error = QvCliShown(dir) + ": " + ec.message();
        return false;
    }
    for (const auto& entry : it) {
        const std::string name = QvCliPathText(entry.path().filename());
        const int number = MediumNumber(name);
        if (number < 0 || !entry.is_regular_file(ec)) continue;
        QvCliMedium medium;
        medium.fileName = name;
        medium.number = number;
        const auto count = [&](QvCliEntry&& e, std::string_view fullPath) { distinct.Add(fullPath, e.size); };
        if (withFigures && !QvCliReadMedium(entry.path(), medium, count, error)) return false;
        set.media.push_back(std::move(medium));
    }
    set.distinctBytes = distinct.Total();
    std::sort(set.media.begin(), set.media.end(),
              [](const QvCliMedium& a, const QvCliMedium& b) { return a.number < b.number; });
    if (set.media.empty()) {
        error = QvCliShown(dir) + ": no media files found";
        return false;
    }
    return true;
}

namespace {

// Reads one medium of set, its figures and its entries, into medium; with distinct, each entry's
// path and size are added to it.
bool ReadMedium(const QvCliMediaSet& set, QvCliMedium& medium, std::string& error, QvCliDistinctBytes* distinct) {
    QvCliMedium read;
    read.fileName = medium.fileName;
    read.number = medium.number;
    const auto keep = [&read, distinct](QvCliEntry&& e, std::string_view fullPath) {
        if (distinct) distinct->Add(fullPath, e.size);
        read.entries.push_back(std::move(e));
    };
    if (!QvCliReadMedium(QvCliFsPath(set.dir) / QvCliFsPath(medium.fileName), read, keep, error)) return false;
    medium = std::move(read);
    return true;
}

}  // namespace

bool QvCliLoadMedium(const QvCliMediaSet& set, QvCliMedium& medium, std::string& error) {
    return ReadMedium(set, medium, error, nullptr);
}

bool QvCliForEachMedium(QvCliMediaSet& set, const std::function<void(size_t, const QvCliMedium&)>& visit,
                        std::string& error, bool countDistinct) {
    QvCliDistinctBytes distinct;
    for (size_t i = 0; i < set.media.size(); ++i) {
        QvCliMedium& m = set.media[i];
        if (!ReadMedium(set, m, error, countDistinct ? &distinct : nullptr)) return false;
        visit(i, m);
        std::vector<QvCliEntry>().swap(m.entries);
    }
    if (countDistinct) set.distinctBytes = distinct.Total();
    return true;
}

std::wstring QvCliEntryFolder(const QvCliEntry& entry) {
    std::wstring path = entry.fullPath;
    const std::wstring tail = L"\\*.*";
    if (path.size() >= tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0)
        path.erase(path.size() - tail.size());
    return path;
}
