// The restore command: media of one set put back under a folder, every file checked against
// its medium's checksum list, the parts of cut files joined once their last part has come.
//
// Each medium is read once. Its files go to a working folder inside the destination first
// (DIR/.qvsplit-restore), since an image or archive carries its checksum list after the files
// it lists; once the medium is read, each file whose checksum matches is renamed to its place,
// so that no file ever stands under its final name half written or unchecked. Parts of cut
// files wait in the working folder, across runs, until every part has come.
#include "QvCliCommands.h"
#include "check/QvCliChecksums.h"
#include "check/QvCliMediumNotes.h"
#include "check/QvCliMediumReader.h"
#include "report/QvCliReport.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliProgress.h"
#include "system/QvCliSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char* const kWorkFolder = ".qvsplit-restore";

// The medium's own files at its root, which are not files of the set.
bool IsMediumsOwn(const std::string& path) {
    return path == kQvCliSumsFile || path == kQvCliNotesFile || path == "QVSPLIT-CATALOG.html" ||
           path == "QVSPLIT-CATALOG.txt" || path == "QVSPLIT-CATALOG.txt.gz";
}

// A path inside the medium as names below the destination: none empty, none "." or "..", not
// absolute. False for a path that would climb out.
bool SafeNames(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    if (path.empty() || path[0] == '/') return false;
    size_t at = 0;
    while (at <= path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        const std::string name = path.substr(at, slash - at);
        at = slash + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") return false;
        names.push_back(name);
    }
    return !names.empty();
}

fs::path Below(const fs::path& base, const std::vector<std::string>& names, size_t count) {
    fs::path p = base;
    for (size_t i = 0; i < count && i < names.size(); ++i) p /= QvCliFsPath(names[i]);
    return p;
}

// What lstat finds at a path: nothing, a folder, a link, or another file.
enum class Found { kNothing, kFolder, kLink, kFile };

Found Look(const fs::path& p) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(p, ec);
    if (ec || !fs::exists(status)) return Found::kNothing;
    if (fs::is_symlink(status)) return Found::kLink;
    return fs::is_directory(status) ? Found::kFolder : Found::kFile;
}

// Makes the folders of names[0..count) below base, never through a link or a file: a medium
// that holds a link and then a file below it would write outside the destination. False, with
// error set, when a name is a link or a file already.
bool MakeFolders(const fs::path& base, const std::vector<std::string>& names, size_t count, std::string& error) {
    fs::path p = base;
    for (size_t i = 0; i < count; ++i) {
        p /= QvCliFsPath(names[i]);
        const Found found = Look(p);
        if (found == Found::kFolder) continue;
        if (found != Found::kNothing) {
            error = "its folder " + QvCliShown(QvCliPathText(p)) + (found == Found::kLink ? " is a link" : " is a file") +
                    ": nothing is written through it";
            return false;
        }
        std::error_code ec;
        fs::create_directory(p, ec);
        if (ec) {
            error = QvCliShown(QvCliPathText(p)) + ": folder cannot be made (" + ec.message() + ")";
            return false;
        }
    }
    return true;
}

void SetTimeAndMode(const fs::path& p, int64_t writeTime, uint32_t mode, bool link) {
#ifndef _WIN32
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(writeTime);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, p.c_str(), times, link ? AT_SYMLINK_NOFOLLOW : 0);
    if (!link && mode) ::chmod(p.c_str(), static_cast<mode_t>(mode & 07777));
#else
    (void)p, (void)writeTime, (void)mode, (void)link;
#endif
}

// The SHA-256 of a file on the disk, of length bytes from offset (all of it when length is
// the largest value); empty when it cannot be read so far.
std::string HashOf(const fs::path& p, uint64_t offset = 0, uint64_t length = UINT64_MAX) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::string();
    in.seekg(static_cast<std::streamoff>(offset));
    QvCliSha256 hash;
    std::vector<char> buffer(1 << 20);
    uint64_t left = length;
    while (left && in) {
        const size_t want = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
        in.read(buffer.data(), static_cast<std::streamsize>(want));
        const size_t got = static_cast<size_t>(in.gcount());
        if (!got) break;
        hash.Update(buffer.data(), got);
        if (length != UINT64_MAX) left -= got;
    }
    if (length != UINT64_MAX && left) return std::string();
    unsigned char digest[32];
    hash.Digest(digest);
    return QvCliHex(digest);
}

struct Finding {
    std::string state;  // changed, missing, unreadable, unexpected, refused, differs
    std::string path;
    std::string detail;
};

