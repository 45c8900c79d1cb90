// Public interface of the QvSplit library: the split object, its records and callback.
#ifndef QVSPLIT_H
#define QVSPLIT_H

#include <stdint.h>
#include <stddef.h>
#include <vector>

#if defined(_WIN32)
// The interface is that of the wide-character build: LPCTSTR must be a wide string.
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#else
// Windows type names used by the interface, for hosts without <windows.h>.
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef uint16_t WORD;
typedef wchar_t WCHAR;
typedef const wchar_t* LPCWSTR;
typedef const wchar_t* LPCTSTR;
typedef wchar_t* LPWSTR;
typedef void* LPVOID;
typedef int32_t HRESULT;
typedef int32_t LONG;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef NULL
#define NULL 0
#endif
#define CALLBACK
#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define E_ABORT ((HRESULT)0x80004004L)
#endif

// One macro marks everything the library exports.
#if defined(_WIN32)
#if defined(QVSPLIT_BUILDING)
#define QVSPLIT_API __declspec(dllexport)
#elif defined(QVSPLIT_STATIC)
#define QVSPLIT_API
#else
#define QVSPLIT_API __declspec(dllimport)
#endif
#else
#define QVSPLIT_API __attribute__((visibility("default")))
#endif

// Longest path a rule record holds, terminating null included.
#define QV_RULE_PATH_LEN 260

// Where an entry must land; the values are fixed because callers store them in QvRule.
enum MediaDescriptEnum {
    InFirst = 1,  // only on the first medium
    InLast = 2,   // only on the last medium
    InAll = 3,    // on every medium
    InAny = 4,    // on any one medium
    NotFirst = 5, // on any medium but the first
    NotLast = 6   // on any medium but the last
};

// One rule as a caller hands it over in memory; the layout is fixed.
struct QvRule {
    BOOL bAllTogether;                        // nonzero: the entries form one AllTogether group
    BOOL bInclude;                            // nonzero: include rule, 0: exclude rule
    int32_t iRuleID;                          // the rule's number
    wchar_t szSourcePath[QV_RULE_PATH_LEN];   // file or folder, possibly ending in a wildcard
    wchar_t szTargetPath[QV_RULE_PATH_LEN];   // folder the entries are restored under
    int32_t iLocation;                        // a MediaDescriptEnum value
};

typedef std::vector<QvRule> RuleVector;
typedef std::vector<MediaDescriptEnum> MediaDescriptEnumVector;

// Progress callback: code 0 when writing begins, 1 at each stop point, 2 when done.
// Returning 1 asks the library to stop.
typedef DWORD(CALLBACK* SPLITCB)(DWORD uCode, LPVOID pData, DWORD dwValue, LPVOID lpUserParam);

// The split object as callers see it.
class iCQvSplit {
public:
    // Switches cutting of oversize files on (with a part list path) or off.
    virtual long SetSplitBigFile(BOOL bSplit, DWORD dwSplitSize, LPCTSTR lpszSplitFileList) = 0;
    // Rebuilds every file of a part list on the given drive letter.
    virtual long RecoverFiles(WORD wDrive, LPCTSTR strSplitListFile) = 0;
    // Sets a split up from a rules file; 1 on success, 0 on failure.
    virtual DWORD SetupSplit(LPCTSTR strVolumeID, LPCTSTR strRulesFilePath, LPCTSTR strDispFlag,
                             DWORD dwType, DWORD dwSplitSize, DWORD dwFirstMediaFreeSpace,
                             DWORD dwOutputMethod, LPCTSTR strOutputDir = NULL,
                             SPLITCB lpCB = NULL, LPVOID lpUserParam = NULL) = 0;
    // Sets a split up from rules in memory; writes them to "Rules.xml" in the output folder first.
    virtual DWORD SetupSplit(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag,
                             DWORD dwType, DWORD dwSplitSize, DWORD dwFirstMediaFreeSpace,
                             DWORD dwOutputMethod, LPCTSTR strOutputDir = NULL,
                             SPLITCB lpCB = NULL, LPVOID lpUserParam = NULL) = 0;
    // Writes the media description files; returns their number, 0 on failure.
    virtual DWORD EstimateSplit() = 0;
    // Spreads whole items over numbered item-list media files.
    virtual DWORD SplitRVX(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag,
                           DWORD dwType, DWORD dwSplitSize, int bSaveMedia, LPCTSTR strOutputDir,
                           SPLITCB lpCB, LPVOID lpUserParam) = 0;
    // Total bytes placed by the last SplitRVX.
    virtual int64_t GetTotalSize() = 0;
    virtual ~iCQvSplit() {}
};

