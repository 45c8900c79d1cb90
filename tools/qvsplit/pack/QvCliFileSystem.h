// The file system a medium will carry, as the allocation model the library plans with.
#ifndef QVCLIFILESYSTEM_H
#define QVCLIFILESYSTEM_H

#include "QvCliOptions.h"
#include "report/QvCliPlanRecord.h"

#include <cstdint>
#include <string>

// The file system the options choose: --fs, else iso for a disc preset, else none.
std::string QvCliFileSystem(const QvCliOptions& o);
// Sets the library's allocation model for that file system (none: file bytes); with catalog,
// room is kept on every medium for the catalogue files of a plan made as record says
// (required when --catalog asks for it).
void QvCliApplyFileSystem(const QvCliOptions& o, bool catalog = false, const QvCliPlanRecord& record = QvCliPlanRecord());
// Whether the room kept by default is for the checksum list alone: tar archives carry no
// catalogue files unless asked.
bool QvCliRoomForSumsOnly(const QvCliOptions& o);
// The allocation unit of that file system: what a file of one byte takes.
uint64_t QvCliBlockBytes(const QvCliOptions& o);

#endif
