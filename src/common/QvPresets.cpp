// The allocation models of the file systems discs are written with, and the sizes of the
// discs, measured against the images that xorriso and genisoimage make (see
// docs/benchmarks.md). Each term is rounded up from what was measured, so that a planned medium
// never needs more than its disc.
#include "QvSplit.h"

#include <cstring>

namespace {

const uint32_t kSector = 2048;

// ISO 9660 level 3 with Rock Ridge and Joliet (long names): every entry has a record in the
// ISO tree (its name there at most 31 characters, the Rock Ridge name in full) and one in the
// Joliet tree (UTF-16, at most 103 characters); every folder has its own directory extents in
// both trees and a row in each of the four path tables (two of the ISO tree: 8 bytes, its
// name, one byte to make the length even; two of the Joliet tree: 8 bytes and its name in
// UTF-16); an image starts with its system area, volume descriptors and root.
const uint32_t kPathTableRows = 2 * (8 + 1) + 2 * 8;
const QvAllocationModel kIso = {
    kSector,     // cbBlock
    148,         // cbPerEntry
    1,           // cbPerNameByte: the name in Rock Ridge
    2,           // cbPerNameUnit
    103,         // cchNameUnitsMax
    2 * kSector + kPathTableRows,  // cbPerFolder
    186ull * kSector,   // cbPerMedium
    2,           // cbPerFolderNameByte: the name in both ISO path tables
    4,           // cbPerFolderNameUnit: the UTF-16 name in both Joliet path tables
    2,           // cbPerLinkTargetByte: a link's target in its Rock Ridge entries, which spill
                 // into continuation areas once long (measured: about twice the target at
                 // 1,000 bytes, less below)
    1023,        // cchLinkTargetMax: the longest target libisofs stores (measured: 1,024
                 // bytes is "Rock Ridge path too long")
    0, 0, 0, 0, 0,  // no header term
    110,         // cchRecordNameBytes: the longest name a record holds with its Rock Ridge
                 // fields (measured: 121 bytes; a folder of one file named 122 takes a
                 // sector more), less a margin for the ISO name's own length
    QvModelLinkedDataOnce,  // an image stores a hard-linked file's data once (measured:
                            // four names of a 25,762,552-byte file take 27,541,504 bytes)
    1,           // cbPerShortNameByte: the ISO 9660 name, in the record and the path tables
    31,          // cchShortNameMax: level 3 names are cut at 31 characters (xorriso writes
                 // one '_' for each character outside its set, genisoimage one for each byte)
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // no room for a catalogue: the caller asks for it
};

// The same with a UDF bridge (genisoimage -udf): every entry also has a UDF file entry of one
// sector and an identifier in its folder; every folder its own file entry and directory data;
// more fixed structures.
const QvAllocationModel kIsoUdf = {
    kSector,
    148 + kSector + 64,
    2,
    2,
    103,
    3 * kSector + 64 + kPathTableRows,
    430ull * kSector,
    2,
    4,
    2,
    1023,
    0, 0, 0, 0, 0,
    76,          // genisoimage's records hold less (measured: 82 bytes fit, 86 spill)
    QvModelLinkedDataOnce,
    1,
    31,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // no room for a catalogue: the caller asks for it
};

// POSIX tar (pax) as pack writes it: a 512-byte header per entry and the file's data in whole
// 512-byte blocks; an entry whose path, link target or size the header cannot hold has an
// extended header before it: its own 512-byte header, then its records in whole blocks (the
// path, the target and a large size, each with its key and length; the time with its
// fraction, 31 bytes; the character set of a name that is not UTF-8, 21); an archive ends
// with two empty blocks. A folder the medium's
// entries are restored under is counted as an entry, though only a folder kept whole is one.
const QvAllocationModel kTar = {
    512,         // cbBlock
    512,         // cbPerEntry: the header
    0,
    0,
    0,
    0,           // cbPerFolder: a folder is its header alone
    1024,        // cbPerMedium: the two end blocks (a file is not padded to a whole record)
    0,
    0,
    0,           // cbPerLinkTargetByte: a short target is in the header; a long one below
    0,           // cchLinkTargetMax: any target can be stored
    100,         // cchHeaderName
    155,         // cchHeaderPrefix
    512,         // cbPerExtHeader: its own header
    1,           // cbPerExtHeaderByte
    64,          // cbExtHeaderRecords: the time and the character set, and 12 to spare
    0,           // cchRecordNameBytes: a header holds no name beside its path
    0,           // pack stores every name of a hard-linked file with its data
    0, 0,        // no short names
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // no room for a catalogue: the caller asks for it
};

struct DiscPreset {
    const char* name;
    uint64_t sectors;  // of 2,048 bytes
};

// Real capacities of recordable discs; where two kinds share a name, the smaller.
const DiscPreset kDiscPresets[] = {
    {"cd", 360000},       // CD-R 80 min
    {"dvd", 2295104},     // DVD+R (DVD-R: 2,298,496)
    {"dvd-dl", 4171712},  // DVD-R DL (DVD+R DL: 4,173,824)
    {"bd", 12219392},     // BD-R
    {"bd-dl", 24438784},  // BD-R DL
};

}  // namespace

extern "C" QVSPLIT_API BOOL QvGetModelPreset(const char* pszName, QvAllocationModel* pModel) {
    if (!pszName || !pModel) return FALSE;
    const QvAllocationModel* found = nullptr;
    if (std::strcmp(pszName, "iso") == 0)
        found = &kIso;
    else if (std::strcmp(pszName, "iso-udf") == 0)
        found = &kIsoUdf;
    else if (std::strcmp(pszName, "tar") == 0)
        found = &kTar;
    if (!found) return FALSE;
    *pModel = *found;
    return TRUE;
}

extern "C" QVSPLIT_API uint64_t QvGetDiscSectors(const char* pszName) {
    if (!pszName) return 0;
    for (const DiscPreset& disc : kDiscPresets)
        if (std::strcmp(pszName, disc.name) == 0) return disc.sectors;
    return 0;
}
