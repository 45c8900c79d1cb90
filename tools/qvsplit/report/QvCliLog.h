// The library's log and report as the program uses them: errors to explain, files left out.
#ifndef QVCLILOG_H
#define QVCLILOG_H

#include "mediaset/QvCliMediaSet.h"
#include "report/QvCliReport.h"

#include <cstdint>
#include <string>
#include <vector>

class QvCliLogSession {
public:
    // Points the library's log at logFile (from --log) when given; otherwise QVSPLIT_LOG, if
    // set, decides. Call before the library is used.
    explicit QvCliLogSession(const std::string& logFile);
};

// What the library reports it left out of the last split, with the reasons in a user's words.
std::vector<QvCliLeftOutRecord> QvCliLeftOutFiles();
// The same as the summary shows it: host paths.
std::vector<QvCliLeftOut> QvCliShownLeftOut(const std::vector<QvCliLeftOutRecord>& records);
// The rules of the last setup that select nothing, with their numbers and reasons.
std::vector<QvCliDroppedRule> QvCliDroppedRules();
// The library's error messages of the last operation, the cause first.
std::vector<std::string> QvCliLibraryErrors();
// Why a split was refused or failed: a plain sentence, and the library's message it stands for
// (empty when the sentence is the message itself, or there is none).
struct QvCliCause {
    std::string sentence;
    std::string message;
};
// The cause of the last failure: the refusal the library reports, else its first error.
QvCliCause QvCliLibraryCause();
// The same as one text for the terminal (QvCliShownMessage), the message in brackets on a line of its own.
std::string QvCliExplain();
// The media of the last split as the library reports them, named by nameFormat ("Media%u.xml").
QvCliMediaSet QvCliReportedMediaSet(const std::string& dir, const char* nameFormat);

#endif