// Creates a split object; the caller deletes it through the interface.
extern "C" QVSPLIT_API iCQvSplit* GetQvSplitInterface(void);

// What the last split, estimate or item-list split of this process left out and why it
// failed, for callers that show it to a person. Valid until the next one starts; not for use
// by two threads at once.

// Why a file or folder under a selected path is on no medium.
enum QvLeftOutReason {
    QvLeftOutTooBig = 1,        // larger than a medium while cutting is off
    QvLeftOutUnreadable = 2,    // a folder that cannot be listed (permission denied, ...)
    QvLeftOutSpecialFile = 3,   // a pipe, socket or device: no file to copy
    QvLeftOutNameTooLong = 4,   // a name longer than a Windows name may be
    QvLeftOutSystemFolder = 5,  // "System Volume Information"
    QvLeftOutVanished = 6,      // listed, then gone before it could be described
    QvLeftOutMediaLimit = 7,    // an item-list item beyond the last medium an item-list split makes
    QvLeftOutLinkTarget = 8     // a link whose target the medium's file system cannot store
};

// Number of entries left out.
extern "C" QVSPLIT_API DWORD QvGetLeftOutCount(void);
// Entry dwIndex: its path (valid until the next split), its size in bytes (-1 when unknown)
// and its QvLeftOutReason; FALSE past the end. Any output pointer may be null.
extern "C" QVSPLIT_API BOOL QvGetLeftOut(DWORD dwIndex, LPCTSTR* ppszPath, int64_t* piSize,
                                         DWORD* pdwReason);
// The error messages of the last split in the order they arose (the first is the cause);
// null past the end.
extern "C" QVSPLIT_API LPCTSTR QvGetErrorText(DWORD dwIndex);

// Rules of the last setup (or item-list split) that select nothing: each with its number, its
// source path as given, and why. Valid until the next setup starts.
enum QvDroppedRuleReason {
    QvRuleNotFound = 1,          // no file or folder at the path (for a pattern: no folder)
    QvRuleEmptyPath = 2,         // no source path at all
    QvRuleAlreadyEverywhere = 3  // an include merged into a rule of the same path that already
                                 // puts it on every medium: it adds nothing
};
extern "C" QVSPLIT_API DWORD QvGetDroppedRuleCount(void);
// Entry dwIndex; FALSE past the end. Any output pointer may be null.
extern "C" QVSPLIT_API BOOL QvGetDroppedRule(DWORD dwIndex, int32_t* piRuleID, LPCTSTR* ppszPath,
                                             DWORD* pdwReason);

// What the last split, estimate or item-list split made, read after it returns (the media
// count also from the callback while it runs). Valid until the next one starts; not for use
// by two threads at once.
//
// One medium as its media file describes it.
struct QvMediumReport {
    uint32_t cbSize;       // set by the caller to sizeof(QvMediumReport)
    uint32_t dwNumber;     // N of "MediaN.xml"; 0 for the last medium while it is unnumbered
    uint32_t dwEntries;    // FILE elements
    uint32_t dwFiles;      // "Media_NumberFiles": files, those of folders kept whole included
    int64_t iFileBytes;    // "Media_Size": the entries' bytes (the first medium's with the
                           // space kept free)
    int64_t iImageBytes;   // "Image_Size" under an allocation model, else -1
    // The bytes of the files' data the medium holds: as iFileBytes, but a file with several
    // names (hard links) counted once where the model stores its data once
    // (QvModelLinkedDataOnce). Filled when cbSize reaches it; a caller built before it was
    // added sets a cbSize that ends at iImageBytes, and gets the fields before it.
    int64_t iDataBytes;
};
// Media saved so far: while a split runs (from its callback, say), those whose media files are
// in place under their names, in the order written; in number order once it has returned.
extern "C" QVSPLIT_API DWORD QvGetMediaCount(void);
// Medium dwIndex (0 is the first); FALSE past the end or when cbSize is too small.
extern "C" QVSPLIT_API BOOL QvGetMedium(DWORD dwIndex, QvMediumReport* pMedium);
// Bytes of the entries planned, each path counted once however many media hold it.
extern "C" QVSPLIT_API int64_t QvGetPlannedBytes(void);

