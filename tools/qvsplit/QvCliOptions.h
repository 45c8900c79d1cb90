// The command line of qvsplit: every option in one struct, parsed from one table.
#ifndef QVCLIOPTIONS_H
#define QVCLIOPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

struct QvCliOptions {
    std::string command;               // first argument: split, rvx, recover, show, where, verify, pack, report, demo
    std::vector<std::string> operands; // positional arguments after the command (PATH..., DIR, TEXT)
    uint32_t sizeMb = 0;               // --size MB or cd|dvd|dvd-dl|bd|bd-dl; required by split, rvx
    bool sizePreset = false;           // --size named a disc
    std::string fileSystem;            // --fs iso|iso-udf|none; "" = iso for a disc, else none
    uint64_t capacityBytes = 0;        // the medium's capacity in bytes, set by --size (pack, verify:
                                       // 0 = each medium's Split_Size) or exactly by --capacity-bytes N
    std::string outDir;                // --out DIR; required by split, rvx; --out FILE (report): the page,
                                       // default MEDIA_DIR/qvsplit-report.html
    std::string rulesFile;             // --rules RULES.xml; instead of PATH...
    std::vector<std::string> since;    // --since SET, repeatable: plan only what changed since these
                                       // sets (folders of earlier splits), oldest first
    std::string label;                 // --label NAME (split): the set's name on its discs (volume
                                       // ids, catalogue, page); "" = "QV" and the plan's date and time
    std::vector<std::string> exclude;  // --exclude PATH, repeatable
    std::vector<std::string> first;    // --first PATH, repeatable: only on the first medium
    std::vector<std::string> last;     // --last PATH, repeatable: only on the last medium
    std::vector<std::string> all;      // --all PATH, repeatable: on every medium
    bool together = false;             // --together: each PATH's entries stay on one medium
    bool followLinks = false;          // --follow-links: plan what links point to (default: the links)
    uint32_t method = 0;               // --method files|dirs, default files (0)
    uint32_t firstFreeMb = 0;          // --first-free MB, default 0
    uint32_t type = 0;                 // --type N, default 0
    std::string disp = "QvSplit";      // --disp TEXT, default "QvSplit"
    std::string cutBigList;            // --cut-big LIST.ini: cut oversize files, part list there
    bool strict = false;               // --strict: refuse a split when a rule selects nothing
    bool yes = false;                  // --yes: no question before files are modified
    bool estimate = false;             // --estimate (rvx): keep no file, print count and total
    std::string listFile;              // --list LIST.ini (recover)
    char drive = 'C';                  // --drive X (recover), default C
    std::string format;                // --format iso|tar|list (pack); required
    std::string toDir;                 // --to DIR (pack: folder for the images; restore: the folder
                                       // the media are restored into); required
    uint32_t medium = 0;               // --medium N (pack): only medium N, default 0 (every medium)
    bool force = false;                // --force (pack): remove media files of another set in --to
    bool overwrite = false;            // --overwrite (restore): replace files that differ
    int catalog = -1;                  // --catalog (1) / --no-catalog (0): the catalogue files on every
                                       // medium; -1 = default: pack puts them on ISO images, and split
                                       // keeps room for them under --fs iso or iso-udf
    std::string planDir;               // --plan DIR (check, restore): the plan whose copies of the
                                       // media's checksum lists and notes stand in for ones a
                                       // medium lacks or lost
    bool quiet = false;                // --quiet: no progress line
    bool json = false;                 // --json: the summary as JSON
    std::string logFile;               // --log FILE: library log appended there
    bool help = false;                 // --help, -h; help COMMAND
    bool version = false;              // --version
    std::string generate;              // --generate FORM: the manual page, a completion or the
                                       // docs' option blocks, made from the command descriptions
    std::vector<std::string> arguments;  // the command line after the program name, as given
};

// Parses argv into options. On a usage error returns false and sets error.
bool QvCliParse(int argc, char** argv, QvCliOptions& options, std::string& error);

// The help text of a command ("" for the overview).
std::string QvCliUsage(const std::string& command);

#endif
