// The report of a media set as one self-contained HTML page, and its plain-text catalogue.
#ifndef QVCLIHTMLREPORT_H
#define QVCLIHTMLREPORT_H

#include "mediaset/QvCliMediaSet.h"
#include "report/QvCliPlanRecord.h"
#include "report/QvCliReport.h"

#include "QvSplit.h"

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
    uint64_t written = 0;      // last write as its media file gives it, the 14 digits of local
                               // time as a number; 0 when unknown (a file below a folder kept whole)
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

// The terms of the allocation model that keep room on every medium of a set planned into
// outDir (made as record says) for the page and the text catalogue pack puts on it, and for the
// checksum list, in whole blocks of block bytes: the library counts the rows when the selection
// is known. With sumsOnly, room for the checksum list alone.
void QvCliCatalogTerms(const std::string& outDir, const QvCliPlanRecord& record, uint64_t block, QvAllocationModel& model,
                       bool sumsOnly = false);

// The page of a set, with the left-out list and plan record read beside its media files; here
// is the number of the medium that carries it, 0 for none (in QvCliReportCommand.cpp).
std::string QvCliMakeReport(const QvCliMediaSet& set, const QvCliSetFiles& files, int here);

// The catalogue as text: a comment line, then one line per file of every medium, "medium
// number TAB bytes TAB written TAB path", the path as the host names it, shown as QvCliShown
// shows it (a folder standing for itself ends in "/").
std::string QvCliTextCatalog(const QvCliMediaSet& set, const QvCliSetFiles& files, int here);
// Its first line alone, naming medium here (0: none), whose files' checksums end their lines,
// or with sumsAtEnd follow the list in lines of their own, "sha256 TAB hex TAB path", after
// the line QvCliTextCatalogSumsHeader gives.
// The set's label, when it has one, follows "; set ".
std::string QvCliTextCatalogHeader(int here, bool sumsAtEnd = false, const std::string& label = std::string());
std::string QvCliTextCatalogSumsHeader(int here);

// Text as a JSON string literal that is also safe inside an HTML <script> element: "<", ">",
// "&", U+2028 and U+2029 escaped, C1 controls and the characters that reorder text too, bytes
// that are not UTF-8 as U+F000 + byte.
std::string QvCliScriptJsonString(const std::string& text);

// The page around the JSON data that json writes (in QvCliHtmlPage.cpp); false when json fails.
bool QvCliWriteHtmlPage(std::ostream& out, const std::function<bool(std::ostream&)>& json);

#endif
