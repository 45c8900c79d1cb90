// The pack command: each medium of a plan made into an ISO image, a tar archive or a
// graft-point path list.
#include "pack/QvCliPack.h"

#include "QvCliCommands.h"
#include "check/QvCliChecksums.h"
#include "check/QvCliMediumNotes.h"
#include "mediaset/QvCliMediumLayout.h"
#include "pack/QvCliIsoImage.h"
#include "pack/QvCliPathList.h"
#include "pack/QvCliTarArchive.h"
#include "report/QvCliHtmlReport.h"
#include "report/QvCliPlanRecord.h"
#include "report/QvCliReport.h"
#include "system/QvCliGzip.h"
#include "system/QvCliPaths.h"
#include "system/QvCliProgress.h"
#include "system/QvCliShown.h"
#include "system/QvCliSystem.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The catalogue files every medium carries at its root: the report page of the whole set,
// marking the medium it is on, and the text list of every entry, with the SHA-256 of each file
// of that medium (the page holds them in a block of its own, the list at its end). Made once
// for the set; each medium's copy is made while its image or archive is written, after the
// files whose checksums it carries, its size counted ahead.
// Where the program compresses, the page carries the set's data as base64 of gzip (the page
// unpacks it), and the list is QVSPLIT-CATALOG.txt.gz: a member for its first line, one for
// the rows (the same on every medium, compressed once) and one, stored, for the checksums, so
// that its size is known before they are.
const char* const kCatalogPage = "QVSPLIT-CATALOG.html";
const char* const kCatalogText = "QVSPLIT-CATALOG.txt";
const char* const kCatalogTextGz = "QVSPLIT-CATALOG.txt.gz";

class CatalogFiles {
public:
    bool Start(QvCliMediaSet& set, const std::string& label, std::string& error) {
        m_label = label;
        // The folders kept whole are read once for the page and the list.
        QvCliSetFiles files;
        if (!QvCliReadSetFiles(set, files, error)) return false;
        std::string reason;
        m_compact = QvCliGzipAvailable(reason);
        std::string page = QvCliMakeReport(set, files, 0);
        const std::string text = QvCliTextCatalog(set, files, 0);
        m_listing = text.substr(text.find('\n') + 1);
        // Each medium's rows are together in the list, in the order of the page's rows.
        size_t row = 0;
        for (size_t at = 0; at < m_listing.size(); ++row) {
            size_t end = m_listing.find('\n', at);
            end = end == std::string::npos ? m_listing.size() : end + 1;
            const int number = std::atoi(m_listing.c_str() + at);
            Rows& rows = m_rows[number];
            if (rows.end == 0) {
                rows.first = at;
                rows.row = row;
            }
            rows.end = end;
            at = end;
        }
        if (!SplitPage(page)) {
            error = "the catalogue page could not be made";
            return false;
        }
        if (m_compact) {
            m_listingGz = QvCliGzip(m_listing, kQvCliCatalogLevel);
            if (m_listingGz.empty()) {
                error = "the catalogue list could not be compressed (out of memory?)";
                return false;
            }
        }
        return true;
    }

    // Adds the two files of medium number to its layout.
    void Put(int number, QvCliMediumLayout& layout) {
        // Sized with a checksum for each of the medium's files that the list names.
        std::set<std::string> files;
        for (const QvCliPackItem& item : layout.items)
            if (item.kind == QvCliPackItem::kFile) files.insert(item.hostPath);
        const std::string digits(64, '0');
        const Made made = Make(number, [&](const std::string& path) { return files.count(path) ? digits : std::string(); });
        const char* const textName = m_compact ? kCatalogTextGz : kCatalogText;
        for (const auto& file : {std::make_pair(kCatalogPage, made.page.size()), std::make_pair(textName, made.text.size())}) {
            QvCliPackItem item;
            item.kind = QvCliPackItem::kGenerated;
            item.mediumPath = file.first;
            item.size = file.second;
            layout.items.push_back(item);
            layout.fileBytes += item.size;
        }
        m_bytes = made.page.size() + made.text.size();
        layout.hashing = true;
        // Both files come from one making: the first asked makes them, the second takes its own
        // and lets them go.
        auto kept = std::make_shared<std::pair<int, Made>>();
        layout.generate = [this, number, kept](const QvCliMediumLayout& written, size_t index) {
            if (kept->first == 0) {
                std::map<std::string, size_t> digest;
                for (size_t i = 0; i < written.items.size(); ++i)
                    if (written.items[i].kind == QvCliPackItem::kFile) digest[written.items[i].hostPath] = i;
                kept->second = Make(number, [&](const std::string& path) {
                    const auto found = digest.find(path);
                    return found == digest.end() ? std::string() : QvCliHex(written.digests[found->second].data());
                });
            }
            std::string content = written.items[index].mediumPath == kCatalogPage ? std::move(kept->second.page)
                                                                                   : std::move(kept->second.text);
            if (++kept->first == 2) *kept = std::make_pair(0, Made());
            return content;
        };
    }
    // The two files' bytes as last added.
    uint64_t Bytes() const { return m_bytes; }

private:
    struct Made {
        std::string page, text;
    };

