// Making real media from a plan: what pack and verify --fs share.
#ifndef QVCLIPACK_H
#define QVCLIPACK_H

#include "QvCliOptions.h"
#include "mediaset/QvCliMediaSet.h"

#include <cstdint>
#include <string>

// The capacity of a medium in bytes: the one given on the command line, else its Split_Size.
uint64_t QvCliCapacityBytes(const QvCliOptions& o, const QvCliMedium& medium);

// The exact size of the ISO image of a medium, measured without writing it (the
// checksum list is in the room the plan kept).
bool QvCliIsoImageSize(const QvCliMedium& medium, uint64_t& bytes, std::string& error);
// The exact size of the tar archive of a medium, measured without reading or writing a file.
bool QvCliTarArchiveSize(const QvCliMedium& medium, uint64_t& bytes, std::string& error);

#endif
