// Reading media files back with pugixml.
#include "QvCliMediaSet.h"

#include "QvCliPaths.h"

#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

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

std::wstring Text(const pugi::xml_node& file, const char* name) {
    return QvCliWiden(file.child(name).text().as_string());
}

bool ReadMedium(const fs::path& file, QvCliMedium& medium, std::string& error) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(file.c_str());
    if (!parsed) {
        error = file.string() + ": " + parsed.description();
        return false;
    }
    const pugi::xml_node root = doc.child("Factory");
    const pugi::xml_node info = root.child("Media").child("Info");
    medium.splitSizeMb = info.attribute("Split_Size").as_uint();
    medium.mediaSize = info.attribute("Media_Size").as_ullong();
    medium.numberFiles = info.attribute("Media_NumberFiles").as_uint();
    for (const pugi::xml_node& f : root.children("FILE")) {
        QvCliEntry e;
        e.fullPath = Text(f, "FullPath");
        e.targetPath = Text(f, "TargetPath");
        e.writeTime = Text(f, "WriteTime");
        e.isDir = (f.child("Attribute").text().as_uint() & 0x10u) != 0;
        e.size = f.child("FileSize").text().as_ullong();
        medium.entries.push_back(std::move(e));
    }
    return true;
}

}  // namespace

bool QvCliLoadMediaSet(const std::string& dir, QvCliMediaSet& set, std::string& error) {
    set.dir = dir;
    set.media.clear();
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        error = dir + ": " + ec.message();
        return false;
    }
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        const int number = MediumNumber(name);
        if (number < 0 || !entry.is_regular_file(ec)) continue;
        QvCliMedium medium;
        medium.fileName = name;
        medium.number = number;
        if (!ReadMedium(entry.path(), medium, error)) return false;
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