    // Keeps the page around its data: what comes before the data's block and after it. A
    // compact page carries the data compressed, and the medium's number in a block of its own.
    bool SplitPage(const std::string& page) {
        static const char kOpen[] = "<script type=\"application/json\" id=\"qvsplit-data\">";
        const size_t open = page.find(kOpen);
        const size_t data = open == std::string::npos ? open : open + sizeof kOpen - 1;
        const size_t close = data == std::string::npos ? data : page.find("</script>", data);
        const size_t end = page.rfind("</body>");
        if (close == std::string::npos || end == std::string::npos || end < close) return false;
        if (m_compact) {
            const std::string gz = QvCliGzip(std::string_view(page).substr(data, close - data), kQvCliCatalogLevel);
            if (gz.empty()) return false;
            m_pageHead = page.substr(0, open) + "<script type=\"application/octet-stream\" id=\"qvsplit-data-gz\">" +
                         QvCliBase64(gz) + "</script>\n<script type=\"application/json\" id=\"qvsplit-here\">";
            m_pageMiddle = page.substr(close, end - close);
        } else {
            const size_t here = page.find("\"here\": 0,", data);
            if (here == std::string::npos || here > close) return false;
            m_pageHead = page.substr(0, here) + "\"here\": ";
            m_pageMiddle = page.substr(here + 9, end - here - 9);
        }
        m_pageEnd = page.substr(end);
        // The middle begins with the end of the here block on a compact page, "," on a plain one.
        if (m_compact) m_pageMiddle = "</script>\n" + m_pageMiddle.substr(std::string("</script>").size());
        return true;
    }

    // The files of medium number, with the checksum hexOf gives each path of its rows (none
    // when it gives an empty text).
    Made Make(int number, const std::function<std::string(const std::string&)>& hexOf) const {
        Made made;
        made.page = m_pageHead + std::to_string(number) + m_pageMiddle;
        std::string block, sums;
        const auto rows = m_rows.find(number);
        const size_t from = rows == m_rows.end() ? 0 : rows->second.first, to = rows == m_rows.end() ? 0 : rows->second.end;
        size_t row = rows == m_rows.end() ? 0 : rows->second.row;
        std::string text = QvCliTextCatalogHeader(number, m_compact, m_label);
        if (!m_compact) text.append(m_listing, 0, from);
        for (size_t at = from; at < to; ++row) {
            const size_t end = m_listing.find('\n', at);
            std::string line = m_listing.substr(at, end - at);
            at = end + 1;
            const size_t t3 = line.find('\t', line.find('\t', line.find('\t') + 1) + 1);
            const std::string path = t3 == std::string::npos || line.back() == '/' ? std::string() : Unescaped(line.substr(t3 + 1));
            const std::string hex = path.empty() ? std::string() : hexOf(path);
            if (!hex.empty()) {
                line += "\t" + hex;
                block += (block.empty() ? "\"" : ",\"") + std::to_string(row) + "\":\"" + hex + "\"";
                sums += "sha256\t" + hex + "\t" + line.substr(t3 + 1, line.size() - t3 - 66) + "\n";
            }
            if (!m_compact) text += line + "\n";
        }
        if (m_compact) {
            made.text = QvCliGzip(text, kQvCliCatalogLevel) + m_listingGz +
                        QvCliStoredGzip(QvCliTextCatalogSumsHeader(number) + sums);
        } else {
            made.text = std::move(text);
            made.text.append(m_listing, to, std::string::npos);
        }
        made.page += "<script type=\"application/json\" id=\"qvsplit-sums\">{" + block + "}</script>\n";
        made.page += m_pageEnd;
        return made;
    }

    // A path as the list shows it, as it is.
    static std::string Unescaped(const std::string& shown) {
        std::string path;
        return QvCliUnshown(shown, path) ? path : shown;
    }

    bool m_compact = false;
    std::string m_label;
    std::string m_pageHead, m_pageMiddle, m_pageEnd, m_listing, m_listingGz;
    // Each medium's rows in the list: [first, end), and the index of its first row.
    struct Rows {
        size_t first = 0, end = 0, row = 0;
    };
    std::map<int, Rows> m_rows;
    uint64_t m_bytes = 0;
};

