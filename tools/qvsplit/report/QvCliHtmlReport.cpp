// Building the report's data: every entry of the set once, its folder shared through a table.
#include "report/QvCliHtmlReport.h"

#include "mediaset/QvCliMediumLayout.h"
#include "system/QvCliGzip.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <system_error>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {

const uint64_t kMegabyte = 1048576;

// What separates the names of a host path.
#if defined(_WIN32)
const char* const kSeparators = "\\/";
const char* const kSeparator = "\\\\";  // as a JSON string holds it
#else
const char* const kSeparators = "/";
const char* const kSeparator = "/";
#endif

// Texts kept once each, numbered in the order first seen.
class TextTable {
public:
    size_t Index(const std::string& text) {
        const auto found = m_index.find(text);
        if (found != m_index.end()) return found->second;
        m_texts.push_back(text);
        return m_index[text] = m_texts.size() - 1;
    }
    size_t Size() const { return m_texts.size(); }
    void Write(std::ostream& out) const {
        out << "[";
        for (size_t i = 0; i < m_texts.size(); ++i) out << (i ? ",\n" : "\n") << QvCliScriptJsonString(m_texts[i]);
        out << "]";
    }

private:
    std::vector<std::string> m_texts;
    std::unordered_map<std::string, size_t> m_index;
};

// The part of a path before its last separator, and the part after it.
void SplitAt(const std::string& path, const char* separators, std::string& head, std::string& tail) {
    const size_t at = path.find_last_of(separators);
    head = at == std::string::npos ? std::string() : path.substr(0, at);
    tail = at == std::string::npos ? path : path.substr(at + 1);
}

// A file or link pack lays out below a folder kept whole, as the catalogue lists it.
QvCliListedFile ListedFile(QvCliPackItem&& item) {
    QvCliListedFile f;
    std::string leaf;
    f.hostPath = std::move(item.hostPath);
    SplitAt(item.mediumPath, "/", f.mediumFolder, leaf);
    f.size = item.size;
    f.kind = item.kind == QvCliPackItem::kLink ? 2 : 0;
    return f;
}

// Hands take the files and links below a folder kept whole as pack lays them out, one at a
// time as the walk meets them; false when the folder cannot be walked to its end.
bool WalkFilesBelow(const QvCliEntry& folder, const std::function<void(QvCliListedFile&&)>& take) {
    QvCliMedium one;
    one.entries.push_back(folder);
    QvCliMediumLayout layout;
    layout.take = [&take](QvCliPackItem&& item) {
        if (item.kind != QvCliPackItem::kFolder) take(ListedFile(std::move(item)));
    };
    std::string error;
    return QvCliLayOutMedium(one, true, layout, error, false);  // named, not read
}

// The folder inside the medium an entry is restored to, "" for its root. A medium's entries
// come folder by folder, and a catalogue asks for every one of them: the last answer is kept.
std::string MediumFolder(const QvCliEntry& e) {
    thread_local std::wstring lastTarget;
    thread_local std::string lastInside;
    thread_local bool known = false;
    if (known && e.targetPath == lastTarget) return lastInside;
    std::string inside, error;
    if (!QvCliMediumPath(e.targetPath, "", inside, error)) inside.clear();
    lastTarget = e.targetPath;
    lastInside = inside;
    known = true;
    return inside;
}

void WriteMedia(const QvCliMediaSet& set, std::ostream& out) {
    out << "\"media\": [";
    for (size_t i = 0; i < set.media.size(); ++i) {
        const QvCliMedium& m = set.media[i];
        out << (i ? ",\n" : "\n") << "{\"name\": " << QvCliScriptJsonString(m.fileName) << ", \"number\": " << m.number
            << ", \"capacity\": " << static_cast<uint64_t>(m.splitSizeMb) * kMegabyte << ", \"size\": " << m.mediaSize
            << ", \"image\": " << m.imageSize << ", \"files\": " << (m.hasNumberFiles ? m.numberFiles : m.entryCount)
            << ", \"entries\": " << m.entryCount << "}";
    }
    out << "]";
}

// value in decimal digits, at the end of out.
void AppendNumber(std::string& out, uint64_t value) {
    char digits[24];
    out.append(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits));
}

