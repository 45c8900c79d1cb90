// The report of a media set as one self-contained HTML page, and its plain-text catalogue.
#ifndef QVCLIHTMLREPORT_H
#define QVCLIHTMLREPORT_H

#include "QvCliMediaSet.h"
#include "QvCliPlanRecord.h"
#include "QvCliReport.h"

#include <string>
#include <vector>

// What a report shows besides the media: what was left out, how the plan was made (null when
// the set has no record), and the medium the report is carried on (0: none).
struct QvCliReportContext {
    std::vector<QvCliLeftOut> leftOut;
    const QvCliPlanRecord* record = nullptr;
    int here = 0;
};

// The page: the set's data embedded once as JSON, rendered by the page's own script.
std::string QvCliHtmlReport(const QvCliMediaSet& set, const QvCliReportContext& context);

// The catalogue as text: a comment line, then one line per entry of every medium, "medium
// number TAB bytes TAB path", the path as the host names it (a folder kept whole ends in "/";
// a backslash, tab, newline or carriage return in it written as \\, \t, \n, \r).
std::string QvCliTextCatalog(const QvCliMediaSet& set, int here);

// Text as a JSON string literal that is also safe inside an HTML <script> element: "<", ">",
// "&", U+2028 and U+2029 escaped, bytes that are not UTF-8 as U+F000 + byte.
std::string QvCliScriptJsonString(const std::string& text);

// The page around the JSON data (in QvCliHtmlPage.cpp).
std::string QvCliHtmlPage(const std::string& json);

#endif