// The medium notes every ISO image and tar archive carries at its root (QVSPLIT-MEDIUM.txt):
// the set, the medium's number, the files cut into parts with a part on it, and the deletions
// the set records. Made from the whole set once; each medium's written into a temporary folder
// just before its image is measured or written, as the catalogue files are.
class NotesFiles {
public:
    bool Start(QvCliMediaSet& set, const QvCliPlanRecord& record, const std::string& identity, std::string& error) {
        m_dir = QvCliMakeTempDir("qvsplit-notes-");
        if (m_dir.empty()) {
            error = "no temporary folder for the medium notes";
            return false;
        }
        m_notes.set = identity;
        m_notes.media = static_cast<int>(set.media.size());
        // The parts of every cut file, wherever they are: a medium names the media of the others.
        std::map<std::string, QvCliMediumNotes::Cut> cuts;
        std::map<int, std::set<std::string>> cutsOn;
        for (const QvCliMedium& planned : set.media) {
            QvCliMedium m = planned;
            if (!QvCliLoadMedium(set, m, error)) return false;
            for (const QvCliEntry& e : m.entries) {
                if (e.isDir || e.isLink) continue;
                const std::string host = QvCliToHostPath(e.fullPath);
                std::string whole, path;
                int number = 0;
                if (!QvCliPartName(QvCliPathText(QvCliFsPath(host).filename()), whole, number)) continue;
                std::string ignored;
                if (!QvCliMediumPath(e.targetPath, whole, path, ignored)) continue;
                QvCliMediumNotes::Cut& cut = cuts[path];
                cut.path = path;
                if (cut.media.size() < static_cast<size_t>(number)) cut.media.resize(static_cast<size_t>(number), 0);
                cut.media[static_cast<size_t>(number - 1)] = m.number;
                cut.parts = static_cast<int>(cut.media.size());
                cutsOn[m.number].insert(path);
            }
        }
        for (auto& on : cutsOn)
            for (const std::string& path : on.second) m_cutsOn[on.first].push_back(cuts[path]);
        for (const auto& deleted : QvCliLoadDeletedTargets(set.dir)) {
            std::string path, ignored;
            if (QvCliMediumPath(deleted.first, QvCliToHostPath(deleted.second), path, ignored)) m_notes.deleted.push_back(path);
        }
        m_notes.follows = static_cast<int>(record.since.sets.size());
        return true;
    }
    ~NotesFiles() {
        std::error_code ec;
        if (!m_dir.empty()) fs::remove_all(QvCliFsPath(m_dir), ec);
    }
    // The notes of medium number whose checksum list has files lines.
    std::string Text(int number, uint64_t files) const {
        QvCliMediumNotes notes = m_notes;
        notes.medium = number;
        const auto on = m_cutsOn.find(number);
        if (on != m_cutsOn.end()) notes.cuts = on->second;
        notes.files = files;
        return QvCliNotesText(notes);
    }
    // The notes of medium number for a layout that holds files (the notes and the checksum list
    // about to be added counted), added to it.
    bool Put(int number, QvCliMediumLayout& layout, std::string& text, std::string& error) {
        uint64_t files = 1;
        for (const QvCliPackItem& item : layout.items)
            files += item.kind == QvCliPackItem::kFile || item.kind == QvCliPackItem::kGenerated ? 1 : 0;
        text = Text(number, files);
        if (!Write(text, error)) return false;
        QvCliPackItem item;
        item.mediumPath = kQvCliNotesFile;
        item.hostPath = QvCliPathText(QvCliFsPath(m_dir) / kQvCliNotesFile);
        item.size = text.size();
        // First on the medium: a reader knows the set before its files.
        layout.items.insert(layout.items.begin(), item);
        layout.fileBytes += item.size;
        return true;
    }
    bool Write(const std::string& text, std::string& error) {
        std::ofstream out(QvCliFsPath(m_dir) / kQvCliNotesFile, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) error = QvCliShown(QvCliPathText(QvCliFsPath(m_dir) / kQvCliNotesFile)) + ": cannot be written (disk full?)";
        return static_cast<bool>(out);
    }

private:
    std::string m_dir;
    QvCliMediumNotes m_notes;
    std::map<int, std::vector<QvCliMediumNotes::Cut>> m_cutsOn;
};

// One medium on its way to a file.
struct PackJob {
    const QvCliMedium* medium = nullptr;
    QvCliMediumLayout layout;
    std::unique_ptr<QvCliIsoImage> image;  // iso only
    uint64_t imageBytes = 0;               // iso and tar: the exact size measured before writing
    uint64_t capacityBytes = 0;
    std::string fileName;                  // "Media1.iso"
    uint64_t bytesWritten = 0;
    bool written = false;
    bool catalog = false;                  // carries the catalogue files
    uint64_t catalogBytes = 0;
    bool sums = false;                     // carries the checksum list and the notes
    uint64_t sumsBytes = 0;
    std::string notes;                     // the notes' text
    std::string volumeId;                  // iso: the image's volume id
};