// Every file as [medium index, folder, name, bytes, kind (0 file, 1 folder, 2 link), folder
// inside the medium, write time as the 14 digits of local time (0: unknown)]: a row of the
// page's data, after the one before it (first: none).
class EntryRows {
public:
    void Append(std::string& row, size_t medium, const QvCliListedFile& f) {
        SplitAt(f.hostPath, kSeparators, m_folder, m_name);
        const size_t folderIndex = m_folders.Index(m_folder), targetIndex = m_targets.Index(f.mediumFolder);
        row += m_first ? "\n[" : ",\n[";
        AppendNumber(row, medium);
        row += ',';
        AppendNumber(row, folderIndex);
        row += ',';
        row += QvCliScriptJsonString(m_name);
        row += ',';
        AppendNumber(row, f.size);
        row += ',';
        AppendNumber(row, static_cast<uint64_t>(f.kind));
        row += ',';
        AppendNumber(row, targetIndex);
        row += ',';
        AppendNumber(row, f.written);
        row += ']';
        m_first = false;
    }
    // What follows the rows: the tables of folders.
    void End(std::ostream& out) const {
        out << "],\n\"folders\": ";
        m_folders.Write(out);
        out << ",\n\"targets\": ";
        m_targets.Write(out);
    }

private:
    TextTable m_folders, m_targets;
    std::string m_folder, m_name;
    bool m_first = true;
};

bool WriteEntries(const QvCliListedFiles& files, std::ostream& out, std::string& error) {
    EntryRows rows;
    out << "\"entries\": [";
    std::string row;
    // A row is put together and written at once: the page lists every file of the set, and is
    // also written only to be measured.
    const auto write = [&](size_t i, const QvCliListedFile& f) {
        row.clear();
        rows.Append(row, i, f);
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    };
    if (!files(write, error)) return false;
    rows.End(out);
    return true;
}

void WriteLeftOut(const QvCliReportContext& c, std::ostream& out) {
    out << "\"leftOut\": [";
    for (size_t i = 0; i < c.leftOut.size(); ++i) {
        const QvCliLeftOut& l = c.leftOut[i];
        out << (i ? ",\n" : "\n") << "{\"path\": " << QvCliScriptJsonString(l.path)
            << ", \"size\": " << (l.sizeKnown ? std::to_string(l.size) : std::string("null"))
            << ", \"reason\": " << QvCliScriptJsonString(l.reason) << "}";
    }
    out << "]";
}

void WritePlan(const QvCliReportContext& c, std::ostream& out) {
    if (!c.record) {
        out << "\"plan\": null";
        return;
    }
    const QvCliPlanRecord& r = *c.record;
    out << "\"plan\": {\"date\": " << QvCliScriptJsonString(r.date) << ", \"fs\": " << QvCliScriptJsonString(r.fileSystem)
        << ", \"capacity\": " << r.capacityBytes << ", \"catalogReserve\": " << r.catalogReserve << ", \"command\": [";
    for (size_t i = 0; i < r.arguments.size(); ++i) out << (i ? ", " : "") << QvCliScriptJsonString(r.arguments[i]);
    out << "], \"dropped\": [";
    for (size_t i = 0; i < r.dropped.size(); ++i)
        out << (i ? ",\n" : "\n") << "{\"rule\": " << r.dropped[i].rule << ", \"path\": " << QvCliScriptJsonString(r.dropped[i].path)
            << ", \"reason\": " << QvCliScriptJsonString(r.dropped[i].reason) << "}";
    out << "], \"since\": ";
    if (r.since.sets.empty()) {
        out << "null}";
        return;
    }
    out << "{\"sets\": [";
    for (size_t i = 0; i < r.since.sets.size(); ++i) out << (i ? ", " : "") << QvCliScriptJsonString(r.since.sets[i]);
    out << "], \"new\": " << r.since.newFiles << ", \"changed\": " << r.since.changed << ", \"unchanged\": "
        << r.since.unchanged << ", \"deleted\": " << r.since.deleted << "}}";
}

// A folder's files as suffixes: each file's host path past the folder's, and its folder inside
// the medium past the folder's own there, the latter kept once for a run of files that share it.
// Each file takes its names past its folder's and its size, some 40 bytes.
struct FolderFiles {
    struct Row {
        uint64_t size;
        uint32_t nameEnd;        // in names, where this file's suffix ends and the next one's begins
        uint32_t folderAndKind;  // index into inside, times four, plus the kind
    };
    std::string host, medium;  // the folder's own paths
    std::string names;
    std::vector<std::string> inside;
    std::vector<Row> rows;