// A file of the medium as it was read.
struct ReadFile {
    std::string path;
    std::vector<std::string> names;
    std::string staged;  // its copy in the working folder; empty: not kept (it exists already)
    std::string hex;
    bool whole = false;
    uint64_t offset = 0;
    std::string why;
    uint64_t size = 0;
    uint32_t mode = 0;
    int64_t writeTime = 0;
    std::string hardLink;
};

struct LinkEntry {
    std::string path;
    std::vector<std::string> names;
    std::string target;
    int64_t writeTime = 0;
};

struct FolderEntry {
    std::vector<std::string> names;
    uint32_t mode = 0;
    int64_t writeTime = 0;
};

struct MediumResult {
    std::string source;
    int medium = 0;
    uint64_t restored = 0, skipped = 0, parts = 0;
    std::vector<Finding> findings;
    std::string error;
};

// Reads one medium into the working folder.
class MediumReader : public QvCliMediumVisitor {
public:
    MediumReader(const fs::path& dir, const fs::path& staging, bool overwrite, QvCliByteProgress& progress)
        : m_dir(dir), m_staging(staging), m_overwrite(overwrite), m_progress(progress) {}

    bool Entry(const QvCliMediumEntry& entry) override {
        m_file = nullptr;
        std::vector<std::string> names;
        if (entry.kind == QvCliMediumEntry::kFile && IsMediumsOwn(entry.path)) {
            m_own = entry.path == kQvCliSumsFile ? &list : entry.path == kQvCliNotesFile ? &notes : nullptr;
            if (m_own) m_own->clear();
            m_ownPath = entry.path;
            return true;  // read to check it against the list
        }
        m_own = nullptr;
        m_ownPath.clear();
        if (entry.path.empty() || entry.path == ".") return false;  // the medium's root
        if (!SafeNames(entry.path, names)) {
            refused.push_back({"refused", entry.path, "its path climbs out of the destination"});
            return false;
        }
        if (entry.kind == QvCliMediumEntry::kFolder) {
            folders.push_back({names, entry.mode, entry.writeTime});
            return false;
        }
        if (entry.kind == QvCliMediumEntry::kLink) {
            links.push_back({entry.path, names, entry.linkTarget, entry.writeTime});
            return false;
        }
        if (entry.kind != QvCliMediumEntry::kFile) return false;
        ReadFile file;
        file.path = entry.path;
        file.names = names;
        file.size = entry.size;
        file.mode = entry.mode;
        file.writeTime = entry.writeTime;
        file.hardLink = entry.hardLink;
        files.push_back(std::move(file));
        m_file = &files.back();
        if (!entry.hardLink.empty()) return false;
        std::string whole;
        int number = 0;
        const bool part = QvCliPartName(names.back(), whole, number);
        // A file already in place is read to check it, not kept again, unless it may be
        // replaced: asked, or the set follows earlier sets (or its notes are not known yet).
        if (part || m_overwrite || !m_notesSeen || m_follows || Look(Below(m_dir, names, names.size())) == Found::kNothing) {
            m_file->staged = QvCliPathText(m_staging / std::to_string(files.size()));
            m_out.reset(std::fopen(m_file->staged.c_str(), "wb"));
            if (!m_out) {
                m_file->why = m_file->staged + ": cannot be written (" + std::strerror(errno) + ")";
                m_file->staged.clear();
            }
        }
        return true;
    }
    bool Data(const void* bytes, size_t count) override {
        if (m_own) m_own->append(static_cast<const char*>(bytes), count);
        m_hash.Update(bytes, count);
        if (m_out && std::fwrite(bytes, 1, count, m_out.get()) != count) {
            m_file->why = m_file->staged + ": write failed (disk full?)";
            m_out.reset();
        }
        return !QvCliInterrupted();
    }
    void FileEnd(bool whole, uint64_t offset, const std::string& why) override {
        unsigned char digest[32];
        m_hash.Digest(digest);
        if (!m_ownPath.empty()) {
            ownHex[m_ownPath] = whole ? QvCliHex(digest) : std::string();
            if (m_ownPath == kQvCliNotesFile && whole) Know(notes);
            m_ownPath.clear();
            m_own = nullptr;
            return;
        }
        if (!m_file) return;
        bool written = true;
        if (m_out) written = std::fclose(m_out.release()) == 0;
        m_file->whole = whole && written && (m_file->why.empty() || m_file->staged.empty());
        m_file->offset = offset;
        if (!why.empty()) m_file->why = why;
        if (whole) m_file->hex = QvCliHex(digest);
        m_file = nullptr;
    }
    void Progress(uint64_t bytes) override { QvCliByteProgressUpdate(m_progress, bytes); }