// Whether the options put the catalogue on the media: --catalog, or by default on ISO images.
bool WantsCatalog(const QvCliOptions& o) {
    return o.catalog == 1 || (o.catalog == -1 && o.format == "iso");
}

std::string Stem(const std::string& mediaFileName) {
    const size_t dot = mediaFileName.rfind('.');
    return dot == std::string::npos ? mediaFileName : mediaFileName.substr(0, dot);
}

std::string VolumeId(const std::string& stem) {
    std::string id;
    for (char c : stem) id += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return id.substr(0, 32);
}

// The volume id of a medium of a set labelled label: the label, "-" and the medium's number
// in two digits at least ("QV20261210-1430-01"); a set made before sets had labels keeps the
// media file's name.
std::string VolumeId(const std::string& label, const QvCliMedium& m) {
    if (label.empty()) return VolumeId(Stem(m.fileName));
    const std::string number = std::to_string(m.number);
    return VolumeId(label + (number.size() < 2 ? "-0" : "-") + number);
}

std::string SectorText(uint64_t bytes) { return QvCliGrouped(bytes / kQvCliSectorBytes) + " sectors"; }

bool Measured(const std::string& format) { return format == "iso" || format == "tar"; }

// The refusal of an image or archive larger than its medium.
std::string TooBig(const std::string& format, const PackJob& job) {
    if (format == "tar")
        return job.medium->fileName + ": the tar archive would take " + QvCliGrouped(job.imageBytes) +
               " bytes, more than the capacity of " + QvCliGrouped(job.capacityBytes) + " bytes";
    return job.medium->fileName + ": the ISO image would take " + SectorText(job.imageBytes) + " (" +
           QvCliGrouped(job.imageBytes) + " bytes), more than the capacity of " + SectorText(job.capacityBytes) +
           " (" + QvCliGrouped(job.capacityBytes) + " bytes)";
}

// What to do when the plan was made for another file system than the one packed: each counts
// its own structures in every fit.
std::string PlanAdvice(const std::string& format, const QvCliPlanRecord& record) {
    const std::string planned = record.fileSystem.empty() ? "none" : record.fileSystem;
    if (planned == format || (format == "iso" && planned == "iso-udf")) return std::string();
    return "; the plan was made " + (planned == "none" ? std::string("for file bytes alone") : "for " + planned) +
           ": split with --fs " + format + " to plan for " + (format == "tar" ? "tar archives" : "ISO images");
}

bool CheckFormatAvailable(const std::string& format, std::string& reason) {
    if (format == "iso") return QvCliIsoImage::Available(reason);
    if (format == "tar") return QvCliTarArchive::Available(reason);
    return true;
}

// Lays out one medium, with the catalogue files when catalog is given and the checksum list
// when sums, and for an ISO image or a tar archive measures it.
bool LayOutAndMeasure(const QvCliOptions& o, PackJob& job, CatalogFiles* catalog, NotesFiles* sums, std::string& error) {
    const QvCliMedium& m = *job.medium;
    if (!QvCliLayOutMedium(m, o.format != "list", job.layout, error)) return false;
    job.catalog = catalog != nullptr;
    if (catalog) {
        catalog->Put(m.number, job.layout);
        job.catalogBytes = catalog->Bytes();
    }
    job.sums = false;
    if (sums && QvCliSha256::Available(error)) {
        if (!sums->Put(m.number, job.layout, job.notes, error)) return false;
        job.sums = QvCliAddSumsItem(job.layout);
        job.sumsBytes = job.layout.items.back().size + job.notes.size();
    }
    // Without them on the medium its files are hashed all the same, for the copies beside the plan.
    if (Measured(o.format) && QvCliSha256::Available(error)) job.layout.hashing = true;
    error.clear();
    if (o.format == "iso") {
        job.image.reset(new QvCliIsoImage);
        if (!job.image->Build(job.layout, job.volumeId, error) || !job.image->Measure(job.imageBytes, error)) {
            error = m.fileName + ": " + error;
            return false;
        }
        // An image with the catalogue has a tree the size of the set's: it is built again
        // when it is written, so that a set of many media never holds all their trees.
        if (catalog) job.image.reset();
    } else if (o.format == "tar" && !QvCliTarArchive::Measure(job.layout, job.imageBytes, error)) {
        error = m.fileName + ": " + error;
        return false;
    }
    return true;
}

// What a medium too big with its catalogue can do instead.
std::string CatalogAdvice(const PackJob& job, uint64_t reserve) {
    if (!job.catalog) return std::string();
    return "; that counts the catalogue files (" + QvCliGrouped(job.catalogBytes) + " bytes), for which the plan kept " +
           (reserve ? QvCliGrouped(reserve) + " bytes" : std::string("no room")) +
           ": pack with --no-catalog, or split again with --catalog to keep room for them";
}