    // Adds a file listed below the folder; false when one of its paths does not begin with the
    // folder's, so that it would not be given back as listed, or the names outgrow the rows.
    bool Add(const QvCliListedFile& f) {
        if (f.hostPath.compare(0, host.size(), host) != 0 || f.mediumFolder.compare(0, medium.size(), medium) != 0 ||
            names.size() > UINT32_MAX / 2)
            return false;
        names.append(f.hostPath, host.size(), std::string::npos);
        if (inside.empty() || inside.back().compare(0, std::string::npos, f.mediumFolder, medium.size()) != 0)
            inside.push_back(f.mediumFolder.substr(medium.size()));
        const uint32_t folderIndex = static_cast<uint32_t>(inside.size() - 1);
        rows.push_back({f.size, static_cast<uint32_t>(names.size()), folderIndex * 4 + static_cast<uint32_t>(f.kind)});
        return true;
    }

    // Hands take every file as it was listed.
    void Replay(const std::function<void(QvCliListedFile&&)>& take) const {
        uint32_t nameStart = 0;
        for (const Row& row : rows) {
            QvCliListedFile f;
            f.hostPath = host;
            f.hostPath.append(names, nameStart, row.nameEnd - nameStart);
            f.mediumFolder = medium + inside[row.folderAndKind / 4];
            f.size = row.size;
            f.kind = static_cast<int>(row.folderAndKind % 4);
            nameStart = row.nameEnd;
            take(std::move(f));
        }
    }
};

// Lists the files and links below a folder kept whole into files, kept as suffixes as the walk
// meets them: a folder of a million files is never held as a million paths. A folder that
// cannot be walked to its end lists none, and stands for itself. False when a file cannot be
// kept as a suffix; files is then left empty.
bool ListBelow(const QvCliEntry& folder, FolderFiles& files) {
    files = FolderFiles();
    files.host = QvCliToHostPath(QvCliEntryFolder(folder));
    files.medium = MediumFolder(folder);
    bool kept = true;
    const bool walked = WalkFilesBelow(folder, [&files, &kept](QvCliListedFile&& f) { kept = kept && files.Add(f); });
    if (!walked || !kept) {
        files.names.clear();
        files.inside.clear();
        files.rows.clear();
    }
    files.names.shrink_to_fit();
    files.rows.shrink_to_fit();
    return kept;
}

// Hands take the files below a folder as ListBelow kept them in files; null when it could not
// keep them as suffixes, and they are listed again, all of them held at once meanwhile.
void TakeListed(const QvCliEntry& folder, const FolderFiles* files, const std::function<void(QvCliListedFile&&)>& take) {
    if (files) return files->Replay(take);
    std::vector<QvCliListedFile> held;
    if (WalkFilesBelow(folder, [&held](QvCliListedFile&& f) { held.push_back(std::move(f)); }))
        for (QvCliListedFile& f : held) take(std::move(f));
}

// Hands take the files and links below a folder kept whole.
void TakeFilesBelow(const QvCliEntry& folder, const std::function<void(QvCliListedFile&&)>& take) {
    FolderFiles files;
    TakeListed(folder, ListBelow(folder, files) ? &files : nullptr, take);
}

// The lines an entry of a medium gives: the files and links below a folder kept whole, or the
// entry itself.
void ListEntry(const QvCliEntry& e, const std::function<void(QvCliListedFile&&)>& take) {
    if (e.isDir) {
        size_t below = 0;
        TakeFilesBelow(e, [&](QvCliListedFile&& f) {
            ++below;
            take(std::move(f));
        });
        if (below) return;
    }
    QvCliListedFile f;
    f.hostPath = QvCliToHostPath(e.isDir ? QvCliEntryFolder(e) : e.fullPath);
    f.mediumFolder = MediumFolder(e);
    f.size = e.size;
    f.kind = e.isDir ? 1 : e.isLink ? 2 : 0;
    for (wchar_t c : e.writeTime) {
        if (c < L'0' || c > L'9') break;
        f.written = f.written * 10 + static_cast<uint64_t>(c - L'0');
    }
    take(std::move(f));
}

// The files of a listing held in memory.
QvCliListedFiles FilesOf(const QvCliSetFiles& files) {
    return [&files](const QvCliListedFileVisitor& visit, std::string&) {
        for (size_t i = 0; i < files.size(); ++i)
            for (const QvCliListedFile& f : files[i]) visit(i, f);
        return true;
    };
}