    // The medium's notes as soon as they are read (first on a medium pack made; a mounted disc's
    // are read before its files): whether files already in place may be replaced.
    void Know(const std::string& text) {
        QvCliMediumNotes early;
        std::string error;
        m_notesSeen = QvCliParseNotes(text, early, error);
        m_follows = m_notesSeen && early.follows > 0;
    }

    std::vector<ReadFile> files;
    std::vector<LinkEntry> links;
    std::vector<FolderEntry> folders;
    std::vector<Finding> refused;
    std::string list, notes;
    std::map<std::string, std::string> ownHex;  // the medium's own files read whole: their checksums

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    fs::path m_dir, m_staging;
    bool m_overwrite;
    QvCliByteProgress& m_progress;
    ReadFile* m_file = nullptr;
    bool m_notesSeen = false, m_follows = false;
    std::string* m_own = nullptr;
    std::string m_ownPath;
    std::unique_ptr<std::FILE, FileCloser> m_out;
    QvCliSha256 m_hash;
};

class Restorer {
public:
    explicit Restorer(const QvCliOptions& o) : m_o(o), m_dir(QvCliFsPath(o.toDir)), m_work(m_dir / kWorkFolder) {}

    bool Begin(std::string& error) {
        std::error_code ec;
        fs::create_directories(m_dir, ec);
        if (ec || Look(m_dir) != Found::kFolder) {
            error = QvCliShown(m_o.toDir) + ": cannot be made a folder" + (ec ? " (" + ec.message() + ")" : "");
            return false;
        }
        // What a stopped run left half written goes; the parts waiting for their file stay.
        fs::remove_all(m_work / "staging", ec);
        fs::create_directories(m_work / "staging", ec);
        if (ec) {
            error = QvCliShown(QvCliPathText(m_work)) + ": cannot be made (" + ec.message() + ")";
            return false;
        }
        m_progress.show = !m_o.quiet && QvCliStderrIsTerminal();
        return true;
    }

    // kExitCancelled when stopped; otherwise the medium's result says how it went.
    int Medium(const std::string& source, MediumResult& result) {
        result.source = source;
        std::string error;
        uint64_t bytes = 0;
        const std::string kind = QvCliMediumKind(source, bytes, error);
        if (kind.empty()) {
            result.error = error;
            return kExitFailed;
        }
        m_progress.label = QvCliPathText(QvCliFsPath(source).filename());
        m_progress.total = kind == "folder" ? QvCliMediumBytes(source) : bytes;
        m_progress.base = 0;
        const fs::path staging = m_work / "staging";
        MediumReader reader(m_dir, staging, m_o.overwrite, m_progress);
        if (kind == "folder") {
            std::ifstream in(QvCliFsPath(source) / kQvCliNotesFile, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            if (in) reader.Know(text.str());
        }
        const QvCliReadOutcome outcome = QvCliReadMedium(source, reader, error);
        QvCliByteProgressDone(m_progress);
        if (outcome == QvCliReadOutcome::kStopped || QvCliInterrupted()) return kExitCancelled;
        const int status = Place(reader, outcome == QvCliReadOutcome::kDamaged ? error : std::string(), result);
        std::error_code ec;
        for (fs::directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec)) fs::remove(it->path(), ec);
        return status;
    }

    // Joins what can be joined, applies the set's deletions, and says what is still to come.
    void End(std::vector<std::string>& joined, std::vector<Finding>& findings,
             std::vector<std::string>& waiting, uint64_t& deleted) {
        for (auto& kv : m_cuts) JoinCut(kv.second, joined, findings, waiting);
        for (const std::string& path : m_deleted) {
            std::vector<std::string> names;
            if (!SafeNames(path, names)) continue;
            const fs::path p = Below(m_dir, names, names.size());
            const Found found = Look(p);
            if ((found == Found::kFile || found == Found::kLink) && MakeFoldersExist(names)) {
                std::error_code ec;
                if (fs::remove(p, ec)) ++deleted;
            }
        }
        // Folders take their times and modes last: a file written into one changes its time,
        // and a folder without write permission would refuse the files.
        std::sort(m_folders.begin(), m_folders.end(),
                  [](const FolderEntry& a, const FolderEntry& b) { return a.names.size() > b.names.size(); });
        for (const FolderEntry& f : m_folders)
            if (Look(Below(m_dir, f.names, f.names.size())) == Found::kFolder)
                SetTimeAndMode(Below(m_dir, f.names, f.names.size()), f.writeTime, f.mode, false);
        // Nothing waits: the set's folder goes.
        if (!m_set.empty() && !HasWaitingParts()) {
            std::error_code ec;
            fs::remove_all(SetFolder(), ec);
        }
        std::error_code ec;
        fs::remove_all(m_work / "staging", ec);
        if (fs::is_empty(m_work, ec)) fs::remove(m_work, ec);
    }

