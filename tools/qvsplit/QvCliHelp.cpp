// Every command of qvsplit, its synopses and description, and each option it takes.
#include "QvCliHelp.h"

#ifndef QVSPLIT_VERSION
#define QVSPLIT_VERSION "0"
#endif
#ifndef QVSPLIT_DOCDIR
#define QVSPLIT_DOCDIR "share/doc/QvSplit"
#endif

namespace {

QvCliOptionHelp Flag(const char* flag, const char* text) { return {flag, QvCliValue::kNone, "", "", text}; }
QvCliOptionHelp Text(const char* flag, const char* name, const char* text) { return {flag, QvCliValue::kText, name, "", text}; }
QvCliOptionHelp Dir(const char* flag, const char* name, const char* text) { return {flag, QvCliValue::kDirectory, name, "", text}; }
QvCliOptionHelp File(const char* flag, const char* name, const char* text) { return {flag, QvCliValue::kFile, name, "", text}; }
QvCliOptionHelp Words(const char* flag, const char* name, const char* words, const char* text) {
    return {flag, QvCliValue::kWord, name, words, text};
}

const char* const kDiscs = "cd dvd dvd-dl bd bd-dl";

QvCliOptionHelp Capacity() {
    return Words("--size", "SIZE", kDiscs,
                 "the capacity in MB (1,048,576 bytes), or a disc's exact capacity: cd, dvd, dvd-dl, bd, bd-dl "
                 "(default: each medium's own size)");
}
QvCliOptionHelp CapacityBytes() { return Text("--capacity-bytes", "N", "the capacity exactly, in bytes"); }
QvCliOptionHelp Json(const char* what) { return Flag("--json", what); }
QvCliOptionHelp Quiet(const char* what) { return Flag("--quiet", what); }
QvCliOptionHelp Log() { return File("--log", "FILE", "append the library's log to FILE (as QVSPLIT_LOG does)"); }
QvCliOptionHelp FollowLinks(const char* what) { return Flag("--follow-links", what); }

const std::vector<QvCliCommandHelp> kCommands = {
    {"split",
     "plan media for files and folders, writing one media file per medium",
     {"split --size SIZE --out DIR [OPTIONS] PATH...", "split --size SIZE --out DIR --rules RULES.xml [OPTIONS]"},
     {"Plans media for the given paths: each PATH may go on any medium. The media files Media1.xml ... "
      "MediaN.xml are written into DIR; nothing is copied. The last component of a PATH or of --exclude "
      "may be a quoted pattern ('/home/me/*.tmp', 'log?.txt').",
      "Whatever a selected path holds that goes on no medium is listed under LEFT OUT with its reason, "
      "and kept beside the media files in qvsplit-left-out.xml. A split is refused only when no plan "
      "can exist, and the refusal names its cause."},
     {Words("--size", "SIZE", kDiscs,
            "medium size in MB (1,048,576 bytes), or a disc: cd (CD-R 80 min), dvd (DVD+R), dvd-dl (DVD-R DL), "
            "bd (BD-R), bd-dl (BD-R DL)"),
      Words("--fs", "TYPE", "iso iso-udf tar none",
            "file system of the media, counted in every fit: iso (ISO 9660 with Rock Ridge and Joliet; the "
            "default for a disc), iso-udf (with a UDF bridge), tar (a pax tar archive), none (file bytes; the "
            "default for a size in MB)"),
      Dir("--out", "DIR", "folder for the media files (created when missing)"),
      File("--rules", "FILE", "take the rules from a rules file instead of PATH arguments"),
      File("--since", "SET",
           "plan only the files that are new or changed (size or write time) since the set in folder SET, "
           "an earlier split's --out (or the QVSPLIT-CATALOG.txt.gz pack put on its discs); repeatable, "
           "oldest first: a chain, where each path's latest record counts. Files gone since are listed in "
           "Deleted.xml beside the media files. Planned file by file (not with --method dirs). Nothing "
           "changed: says so and exits 0 without media"),
      File("--first", "PATH", "only on the first medium (repeatable)"),
      File("--last", "PATH", "only on the last medium (repeatable)"),
      File("--all", "PATH", "on every medium (repeatable)"),
      Text("--label", "NAME",
           "the set's name on its discs: each ISO image's volume id is NAME, '-' and its number; the "
           "catalogue and the page show it (letters, digits, '-', '_', at most 24; default QV and the date "
           "and time, QV20261210-1430)"),
      File("--exclude", "PATH", "leave PATH out (repeatable)"),
      Flag("--together", "keep the entries of each PATH together on one medium"),
      Words("--method", "M", "files dirs", "place file by file (files, the default) or keep folders whole where they fit (dirs)"),
      FollowLinks("plan the files and folders symbolic links point to (default: each link is an entry of "
                  "its own, as tar and rsync keep them)"),
      Text("--first-free", "MB", "space to keep free on the first medium (default 0)"),
      Text("--type", "N", "type value written into every media file (default 0)"),
      Text("--disp", "TEXT", "display text written into every media file (default QvSplit)"),
      File("--cut-big", "LIST",
           "cut files larger than a medium into parts next to them and record them in the part list LIST "
           "(this modifies files! asks first unless --yes)"),
      Flag("--strict", "refuse the split when a rule selects nothing (a path not found)"),
      Flag("--catalog",
           "keep room on every medium for the catalogue files 'pack' puts on it (the set's report page and "
           "a text list of every file), counted from the files selected; the default for --fs iso and "
           "iso-udf unless --cut-big is given"),
      Flag("--no-catalog", "keep no room for the catalogue files"),
      Flag("--yes", "do not ask before modifying files"),
      Json("print the summary as JSON"),
      Quiet("no progress line"),
      Log()}},

    {"rvx",
     "spread whole items (files or folders) over numbered item-list media",
     {"rvx --size SIZE --out DIR [OPTIONS] PATH..."},
     {"Spreads whole items over item-list media files media1.xml ... in DIR, each file or folder kept as "
      "one; items given with --all go on every medium. With --estimate no file is kept: only the number "
      "of media and the total size are printed."},
     {Words("--size", "SIZE", kDiscs, "medium size in MB (1,048,576 bytes), or a disc: cd, dvd, dvd-dl, bd, bd-dl"),
      Words("--fs", "TYPE", "iso iso-udf tar none", "file system of the media, counted in every fit (as for split)"),
      Dir("--out", "DIR", "folder for the item-list media files (created when missing)"),
      File("--all", "PATH", "an item on every medium (repeatable)"),
      Flag("--estimate", "keep no file: print the number of media and the total size"),
      FollowLinks("size what symbolic links point to"),
      Text("--type", "N", "type value written into every media file (default 0)"),
      Text("--disp", "TEXT", "display text written into every media file (default QvSplit)"),
      Json("print the summary as JSON"),
      Quiet("no progress line"),
      Log()}},

    {"recover",
     "join files that a split cut into parts",
     {"recover --list LIST.ini [OPTIONS]"},
     {"Joins every file recorded in the part list from its parts, on drive X (default C, which is / "
      "here), and removes the parts it joined. A file whose parts are not all there with the sizes a cut "
      "gives them is named and kept in parts; the command then exits 1."},
     {File("--list", "LIST", "the part list a split with --cut-big wrote"),
      Text("--drive", "X", "the drive the list's paths are on (default C)"),
      Flag("--yes", "do not ask before modifying files"),
      Quiet("no progress line"),
      Log()}},

    {"show",
     "summarise an existing media set",
     {"show DIR [--json]"},
     {"Summarises the media set in DIR: one row per medium with its files, bytes and fill, and what was "
      "left out."},
     {Json("print the summary as JSON")}},

    {"where",
     "tell which media list a path",
     {"where DIR TEXT [--json]", "where PATH SET... [--json]"},
     {"Lists the media of DIR that hold a path containing TEXT (ignoring case). Given a path and a chain "
      "of sets (oldest first, as split --since takes them), names the latest set and its media that hold "
      "the path's latest copy, or the set that recorded it deleted. Exits 1 when no medium matches, or no "
      "set holds the path."},
     {Json("print the result as JSON")}},

    {"verify",
     "check a media set against the disk now (and its ISO images' sizes)",
     {"verify DIR [OPTIONS]"},
     {"Checks the media set in DIR against the disk now: every listed file exists with the recorded size "
      "and write time, every listed folder still holds what was recorded. With --fs iso it also measures "
      "the ISO image 'qvsplit pack --format iso' would make of each medium (exactly, without writing it) "
      "and compares it with the capacity; with --fs tar, likewise the tar archive of 'qvsplit pack "
      "--format tar'. Exits 1 when anything changed or an image or archive does not fit."},
     {Words("--fs", "TYPE", "iso iso-udf tar none",
            "iso: measure ISO 9660 images (level 3, Rock Ridge, Joliet); iso-udf: not measurable here "
            "(libisofs makes no UDF); tar: measure tar archives; none (default)"),
      Capacity(),
      CapacityBytes(),
      FollowLinks("the plan followed links (as split --follow-links)"),
      Json("print the result as JSON")}},

    {"pack",
     "make each medium of a set into an ISO image, a tar archive or a path list",
     {"pack --format iso|tar|list --to DIR [OPTIONS] MEDIA_DIR"},
     {"Makes each medium planned in MEDIA_DIR into one file in DIR (created when missing): Media1.iso, "
      "Media1.tar or Media1.list, ... Every entry goes to its target folder inside the medium; a folder "
      "kept whole brings everything below it; links kept as entries stay symbolic links. A file is "
      "written under a temporary name and renamed once complete.",
      "Every image and archive also carries QVSPLIT-SHA256SUMS (the SHA-256 of each of its files, as "
      "'sha256sum -c' reads it; a copy goes to MEDIA_DIR as MediaN.SHA256SUMS) and QVSPLIT-MEDIUM.txt "
      "(its set and number, for check and restore)."},
     {Words("--format", "FORMAT", "iso tar list",
            "iso: an ISO 9660 image, level 3, with Rock Ridge and Joliet (long names); every image is "
            "measured first and one larger than its capacity is refused before anything is written. tar: a "
            "POSIX (pax) tar archive, long names, modes and times kept; measured first and refused likewise "
            "(plan it with --fs tar). list: a graft-point path list for 'xorriso -as mkisofs -graft-points "
            "-path-list LIST' or 'genisoimage -graft-points -path-list LIST' (without -f, so that links stay "
            "links)"),
      Dir("--to", "DIR", "folder for the files made"),
      Capacity(),
      CapacityBytes(),
      Text("--medium", "N", "only medium N"),
      Flag("--catalog",
           "put QVSPLIT-CATALOG.html (the set's report, marking the medium it is on, its data compressed "
           "inside it) and QVSPLIT-CATALOG.txt.gz (medium TAB bytes TAB written TAB path, a line per entry "
           "of the set, then 'sha256 TAB hex TAB path' for the files of that medium; zgrep reads it, a "
           "split can follow it with --since) at the root of every image or archive; the default for iso, "
           "where an image without room for them (a plan made without split --catalog) is made without "
           "them, said so"),
      Flag("--no-catalog", "no catalogue files"),
      Flag("--force",
           "remove media files of another set from DIR (files this pack does not replace, not packed from "
           "this set), which pack otherwise refuses to leave beside it"),
      FollowLinks("the plan followed links (as split --follow-links)"),
      Json("print the summary as JSON"),
      Quiet("no progress bar and no line per medium: the last line alone")}},

    {"check",
     "read every file of packed media and compare it with the checksums they carry",
     {"check [OPTIONS] SOURCE..."},
     {"Reads every file of each medium and compares it with the checksum list pack put on it "
      "(QVSPLIT-SHA256SUMS, the format 'sha256sum -c' reads). SOURCE is an ISO image or a tar archive "
      "made by pack (read as they are, nothing is mounted), or the folder of a mounted disc. Each file is "
      "good, changed, missing, unreadable (with the byte where its reading failed) or unexpected (on the "
      "medium, not in its list). Exits 0 only when every file of every medium is good."},
     {Dir("--plan", "DIR",
          "the plan the media were packed from: where a medium has no list or its list cannot be read (a "
          "damaged or cut-short image), its copy there (MediaN.SHA256SUMS, found by the image's name "
          "MediaN.iso or .tar) is used instead"),
      Json("print the result as JSON"),
      Quiet("no progress bar")}},

    {"restore",
     "put packed media of a set back under a folder, checked, cut files joined",
     {"restore --to DIR [OPTIONS] SOURCE..."},
     {"Restores the media of one set, in any order and any number at a time, under DIR: each file at its "
      "path inside the medium, with its write time and mode, links as links and folders kept whole (empty "
      "ones too). SOURCE is an ISO image or a tar archive made by pack, or the folder of a mounted disc.",
      "Every file is checked against its medium's checksum list before it takes its name; the parts of a "
      "file cut into parts wait in DIR/.qvsplit-restore until the last one has come, then the file is "
      "joined (the media still to come are named at the end). A file already there with the right "
      "checksum is skipped, so a stopped restore is simply run again; a file that differs is left as it "
      "is and named. Restoring the sets of a chain (split --since) in order removes the files each set "
      "records as deleted.",
      "Refused: a medium of another set, a medium given twice, a list that does not match its medium, and "
      "any path that would lead out of DIR. Exits 1 when anything was not restored."},
     {Dir("--to", "DIR", "the folder to restore into (created when missing)"),
      Dir("--plan", "DIR",
          "the plan the media were packed from: a medium made without room for its checksum list and notes "
          "(pack says so) is restored with their copies there (MediaN.SHA256SUMS, MediaN.MEDIUM.txt, found "
          "by the image's name)"),
      Flag("--overwrite", "replace files (and links) that differ from the medium's"),
      Json("print the result as JSON"),
      Quiet("no progress bar")}},

    {"report",
     "make one HTML page of a set: fill of each medium, contents, left out, search",
     {"report [--out FILE.html] [--quiet] MEDIA_DIR"},
     {"Makes one self-contained HTML page of the media set in MEDIA_DIR, which any browser opens from the "
      "disk (no network): each medium's fill against its capacity, its largest folders and files and "
      "everything on it, what was left out and why, the command the plan was made with, and a search box "
      "that tells which medium holds a path (as 'qvsplit where' does). Open it as FILE.html#q=TEXT to "
      "search for TEXT at once."},
     {File("--out", "FILE", "where to write the page (default: MEDIA_DIR/qvsplit-report.html)"),
      Quiet("do not print the page's path")}},

    {"demo",
     "split a generated sample tree and show the result",
     {"demo [OPTIONS]"},
     {"Creates a small sample tree (sparse files, no disk cost) in a temporary folder, splits it with "
      "rules of every kind, and prints the summary and where the files are."},
     {Json("print the summary as JSON"),
      Quiet("no progress line"),
      Log()}},
};

const std::vector<QvCliOptionHelp> kProgramOptions = {
    Flag("--help", "the commands and what they do; with a command (or 'qvsplit help COMMAND'), its options"),
    Flag("--version", "the program's version and the libraries it makes images, archives and checksums with"),
    Words("--generate", "FORM", "man complete-bash complete-zsh markdown",
          "write the manual page (man), the completions for bash or zsh (complete-bash, complete-zsh) or "
          "the option blocks of the program's reference (markdown) to standard output"),
};

const std::vector<QvCliManualSection> kSections = {
    {"DESCRIPTION",
     {"qvsplit divides a selection of files and folders into media of a fixed size: CDs, DVDs, Blu-ray "
      "discs, tapes, any size in megabytes. It copies nothing while it plans: for each medium, split "
      "writes a media description file (MediaN.xml) that lists the files and folders going onto it and "
      "the folder each is restored under. Rules say what to include or leave out, on which media it must "
      "land (the first, the last, every one, any one) and what stays together; files larger than a "
      "medium can be cut into parts and joined again by recover.",
      "The plan counts what the media's file system takes (ISO 9660 sectors and directory records, tar "
      "blocks), so each medium's image fits its disc. pack then makes each medium into an ISO image or a "
      "tar archive carrying the checksums of its files and a catalogue of the whole set; check reads "
      "them back, and restore puts the set back under a folder."}},
    {"EXIT STATUS",
     {"0\tsuccess",
      "1\tthe work was refused or failed: a split no plan exists for (the cause is named), a set that "
      "changed (verify), a file not good (check) or not restored (restore), a path no set holds (where)",
      "2\ta usage error",
      "3\tcancelled (Ctrl-C)"}},
    {"ENVIRONMENT",
     {"QVSPLIT_LOG\ta file the library's log is appended to (UTF-8), or - for standard error; unset, no log "
      "is written",
      "QVSPLIT_LOG_LEVEL\tinfo, warning or error: only the records of that level and above",
      "QVSPLIT_LOG_MAX_MB\tthe size a log file may reach before it is renamed with .1 appended and a new "
      "one begun (a whole number, default 256)",
      "QVSPLIT_FOLLOW_LINKS\t1: follow symbolic links (as --follow-links)",
      "QVSPLIT_DRIVE_X\tthe folder that drive X: of a Windows path stands for (default /)"}},
    {"FILES",
     {"Media1.xml ... MediaN.xml\tthe media description files of a split: the files and folders of each "
      "medium and the folder each is restored under",
      "qvsplit-plan.xml\tthe plan's record beside them: its command, label and options",
      "qvsplit-left-out.xml\twhat a split put on no medium, and why",
      "Deleted.xml\tthe files gone since the sets a split --since followed",
      "qvsplit-report.html\tthe page report writes by default",
      "QVSPLIT-SHA256SUMS, QVSPLIT-MEDIUM.txt\ton every image and archive pack makes: the checksum of each "
      "file, the set and number of the medium",
      "QVSPLIT-CATALOG.html, QVSPLIT-CATALOG.txt.gz\tthe catalogue of the whole set on every disc"}},
    {"EXAMPLES",
     {"qvsplit split --size dvd --out ~/media ~/Documents ~/Photos\tplan DVDs for two folders: "
      "~/media/Media1.xml, Media2.xml, ... list what goes on each",
      "qvsplit report ~/media\tthe plan as one HTML page, ~/media/qvsplit-report.html",
      "qvsplit pack --format iso --to ~/iso ~/media\tan ISO image of each disc, Media1.iso, ..., each "
      "carrying the checksums of its files and the catalogue of the set",
      "qvsplit check ~/iso/*.iso\tread the images back and compare every file with its checksum",
      "qvsplit restore --to ~/back ~/iso/*.iso\tput the set back under ~/back, checked, cut files joined",
      "qvsplit split --size dvd --out ~/media2 --since ~/media ~/Documents ~/Photos\tlater: a set of only "
      "what is new or changed since the first, and what was deleted"}},
    {"SEE ALSO",
     {"xorriso(1), genisoimage(1), tar(1), sha256sum(1).",
      "The reference of the program, the rules file, the media description file and the library: the "
      "docs folder of the source, installed in " QVSPLIT_DOCDIR "."}},
};

}  // namespace

const std::vector<QvCliCommandHelp>& QvCliCommandHelps() { return kCommands; }

const std::vector<QvCliManualSection>& QvCliManualSections() { return kSections; }

const std::vector<QvCliOptionHelp>& QvCliProgramOptions() { return kProgramOptions; }

std::string QvCliGenerateForms() {
    for (const QvCliOptionHelp& o : kProgramOptions)
        if (std::string(o.flag) == "--generate") return o.words;
    return std::string();
}

const QvCliCommandHelp* QvCliFindCommandHelp(const std::string& name) {
    for (const QvCliCommandHelp& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

const QvCliOptionHelp* QvCliFindOptionHelp(const QvCliCommandHelp& command, const std::string& flag) {
    for (const QvCliOptionHelp& o : command.options)
        if (flag == o.flag) return &o;
    return nullptr;
}

const char* QvCliVersion() { return QVSPLIT_VERSION; }
