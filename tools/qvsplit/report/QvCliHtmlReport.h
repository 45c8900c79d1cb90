// The report of a media set as one self-contained HTML page, and its plain-text catalogue.
#ifndef QVCLIHTMLREPORT_H
#define QVCLIHTMLREPORT_H

#include "mediaset/QvCliMediaSet.h"
#include "report/QvCliPlanRecord.h"
#include "report/QvCliReport.h"

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// What a report shows besides the media: what was left out, how the plan was made (null when
// the set has no record), and the medium the report is carried on (0: none).
struct QvCliReportContext {
    std::vector<QvCliLeftOut> leftOut;
    const QvCliPlanRecord* record = nullptr;
    int here = 0;
};

// One line of the page and of the text catalogue: a file or link of a medium, or a folder that
// stands for itself.
struct QvCliListedFile {
    std::string hostPath;      // as the host names it
    std::string mediumFolder;  // the folder inside the medium it is restored to, "" for the root
    uint64_t size = 0;
    int kind = 0;              // 0 file, 1 folder, 2 link
};
// Per medium of a set, in plan order.
typedef std::vector<std::vector<QvCliListedFile>> QvCliSetFiles;

// The files a catalogue lists, handed to a visitor with the index of their medium, medium by
// medium in plan order; a source answers false (its error set) when it cannot read them.
typedef std::function<void(size_t medium, const QvCliListedFile& file)> QvCliListedFileVisitor;
typedef std::function<bool(const QvCliListedFileVisitor& visit, std::string& error)> QvCliListedFiles;

// What each medium of a set holds, file by file: a folder kept whole gives way to the files and
// links below it, read from the disk as pack reads them, so that the page and the list name
// every file of the set. A folder with nothing below it, or one that cannot be read, stands for
// itself. Read once for the page and the list alike. Each medium of the set is read here, its
// entries listed and dropped in turn, so that the set is never held twice, and the set's
// distinct bytes counted. False with error set when a media file cannot be read.
bool QvCliReadSetFiles(QvCliMediaSet& set, QvCliSetFiles& files, std::string& error);

// The page: the set's data embedded once as JSON, rendered by the page's own script.
std::string QvCliHtmlReport(const QvCliMediaSet& set, const QvCliSetFiles& files, const QvCliReportContext& context);

// The files below the folders kept whole, as one measure of the catalogue listed them, for the
// next measures of the same split: planned again with room for the catalogue, folders move
// between media but hold what they held, and listing them again took most of a measure's time.
// Each file takes its names past its folder's and its size, some 40 bytes.
class QvCliFolderListings {
public:
    QvCliFolderListings();
    ~QvCliFolderListings();
    QvCliFolderListings(const QvCliFolderListings&) = delete;
    QvCliFolderListings& operator=(const QvCliFolderListings&) = delete;

    // Hands take the files below folder kept from an earlier listing, waiting for one being
    // listed ahead; false when none was kept: the caller lists the folder and keeps it.
    bool Replay(const QvCliEntry& folder, const std::function<void(QvCliListedFile&&)>& take);
    // Lists the files below folder and keeps them, then hands them to take when given.
    void ListAndKeep(const QvCliEntry& folder, const std::function<void(QvCliListedFile&&)>& take);
    // Lists folder and keeps it, unless it is kept or being listed already, or stop is set: for
    // a thread listing ahead of a measure. The other calls may come from another thread meanwhile.
    void ListAhead(const QvCliEntry& folder, const std::atomic<bool>& stop);

private:
    struct Store;
    std::unique_ptr<Store> m_store;
};

// The bytes of the page and of the text catalogue that pack puts on medium context.here of a
// set just planned (its media as the library reported them, without their entries), counted while
// each media file is read a run of entries at a time: neither the entries nor the texts are held,
// so that measuring a set of a million files takes the memory of its folders' names. With
// listings, folders kept whole are listed only when they were not kept there, and kept after.
// With shape, also what the measure found that a plan of the same files onto other media keeps.
// seen, when given, is shown each entry of the media files as they are read.
struct QvCliCatalogShape {
    uint64_t rows = 0;             // files listed, one row of the page and one line of the text each
    uint64_t folders = 0;          // entries of the page's table of folders
    uint64_t targets = 0;          // and of its table of folders inside the media
    uint64_t entryBytes = 0;       // the page's rows and tables, but the digits of the rows' indexes
    uint64_t entryDigits = 0;      // those digits
    uint64_t lineBytes = 0;        // the text's lines, but the digits of their medium numbers
};
typedef std::function<void(const QvCliEntry& entry, std::string_view fullPath)> QvCliEntrySeen;
bool QvCliMeasureCatalog(const QvCliMediaSet& set, const QvCliReportContext& context, uint64_t& pageBytes,
                         uint64_t& textBytes, std::string& error, QvCliFolderListings* listings = nullptr,
                         QvCliCatalogShape* shape = nullptr, const QvCliEntrySeen& seen = nullptr);
// At least the bytes of the page and the text catalogue of a plan of the files shape was measured
// on onto the media of set, without reading them: the rows and tables are the same, their
// indexes and medium numbers at most as wide as the widest set allows.
void QvCliBoundCatalog(const QvCliMediaSet& set, const QvCliReportContext& context, const QvCliCatalogShape& shape,
                       uint64_t& pageBytes, uint64_t& textBytes);

// The page of a set, with the left-out list and plan record read beside its media files; here
// is the number of the medium that carries it, 0 for none (in QvCliReportCommand.cpp).
std::string QvCliMakeReport(const QvCliMediaSet& set, const QvCliSetFiles& files, int here);

// The catalogue as text: a comment line, then one line per file of every medium, "medium
// number TAB bytes TAB path", the path as the host names it (a folder standing for itself ends
// in "/"; a backslash, tab, newline or carriage return in it written as \\, \t, \n, \r).
std::string QvCliTextCatalog(const QvCliMediaSet& set, const QvCliSetFiles& files, int here);
// Its first line alone, naming medium here (0: none).
std::string QvCliTextCatalogHeader(int here);

// Text as a JSON string literal that is also safe inside an HTML <script> element: "<", ">",
// "&", U+2028 and U+2029 escaped, bytes that are not UTF-8 as U+F000 + byte.
std::string QvCliScriptJsonString(const std::string& text);

// The page around the JSON data that json writes (in QvCliHtmlPage.cpp); false when json fails.
bool QvCliWriteHtmlPage(std::ostream& out, const std::function<bool(std::ostream&)>& json);

#endif