    // After a cancelled run: what it had written but not checked goes; the parts stay.
    void Abandon() {
        std::error_code ec;
        fs::remove_all(m_work / "staging", ec);
        if (fs::is_empty(m_work, ec)) fs::remove(m_work, ec);
    }

    const std::string& Set() const { return m_set; }

private:
    bool MakeFoldersExist(const std::vector<std::string>& names) {
        fs::path p = m_dir;
        for (size_t i = 0; i + 1 < names.size(); ++i) {
            p /= QvCliFsPath(names[i]);
            if (Look(p) != Found::kFolder) return false;
        }
        return true;
    }

    fs::path SetFolder() const { return m_work / ("set-" + m_set); }

    bool HasWaitingParts() const {
        std::error_code ec;
        const fs::path parts = SetFolder() / "parts";
        return fs::exists(parts, ec) && !fs::is_empty(parts, ec);
    }

    // Checks what a medium held against its list and puts each good file in its place.
    int Place(MediumReader& reader, const std::string& damage, MediumResult& result) {
        result.findings = reader.refused;
        // The medium's description and list, each checked against the other.
        std::vector<QvCliSumsEntry> sums;
        QvCliMediumNotes notes;
        std::string error;
        bool haveList = reader.ownHex.count(kQvCliSumsFile) && !reader.ownHex[kQvCliSumsFile].empty();
        bool notesOnMedium = reader.ownHex.count(kQvCliNotesFile) && !reader.ownHex[kQvCliNotesFile].empty();
        // A medium made without room for them: its list and notes from beside the plan.
        if (!haveList && !m_o.planDir.empty()) {
            reader.list = QvCliBesidePlan(m_o.planDir, result.source, ".SHA256SUMS");
            haveList = !reader.list.empty();
            if (haveList && !notesOnMedium) reader.notes = QvCliBesidePlan(m_o.planDir, result.source, ".MEDIUM.txt");
        }
        if (!haveList) {
            result.error = (damage.empty() ? std::string() : damage + "; ") + "no checksum list (" + kQvCliSumsFile +
                           ") could be read on this medium: nothing of it was restored" +
                           (m_o.planDir.empty() ? " (with --plan, the copy beside the plan is used)" : "");
            return kExitFailed;
        }
        if (!QvCliParseSums(reader.list, sums, error)) {
            result.error = std::string(kQvCliSumsFile) + ": " + error + "; nothing of this medium was restored";
            return kExitFailed;
        }
        std::map<std::string, std::string> listed;
        for (const QvCliSumsEntry& e : sums) listed[e.path] = e.hex;
        if (reader.notes.empty() || !QvCliParseNotes(reader.notes, notes, error)) {
            result.error = std::string("no readable ") + kQvCliNotesFile + " on this medium" +
                           (error.empty() ? "" : " (" + error + ")") + ": it was not made by qvsplit pack; nothing of it was restored";
            return kExitFailed;
        }
        if ((notesOnMedium && listed[kQvCliNotesFile] != reader.ownHex[kQvCliNotesFile]) || notes.files != sums.size()) {
            result.error = std::string("its checksum list does not match its description (") + kQvCliNotesFile +
                           "): the medium was altered; nothing of it was restored";
            return kExitFailed;
        }
        result.medium = notes.medium;
        m_follows = notes.follows > 0;
        if (m_set.empty()) {
            m_set = notes.set;
        } else if (notes.set != m_set) {
            result.error = "a medium of another set (set " + notes.set + "; the media before it are of set " + m_set +
                           "): nothing of it was restored";
            return kExitFailed;
        }
        if (!m_seen.insert(notes.medium).second) {
            result.error = "medium " + std::to_string(notes.medium) + " was given twice (" + m_seenSource[notes.medium] +
                           "): nothing of this copy was restored";
            return kExitFailed;
        }
        m_seenSource[notes.medium] = result.source;
        std::error_code ec;
        fs::create_directories(SetFolder() / "parts", ec);
        for (const QvCliMediumNotes::Cut& cut : notes.cuts) m_cuts[cut.path] = cut;
        if (m_deleted.empty()) m_deleted = notes.deleted;
        std::set<std::string> seen;
        for (ReadFile& file : reader.files) {
            seen.insert(file.path);
            PlaceFile(file, listed, reader, result);
        }
        for (const auto& kv : listed)
            if (!IsMediumsOwn(kv.first) && !seen.count(kv.first)) result.findings.push_back({"missing", kv.first, std::string()});
        for (const LinkEntry& link : reader.links) PlaceLink(link, result);
        for (const FolderEntry& folder : reader.folders) {
            if (MakeFolders(m_dir, folder.names, folder.names.size(), error)) m_folders.push_back(folder);
            else result.findings.push_back({"refused", QvCliPathText(Below(fs::path(), folder.names, folder.names.size())), error});
        }
        if (!damage.empty()) result.error = damage;
        return result.findings.empty() && result.error.empty() ? kExitOk : kExitFailed;
    }