// Why a split planned nothing, when the split refused it (not for a failure to read or write).
enum QvRefusalCode {
    QvRefusedNone = 0,
    QvRefusedWimTooBig = 1,         // a .wim image larger than a medium, which is never cut
    QvRefusedFileTooBig = 2,        // a file larger than a medium while cutting is off
    QvRefusedFirstSet = 3,          // the first-medium set is larger than a medium
    QvRefusedFirstWithAll = 4,      // first-medium set + every-medium set
    QvRefusedBigWithAll = 5,        // the largest file, part or folder + every-medium set
    QvRefusedFirstWithFree = 6,     // first-medium set + every-medium set + space kept free
    QvRefusedLastSet = 7,           // the last-medium set is larger than a medium
    QvRefusedLastWithAll = 8,       // last-medium set + every-medium set
    QvRefusedGroup = 9,             // an AllTogether group larger than a medium
    QvRefusedGroupWithAll = 10,     // an AllTogether group + every-medium set
    QvRefusedItemNoRoom = 11,       // an item-list item finds no room, alone or beside the
                                    // every-medium items
    QvRefusedNothingSelected = 12,  // the selection holds no file
    QvRefusedAllLeftOut = 13,       // every entry of the selection is left out
    QvRefusedNothingChanged = 14,   // following earlier sets: no file new or changed
    QvRefusedOtherSelection = 15    // following earlier sets that record no path of the selection
};
struct QvRefusal {
    uint32_t cbSize;       // set by the caller to sizeof(QvRefusal)
    uint32_t dwCode;       // a QvRefusalCode
    int64_t iBytes;        // what did not fit, in bytes (-1 when the refusal has no figure)
    int64_t iLimit;        // what it had to fit in, in bytes (-1 likewise)
    LPCTSTR pszMessage;    // the log line that reports it (valid until the next split)
};
// The refusal of the last split; FALSE when it refused nothing (or cbSize is too small).
extern "C" QVSPLIT_API BOOL QvGetRefusal(QvRefusal* pRefusal);

// Files the last split cut into parts and recorded in its part list, by full path, in the
// order cut; they stay cut whether or not the split made media. Null past the end.
extern "C" QVSPLIT_API DWORD QvGetCutFileCount(void);
extern "C" QVSPLIT_API LPCTSTR QvGetCutFile(DWORD dwIndex);

