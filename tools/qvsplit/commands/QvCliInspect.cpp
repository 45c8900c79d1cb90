// The show, where and verify commands: reading a media set back and comparing it with the disk.
#include "QvCliCommands.h"
#include "mediaset/QvCliMediaSet.h"
#include "pack/QvCliFileSystem.h"
#include "pack/QvCliIsoImage.h"
#include "pack/QvCliPack.h"
#include "report/QvCliLog.h"
#include "report/QvCliPlanRecord.h"
#include "report/QvCliReport.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliSystem.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <iostream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Finds the set's media files, withFigures reading their figures too: the commands that go
// through the entries read them a medium at a time (ForEachMedium).
bool LoadSet(const QvCliOptions& o, size_t operands, QvCliMediaSet& set, int& status, bool withFigures) {
    if (o.operands.size() != operands) {
        status = QvCliFail(kExitUsage, "wrong number of arguments\n\n" + QvCliUsage(o.command));
        return false;
    }
    std::string error;
    if (!QvCliLoadMediaSet(o.operands[0], set, error, withFigures)) {
        status = QvCliFail(kExitFailed, error);
        return false;
    }
    return true;
}

// Goes through the set a medium at a time (QvCliForEachMedium); status says why it could not.
bool ForEachMedium(QvCliMediaSet& set, const std::function<void(const QvCliMedium&)>& visit, int& status) {
    std::string error;
    if (QvCliForEachMedium(set, [&visit](size_t, const QvCliMedium& m) { visit(m); }, error)) return true;
    status = QvCliFail(kExitFailed, error);
    return false;
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

bool QvCliFollowsLinks() {
    const char* follow = std::getenv("QVSPLIT_FOLLOW_LINKS");
    return follow && std::string(follow) == "1";
}

bool InChain(const std::vector<fs::path>& chain, const fs::path& p) {
    std::error_code ec;
    for (const fs::path& c : chain)
        if (fs::equivalent(c, p, ec)) return true;
    return false;
}

// Files and bytes below a folder now, counted as the split counts them: a link is an entry of
// its own, of no size, unless links are followed; then a link to a folder the path runs
// through (a loop) or to nothing is still one, and a folder met again below such a link is not
// entered. Pipes, sockets and devices are no files to copy.
void MeasureBelow(const fs::path& dir, std::vector<fs::path>& chain, bool follow, unsigned long long& files,
                  unsigned long long& bytes) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path p = it->path();
        std::error_code sec;
        fs::file_status status = fs::symlink_status(p, sec);
        if (fs::is_symlink(status)) {
            if (!follow) {
                ++files;
                continue;
            }
            status = fs::status(p, sec);
            if (sec || (fs::is_directory(status) && InChain(chain, p))) {
                ++files;
                continue;
            }
        } else if (fs::is_directory(status) && follow && InChain(chain, p)) {
            continue;
        }
        if (fs::is_directory(status)) {
            chain.push_back(p);
            MeasureBelow(p, chain, follow, files, bytes);
            chain.pop_back();
        } else if (fs::is_regular_file(status)) {
            ++files;
            bytes += fs::file_size(p, sec);
        }
    }
}

void MeasureFolder(const std::string& dir, unsigned long long& files, unsigned long long& bytes) {
    const fs::path root = QvCliFsPath(dir);
    const bool follow = QvCliFollowsLinks();
    std::vector<fs::path> chain;
    if (follow)
        for (fs::path p = fs::absolute(root); ; p = p.parent_path()) {
            chain.push_back(p);
            if (p == p.parent_path() || p.empty()) break;
        }
    else
        chain.push_back(root);
    MeasureBelow(root, chain, follow, files, bytes);
}

// A change found: what it is, the path it is found at and the figures after it. The terminal
// shows the path as QvCliShown does; JSON carries it as it is.
struct VerifyChange {
    std::string what, path, after;
    std::string Text(bool shown) const { return what + (shown ? QvCliShown(path) : path) + after; }
};

