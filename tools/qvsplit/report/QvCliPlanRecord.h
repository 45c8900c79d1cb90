// What a split records beside its media files about how the plan was made: the command line,
// the date, the medium, the room kept for the catalogue, and the rules that selected nothing.
#ifndef QVCLIPLANRECORD_H
#define QVCLIPLANRECORD_H

#include "report/QvCliReport.h"

#include <cstdint>
#include <string>
#include <vector>

// The name of the record in a media folder.
extern const char* const kQvCliPlanFile;

// What a split that followed earlier sets found against them.
struct QvCliChanges {
    std::vector<std::string> sets;  // the sets followed, oldest first, as given; empty: none
    uint64_t newFiles = 0;
    uint64_t changed = 0;
    uint64_t unchanged = 0;         // recorded as they are: not planned, and not left out
    uint64_t deleted = 0;           // listed in Deleted.xml
};

struct QvCliPlanRecord {
    std::vector<std::string> arguments;  // the command line after "qvsplit", as shown text
    std::string date;                    // local time of the split, "YYYY-MM-DD HH:MM"
    std::string label;                   // the set's name on its discs; "" in a set made before
                                         // sets had one
    std::string fileSystem;              // iso, iso-udf, tar or none
    uint32_t sizeMb = 0;                 // --size in MB
    uint64_t capacityBytes = 0;          // the medium's capacity in bytes (a disc's exact one)
    uint64_t catalogReserve = 0;         // bytes kept free on every medium for the catalogue files
    std::vector<QvCliDroppedRule> dropped;
    QvCliChanges since;
};

// Text that XML 1.0 can carry whatever a host name holds: bytes that are not UTF-8 become
// U+F000 + byte as in the JSON summary, control characters U+F000 + their code.
std::string QvCliShownText(const std::string& hostText);

// Writes the record into dir (replacing one there); false when it cannot.
bool QvCliSavePlanRecord(const std::string& dir, const QvCliPlanRecord& record);
// Reads the record of dir; false when there is none (a set made before it was kept) or it
// cannot be read.
bool QvCliLoadPlanRecord(const std::string& dir, QvCliPlanRecord& record);
// Removes the record of dir, if any.
void QvCliRemovePlanRecord(const std::string& dir);

// The label of a set planned at date ("YYYY-MM-DD HH:MM") that was given none: "QV", the date's
// digits, "-" and the time's ("QV20261210-1430").
std::string QvCliDefaultLabel(const std::string& date);

// The local time now as "YYYY-MM-DD HH:MM".
std::string QvCliNowText();

#endif