// What a medium's file system takes beyond the files' own bytes. With no model set (the
// default) a medium holds file bytes up to the split size. With a model, every fit test, size
// check and medium total of the split and the item-list split counts allocated bytes instead,
// so that the medium's image stays within the split size:
//   a file           its bytes rounded up to whole blocks, plus one entry
//   an entry         cbPerEntry + cbPerNameByte per UTF-8 byte of its name
//                    + cbPerNameUnit per UTF-16 unit of its name (at most cchNameUnitsMax units)
//                    + cbPerShortNameByte per byte of its short name: its UTF-8 bytes, at
//                    most cchShortNameMax (the ISO 9660 name, one character for each byte
//                    or fewer)
//   a folder         cbPerFolder plus its entry, once per medium for every folder the medium's
//                    entries are restored under (a folder kept whole brings all of its own),
//                    + cbPerFolderNameByte per byte of its short name and cbPerFolderNameUnit
//                    per UTF-16 unit of its name (at most cchNameUnitsMax units): what the
//                    folder's name takes beyond its entry, such as its rows in the path tables
//                    of ISO 9660
//   a link kept      an empty file, + cbPerLinkTargetByte per byte of its target (Rock Ridge
//                    stores it); a link whose target is longer than cchLinkTargetMax bytes
//                    (0: no bound), or with a name between its slashes over 255 bytes, cannot
//                    be stored and is left out (QvLeftOutLinkTarget)
//   a medium         cbPerMedium
//   a hard link      with QvModelLinkedDataOnce in dwFlags, a file whose data a medium holds
//                    already under another name (POSIX) takes no data blocks there
//   a long name      with cchRecordNameBytes set, a folder holding an entry whose name takes
//                    more UTF-8 bytes than that (a link: its name, twice its target and two)
//                    takes one more block (cbBlock) for the continuation area the names spill
//                    into (Rock Ridge); the bytes spilled are in the entries' own costs
//   a header         with cchHeaderName set (tar), an entry takes an extended header when its
//                    own header cannot hold it: its path inside the medium ('/'-separated, a
//                    folder's ending in '/') is not ASCII, or is longer than cchHeaderName
//                    bytes and cannot be split at a '/' into at most cchHeaderPrefix and
//                    cchHeaderName - 1 bytes; or it is a link whose target is not ASCII or
//                    longer than cchHeaderName bytes; or a file of 8 GiB or more. It takes
//                    cbPerExtHeader bytes and its records in whole blocks: cbPerExtHeaderByte
//                    per byte of that path and that target (each with its key and length),
//                    and cbExtHeaderRecords bytes of the records every extended header holds
//                    beside them. Under this term a folder the entries are restored under
//                    takes cbPerFolder alone (extracting makes it), while a folder kept whole
//                    and each folder below it is an entry with its header.
// Files of 4 GiB or more take one more entry for every further 4 GiB (ISO 9660 extents).
// The media files still give each file's own size in "FileSize"; the predicted image size
// of each medium is written as the "Image_Size" attribute of "Info".
struct QvAllocationModel {
    uint32_t cbBlock;          // allocation unit of file data (0: bytes as they are)
    uint32_t cbPerEntry;
    uint32_t cbPerNameByte;
    uint32_t cbPerNameUnit;
    uint32_t cchNameUnitsMax;  // 0: every unit counts
    uint32_t cbPerFolder;
    uint64_t cbPerMedium;
    uint32_t cbPerFolderNameByte;
    uint32_t cbPerFolderNameUnit;
    uint32_t cbPerLinkTargetByte;
    uint32_t cchLinkTargetMax;
    uint32_t cchHeaderName;    // 0: no header term
    uint32_t cchHeaderPrefix;
    uint32_t cbPerExtHeader;
    uint32_t cbPerExtHeaderByte;
    uint32_t cbExtHeaderRecords;
    uint32_t cchRecordNameBytes;  // 0: no continuation term
    uint32_t dwFlags;             // QvModelLinkedDataOnce
    uint32_t cbPerShortNameByte;
    uint32_t cchShortNameMax;     // 0: the short name is the whole name
    // Room for a catalogue of the whole set that the caller puts on every medium beside the
    // files (every term 0: none), kept on every medium once the selection is known: a split
    // walks its folders once and distributes once. The catalogue is counted as rows: each
    // file and link the media hold (each file below a folder kept whole too; an empty folder
    // kept whole is a row of its own), an every-medium file once per medium. The room is
    //   cbCatalogFixed
    //   + cbCatalogPerEntry per row, + cbCatalogPerPathByte per byte of its path and
    //     cbCatalogPerNameByte per byte of its name (the path's last part)
    //   + cbCatalogPerDigit per decimal digit of its size, of the widest medium number and of
    //     the widest row or folder number
    //   + cbCatalogPerFolder per folder of rows, + cbCatalogPerFolderByte per byte of its path
    //     and of the folder its rows are restored in
    //   + cbCatalogPerLeftOut per entry left out and rule dropped, + cbCatalogPerPathByte per
    //     byte of its path
    //   + cbCatalogPerMedium per medium,
    // the number of media taken as the most the selection can need (first-fit fills any two
    // media that follow each other beyond one medium). A path's bytes are counted as a JSON
    // string holds it at most: UTF-8, a separator 2 bytes, a character a name cannot hold as
    // it is (U+F000 to U+F0FF, as the host's names are mapped), a control character (C1 too), a
    // character that reorders text (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069), "&",
    // "<" and ">" 6 bytes.
    // The room must not cost a file: when with it an entry would no longer fit an empty medium
    // beside the every-medium set, or the selection would be refused, the split keeps none
    // (QvGetCatalogRoom tells why), unless dwCatalogFlags holds QvCatalogRoomRequired: then
    // such entries are left out (QvLeftOutTooBig) and a refusal stands. No room is kept while
    // files are cut into parts.
    uint64_t cbCatalogFixed;
    uint32_t cbCatalogPerEntry;
    uint32_t cbCatalogPerPathByte;
    uint32_t cbCatalogPerNameByte;
    uint32_t cbCatalogPerDigit;
    uint32_t cbCatalogPerFolder;
    uint32_t cbCatalogPerFolderByte;
    uint32_t cbCatalogPerLeftOut;
    uint32_t cbCatalogPerMedium;
    uint32_t dwCatalogFlags;  // QvCatalogRoomRequired
};
// The model's file system stores the data of a file with several names (hard links) once:
// on a medium that holds one of its names already, another takes its entry alone.
const uint32_t QvModelLinkedDataOnce = 1;
// The catalogue's room stays even where it costs entries or refuses the split.
const uint32_t QvCatalogRoomRequired = 1;