    void PlaceFile(const ReadFile& file, const std::map<std::string, std::string>& listed, MediumReader& reader,
                   MediumResult& result) {
        const auto expected = listed.find(file.path);
        std::string hex = file.hex;
        if (!file.hardLink.empty()) {
            for (const ReadFile& other : reader.files)
                if (other.path == file.hardLink) hex = other.hex;
        }
        if (expected == listed.end()) {
            result.findings.push_back({"unexpected", file.path, "not in the medium's checksum list: not restored"});
            return;
        }
        if (file.hardLink.empty() && !file.whole) {
            result.findings.push_back({"unreadable", file.path,
                                       "at byte " + QvCliGrouped(file.offset) + ": " + (file.why.empty() ? "read failed" : file.why)});
            return;
        }
        if (hex != expected->second) {
            result.findings.push_back({"changed", file.path, "its checksum differs from the medium's list: not restored"});
            return;
        }
        std::string whole;
        int number = 0;
        const std::vector<std::string>& names = file.names;
        if (QvCliPartName(names.back(), whole, number)) {
            std::vector<std::string> wholeNames(names.begin(), names.end() - 1);
            wholeNames.push_back(whole);
            std::string wholePath;
            for (const std::string& n : wholeNames) wholePath += (wholePath.empty() ? "" : "/") + n;
            const auto cut = m_cuts.find(wholePath);
            if (cut != m_cuts.end() && !file.staged.empty()) {
                if (!m_o.overwrite && PartInPlace(wholeNames, file, number == cut->second.parts)) {
                    ++result.skipped;
                    return;
                }
                KeepPart(file, wholePath, number, result);
                return;
            }
        }
        std::string error;
        if (!MakeFolders(m_dir, names, names.size() - 1, error)) {
            result.findings.push_back({"refused", file.path, error});
            return;
        }
        const fs::path final = Below(m_dir, names, names.size());
        if (file.staged.empty() && file.hardLink.empty()) {
            // It was there already: kept when it is the same file.
            const Found found = Look(final);
            if (found == Found::kFile && HashOf(final) == expected->second) {
                ++result.skipped;
                return;
            }
            result.findings.push_back({"differs", file.path,
                                       found == Found::kFile ? "a different file is there: not overwritten (--overwrite replaces it)"
                                                             : "a folder or link is there: not overwritten (--overwrite replaces it)"});
            return;
        }
        std::error_code ec;
        if (!file.hardLink.empty()) {
            // Another name of a file the medium holds once: made a name of the file restored.
            const Found found = Look(final);
            if (found == Found::kFile && HashOf(final) == expected->second) {
                ++result.skipped;
                return;
            }
            if (found != Found::kNothing && !m_o.overwrite && !m_follows) {
                result.findings.push_back({"differs", file.path, "a different file is there: not overwritten (--overwrite replaces it)"});
                return;
            }
            std::vector<std::string> targetNames;
            const fs::path target = SafeNames(file.hardLink, targetNames) ? Below(m_dir, targetNames, targetNames.size()) : fs::path();
            if (target.empty() || Look(target) != Found::kFile || HashOf(target) != expected->second) {
                result.findings.push_back({"missing", file.path, "another name of " + file.hardLink + ", which was not restored"});
                return;
            }
            if (found != Found::kNothing) fs::remove(final, ec);
            fs::create_hard_link(target, final, ec);
            if (ec) {
                ec.clear();
                fs::copy_file(target, final, fs::copy_options::overwrite_existing, ec);
            }
        } else {
            const Found found = Look(final);
            if (found != Found::kNothing && !m_o.overwrite && !m_follows) {
                // Kept before the notes said whether it may be replaced: it may not.
                if (found == Found::kFile && HashOf(final) == expected->second) {
                    ++result.skipped;
                    return;
                }
                result.findings.push_back({"differs", file.path, "a different file is there: not overwritten (--overwrite replaces it)"});
                return;
            }
            if (found == Found::kFile && HashOf(final) == expected->second) {
                ++result.skipped;
                return;
            }
            if (found == Found::kFolder) fs::remove(final, ec);
            ec.clear();
            fs::rename(QvCliFsPath(file.staged), final, ec);
        }
        if (ec) {
            result.findings.push_back({"refused", file.path, QvCliPathText(final) + ": cannot be written (" + ec.message() + ")"});
            return;
        }
        SetTimeAndMode(final, file.writeTime, file.mode, false);
        ++result.restored;
    }

