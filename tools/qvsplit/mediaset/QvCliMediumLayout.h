// What one medium holds as a tree: every plan entry at its path inside the medium.
#ifndef QVCLIMEDIUMLAYOUT_H
#define QVCLIMEDIUMLAYOUT_H

#include "mediaset/QvCliMediaSet.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One thing to put on a medium.
struct QvCliPackItem {
    // kGenerated: a file the writer makes once every other file is written, its size fixed
    // ahead (the checksum list of the medium).
    enum Kind { kFile, kFolder, kLink, kGenerated };
    Kind kind = kFile;
    std::string mediumPath;  // inside the medium: relative, '/'-separated, UTF-8 ("src/sub/a.txt")
    std::string hostPath;    // where its content, attributes or link target are read
    uint64_t size = 0;       // bytes of a file's content
};

// How writing a medium's file ended.
enum class QvCliWriteOutcome { kWritten, kFailed, kStopped };

struct QvCliMediumLayout {
    // In plan order; with folders expanded, each folder kept whole is followed by everything
    // below it, parents before children.
    std::vector<QvCliPackItem> items;
    uint64_t fileBytes = 0;  // the contents of every file summed
    // When set, each item is handed to it as it is laid out instead of kept in items.
    std::function<void(QvCliPackItem&&)> take;
    // With hashing set, the writer computes the SHA-256 of every file's content as it copies
    // it (a generated one's too), into digests[i] for items[i].
    bool hashing = false;
    std::vector<std::array<unsigned char, 32>> digests;
    // The content of generated item index, made from the files written before it: written
    // (items, and digests once hashed) is this layout or a copy of its files. The checksum list
    // is made without it.
    std::function<std::string(const QvCliMediumLayout& written, size_t index)> generate;

    // Kept items are copies, whose texts take no room to grow: pack keeps the layouts of a set.
    void Add(QvCliPackItem&& item) {
        if (take)
            take(std::move(item));
        else
            items.push_back(static_cast<const QvCliPackItem&>(item));
    }
};

// The path inside a medium of an entry named name restored under targetPath, a folder of the
// plan ("\src\sub", "\", "C:\src"); an empty name gives the folder itself. False, with error
// set, for a path that would climb out of the medium ("..").
bool QvCliMediumPath(const std::wstring& targetPath, const std::string& name, std::string& out,
                     std::string& error);

// Lays out one medium of a plan. With expandFolders, a folder kept whole brings everything
// below it (links kept as links unless the plan followed them); without, it stays one item.
// Fails, naming the entry, when a listed file or folder is missing or cannot be read; without
// openFiles, files are listed without being opened (for a list that only names them). A take
// set in layout stays, and gets the items.
bool QvCliLayOutMedium(const QvCliMedium& medium, bool expandFolders, QvCliMediumLayout& layout,
                       std::string& error, bool openFiles = true);

#endif
