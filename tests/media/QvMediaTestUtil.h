// Helpers for the media factory tests: catalogue entries, a split runner, a scripted callback
// and a reader for the written media files.
#ifndef QVMEDIATESTUTIL_H
#define QVMEDIATESTUTIL_H

#include "media/QvMediaTestAccess.h"
#include "support/QvTestSupport.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

namespace qvmediatest {

const int64_t MB = 1048576;

// A file entry of the catalogue; a negative group means none.
inline FileDesc File(const std::wstring& path, int64_t size, int group = -1) {
    FileDesc desc;
    desc.strFilePath = path.c_str();
    desc.strTargetPath = L"\\Backup";
    desc.strWriteTime = L"20240102030405";
    desc.dwAttributes = 0x20;
    desc.iFileSize = size;
    desc.iAllTogetherGroup = group;
    return desc;
}

// A directory entry of the catalogue.
inline FileDesc Dir(const std::wstring& path, int64_t size) {
    FileDesc desc = File(path, size);
    desc.dwAttributes = 0x10;
    return desc;
}

// Puts an entry into a map under its lower-cased path, as the catalogue keys them.
inline void Put(QvFileDescMap& map, const FileDesc& desc) {
    std::wstring key = desc.strFilePath.str();
    std::transform(key.begin(), key.end(), key.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    map[CQvString(key)] = desc;
}

// Numbered files "C:\<stem>NNNN.bin" of one size each.
inline void PutMany(QvFileDescMap& map, const std::wstring& stem, int count, int64_t size,
                    int group = -1) {
    for (int i = 0; i < count; ++i) {
        wchar_t num[16];
        swprintf(num, 16, L"%04d", i);
        Put(map, File(L"C:\\" + stem + num + L".bin", size, group));
    }
}

// The six location maps of one split.
struct Maps {
    QvFileDescMap all, any, first, last, notFirst, notLast;
    int64_t Total() const {
        int64_t total = 0;
        for (const QvFileDescMap* m : {&all, &any, &first, &last, &notFirst, &notLast})
            for (const auto& e : *m) total += e.second.iFileSize;
        return total;
    }
};

// Options of a split run; the total defaults to what the size check would store.
struct Options {
    DWORD dwSplitSize = 700;
    DWORD dwFreeSpace = 0;
    DWORD dwType = 3;
    int iGroupCount = 0;
    int64_t iTotal = -1;
    const wchar_t* strDispFlag = L"Disp";
};

inline DWORD Split(const std::wstring& outDir, const Maps& maps, const Options& run = Options()) {
    CQvMediaFactory* factory = CQvMediaFactory::GetInstance();
    QvMediaTestAccess::SetTotalSize(run.iTotal >= 0 ? run.iTotal : maps.Total());
    return factory->CreateMediaFiles(outDir.c_str(), run.strDispFlag, run.dwType,
                                     run.dwSplitSize, run.dwFreeSpace, run.iGroupCount, maps.all,
                                     maps.any, maps.first, maps.last, maps.notFirst,
                                     maps.notLast);
}

// A callback that records every call and answers abortAnswer at call number abortAt (from 1),
// answer otherwise.
struct Script {
    std::vector<DWORD> codes;
    size_t abortAt = 0;
    DWORD answer = 0;
    DWORD abortAnswer = 1;
};

inline DWORD CALLBACK ScriptCB(DWORD uCode, LPVOID pData, DWORD dwValue, LPVOID lpUserParam) {
    Script* script = static_cast<Script*>(lpUserParam);
    if (pData != NULL || dwValue != 0) return 1;  // the protocol passes neither
    script->codes.push_back(uCode);
    return script->codes.size() == script->abortAt ? script->abortAnswer : script->answer;
}

// One FILE element as read back: its value elements in order, their texts, and whether each
// text came from a CDATA section.
struct Entry {
    std::vector<std::string> names;
    std::map<std::string, std::string> text;
    std::map<std::string, bool> cdata;
};

// One media file as read back.
struct Medium {
    bool loaded = false;
    std::vector<std::string> rootChildren;  // element names under Factory, in order
    std::map<std::string, std::string> info;
    std::vector<std::string> infoOrder;
    std::vector<Entry> entries;

    std::vector<std::string> FullPaths() const {
        std::vector<std::string> paths;
        for (const Entry& e : entries) paths.push_back(e.text.at("FullPath"));
        return paths;
    }
    bool Holds(const std::string& fullPath) const {
        const std::vector<std::string> paths = FullPaths();
        return std::find(paths.begin(), paths.end(), fullPath) != paths.end();
    }
    long long Size() const { return std::stoll(info.at("Media_Size")); }
    long long FileCount() const { return std::stoll(info.at("Media_NumberFiles")); }
};

inline Medium ReadMedium(const qvtest::TempTree& tree, const std::string& rel) {
    Medium medium;
    pugi::xml_document doc;
    if (!doc.load_file(tree.Native(rel).c_str())) return medium;
    medium.loaded = true;
    pugi::xml_node root = doc.child("Factory");
    for (pugi::xml_node child : root.children()) medium.rootChildren.push_back(child.name());
    for (pugi::xml_attribute a : root.child("Media").child("Info").attributes()) {
        medium.info[a.name()] = a.value();
        medium.infoOrder.push_back(a.name());
    }
    for (pugi::xml_node file : root.children("FILE")) {
        Entry entry;
        for (pugi::xml_node value : file.children()) {
            entry.names.push_back(value.name());
            entry.text[value.name()] = value.text().get();
            entry.cdata[value.name()] = value.first_child().type() == pugi::node_cdata;
        }
        medium.entries.push_back(entry);
    }
    return medium;
}

}  // namespace qvmediatest

#endif
