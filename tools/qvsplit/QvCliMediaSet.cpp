// Reading media files back with pugixml.
#include "QvCliMediaSet.h"

#include "QvCliPaths.h"

#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unordered_set>
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

// The paths seen so far in a media set, kept once each. The texts live in large blocks that
// never move, so the set holds views of them: a set of strings would cost an allocation for
// every entry of the tree.
class QvCliPathSet {
public:
    QvCliPathSet() { m_seen.reserve(1 << 16); }
    // True when the path was not in the set yet.
    bool Insert(const pugi::xml_node& value) {
        const pugi::xml_node first = value.first_child();
        if (first && !first.next_sibling() && IsCharacterData(first)) {
            const char* text = first.value();
            return Insert(std::string_view(text, std::strlen(text)));
        }
        const std::string joined = Joined(value);
        return Insert(std::string_view(joined));
    }

private:
    bool Insert(std::string_view path) {
        if (m_seen.count(path)) return false;
        m_seen.insert(Keep(path));
        return true;
    }
    std::string_view Keep(std::string_view path) {
        const size_t kBlock = 1 << 20;
        if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < path.size()) {
            m_blocks.emplace_back();
            m_blocks.back().reserve(path.size() > kBlock ? path.size() : kBlock);
        }
        std::string& block = m_blocks.back();
        const size_t at = block.size();
        block.append(path.data(), path.size());  // within the reserved room: never moves
        return std::string_view(block.data() + at, path.size());
    }

    std::vector<std::string> m_blocks;
    std::unordered_set<std::string_view> m_seen;
};

// Reads one media file with its entries. Every entry counts towards the medium and, once per
// path over the whole set, towards the set's total.
bool ReadMedium(const fs::path& file, QvCliPathSet& seen, QvCliMediaSet& set, QvCliMedium& medium,
                std::string& error) {
    pugi::xml_document doc;
    // Values are CDATA sections and numbers; line ends inside them are kept as written.
    const unsigned int options = pugi::parse_cdata | pugi::parse_escapes;
    const pugi::xml_parse_result parsed = doc.load_file(file.c_str(), options);
    if (!parsed) {
        error = QvCliPathText(file) + ": " + parsed.description();
        return false;
    }
    const pugi::xml_node root = doc.child("Factory");
    const pugi::xml_node info = root.child("Media").child("Info");
    medium.splitSizeMb = info.attribute("Split_Size").as_uint();
    medium.mediaSize = info.attribute("Media_Size").as_ullong();
    medium.imageSize = info.attribute("Image_Size").as_ullong();
    medium.numberFiles = info.attribute("Media_NumberFiles").as_uint();
    medium.hasNumberFiles = !info.attribute("Media_NumberFiles").empty();
    for (const pugi::xml_node& f : root.children("FILE")) {
        // One pass over the values instead of a search by name for each.
        pugi::xml_node fullPath;
        std::string targetPath, writeTime;
        uint64_t size = 0;
        unsigned attributes = 0;
        for (pugi::xml_node v = f.first_child(); v; v = v.next_sibling()) {
            const char* name = v.name();
            if (std::strcmp(name, "FullPath") == 0)
                fullPath = v;
            else if (std::strcmp(name, "FileSize") == 0)
                size = v.text().as_ullong();
            else if (std::strcmp(name, "TargetPath") == 0)
                targetPath = Joined(v);
            else if (std::strcmp(name, "WriteTime") == 0)
                writeTime = Joined(v);
            else if (std::strcmp(name, "Attribute") == 0)
                attributes = v.text().as_uint();
        }
        ++medium.entryCount;
        // Entries of every medium (or all but one) are listed again on each: count them once.
        if (seen.Insert(fullPath)) set.distinctBytes += size;
        QvCliEntry e;
        e.fullPath = QvCliWiden(Joined(fullPath));
        e.targetPath = QvCliWiden(targetPath);
        e.writeTime = QvCliWiden(writeTime);
        e.isLink = (attributes & 0x400u) != 0;
        e.isDir = (attributes & 0x10u) != 0 && !e.isLink;
        e.size = size;
        medium.entries.push_back(std::move(e));
    }
    return true;
}

}  // namespace

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

bool QvCliLoadMediaSet(const std::string& dir, QvCliMediaSet& set, std::string& error, bool evenIncomplete) {
    set.dir = dir;
    set.media.clear();
    set.distinctBytes = 0;
    QvCliPathSet seen;
    std::error_code ec;
    if (!evenIncomplete && fs::exists(QvCliFsPath(dir) / kQvCliIncompleteMarker, ec)) {
        error = dir + ": the media set is incomplete: a split did not finish writing it";
        return false;
    }
    fs::directory_iterator it(QvCliFsPath(dir), ec);
    if (ec) {
        error = dir + ": " + ec.message();
        return false;
    }
    for (const auto& entry : it) {
        const std::string name = QvCliPathText(entry.path().filename());
        const int number = MediumNumber(name);
        if (number < 0 || !entry.is_regular_file(ec)) continue;
        QvCliMedium medium;
        medium.fileName = name;
        medium.number = number;
        if (!ReadMedium(entry.path(), seen, set, medium, error)) return false;
        set.media.push_back(std::move(medium));
    }
    std::sort(set.media.begin(), set.media.end(),
              [](const QvCliMedium& a, const QvCliMedium& b) { return a.number < b.number; });
    if (set.media.empty()) {
        error = dir + ": no media files found";
        return false;
    }
    return true;
}

std::wstring QvCliEntryFolder(const QvCliEntry& entry) {
    std::wstring path = entry.fullPath;
    const std::wstring tail = L"\\*.*";
    if (path.size() >= tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0)
        path.erase(path.size() - tail.size());
    return path;
}