// One line of the text catalogue.
void AppendTextLine(std::string& out, int number, const QvCliListedFile& f) {
    AppendNumber(out, static_cast<uint64_t>(number));
    out += '\t';
    AppendNumber(out, f.size);
    out += '\t';
    // The write time lets a later split follow the set from this file alone (split --since).
    if (f.written)
        AppendNumber(out, f.written);
    else
        out += '-';
    out += '\t';
    // Shown as on a terminal: a line of the catalogue is read with grep and cat, and a name
    // must not act on the terminal it is read on; split --since reads it back to the name.
    out += QvCliShownInList(f.hostPath);
    out += f.kind == 1 ? "/\n" : "\n";
}

bool WriteReport(std::ostream& out, const QvCliMediaSet& set, const QvCliListedFiles& files,
                 const QvCliReportContext& context, std::string& error) {
    const QvCliTotals totals = QvCliComputeTotals(set, 0);
    return QvCliWriteHtmlPage(out, [&](std::ostream& json) {
        if (context.record && !context.record->label.empty())
            json << "{\"label\": " << QvCliScriptJsonString(context.record->label) << ", ";
        else
            json << "{";
        json << "\"folder\": " << QvCliScriptJsonString(set.dir) << ", \"generated\": " << QvCliScriptJsonString(QvCliNowText())
             << ", \"drive\": \"" << static_cast<char>(QvCliDrive()) << "\", \"sep\": \"" << kSeparator << "\", \"here\": " << context.here
             << ", \"splitSizeMb\": " << totals.splitSizeMb << ", \"total\": " << totals.totalBytes
             << ", \"lowerBound\": " << totals.lowerBound << ",\n";
        WriteMedia(set, json);
        json << ",\n";
        WriteLeftOut(context, json);
        json << ",\n";
        WritePlan(context, json);
        json << ",\n";
        if (!WriteEntries(files, json, error)) return false;
        json << "}";
        return true;
    });
}

// An output that only counts what is written to it.
class CountingBuffer : public std::streambuf {
public:
    uint64_t Count() const { return m_count; }

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) ++m_count;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        m_count += static_cast<uint64_t>(n);
        return n;
    }

private:
    uint64_t m_count = 0;
};

// Counts what the rows of a set take in the compact catalogue, as the library hands them over
// (QvSetCatalogMeasure): each row as the page's data and the list write it, compressed as pack
// compresses them, the page's in base64. The medium of a row is not known yet: rows of one
// medium come together, and its number costs next to nothing compressed.
class CompactRowsMeasure {
public:
    static uint64_t CALLBACK Take(LPVOID self, const QvCatalogRow* row) {
        CompactRowsMeasure& m = *static_cast<CompactRowsMeasure*>(self);
        if (row) {
            m.Add(*row);
            return 0;
        }
        const uint64_t bytes = m.End();
        m.Reset();
        return bytes;
    }

    void Reset() {
        m_page.reset(new QvCliGzipCounter(kQvCliCatalogLevel));
        m_text.reset(new QvCliGzipCounter(kQvCliCatalogLevel));
        m_rows = EntryRows();
        m_any = false;
    }

private:
    void Add(const QvCatalogRow& r) {
        QvCliListedFile f;
        f.hostPath = QvCliToHostPath(r.pszPath ? r.pszPath : L"");
        std::string error;
        if (!QvCliMediumPath(r.pszTargetPath ? r.pszTargetPath : L"", "", f.mediumFolder, error)) f.mediumFolder.clear();
        f.size = static_cast<uint64_t>(r.iBytes < 0 ? 0 : r.iBytes);
        f.kind = (r.dwAttributes & 0x400u) ? 2 : 0;  // a reparse point: a link kept as a link
        for (const wchar_t* c = r.pszWriteTime; c && *c >= L'0' && *c <= L'9'; ++c)
            f.written = f.written * 10 + static_cast<uint64_t>(*c - L'0');
        m_row.clear();
        m_rows.Append(m_row, 0, f);
        m_page->Add(m_row);
        m_row.clear();
        AppendTextLine(m_row, 1, f);
        m_text->Add(m_row);
        m_any = true;
    }

    uint64_t End() {
        if (!m_any) return 0;
        std::ostringstream tables;
        m_rows.End(tables);
        m_page->Add(tables.str());
        const uint64_t page = (m_page->Finish() + 2) / 3 * 4, text = m_text->Finish();
        // Compressed in one piece with what surrounds them, the rows come out a little longer
        // or shorter than alone; kept above with a margin.
        return (page + text) + (page + text) / 32 + 4096;
    }

    std::unique_ptr<QvCliGzipCounter> m_page, m_text;
    EntryRows m_rows;
    std::string m_row;
    bool m_any = false;
};

}  // namespace