struct VerifyResult {
    std::vector<VerifyChange> changes;
    size_t checked = 0;
};

void VerifyFile(const QvCliEntry& e, VerifyResult& r, unsigned long long& files) {
    const std::string path = QvCliToHostPath(e.fullPath);
    unsigned long long size = 0;
    std::string time;
    bool isDir = false;
    ++r.checked;
    ++files;
    if (e.isLink) {
        // A link was planned as itself, size 0: only whether it is still there can change.
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(path, ec))) r.changes.push_back({"missing: ", path, ""});
        return;
    }
    if (!QvCliStatFile(path, size, time, isDir) || isDir) {
        r.changes.push_back({"missing: ", path, ""});
        return;
    }
    if (size != e.size)
        r.changes.push_back({"size changed: ", path, " (" + std::to_string(e.size) + " -> " + std::to_string(size) + " bytes)"});
    else if (QvCliWiden(time) != e.writeTime)
        r.changes.push_back({"modified: ", path, " (written " + QvCliNarrow(e.writeTime) + ", now " + time + ")"});
}

void VerifyFolder(const QvCliEntry& e, VerifyResult& r, unsigned long long& files) {
    const std::string path = QvCliToHostPath(QvCliEntryFolder(e));
    ++r.checked;
    std::error_code ec;
    if (!fs::is_directory(QvCliFsPath(path), ec)) {
        r.changes.push_back({"missing folder: ", path, ""});
        return;
    }
    unsigned long long count = 0, bytes = 0;
    MeasureFolder(path, count, bytes);
    files += count;
    if (bytes != e.size)
        r.changes.push_back({"folder changed: ", path, " (" + std::to_string(e.size) + " -> " + std::to_string(bytes) + " bytes)"});
}

// The ISO image or tar archive of one medium against its capacity.
struct ImageRow {
    std::string medium;
    bool tar = false;
    bool measured = false;
    uint64_t bytes = 0;
    uint64_t capacity = 0;
    uint64_t kept = 0;  // the room the plan kept for the catalogue files pack adds
    std::string error;
    bool Fits() const { return measured && bytes + kept <= capacity; }
};

// The image of a medium measured with the plan's files, when the plan was made for a file
// system that has images (false otherwise); a plan that kept room for the catalogue files is
// held to the capacity with that room, as pack will fill it.
bool MeasureImage(const QvCliOptions& o, const QvCliMedium& m, uint64_t catalogRoom, ImageRow& row) {
    const std::string fs = QvCliFileSystem(o);
    if (fs != "iso" && fs != "tar") return false;
    row.medium = m.fileName;
    row.tar = fs == "tar";
    row.capacity = QvCliCapacityBytes(o, m);
    row.kept = catalogRoom;
    row.measured = row.tar ? QvCliTarArchiveSize(m, row.bytes, row.error) : QvCliIsoImageSize(m, row.bytes, row.error);
    // The row names the medium already.
    if (row.error.compare(0, m.fileName.size() + 2, m.fileName + ": ") == 0) row.error.erase(0, m.fileName.size() + 2);
    return true;
}

void PrintImageRow(const ImageRow& r, std::ostream& out) {
    const uint64_t sector = kQvCliSectorBytes;
    out << r.medium << (r.tar ? "  tar archive " : "  ISO image ");
    if (!r.measured) {
        out << "not measured: " << r.error << "\n";
        return;
    }
    const uint64_t used = r.bytes + r.kept;
    const auto sectors = [](uint64_t n) { return QvCliGrouped(n) + (n == 1 ? " sector" : " sectors"); };
    std::string kept;
    if (r.kept)
        kept = ", with " + (r.tar ? QvCliGrouped(r.kept) + " bytes" : sectors((r.kept + sector - 1) / sector)) +
               " kept for the catalogue";
    if (r.tar) {
        out << QvCliGrouped(r.bytes) << " of " << QvCliGrouped(r.capacity) << " bytes" << kept << ": ";
        if (r.Fits())
            out << "fits, " << QvCliGrouped(r.capacity - used) << " bytes free\n";
        else
            out << "DOES NOT FIT, " << QvCliGrouped(used - r.capacity) << " bytes over\n";
        return;
    }
    out << QvCliGrouped(r.bytes / sector) << " of " << QvCliGrouped(r.capacity / sector) << " sectors ("
        << QvCliGrouped(r.bytes) << " of " << QvCliGrouped(r.capacity) << " bytes)" << kept << ": ";
    if (r.Fits())
        out << "fits, " << sectors((r.capacity - used) / sector) << " free\n";
    else
        out << "DOES NOT FIT, " << sectors((used - r.capacity + sector - 1) / sector) << " over\n";
}