// The room the last split kept on every medium for the catalogue (see QvAllocationModel), and
// why it kept none where the model asked for some.
enum QvCatalogRoomDropped {
    QvCatalogRoomKept = 0,      // kept (or none asked for)
    QvCatalogRoomRefused = 1,   // with it the selection would be refused
    QvCatalogRoomLeftOut = 2,   // with it dwLost more entries would be left out
    QvCatalogRoomCutting = 3    // files are cut into parts
};
struct QvCatalogRoom {
    uint32_t cbSize;   // set by the caller to sizeof(QvCatalogRoom)
    uint32_t dwDropped;  // a QvCatalogRoomDropped
    uint64_t cbRoom;   // bytes kept on every medium
    uint32_t dwLost;   // entries the room cost or would have cost
    uint32_t dwMediaBound;  // the most media the room was counted for
};
// FALSE when cbSize is too small.
extern "C" QVSPLIT_API BOOL QvGetCatalogRoom(QvCatalogRoom* pRoom);

// Sets the model for the splits that follow in this process; null goes back to file bytes.
extern "C" QVSPLIT_API void QvSetAllocationModel(const QvAllocationModel* pModel);

// A row of the catalogue the model keeps room for, handed to the caller's measure.
struct QvCatalogRow {
    LPCTSTR pszPath;        // the file or link, as the split names it
    LPCTSTR pszTargetPath;  // the folder it is restored under
    LPCTSTR pszWriteTime;   // its local last-write time, "%Y%m%d%H%M%S"; "" when unknown
    int64_t iBytes;
    DWORD dwAttributes;
};
// Given a row, takes it and returns 0; given null, ends a group of rows and returns the bytes
// that the group takes in the caller's catalogue, then starts again.
typedef uint64_t(CALLBACK* QvCatalogMeasureProc)(LPVOID pContext, const QvCatalogRow* pRow);
// A caller whose catalogue is compressed counts its rows itself: with a measure set, once the
// selection is known the split hands it the rows of each file and link that any medium may
// take (first, last, any, all but first, all but last, each in path order, as the media list
// them), then null; then the rows of the every-medium entries, then null, that group counted
// once per medium. What it returns stands in the room for the per-row terms of those rows;
// rows below folders kept whole, entries left out and the fixed and per-medium terms are
// counted by the model as before. Counted once a split, before any entry is left out for the
// room. Called on the thread that runs the split. For the splits that follow in this process;
// null: the terms alone.
extern "C" QVSPLIT_API void QvSetCatalogMeasure(QvCatalogMeasureProc pfnMeasure, LPVOID pContext);