std::string QvCliScriptJsonString(const std::string& text) {
    // Bytes that are not UTF-8 come back from the round trip as U+F000 + byte; ASCII, most
    // names, comes back as it is.
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const std::string valid = ascii ? text : QvCliNarrow(QvCliWiden(text));
    std::string out = "\"";
    for (size_t i = 0; i < valid.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(valid[i]);
        char esc[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7F) {
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else if (c >= 0x80) {
            // Line and paragraph separators end a line in older script parsers; C1 controls and
            // the characters that reorder text are kept out of the page's text as well, as a
            // terminal is kept from them (QvCliShown writes each as \uNNNN).
            size_t n = 1;
            while (i + n < valid.size() && (static_cast<unsigned char>(valid[i + n]) & 0xC0) == 0x80) ++n;
            const std::string shown = QvCliShown(valid.substr(i, n));
            if (shown.size() == 6 && shown.compare(0, 2, "\\u") == 0) {
                std::snprintf(esc, sizeof esc, "\\u%04lx", std::strtoul(shown.c_str() + 2, nullptr, 16));
                out += esc;
            } else {
                out.append(valid, i, n);
            }
            i += n - 1;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

bool QvCliReadSetFiles(QvCliMediaSet& set, QvCliSetFiles& files, std::string& error) {
    files.assign(set.media.size(), std::vector<QvCliListedFile>());
    const auto list = [&files](size_t i, const QvCliMedium& m) {
        for (const QvCliEntry& e : m.entries)
            ListEntry(e, [&files, i](QvCliListedFile&& f) { files[i].push_back(std::move(f)); });
    };
    return QvCliForEachMedium(set, list, error, true);
}

std::string QvCliHtmlReport(const QvCliMediaSet& set, const QvCliSetFiles& files, const QvCliReportContext& context) {
    std::ostringstream page;
    std::string error;
    WriteReport(page, set, FilesOf(files), context, error);  // a listing in memory cannot fail
    return page.str();
}

std::string QvCliTextCatalogHeader(int here, bool sumsAtEnd, const std::string& label) {
    std::string out = "# QvSplit catalogue: medium<TAB>bytes<TAB>written<TAB>path";
    if (here && !sumsAtEnd) out += "[<TAB>sha256]";
    if (!label.empty()) out += "; set " + label;
    // The disc's own files carry their checksums: at the end of their lines, or in lines of
    // their own after the list.
    if (here && !sumsAtEnd) out += "; this is medium " + std::to_string(here);
    if (here && sumsAtEnd) out += "; this is medium " + std::to_string(here) + ", the SHA-256 of its files follow the list";
    return out + "\n";
}

std::string QvCliTextCatalogSumsHeader(int here) {
    return "# SHA-256 of the files on medium " + std::to_string(here) + ": sha256<TAB>hex<TAB>path\n";
}

std::string QvCliTextCatalog(const QvCliMediaSet& set, const QvCliSetFiles& files, int here) {
    std::string out = QvCliTextCatalogHeader(here);
    for (size_t i = 0; i < set.media.size() && i < files.size(); ++i)
        for (const QvCliListedFile& f : files[i]) AppendTextLine(out, set.media[i].number, f);
    // A set that follows earlier sets lists the files deleted since, on no medium.
    for (const std::wstring& path : QvCliLoadDeleted(set.dir)) {
        QvCliListedFile f;
        f.hostPath = QvCliToHostPath(path);
        std::string line;
        AppendTextLine(line, 0, f);
        out += "deleted\t-\t-\t" + line.substr(line.find('\t', line.find('\t', line.find('\t') + 1) + 1) + 1);
    }
    return out;
}

// The terms of a compact catalogue: the page's data and the list's rows compressed, the
// checksums of a disc's own files counted as part of each file's entry on it.
void CompactCatalogTerms(uint64_t block, QvAllocationModel& model) {
    // The rows of files and links are measured as they will be written and compressed; the
    // terms count the rows below folders kept whole, as they are before compression: a row of
    // the page and a line of the list.
    static CompactRowsMeasure measure;
    measure.Reset();
    QvSetCatalogMeasure(&CompactRowsMeasure::Take, &measure);
    model.cbCatalogPerEntry = 12 + 15 + 4 + 15;
    model.cbCatalogPerPathByte = 1;
    model.cbCatalogPerNameByte = 1;
    // Each file of the disc: its line in the checksum list, "hex  path" (68 bytes and its path
    // inside the medium), its line after the list ("sha256 TAB hex TAB path", stored
    // uncompressed, 73 and its path on the host) and its pair in the page's block,
    // "row":"hex" (72 and the row's number), counted with each file's entry on the disc. The
    // name's part of the two paths is counted per byte, once in the checksum list and three
    // times in the list, where a character that reorders text or a C1 control is shown as six
    // bytes; the folders' part as 64 bytes in each: the model has no term for a path's length.
    // A disc whose files' folders are longer can find its image too full for the catalogue;
    // pack measures every image and says so.
    model.cbPerEntry += 68 + 73 + 72 + 10 + 2 * 64;
    model.cbPerNameByte += 1 + 3;
    // The gzip framing of the list's three members.
    model.cbCatalogFixed += 3 * 64 + block;
}

void QvCliCatalogTerms(const std::string& outDir, const QvCliPlanRecord& record, uint64_t block, QvAllocationModel& model,
                       bool sumsOnly) {
    // The checksum list: a line per file of the medium, "HASH  path", 64 hex digits, two spaces
    // and a newline, the path escaped no wider than counted here (a row of the set counts as if
    // every file were on each medium).
    // Beside it the medium notes: a few lines, and one per file the set records deleted. Each
    // of the two files ends in a part of a block and takes its entries.
    const uint32_t kSumsPerRow = 64 + 2 + 1;
    const uint64_t kSumsFixed = 2 * block + 8192;
    if (sumsOnly) {
        model.cbCatalogFixed = kSumsFixed;
        model.cbCatalogPerEntry = kSumsPerRow;
        model.cbCatalogPerPathByte = 1;
        model.cbCatalogPerLeftOut = 16;
        return;
    }
    // The page and the text of a set without media and files: what the set's size leaves as it is.
    QvCliMediaSet set;
    std::error_code ec;
    const fs::path absolute = fs::absolute(QvCliFsPath(outDir), ec);
    set.dir = ec ? outDir : QvCliPathText(absolute.lexically_normal());
    QvCliReportContext context;
    context.record = &record;
    CountingBuffer counter;
    std::ostream page(&counter);
    std::string error;
    WriteReport(page, set, [](const QvCliListedFileVisitor&, std::string&) { return true; }, context, error);
    // Numbers of the set written as 0 here take up to 20 digits (the medium that carries the
    // page, the totals, the room itself), and the time may be written longer.
    const uint64_t kNumbers = 8 * 20 + 64;
    // Each of the two files ends in a part of a block, and takes two directory records in each
    // tree of an image, and more.
    const uint64_t kEntries = 8192;
    // The page's block of checksums, empty.
    const uint64_t kChecksumBlock = 64;
    model.cbCatalogFixed = counter.Count() + QvCliTextCatalogHeader(INT32_MAX, true, std::string(32, 'L')).size() + kNumbers + 2 * block + kEntries +
                           kSumsFixed + kChecksumBlock;
    // A row of the page, "[medium,folder,"name",bytes,kind,target,written]" and its separator,
    // and a line of the text, "medium TAB bytes TAB written TAB path", with "/" after a folder
    // (the write time's 14 digits and its comma or tab counted here, in each).
    // A file of the disc's own has its checksum in both: TAB and 64 hex digits ending its
    // line, "path":"hex", in the page's block of checksums (each row counted as if its file
    // were on every medium).
    const uint32_t kOwnChecksum = 1 + 64 + 3 + 2 + 64 + 1;
    model.cbCatalogPerEntry = 12 + 15 + 4 + 15 + kSumsPerRow + kOwnChecksum;
    // The whole path in the text's line (shown no wider than counted: \xNN for a character the
    // count takes as six bytes, \uNNNN only for one it takes as six too), the checksum list's and
    // the page's block of checksums (escaped no wider), the name in the page's row.
    model.cbCatalogPerPathByte = 3;
    model.cbCatalogPerNameByte = 1;
    // The bytes of each row in both, and its medium's number or index in both; the folder
    // and target indexes of the page's row.
    model.cbCatalogPerDigit = 2;
    // A folder of rows in the page's table of folders and of folders inside the media.
    model.cbCatalogPerFolder = 2 * 4;
    model.cbCatalogPerFolderByte = 1;
    // An entry left out or a rule dropped: its path, bytes and reason in the page.
    model.cbCatalogPerLeftOut = 512;
    // A medium in the page's table of media: its file name and six numbers.
    model.cbCatalogPerMedium = 256;
    std::string reason;
    if (QvCliGzipAvailable(reason)) CompactCatalogTerms(block, model);
}