// Lays out every chosen medium, and for ISO images and tar archives measures them. By
// default a medium whose plan kept no room for the catalogue files goes without them, said so.
// Each medium is read here and its entries dropped once laid out: the layouts are what is kept.
int Prepare(const QvCliOptions& o, QvCliMediaSet& set, std::vector<PackJob>& jobs, CatalogFiles* catalog,
            NotesFiles* notes, const QvCliPlanRecord& record) {
    const uint64_t reserve = record.catalogReserve;
    for (QvCliMedium& m : set.media) {
        if (o.medium && m.number != static_cast<int>(o.medium)) continue;
        if (QvCliInterrupted()) return kExitCancelled;
        std::string error;
        if (!QvCliLoadMedium(set, m, error)) return QvCliFail(kExitFailed, error + "; nothing to pack");
        PackJob job;
        job.medium = &m;
        job.fileName = Stem(m.fileName) + "." + o.format;
        job.capacityBytes = QvCliCapacityBytes(o, m);
        job.volumeId = VolumeId(record.label, m);
        if (!LayOutAndMeasure(o, job, catalog, notes, error)) return QvCliFail(kExitFailed, error);
        if (catalog && o.catalog == -1 && Measured(o.format) && job.imageBytes > job.capacityBytes) {
            PackJob plain;
            plain.medium = job.medium;
            plain.fileName = job.fileName;
            plain.capacityBytes = job.capacityBytes;
            plain.volumeId = job.volumeId;
            if (!LayOutAndMeasure(o, plain, nullptr, job.sums ? notes : nullptr, error)) return QvCliFail(kExitFailed, error);
            // Without room kept, the checksum list may give way as well (below).
            PackJob bare;
            bare.medium = job.medium;
            bare.capacityBytes = job.capacityBytes;
            bare.volumeId = job.volumeId;
            const bool fitsBare = plain.imageBytes > plain.capacityBytes && plain.sums && !reserve &&
                                  LayOutAndMeasure(o, bare, nullptr, nullptr, error) && bare.imageBytes <= bare.capacityBytes;
            if (plain.imageBytes <= plain.capacityBytes || fitsBare)
                std::cerr << "qvsplit: " << m.fileName << ": no room for the catalogue files (" << QvCliGrouped(job.catalogBytes)
                          << " bytes; the plan kept " << (reserve ? QvCliGrouped(reserve) + " bytes" : std::string("no room"))
                          << "): made without them (split with --catalog to keep room)\n";
            // One too big without them is refused for what the plan holds.
            job = std::move(plain);
        }
        // A plan that kept no room (made with --no-catalog, while cutting files, or before
        // media carried checksums) gets the list where it still fits; elsewhere the medium is
        // made without it, said so.
        if (job.sums && !reserve && job.imageBytes > job.capacityBytes) {
            PackJob plain;
            plain.medium = job.medium;
            plain.fileName = job.fileName;
            plain.capacityBytes = job.capacityBytes;
            plain.volumeId = job.volumeId;
            if (!LayOutAndMeasure(o, plain, job.catalog ? catalog : nullptr, nullptr, error)) return QvCliFail(kExitFailed, error);
            if (plain.imageBytes <= plain.capacityBytes)
                std::cerr << "qvsplit: " << m.fileName << ": no room for the checksum list " << kQvCliSumsFile << " and "
                          << kQvCliNotesFile << " (" << QvCliGrouped(job.sumsBytes) << " bytes; the plan kept none): made "
                          << "without them; they are beside the plan (" << Stem(m.fileName) << ".SHA256SUMS, " << Stem(m.fileName)
                          << ".MEDIUM.txt): check and restore that medium with --plan " << o.operands[0] << "\n";
            job = std::move(plain);
        }
        std::vector<QvCliEntry>().swap(m.entries);
        jobs.push_back(std::move(job));
    }
    if (jobs.empty()) return QvCliFail(kExitFailed, QvCliShown(set.dir) + ": no medium " + std::to_string(o.medium) + " in this set");
    // An image or archive that cannot fit its medium is refused before any is written.
    int status = kExitOk;
    for (const PackJob& job : jobs)
        if (Measured(o.format) && job.imageBytes > job.capacityBytes)
            status = QvCliFail(kExitFailed, TooBig(o.format, job) + CatalogAdvice(job, reserve) + PlanAdvice(o.format, record));
    if (status != kExitOk) std::cerr << "qvsplit: nothing was written\n";
    return status;
}

// A copy of a medium's checksum list or notes in the plan's folder ("Media1.SHA256SUMS",
// "Media1.MEDIUM.txt").
QvCliWriteOutcome WriteBesidePlan(const QvCliOptions& o, const std::string& name, const std::string& text, std::string& error) {
    const fs::path file = QvCliFsPath(o.operands[0]) / QvCliFsPath(name);
    const fs::path temp = file.string() + ".qvsplit-partial";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            error = QvCliShown(QvCliPathText(temp)) + ": cannot be written (disk full?)";
            return QvCliWriteOutcome::kFailed;
        }
    }
    std::error_code ec;
    fs::rename(temp, file, ec);
    if (!ec) return QvCliWriteOutcome::kWritten;
    error = QvCliShown(QvCliPathText(file)) + ": cannot be written (" + ec.message() + ")";
    fs::remove(temp, ec);
    return QvCliWriteOutcome::kFailed;
}