void PrintImagesJson(const std::vector<ImageRow>& rows, std::ostream& out) {
    out << ", \"images\": [";
    for (size_t i = 0; i < rows.size(); ++i) {
        const ImageRow& r = rows[i];
        out << (i ? ", " : "") << "{\"medium\": " << QvCliJsonString(r.medium);
        if (r.measured)
            out << ", \"bytes\": " << r.bytes << (r.tar ? "" : ", \"sectors\": " + std::to_string(r.bytes / kQvCliSectorBytes))
                << ", \"capacity_bytes\": " << r.capacity << (r.kept ? ", \"catalog_room_bytes\": " + std::to_string(r.kept) : "")
                << ", \"fits\": " << (r.Fits() ? "true" : "false") << "}";
        else
            out << ", \"error\": " << QvCliJsonString(r.error) << ", \"fits\": false}";
    }
    out << "]";
}

}  // namespace

int QvCliRunShow(const QvCliOptions& o) {
    QvCliMediaSet set;
    int status = kExitOk;
    QvCliPlanRecord record;
    const bool recorded = o.operands.size() == 1 && QvCliLoadPlanRecord(o.operands[0], record);
    std::string error;
    if (recorded && record.since.deleted && !QvCliLoadMediaSet(o.operands[0], set, error, true)) {
        // A set that follows others with deletions alone: their list, and no medium.
        if (o.json) {
            std::cout << "{\n  \"folder\": " << QvCliJsonString(o.operands[0]) << ",\n  \"media_count\": 0,\n";
            QvCliPrintChangesJson(record.since, std::cout);
            std::cout << "  \"deleted_list\": " << QvCliJsonString(QvCliPathText(QvCliFsPath(o.operands[0]) / "Deleted.xml"))
                      << "\n}\n";
        } else {
            std::cout << "no media: deletions only\n";
            QvCliPrintChanges(record.since, std::cout);
        }
        return kExitOk;
    }
    if (!LoadSet(o, 1, set, status, true)) return status;
    // What the split left out, as it recorded it beside the media files.
    const std::vector<QvCliLeftOut> leftOut = QvCliShownLeftOut(QvCliLoadLeftOut(o.operands[0]));
    if (o.json) {
        QvCliPrintSummaryJson(set, 0, leftOut, std::cout, nullptr, 0, &record.since);
    } else {
        QvCliPrintSummary(set, 0, leftOut, std::cout);
        QvCliPrintChanges(record.since, std::cout);
    }
    return kExitOk;
}