    // Whether the whole file is in place already with this part's bytes where they belong:
    // every part but the last has the size of the first, and the last ends the file.
    bool PartInPlace(const std::vector<std::string>& wholeNames, const ReadFile& part, bool last) const {
        const fs::path whole = Below(m_dir, wholeNames, wholeNames.size());
        if (Look(whole) != Found::kFile) return false;
        std::string name;
        int number = 0;
        QvCliPartName(part.names.back(), name, number);
        std::error_code ec;
        const uint64_t size = fs::file_size(whole, ec);
        if (ec || size < part.size) return false;
        const uint64_t offset = last ? size - part.size : static_cast<uint64_t>(number - 1) * part.size;
        return HashOf(whole, offset, part.size) == part.hex;
    }

    // A checked part waits in the working folder until the file's last part has come.
    void KeepPart(const ReadFile& file, const std::string& wholePath, int number, MediumResult& result) {
        std::vector<std::string> names;
        SafeNames(wholePath, names);
        const fs::path folder = SetFolder() / "parts" / PartsFolder(wholePath);
        std::error_code ec;
        fs::create_directories(folder, ec);
        fs::rename(QvCliFsPath(file.staged), folder / std::to_string(number), ec);
        if (ec) {
            result.findings.push_back({"refused", file.path, "cannot be kept aside (" + ec.message() + ")"});
            return;
        }
        std::ofstream(folder / ("sum" + std::to_string(number)), std::ios::trunc) << file.hex;
        if (!fs::exists(folder / "time", ec)) std::ofstream(folder / "time") << file.writeTime << " " << file.mode;
        ++result.parts;
    }

    static std::string PartsFolder(const std::string& wholePath) {
        // One folder per cut file, named by its path's checksum: any path, any length.
        QvCliSha256 hash;
        hash.Update(wholePath.data(), wholePath.size());
        unsigned char digest[32];
        hash.Digest(digest);
        return QvCliHex(digest).substr(0, 32);
    }