// Writes one medium to a temporary name in the output folder and gives it its final name only
// once it is whole.
int WriteJob(const QvCliOptions& o, PackJob& job, NotesFiles* notes, QvCliByteProgress& progress) {
    const fs::path final = QvCliFsPath(o.toDir) / QvCliFsPath(job.fileName);
    const fs::path temp = QvCliFsPath(o.toDir) / QvCliFsPath("." + job.fileName + ".qvsplit-partial");
    const std::string tempText = QvCliPathText(temp);
    progress.label = job.fileName;
    const auto onProgress = [&progress](uint64_t done) {
        QvCliByteProgressUpdate(progress, done);
        return !QvCliInterrupted();
    };
    std::string error;
    QvCliWriteOutcome outcome = QvCliWriteOutcome::kWritten;
    if (job.sums && notes && !notes->Write(job.notes, error))
        return QvCliFail(kExitFailed, error + "; " + job.fileName + " was not written");
    if (o.format == "iso" && !job.image) {
        job.image.reset(new QvCliIsoImage);
        if (!job.image->Build(job.layout, job.volumeId, error))
            return QvCliFail(kExitFailed, job.medium->fileName + ": " + error + "; " + job.fileName + " was not written");
    }
    if (o.format == "iso") {
        outcome = job.image->Write(tempText, onProgress, job.bytesWritten, error);
    } else if (o.format == "tar") {
        outcome = QvCliTarArchive::Write(job.layout, tempText, onProgress, job.bytesWritten, error);
    } else if (!QvCliPathList::Write(job.layout, tempText, job.bytesWritten, error)) {
        outcome = QvCliWriteOutcome::kFailed;
    }
    progress.base += o.format == "iso" ? job.imageBytes : job.layout.fileBytes;
    // The list the medium got, beside the plan as well: a disc can be checked against it
    // without trusting the list on the disc.
    // The list and the notes beside the plan as well: a disc can be checked against them without
    // trusting its own, and a medium made without room for them is checked and restored with them.
    if (outcome == QvCliWriteOutcome::kWritten && job.layout.hashing && notes) {
        const std::string sums = o.format == "iso" ? job.image->SumsText() : QvCliSumsText(job.layout);
        const std::string text = job.sums ? job.notes : notes->Text(job.medium->number, std::count(sums.begin(), sums.end(), '\n'));
        outcome = WriteBesidePlan(o, Stem(job.medium->fileName) + ".SHA256SUMS", sums, error);
        if (outcome == QvCliWriteOutcome::kWritten) outcome = WriteBesidePlan(o, Stem(job.medium->fileName) + ".MEDIUM.txt", text, error);
    }
    if (o.format == "iso") job.image.reset();  // its tree is no longer needed
    std::error_code ec;
    if (outcome == QvCliWriteOutcome::kWritten) fs::rename(temp, final, ec);
    if (outcome != QvCliWriteOutcome::kWritten || ec) {
        QvCliByteProgressDone(progress);
        fs::remove(temp, ec);
        if (outcome == QvCliWriteOutcome::kStopped) return QvCliFail(kExitCancelled, "cancelled; " + job.fileName + " was not written");
        if (error.empty()) error = QvCliShown(QvCliPathText(final)) + ": cannot be given its name (" + ec.message() + ")";
        return QvCliFail(kExitFailed, job.medium->fileName + ": " + error + "; " + job.fileName + " was not written");
    }
    return kExitOk;
}

void PrintRow(const QvCliOptions& o, const PackJob& job, std::ostream& out) {
    out << job.medium->fileName << " -> " << job.fileName << "  " << job.medium->entryCount << " entries  "
        << QvCliGrouped(job.bytesWritten) << " bytes";
    if (o.format == "iso") {
        const double fill = job.capacityBytes ? 100.0 * static_cast<double>(job.imageBytes) / static_cast<double>(job.capacityBytes) : 0.0;
        char share[32];
        std::snprintf(share, sizeof share, "%.1f%%", fill);
        out << "  " << QvCliGrouped(job.imageBytes / kQvCliSectorBytes) << " of " << SectorText(job.capacityBytes) << " (" << share << ")";
    } else if (o.format == "tar") {
        const double fill = job.capacityBytes ? 100.0 * static_cast<double>(job.bytesWritten) / static_cast<double>(job.capacityBytes) : 0.0;
        char share[32];
        std::snprintf(share, sizeof share, "%.1f%%", fill);
        out << " of " << QvCliGrouped(job.capacityBytes) << " (" << share << ")";
    }
    out << "\n";
}