namespace {

int WhereInSet(const QvCliOptions& o) {
    QvCliMediaSet set;
    int status = kExitOk;
    if (!LoadSet(o, 2, set, status, false)) return status;
    const std::wstring needle = Lower(QvCliWiden(o.operands[1]));
    // A text with a backslash may be part of a name as the answer shows it ("\x1B", "\u202E"):
    // found in that form too.
    const bool shownToo = needle.find(L'\\') != std::wstring::npos;
    size_t hits = 0;
    // Printed once every medium could be read, as when the set was read whole first.
    std::ostringstream found;
    const bool read = ForEachMedium(set, [&](const QvCliMedium& m) {
        for (const QvCliEntry& e : m.entries) {
            const std::string hostPath = QvCliToHostPath(e.isDir ? QvCliEntryFolder(e) : e.fullPath);
            if (Lower(QvCliWiden(hostPath)).find(needle) == std::wstring::npos &&
                Lower(e.fullPath).find(needle) == std::wstring::npos &&
                !(shownToo && Lower(QvCliWiden(QvCliShown(hostPath))).find(needle) != std::wstring::npos))
                continue;
            if (o.json)
                found << (hits ? ",\n " : "\n ") << "{\"medium\": " << QvCliJsonString(m.fileName)
                      << ", \"path\": " << QvCliJsonString(hostPath) << ", \"folder\": "
                      << (e.isDir ? "true" : "false") << "}";
            else
                found << m.fileName << "  " << QvCliShown(hostPath) << (e.isDir ? "/" : "") << "\n";
            ++hits;
        }
    }, status);
    if (!read) return status;
    if (o.json)
        std::cout << "[" << found.str() << (hits ? "\n]\n" : "]\n");
    else
        std::cout << found.str();
    // No match is an answer too, said where a person looks for one.
    if (!hits && !o.json) std::cerr << "qvsplit: no medium of " << o.operands[0] << " lists a path containing " << o.operands[1] << "\n";
    return hits ? kExitOk : kExitFailed;
}

// Whether dir holds a media file of a split.
bool HoldsMediaFiles(const std::string& dir) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(QvCliFsPath(dir), ec)) {
        const std::string name = QvCliPathText(e.path().filename());
        if (name == "Last.xml" || (name.rfind("Media", 0) == 0 && name.size() > 9 &&
                                   name.compare(name.size() - 4, 4, ".xml") == 0 &&
                                   name.find_first_not_of("0123456789", 5) == name.size() - 4))
            return true;
    }
    return false;
}

// The media files of a set folder in number order, "Last.xml" last.
std::vector<std::string> MediaFilesOf(const std::string& dir) {
    std::vector<std::pair<unsigned long long, std::string>> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(QvCliFsPath(dir), ec)) {
        const std::string name = QvCliPathText(e.path().filename());
        if (name == "Last.xml") {
            found.emplace_back(~0ull, name);
        } else if (name.rfind("Media", 0) == 0 && name.size() > 9 && name.compare(name.size() - 4, 4, ".xml") == 0 &&
                   name.find_first_not_of("0123456789", 5) == name.size() - 4) {
            found.emplace_back(std::stoull(name.substr(5, name.size() - 9)), name);
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& f : found) names.push_back(std::move(f.second));
    return names;
}

// Whether the file's bytes hold the text; false too when it cannot be read.
bool FileHolds(const fs::path& file, const std::string& text) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::search(bytes.begin(), bytes.end(), std::boyer_moore_horspool_searcher(text.begin(), text.end())) !=
           bytes.end();
}

