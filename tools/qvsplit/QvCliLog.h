// The library's log as the program reads it back: errors to explain, files left out.
#ifndef QVCLILOG_H
#define QVCLILOG_H

#include "QvCliReport.h"

#include <cstdint>
#include <string>
#include <vector>

class QvCliLogSession {
public:
    // Points the library's log at logFile (from --log), at QVSPLIT_LOG when set, or at a
    // private temporary file holding warnings and errors only. A log meant for standard error
    // ("-") goes to a private file too and is copied there at the end, so that the program
    // can still read it back. Call before the library is used.
    explicit QvCliLogSession(const std::string& logFile);
    ~QvCliLogSession();

    // Texts of the ERROR and WARNING lines written since the session began.
    void Collect(std::vector<std::string>& errors, std::vector<std::string>& warnings) const;

private:
    std::string m_path;      // the file read back, empty when the log goes elsewhere
    uint64_t m_offset = 0;   // its size when the session began
    bool m_private = false;  // a temporary file of ours, removed at the end
    bool m_echo = false;     // copy the private file to standard error at the end
};

// Files the log reports as left out of the split (oversize while cutting is off).
std::vector<QvCliLeftOut> QvCliLeftOutFiles(const std::vector<std::string>& warnings,
                                            const std::vector<std::string>& errors);
// A plain sentence for the error that refused or failed a split, or the error itself.
std::string QvCliExplain(const std::vector<std::string>& errors);

#endif