    void JoinCut(const QvCliMediumNotes::Cut& cut, std::vector<std::string>& joined, std::vector<Finding>& findings,
              std::vector<std::string>& waiting) {
        const fs::path folder = SetFolder() / "parts" / PartsFolder(cut.path);
        std::error_code ec;
        if (!fs::exists(folder, ec)) return;
        std::string missing, media;
        std::set<int> on;
        for (int n = 1; n <= cut.parts; ++n)
            if (!fs::exists(folder / std::to_string(n), ec)) {
                missing += (missing.empty() ? "" : ", ") + std::to_string(n);
                on.insert(cut.media[static_cast<size_t>(n - 1)]);
            }
        if (!missing.empty()) {
            for (int m : on) media += (media.empty() ? "" : ", ") + std::to_string(m);
            waiting.push_back(cut.path + ": waits for its part" + (missing.find(',') == std::string::npos ? " " : "s ") +
                              missing + " of " + std::to_string(cut.parts) + " (on medium " + media + ")");
            return;
        }
        std::vector<std::string> names;
        std::string error;
        if (!SafeNames(cut.path, names)) {
            findings.push_back({"refused", cut.path, "its path climbs out of the destination"});
            return;
        }
        if (!MakeFolders(m_dir, names, names.size() - 1, error)) {
            findings.push_back({"refused", cut.path, error});
            return;
        }
        const fs::path final = Below(m_dir, names, names.size());
        const Found found = Look(final);
        // There already: kept when each part's bytes are what the file holds there.
        if (found == Found::kFile && SameAsParts(final, folder, cut.parts)) {
            DiscardParts(folder);
            return;
        }
        if (found != Found::kNothing && !m_o.overwrite && !m_follows) {
            findings.push_back({"differs", cut.path, "a different file is there: not overwritten (--overwrite replaces it)"});
            return;
        }
        const fs::path temp = m_work / "staging" / "joining";
        fs::create_directories(temp.parent_path(), ec);
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            for (int n = 1; n <= cut.parts && out; ++n) {
                std::ifstream in(folder / std::to_string(n), std::ios::binary);
                // A file of an exact multiple of the part size ends with an empty part, of
                // which there is nothing to copy (a stream given none fails).
                if (!in) out.setstate(std::ios::failbit);
                if (in && in.peek() != std::ifstream::traits_type::eof()) out << in.rdbuf();
            }
            out.flush();
            if (!out) {
                findings.push_back({"refused", cut.path, "cannot be joined (disk full?)"});
                fs::remove(temp, ec);
                return;
            }
        }
        // The joined file takes its time and mode before its name, so that a run stopped at
        // any point leaves it either absent or whole and right.
        int64_t writeTime = 0;
        uint32_t mode = 0;
        std::ifstream(folder / "time") >> writeTime >> mode;
        SetTimeAndMode(temp, writeTime, mode, false);
        if (found == Found::kFolder) fs::remove(final, ec);
        fs::rename(temp, final, ec);
        if (ec) {
            findings.push_back({"refused", cut.path, "cannot be written (" + ec.message() + ")"});
            return;
        }
        DiscardParts(folder);
        joined.push_back(cut.path + " (" + std::to_string(cut.parts) + " parts)");
    }

    // The parts of a joined file leave the set's folder in one step, into the staging folder
    // that every run empties: a run stopped while it removed them one by one would leave some,
    // and a later run would wait for the others forever.
    void DiscardParts(const fs::path& folder) {
        std::error_code ec;
        const fs::path aside = m_work / "staging" / ("joined-" + folder.filename().string());
        fs::remove_all(aside, ec);
        fs::rename(folder, aside, ec);
        fs::remove_all(ec ? folder : aside, ec);
    }

    static bool SameAsParts(const fs::path& file, const fs::path& folder, int parts) {
        std::error_code ec;
        uint64_t offset = 0;
        for (int n = 1; n <= parts; ++n) {
            const uint64_t size = fs::file_size(folder / std::to_string(n), ec);
            std::string sum;
            std::ifstream(folder / ("sum" + std::to_string(n))) >> sum;
            if (ec || HashOf(file, offset, size) != sum) return false;
            offset += size;
        }
        return fs::file_size(file, ec) == offset && !ec;
    }

    void PlaceLink(const LinkEntry& link, MediumResult& result) {
        std::string error;
        if (!MakeFolders(m_dir, link.names, link.names.size() - 1, error)) {
            result.findings.push_back({"refused", link.path, error});
            return;
        }
        const fs::path final = Below(m_dir, link.names, link.names.size());
        std::error_code ec;
        const Found found = Look(final);
        if (found == Found::kLink && QvCliPathText(fs::read_symlink(final, ec)) == link.target) {
            ++result.skipped;
            return;
        }
        if (found != Found::kNothing) {
            if ((!m_o.overwrite && !m_follows) || found == Found::kFolder) {
                result.findings.push_back({"differs", link.path, "something else is there: not overwritten (--overwrite replaces a file)"});
                return;
            }
            fs::remove(final, ec);
        }
        fs::create_symlink(QvCliFsPath(link.target), final, ec);
        if (ec) {
            result.findings.push_back({"refused", link.path, "link cannot be made (" + ec.message() + ")"});
            return;
        }
        SetTimeAndMode(final, link.writeTime, 0, true);
        ++result.restored;
    }

    const QvCliOptions& m_o;
    fs::path m_dir, m_work;
    QvCliByteProgress m_progress;
    std::string m_set;
    bool m_follows = false;  // the set follows earlier sets: its files replace theirs
    std::set<int> m_seen;
    std::map<int, std::string> m_seenSource;
    std::map<std::string, QvCliMediumNotes::Cut> m_cuts;
    std::vector<std::string> m_deleted;
    std::vector<FolderEntry> m_folders;
};

void PrintFindings(const std::vector<Finding>& findings) {
    for (const Finding& f : findings) {
        std::string label = f.state;
        label.resize(12, ' ');
        std::cout << "  " << label << " " << QvCliShown(f.path) << (f.detail.empty() ? "" : " (" + QvCliShownMessage(f.detail) + ")") << "\n";
    }
}