void PrintJson(const QvCliOptions& o, const std::vector<PackJob>& jobs, std::ostream& out) {
    out << "{\"format\": " << QvCliJsonString(o.format) << ", \"to\": " << QvCliJsonString(o.toDir) << ", \"media\": [";
    for (size_t i = 0; i < jobs.size(); ++i) {
        const PackJob& job = jobs[i];
        out << (i ? ",\n " : "\n ") << "{\"medium\": " << QvCliJsonString(job.medium->fileName)
            << ", \"file\": " << QvCliJsonString(job.fileName) << ", \"entries\": " << job.medium->entryCount
            << ", \"bytes\": " << job.bytesWritten;
        if (o.format == "iso")
            out << ", \"sectors\": " << job.imageBytes / kQvCliSectorBytes << ", \"capacity_sectors\": "
                << job.capacityBytes / kQvCliSectorBytes << ", \"fits\": " << (job.imageBytes <= job.capacityBytes ? "true" : "false");
        else if (o.format == "tar")
            out << ", \"capacity_bytes\": " << job.capacityBytes << ", \"fits\": " << (job.bytesWritten <= job.capacityBytes ? "true" : "false");
        out << "}";
    }
    out << (jobs.empty() ? "]}\n" : "\n]}\n");
}

}  // namespace

uint64_t QvCliCapacityBytes(const QvCliOptions& o, const QvCliMedium& medium) {
    return o.capacityBytes ? o.capacityBytes : static_cast<uint64_t>(medium.splitSizeMb) * 1048576u;
}

bool QvCliIsoImageSize(const QvCliMedium& medium, uint64_t& bytes, std::string& error) {
    QvCliMediumLayout layout;
    QvCliIsoImage image;
    return QvCliLayOutMedium(medium, true, layout, error) && image.Build(layout, VolumeId(Stem(medium.fileName)), error) &&
           image.Measure(bytes, error);
}

bool QvCliTarArchiveSize(const QvCliMedium& medium, uint64_t& bytes, std::string& error) {
    QvCliMediumLayout layout;
    return QvCliLayOutMedium(medium, true, layout, error) && QvCliTarArchive::Measure(layout, bytes, error);
}

// What pack wrote into an output folder, and for which set: files of another set (or of an
// unknown one) left there would pass for media of this one.
const char* const kPackRecord = ".qvsplit-pack";

// The set a pack is made from: its folder and each media file's name, size and write time.
std::string SetIdentity(const QvCliMediaSet& set) {
    std::error_code ec;
    std::string text = QvCliPathText(fs::weakly_canonical(QvCliFsPath(set.dir), ec));
    for (const QvCliMedium& m : set.media) {
        const fs::path file = QvCliFsPath(set.dir) / QvCliFsPath(m.fileName);
        const auto size = fs::file_size(file, ec);
        const auto time = fs::last_write_time(file, ec).time_since_epoch().count();
        text += "\n" + m.fileName + " " + std::to_string(ec ? 0 : size) + " " + std::to_string(time);
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(std::hash<std::string>()(text)));
    return hex;
}

// The files the record holds for identity (none when it is of another set, or missing).
std::vector<std::string> RecordedFiles(const std::string& toDir, const std::string& identity) {
    std::ifstream in(QvCliFsPath(toDir) / kPackRecord);
    std::string line;
    if (!std::getline(in, line) || line != "set " + identity) return {};
    std::vector<std::string> files;
    while (std::getline(in, line))
        if (!line.empty()) files.push_back(line);
    return files;
}

bool IsMediaFileName(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() < 7 || (name.compare(0, 5, "Media") != 0 && name.compare(0, 5, "media") != 0))
        return false;
    const std::string ext = name.substr(dot + 1), digits = name.substr(5, dot - 5);
    return (ext == "iso" || ext == "tar" || ext == "list") && !digits.empty() && digits.size() <= 6 &&
           digits.find_first_not_of("0123456789") == std::string::npos;
}

