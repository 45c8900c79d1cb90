// What a medium tells about the set it belongs to, in "QVSPLIT-MEDIUM.txt" at its root: which
// set and which medium it is, how many files its checksum list names, whether the set follows
// earlier sets, which files were cut into parts (and on which media the parts are), and which
// files the set records as deleted. Pack puts it first on the medium, so that a reader knows
// the set before its files.
#ifndef QVCLIMEDIUMNOTES_H
#define QVCLIMEDIUMNOTES_H

#include <cstdint>
#include <string>
#include <vector>

extern const char* const kQvCliNotesFile;

struct QvCliMediumNotes {
    std::string set;   // the set's identity: 16 hex digits
    int medium = 0;    // this medium's number
    int media = 0;     // how many media the set has
    uint64_t files = 0;  // lines of the medium's checksum list
    int follows = 0;     // how many earlier sets the set follows (split --since): its files
                         // replace the copies those sets restored
    struct Cut {
        std::string path;        // the whole file's path inside the media
        int parts = 0;           // how many parts it was cut into
        std::vector<int> media;  // the medium of each part, part 1 first (0: not in the plan)
    };
    std::vector<Cut> cuts;             // files with a part on this medium
    std::vector<std::string> deleted;  // paths inside the media of files deleted since the sets it follows
};

std::string QvCliNotesText(const QvCliMediumNotes& notes);
// False, with error naming the line, on text that is not such notes.
bool QvCliParseNotes(const std::string& text, QvCliMediumNotes& notes, std::string& error);

// A part file's name, "NAME.STAMP.PartN" (STAMP: 14 digits): the whole file's name and N; false
// for any other name.
bool QvCliPartName(const std::string& name, std::string& whole, int& number);

#endif
