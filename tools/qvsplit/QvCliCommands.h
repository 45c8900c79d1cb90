// The commands of qvsplit; each returns the program's exit status.
#ifndef QVCLICOMMANDS_H
#define QVCLICOMMANDS_H

#include "QvCliOptions.h"
#include "mediaset/QvCliMediaSet.h"

#include <string>

enum QvCliExit { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 3 };

int QvCliRunSplit(const QvCliOptions& o);
int QvCliRunRvx(const QvCliOptions& o);
int QvCliRunRecover(const QvCliOptions& o);
int QvCliRunShow(const QvCliOptions& o);
int QvCliRunWhere(const QvCliOptions& o);
int QvCliRunVerify(const QvCliOptions& o);
int QvCliRunPack(const QvCliOptions& o);
int QvCliRunDemo(const QvCliOptions& o);
int QvCliRunReport(const QvCliOptions& o);
int QvCliRunCheck(const QvCliOptions& o);
int QvCliRunRestore(const QvCliOptions& o);

// The name of the report in its media folder when no other is given.
extern const char* const kQvCliReportFile;

// Prints "qvsplit: message" to standard error and returns status.
int QvCliFail(int status, const std::string& message);

#endif