// The models of the file systems discs are written with, measured against real images: "iso"
// (ISO 9660 level 3 with Rock Ridge and Joliet), "iso-udf" (the same with a UDF bridge) and
// "tar" (POSIX pax). FALSE for any other name ("none" included), pModel then unchanged.
extern "C" QVSPLIT_API BOOL QvGetModelPreset(const char* pszName, QvAllocationModel* pModel);
// The capacity of a recordable disc in sectors of 2,048 bytes: "cd" (CD-R 80 min), "dvd"
// (DVD+R), "dvd-dl" (DVD-R DL), "bd" (BD-R), "bd-dl" (BD-R DL); 0 for any other name.
extern "C" QVSPLIT_API uint64_t QvGetDiscSectors(const char* pszName);

// Sets that follow sets. A split may follow earlier sets of the same selection: it then plans
// each selected file that is new, or whose size or write time differ from the latest record of
// its path, and nothing else, and records the recorded files gone from the selection as
// deleted ("Deleted.xml" beside the media files). The sets given stay in force for every split
// of this process until cleared; such splits plan file by file (dwOutputMethod 1 is taken as 0).
//
// Paths are compared exactly, letter case included: a name that changed only in case is a
// file deleted under its old name and new under its new one, as is a file that became a link
// or a link a file. A file of the selection that is left out (too big, say) or lies in a folder
// that cannot be listed is not recorded as deleted.
//
// Adds a set, latest last: a folder holding a split's media files ("Media<N>.xml", with its
// "Deleted.xml" if any). For each path the record of the latest set counts, a deletion
// included. FALSE, nothing added and *ppszWhy (when given; valid until the next call) saying
// why, for a folder without media files, a media file that cannot be read, a set that keeps
// folders whole (its media files do not list their files), a set written later than this
// computer's clock says is now, or a set older than one added before it.
extern "C" QVSPLIT_API BOOL QvAddSinceSet(LPCTSTR pszSet, LPCTSTR* ppszWhy);
// Forgets every set added: the splits that follow plan everything again.
extern "C" QVSPLIT_API void QvClearSinceSets(void);
// What the last split found against the sets it followed. A split that follows sets and finds
// no file new or changed writes no media file and is refused with QvRefusedNothingChanged (its
// deletions, if any, are written all the same); one whose sets record no file at or below the
// paths its rules select (sets of another selection) is refused with QvRefusedOtherSelection and
// writes nothing.
struct QvChangeCounts {
    uint32_t cbSize;      // set by the caller to sizeof(QvChangeCounts)
    uint32_t dwSets;      // sets followed; 0: the split followed none
    int64_t iNew;         // files and links planned with no record of their path
    int64_t iChanged;     // planned: recorded with another size or write time
    int64_t iUnchanged;   // recorded as they are, so not planned (and not left out)
    int64_t iDeleted;     // recorded, and gone from the selection
    int64_t iRecorded;    // paths the sets record (the latest record of each, deletions apart)
};
// FALSE when cbSize is too small.
extern "C" QVSPLIT_API BOOL QvGetChangeCounts(QvChangeCounts* pCounts);
// The files the last split recorded as deleted, by the path the latest set recorded; null past
// the end.
extern "C" QVSPLIT_API LPCTSTR QvGetDeletedFile(DWORD dwIndex);

// Paths of this host and the Windows paths the library works with, mapped as the program
// qvsplit and the C interface of QvSplitC.h map them (on POSIX a host path lies on a drive
// whose root is "/", each name as the library lists it).
//
// The drive letter host paths are given on.
extern "C" QVSPLIT_API wchar_t QvGetHostDrive(void);
// The last name of the path may be a pattern: holding '*' or '?' and naming no entry, it keeps
// them as wildcards.
#define QV_HOST_PATH_PATTERN 1u
// pszHostPath (UTF-8 text; on POSIX the bytes of the names) made absolute, as the library's
// path, into pszOut of cchOut characters. Returns its length without the terminating null; when
// cchOut is too small, the size needed with it, and nothing is written. 0 for a null or empty
// path.
extern "C" QVSPLIT_API DWORD QvHostPathToLibrary(const char* pszHostPath, DWORD dwFlags, wchar_t* pszOut,
                                                 DWORD cchOut);
// A path of the library as a path of this host, into pszOut of cbOut bytes; returns as above.
extern "C" QVSPLIT_API DWORD QvLibraryPathToHost(LPCTSTR pszPath, char* pszOut, DWORD cbOut);

#endif