// where PATH SET...: the latest set of a chain that holds PATH, with the media that hold it, or
// the set that recorded it deleted. The sets are searched from the latest; a media file names a
// path as its FullPath element does, which is searched for as it stands in the file.
int WhereInChain(const QvCliOptions& o) {
    const std::string& path = o.operands[0];
    const std::vector<std::string> sets(o.operands.begin() + 1, o.operands.end());
    for (const std::string& set : sets)
        if (!HoldsMediaFiles(set) && !fs::exists(QvCliFsPath(set) / "Deleted.xml"))
            return QvCliFail(kExitFailed, QvCliShown(set) + ": no media files (Media1.xml, ...): not the folder of a set");
    const std::string libraryPath = QvCliNarrow(QvCliToLibraryPath(path));
    const std::string needle = "<FullPath><![CDATA[" + libraryPath + "]]></FullPath>";
    for (size_t k = sets.size(); k-- > 0;) {
        const std::string& set = sets[k];
        const bool deleted = FileHolds(QvCliFsPath(set) / "Deleted.xml", needle);
        std::vector<std::string> media;
        if (!deleted)
            for (const std::string& name : MediaFilesOf(set))
                if (FileHolds(QvCliFsPath(set) / name, needle)) media.push_back(name);
        if (!deleted && media.empty()) continue;
        if (o.json) {
            std::cout << "{\"path\": " << QvCliJsonString(path) << ", \"set\": " << QvCliJsonString(set)
                      << ", \"deleted\": " << (deleted ? "true" : "false") << ", \"media\": [";
            for (size_t i = 0; i < media.size(); ++i) std::cout << (i ? ", " : "") << QvCliJsonString(media[i]);
            std::cout << "]}\n";
        } else if (deleted) {
            std::cout << QvCliShown(path) << ": deleted in " << QvCliShown(set) << "\n";
        } else {
            std::cout << QvCliShown(path) << ": " << QvCliShown(set) << " ";
            for (size_t i = 0; i < media.size(); ++i) std::cout << (i ? ", " : "") << media[i];
            std::cout << "\n";
        }
        return kExitOk;
    }
    if (o.json)
        std::cout << "{\"path\": " << QvCliJsonString(path) << ", \"set\": null, \"deleted\": false, \"media\": []}\n";
    else
        std::cerr << "qvsplit: " << QvCliShown(path) << ": in none of the " << sets.size() << " sets\n";
    return kExitFailed;
}

}  // namespace

// where DIR TEXT searches one set; where PATH SET... a chain of sets for one path.
int QvCliRunWhere(const QvCliOptions& o) {
    if (o.operands.size() >= 2 && !(o.operands.size() == 2 && HoldsMediaFiles(o.operands[0]) && !HoldsMediaFiles(o.operands[1])))
        return WhereInChain(o);
    return WhereInSet(o);
}

int QvCliRunVerify(const QvCliOptions& o) {
    QvCliMediaSet set;
    int status = kExitOk;
    if (!LoadSet(o, 1, set, status, false)) return status;
    QvCliPlanRecord record;
    QvCliLoadPlanRecord(set.dir, record);
    VerifyResult r;
    std::vector<ImageRow> images;
    if (!ForEachMedium(set, [&](const QvCliMedium& m) {
            unsigned long long files = 0;
            for (const QvCliEntry& e : m.entries) (e.isDir ? VerifyFolder : VerifyFile)(e, r, files);
            if (m.hasNumberFiles && files != m.numberFiles)
                r.changes.push_back({"file count changed on ", m.fileName, " (" + std::to_string(m.numberFiles) + " -> " + std::to_string(files) + ")"});
            ImageRow row;
            if (MeasureImage(o, m, record.catalogReserve, row)) images.push_back(row);
        }, status))
        return status;
    const bool allFit = std::all_of(images.begin(), images.end(), [](const ImageRow& row) { return row.Fits(); });
    if (o.json) {
        std::cout << "{\"checked\": " << r.checked << ", \"changes\": [";
        for (size_t i = 0; i < r.changes.size(); ++i)
            std::cout << (i ? ", " : "") << QvCliJsonString(r.changes[i].Text(false));
        std::cout << "]";
        if (QvCliFileSystem(o) == "iso" || QvCliFileSystem(o) == "tar") PrintImagesJson(images, std::cout);
        std::cout << "}\n";
    } else {
        for (const VerifyChange& c : r.changes) std::cout << c.Text(true) << "\n";
        if (r.changes.empty())
            std::cout << "the media set matches the disk (" << r.checked << " entries checked)\n";
        else
            std::cout << r.changes.size() << " changes since the plan (" << r.checked << " entries checked)\n";
        for (const ImageRow& row : images) PrintImageRow(row, std::cout);
        if (QvCliFileSystem(o) == "iso-udf")
            std::cout << "ISO/UDF image sizes are not measured: libisofs makes no UDF file system\n";
    }
    return r.changes.empty() && allFit ? kExitOk : kExitFailed;
}
