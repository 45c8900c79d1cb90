// Laying out a medium of a plan: target folders turned into paths inside the medium, folders
// kept whole walked on the disk.
#include "mediaset/QvCliMediumLayout.h"

#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliSystem.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

bool FollowsLinks() {
    const char* follow = std::getenv("QVSPLIT_FOLLOW_LINKS");
    return follow && std::string(follow) == "1";
}

// The last name of a host path.
std::string LeafName(const std::string& hostPath) {
    return QvCliPathText(QvCliFsPath(hostPath).filename());
}

// A file that cannot be opened would leave a hole in the medium: refuse it before writing. Why
// it cannot is looked for only then.
bool CheckReadable(const std::string& hostPath, std::string& error) {
    if (QvCliOpensForReading(hostPath)) return true;
    std::error_code ec;
    const fs::file_status status = fs::status(QvCliFsPath(hostPath), ec);
    if (!fs::exists(status)) {
        error = QvCliShown(hostPath) + ": listed in the plan but missing" + (ec ? " (" + ec.message() + ")" : "");
        return false;
    }
    std::ifstream in(QvCliFsPath(hostPath), std::ios::binary);
    if (!in) {
        error = QvCliShown(hostPath) + ": cannot be read";
        return false;
    }
    return true;
}

class FolderWalker {
public:
    FolderWalker(QvCliMediumLayout& layout, bool followLinks, bool openFiles)
        : m_layout(layout), m_follow(followLinks), m_open(openFiles) {}

    // Adds everything below folder, sorted by name so that the same tree gives the same medium.
    bool Walk(const fs::path& folder, const std::string& mediumPath, std::string& error) {
        std::error_code ec;
        std::vector<QvCliChild> children;
        if (!QvCliListChildren(folder, m_follow, children, ec)) {
            error = QvCliShown(QvCliPathText(folder)) + ": folder cannot be read (" + ec.message() + ")";
            return false;
        }
        for (const QvCliChild& child : children)
            if (!AddChild(folder / child.name, child, mediumPath + "/" + QvCliPathText(child.name), error)) return false;
        return true;
    }

private:
    // As the plan counted the folder: a link is an entry of its own unless the split followed
    // links, and then only a link to a file becomes that file (the listing has decided which).
    bool AddChild(const fs::path& path, const QvCliChild& child, const std::string& mediumPath, std::string& error) {
        QvCliPackItem item;
        item.mediumPath = mediumPath;
        item.hostPath = QvCliPathText(path);
        switch (child.kind) {
            case QvCliChild::kLink:
                item.kind = QvCliPackItem::kLink;
                break;
            case QvCliChild::kFolder:
                item.kind = QvCliPackItem::kFolder;
                m_layout.Add(std::move(item));
                return Walk(path, mediumPath, error);
            case QvCliChild::kFile:
                if (m_open && !CheckReadable(item.hostPath, error)) return false;
                item.size = child.size;
                m_layout.fileBytes += item.size;
                break;
            case QvCliChild::kOther:
                return true;  // pipes, sockets and devices are no files to copy, nor planned
        }
        m_layout.Add(std::move(item));
        return true;
    }

    QvCliMediumLayout& m_layout;
    bool m_follow;
    bool m_open;  // each file opened once, so that one that cannot be read fails here
};

bool AddEntry(const QvCliEntry& e, bool expandFolders, bool openFiles, QvCliMediumLayout& layout, std::string& error) {
    QvCliPackItem item;
    if (e.isDir) {
        item.kind = QvCliPackItem::kFolder;
        item.hostPath = QvCliToHostPath(QvCliEntryFolder(e));
        if (!QvCliMediumPath(e.targetPath, "", item.mediumPath, error)) return false;
        std::error_code ec;
        if (!fs::is_directory(QvCliFsPath(item.hostPath), ec)) {
            error = QvCliShown(item.hostPath) + ": folder listed in the plan but missing";
            return false;
        }
        layout.Add(QvCliPackItem(item));
        if (!expandFolders) return true;
        FolderWalker walker(layout, FollowsLinks(), openFiles);
        return walker.Walk(QvCliFsPath(item.hostPath), item.mediumPath, error);
    }
    item.hostPath = QvCliToHostPath(e.fullPath);
    if (!QvCliMediumPath(e.targetPath, LeafName(item.hostPath), item.mediumPath, error)) return false;
    std::error_code ec;
    if (e.isLink) {
        item.kind = QvCliPackItem::kLink;
        if (!fs::is_symlink(fs::symlink_status(QvCliFsPath(item.hostPath), ec))) {
            error = QvCliShown(item.hostPath) + ": link listed in the plan but missing";
            return false;
        }
    } else {
        // One look at the file, opened when it is to be read: it must be there, readable, and
        // as the plan measured it, since that is what the medium was sized for.
        unsigned long long size = 0;
        std::string time;
        bool isDir = false;
        const bool described = QvCliStatFile(item.hostPath, size, time, isDir, openFiles) ||
                               (QvCliStatFile(item.hostPath, size, time, isDir) && isDir);  // Windows opens no folder
        if (!described) {
            if (CheckReadable(item.hostPath, error)) error = QvCliShown(item.hostPath) + ": cannot be read";
            return false;
        }
        if (isDir || size != e.size || (!e.writeTime.empty() && QvCliWiden(time) != e.writeTime)) {
            error = QvCliShown(item.hostPath) + ": changed since the plan (" + std::to_string(e.size) + " bytes, written " +
                    QvCliNarrow(e.writeTime) + "; now " +
                    (isDir ? std::string("a folder") : std::to_string(size) + " bytes, written " + time) +
                    "); split again";
            return false;
        }
        item.size = size;
        layout.fileBytes += item.size;
    }
    layout.Add(std::move(item));
    return true;
}

}  // namespace

bool QvCliMediumPath(const std::wstring& targetPath, const std::string& name, std::string& out,
                     std::string& error) {
    std::wstring rest = targetPath;
    // A target written with a drive letter names the same folder on the medium.
    if (rest.size() >= 2 && rest[1] == L':') rest.erase(0, 2);
    out.clear();
    size_t pos = 0;
    while (pos <= rest.size()) {
        size_t end = rest.find_first_of(L"\\/", pos);
        if (end == std::wstring::npos) end = rest.size();
        const std::wstring part = rest.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == L".") continue;
        if (part == L"..") {
            error = "target folder climbs out of the medium: " + QvCliShownMessage(QvCliNarrow(targetPath));
            return false;
        }
        // One name alone, mapped back to the bytes the host uses for it.
        out += (out.empty() ? "" : "/") + QvCliToHostPath(part);
    }
    if (!name.empty()) out += (out.empty() ? "" : "/") + name;
    return true;
}

bool QvCliLayOutMedium(const QvCliMedium& medium, bool expandFolders, QvCliMediumLayout& layout,
                       std::string& error, bool openFiles) {
    layout.items.clear();
    layout.fileBytes = 0;
    for (const QvCliEntry& e : medium.entries) {
        if (!AddEntry(e, expandFolders, openFiles, layout, error)) {
            error = medium.fileName + ": " + error;
            return false;
        }
    }
    return true;
}