void PrintFindingsJson(const std::vector<Finding>& findings) {
    std::cout << "[";
    for (size_t j = 0; j < findings.size(); ++j) {
        const Finding& f = findings[j];
        std::cout << (j ? ", " : "") << "{\"state\": " << QvCliJsonString(f.state) << ", \"path\": " << QvCliJsonString(f.path);
        if (!f.detail.empty()) std::cout << ", \"detail\": " << QvCliJsonString(f.detail);
        std::cout << "}";
    }
    std::cout << "]";
}

void PrintStrings(const std::vector<std::string>& texts) {
    std::cout << "[";
    for (size_t i = 0; i < texts.size(); ++i) std::cout << (i ? ", " : "") << QvCliJsonString(texts[i]);
    std::cout << "]";
}

}  // namespace

int QvCliRunRestore(const QvCliOptions& o) {
    if (o.toDir.empty()) return QvCliFail(kExitUsage, "--to is required");
    if (o.operands.empty()) return QvCliFail(kExitUsage, "restore takes one or more images, archives or folders\n\n" + QvCliUsage("restore"));
    std::string error;
    if (!QvCliSha256::Available(error)) return QvCliFail(kExitFailed, error);
    Restorer restorer(o);
    if (!restorer.Begin(error)) return QvCliFail(kExitFailed, error);
    std::vector<MediumResult> results;
    int status = kExitOk;
    for (const std::string& source : o.operands) {
        MediumResult result;
        const int one = restorer.Medium(source, result);
        if (one == kExitCancelled) {
            restorer.Abandon();
            return QvCliFail(kExitCancelled, "cancelled while reading " + QvCliShown(source) +
                                                 "; the files restored before stay, and a new run goes on from there");
        }
        if (one != kExitOk) status = kExitFailed;
        results.push_back(std::move(result));
    }
    uint64_t restored = 0, skipped = 0;
    for (const MediumResult& r : results) restored += r.restored, skipped += r.skipped;
    std::vector<std::string> joined, waiting;
    std::vector<Finding> findings;
    uint64_t deleted = 0;
    restorer.End(joined, findings, waiting, deleted);
    if (!findings.empty()) status = kExitFailed;
    if (o.json) {
        std::cout << "{\"to\": " << QvCliJsonString(o.toDir) << ", \"set\": " << QvCliJsonString(restorer.Set())
                  << ", \"restored\": " << restored << ", \"skipped\": " << skipped << ", \"joined\": ";
        PrintStrings(joined);
        std::cout << ", \"deleted\": " << deleted << ", \"waiting\": ";
        PrintStrings(waiting);
        std::cout << ", \"problems\": ";
        PrintFindingsJson(findings);
        std::cout << ", \"media\": [";
        for (size_t i = 0; i < results.size(); ++i) {
            const MediumResult& r = results[i];
            std::cout << (i ? ",\n " : "\n ") << "{\"source\": " << QvCliJsonString(r.source) << ", \"medium\": " << r.medium
                      << ", \"restored\": " << r.restored << ", \"skipped\": " << r.skipped << ", \"parts\": " << r.parts
                      << ", \"error\": " << (r.error.empty() ? "null" : QvCliJsonString(r.error)) << ", \"findings\": ";
            PrintFindingsJson(r.findings);
            std::cout << "}";
        }
        std::cout << (results.empty() ? "]}\n" : "\n]}\n");
        return status;
    }
    for (const MediumResult& r : results) {
        std::cout << QvCliShown(r.source);
        if (r.medium) std::cout << " (medium " << r.medium << ")";
        std::cout << ": " << QvCliGrouped(r.restored) << " restored";
        if (r.skipped) std::cout << ", " << QvCliGrouped(r.skipped) << " already there";
        if (r.parts) std::cout << ", " << QvCliGrouped(r.parts) << (r.parts == 1 ? " part" : " parts") << " of cut files";
        std::cout << "\n";
        if (!r.error.empty()) std::cout << "  failed       " << QvCliShownMessage(r.error) << "\n";
        PrintFindings(r.findings);
    }
    for (const std::string& j : joined) std::cout << "joined " << QvCliShownMessage(j) << "\n";
    PrintFindings(findings);
    if (deleted) std::cout << "removed " << QvCliGrouped(deleted) << (deleted == 1 ? " file" : " files") << " the set records as deleted\n";
    for (const std::string& w : waiting) std::cout << "not yet: " << QvCliShownMessage(w) << "\n";
    std::cout << "restored " << QvCliGrouped(restored) << (restored == 1 ? " entry" : " entries");
    if (skipped) std::cout << " (" << QvCliGrouped(skipped) << " already there)";
    std::cout << " into " << QvCliShown(o.toDir) << "\n";
    return status;
}