// Media files in the output folder that this pack does not write and that the record does not
// name as written for this set: left from packing another set, they would pass for its media.
std::vector<std::string> FilesOfAnotherSet(const QvCliOptions& o, const std::vector<PackJob>& jobs,
                                           const std::vector<std::string>& recorded) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(QvCliFsPath(o.toDir), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = QvCliPathText(it->path().filename());
        if (!IsMediaFileName(name)) continue;
        const bool written = std::any_of(jobs.begin(), jobs.end(), [&](const PackJob& job) { return job.fileName == name; });
        if (!written && std::find(recorded.begin(), recorded.end(), name) == recorded.end()) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Records the files of this set now in the output folder: those recorded before that are still
// there, and those just written.
void RecordPack(const QvCliOptions& o, const std::string& identity, std::vector<std::string> files,
                const std::vector<PackJob>& jobs) {
    for (const PackJob& job : jobs)
        if (std::find(files.begin(), files.end(), job.fileName) == files.end()) files.push_back(job.fileName);
    std::ofstream out(QvCliFsPath(o.toDir) / kPackRecord, std::ios::trunc);
    out << "set " << identity << "\n";
    std::error_code ec;
    for (const std::string& name : files)
        if (fs::exists(QvCliFsPath(o.toDir) / QvCliFsPath(name), ec)) out << QvCliShown(name) << "\n";
}

int QvCliRunPack(const QvCliOptions& o) {
    if (o.operands.size() != 1) return QvCliFail(kExitUsage, "pack takes one media folder\n\n" + QvCliUsage("pack"));
    if (o.format.empty()) return QvCliFail(kExitUsage, "--format is required (iso, tar or list)");
    if (o.toDir.empty()) return QvCliFail(kExitUsage, "--to is required");
    if (o.catalog == 1 && o.format == "list")
        return QvCliFail(kExitUsage, "--catalog goes with --format iso or tar (a path list holds no files)");
    std::string error;
    if (!CheckFormatAvailable(o.format, error)) return QvCliFail(kExitFailed, error);
    QvCliMediaSet set;
    if (!QvCliLoadMediaSet(o.operands[0], set, error, false))
        return QvCliFail(kExitFailed, error + "; nothing to pack");
    std::unique_ptr<CatalogFiles> catalog;
    QvCliPlanRecord record;
    QvCliLoadPlanRecord(set.dir, record);
    if (WantsCatalog(o)) {
        // The page names the media folder wherever the disc is read.
        std::error_code ec;
        const fs::path absolute = fs::absolute(QvCliFsPath(set.dir), ec);
        if (!ec) set.dir = QvCliPathText(absolute.lexically_normal());
        catalog.reset(new CatalogFiles);
        if (!catalog->Start(set, record.label, error)) return QvCliFail(kExitFailed, error);
    }
    const std::string identity = SetIdentity(set);
    std::unique_ptr<NotesFiles> notes;
    std::string noSums;
    if (Measured(o.format) && QvCliSha256::Available(noSums)) {
        notes.reset(new NotesFiles);
        if (!notes->Start(set, record, identity, error)) return QvCliFail(kExitFailed, error + "; nothing to pack");
    }
    std::vector<PackJob> jobs;
    int status = Prepare(o, set, jobs, catalog.get(), notes.get(), record);
    if (status != kExitOk) return status;
    const std::vector<std::string> recorded = RecordedFiles(o.toDir, identity);
    const std::vector<std::string> strangers = FilesOfAnotherSet(o, jobs, recorded);
    if (!strangers.empty() && !o.force) {
        std::string list;
        for (const std::string& name : strangers) list += (list.empty() ? "" : ", ") + name;
        return QvCliFail(kExitFailed, QvCliShown(o.toDir) + " holds media files of another set (" + list +
                                          "); nothing was written. Remove them, or pack with --force to remove them");
    }
    for (const std::string& name : strangers) {
        std::error_code removed;
        if (!fs::remove(QvCliFsPath(o.toDir) / QvCliFsPath(name), removed) || removed)
            return QvCliFail(kExitFailed, QvCliShown(o.toDir) + "/" + QvCliShown(name) + ": cannot be removed");
    }
    std::error_code ec;
    fs::create_directories(QvCliFsPath(o.toDir), ec);
    if (ec) return QvCliFail(kExitFailed, QvCliShown(o.toDir) + ": cannot be created (" + ec.message() + ")");
    QvCliByteProgress progress;
    progress.show = !o.quiet && QvCliStderrIsTerminal();
    for (const PackJob& job : jobs) progress.total += o.format == "iso" ? job.imageBytes : job.layout.fileBytes;
    for (PackJob& job : jobs) {
        if ((status = WriteJob(o, job, notes.get(), progress)) != kExitOk) break;
        job.written = true;
    }
    std::vector<PackJob> written;
    for (PackJob& job : jobs)
        if (job.written) written.push_back(std::move(job));
    RecordPack(o, identity, recorded, written);
    if (status != kExitOk) return status;
    jobs = std::move(written);
    QvCliByteProgressDone(progress);
    if (o.json) {
        PrintJson(o, jobs, std::cout);
        return kExitOk;
    }
    // Quiet, the last line alone says what was made; warnings and errors still show.
    if (!o.quiet)
        for (const PackJob& job : jobs) PrintRow(o, job, std::cout);
    std::cout << "packed " << jobs.size() << (jobs.size() == 1 ? " medium" : " media") << " into " << QvCliShown(o.toDir) << "\n";
    return kExitOk;
}
