// Help texts of qvsplit and its commands.
#include "QvCliOptions.h"

namespace {

const char* const kOverview =
    "qvsplit - divide files and folders into media of a fixed size\n"
    "\n"
    "Usage: qvsplit COMMAND [OPTIONS] [ARGS]\n"
    "\n"
    "Commands:\n"
    "  split    plan media for files and folders, writing one media file per medium\n"
    "  rvx      spread whole items (files or folders) over numbered item-list media\n"
    "  recover  join files that a split cut into parts\n"
    "  show     summarise an existing media set\n"
    "  where    tell which media list a path\n"
    "  verify   check a media set against the disk now (and its ISO images' sizes)\n"
    "  pack     make each medium of a set into an ISO image, a tar archive or a path list\n"
    "  check    read every file of packed media and compare it with the checksums they carry\n"
    "  restore  put packed media of a set back under a folder, checked, cut files joined\n"
    "  report   make one HTML page of a set: fill of each medium, contents, left out, search\n"
    "  demo     split a generated sample tree and show the result\n"
    "\n"
    "Run 'qvsplit COMMAND --help' for the options of one command.\n"
    "Exit status: 0 success, 1 refused or failed, 2 usage error, 3 cancelled.\n";

const char* const kSplit =
    "Usage: qvsplit split --size SIZE --out DIR PATH...\n"
    "       qvsplit split --size SIZE --out DIR --rules RULES.xml\n"
    "\n"
    "Plans media for the given paths: each PATH may go on any medium. The media files\n"
    "Media1.xml ... MediaN.xml are written into DIR; nothing is copied. The last component\n"
    "of a PATH or of --exclude may be a quoted pattern ('/home/me/*.tmp', 'log?.txt').\n"
    "\n"
    "  --size SIZE        medium size in MB (1,048,576 bytes), or a disc: cd (CD-R 80 min),\n"
    "                     dvd (DVD+R), dvd-dl (DVD-R DL), bd (BD-R), bd-dl (BD-R DL)\n"
    "  --fs TYPE          file system of the media, counted in every fit: iso (ISO 9660 with\n"
    "                     Rock Ridge and Joliet; the default for a disc), iso-udf (with a UDF\n"
    "                     bridge), tar (a pax tar archive), none (file bytes; the default for\n"
    "                     a size in MB)\n"
    "  --out DIR          folder for the media files (created when missing)\n"
    "  --rules FILE       take the rules from a rules file instead of PATH arguments\n"
    "  --since SET        plan only the files that are new or changed (size or write time)\n"
    "                     since the set in folder SET, an earlier split's --out (or the\n"
    "                     QVSPLIT-CATALOG.txt.gz pack put on its discs); repeatable,\n"
    "                     oldest first: a chain, where each path's latest record counts.\n"
    "                     Files gone since are listed in Deleted.xml beside the media files.\n"
    "                     Planned file by file (not with --method dirs). Nothing changed:\n"
    "                     says so and exits 0 without media\n"
    "  --first PATH       only on the first medium (repeatable)\n"
    "  --last PATH        only on the last medium (repeatable)\n"
    "  --all PATH         on every medium (repeatable)\n"
    "  --label NAME       the set's name on its discs: each ISO image's volume id is NAME,\n"
    "                     '-' and its number; the catalogue and the page show it (letters,\n"
    "                     digits, '-', '_'; default QV and the date and time, QV20261210-1430)\n"
    "  --exclude PATH     leave PATH out (repeatable)\n"
    "  --together         keep the entries of each PATH together on one medium\n"
    "  --method M         files (default): file by file; dirs: keep folders whole\n"
    "  --follow-links     plan the files and folders symbolic links point to (default:\n"
    "                     each link is an entry of its own, as tar and rsync keep them)\n"
    "  --first-free MB    space to keep free on the first medium (default 0)\n"
    "  --type N           type value written into every media file (default 0)\n"
    "  --disp TEXT        display text written into every media file (default QvSplit)\n"
    "  --cut-big LIST     cut files larger than a medium into parts next to them and\n"
    "                     record them in the part list LIST (this modifies files!)\n"
    "  --strict           refuse the split when a rule selects nothing (a path not found)\n"
    "  --catalog          keep room on every medium for the catalogue files 'pack' puts on\n"
    "                     it (the set's report page and a text list of every file),\n"
    "                     counted from the files selected; the default for --fs iso and\n"
    "                     iso-udf unless --cut-big is given\n"
    "  --no-catalog       keep no room for them\n"
    "  --yes              do not ask before modifying files\n"
    "  --json             print the summary as JSON\n"
    "  --quiet            no progress line\n"
    "  --log FILE         append the library's log to FILE\n";

const char* const kRvx =
    "Usage: qvsplit rvx --size SIZE [--fs TYPE] --out DIR PATH... [--all PATH]... [--estimate]\n"
    "\n"
    "Spreads whole items over item-list media files media1.xml ... in DIR; items given\n"
    "with --all go on every medium. With --estimate no file is kept: only the number of\n"
    "media and the total size are printed.\n";

const char* const kRecover =
    "Usage: qvsplit recover --list LIST.ini [--drive X]\n"
    "\n"
    "Joins every file recorded in the part list from its parts, on drive X (default C,\n"
    "which is / here), and removes the parts it joined.\n";

const char* const kShow = "Usage: qvsplit show DIR [--json]\n\nSummarises the media set in DIR.\n";

const char* const kWhere =
    "Usage: qvsplit where DIR TEXT [--json]\n"
    "       qvsplit where PATH SET... [--json]\n"
    "\n"
    "Lists the media of DIR that hold a path containing TEXT (ignoring case). Given a path and\n"
    "a chain of sets (oldest first, as split --since takes them), names the latest set and its\n"
    "media that hold the path's latest copy, or the set that recorded it deleted; exits 1 when\n"
    "no set holds it.\n";

const char* const kVerify =
    "Usage: qvsplit verify DIR [--fs iso|iso-udf|tar|none] [--size SIZE] [--json] [--follow-links]\n"
    "\n"
    "Checks the media set in DIR against the disk now: every listed file exists with the\n"
    "recorded size and write time, every listed folder still holds what was recorded.\n"
    "With --fs iso it also measures the ISO image 'qvsplit pack --format iso' would make of\n"
    "each medium (exactly, without writing it) and compares it with the capacity; with\n"
    "--fs tar, likewise the tar archive of 'qvsplit pack --format tar'.\n"
    "Exits 1 when anything changed or an image or archive does not fit.\n"
    "\n"
    "  --fs TYPE          iso: measure ISO 9660 images (level 3, Rock Ridge, Joliet);\n"
    "                     iso-udf: not measurable here (libisofs makes no UDF); tar: measure\n"
    "                     tar archives; none (default)\n"
    "  --size SIZE        capacity in MB (1,048,576 bytes) or cd, dvd, dvd-dl, bd, bd-dl\n"
    "                     (default: each medium's own size)\n"
    "  --capacity-bytes N the capacity exactly, in bytes\n";

const char* const kPack =
    "Usage: qvsplit pack --format iso|tar|list --to DIR MEDIA_DIR [--size SIZE | --capacity-bytes N]\n"
    "                    [--medium N] [--catalog | --no-catalog] [--force] [--follow-links]\n"
    "                    [--json] [--quiet]\n"
    "\n"
    "Makes each medium planned in MEDIA_DIR into one file in DIR (created when missing):\n"
    "Media1.iso, Media1.tar or Media1.list, ... Every entry goes to its target folder inside\n"
    "the medium; a folder kept whole brings everything below it; links kept as entries stay\n"
    "symbolic links. A file is written under a temporary name and renamed once complete.\n"
    "Every image and archive also carries QVSPLIT-SHA256SUMS (the SHA-256 of each of its\n"
    "files, as 'sha256sum -c' reads it; a copy goes to MEDIA_DIR as MediaN.SHA256SUMS) and\n"
    "QVSPLIT-MEDIUM.txt (its set and number, for check and restore).\n"
    "\n"
    "  --format iso       ISO 9660 image, level 3, with Rock Ridge and Joliet (long names);\n"
    "                     every image is measured first and one larger than its capacity\n"
    "                     is refused before anything is written\n"
    "  --format tar       POSIX (pax) tar archive: long names, modes and times kept;\n"
    "                     measured first and refused likewise (plan it with --fs tar)\n"
    "  --format list      graft-point path list for 'xorriso -as mkisofs -graft-points\n"
    "                     -path-list LIST' or 'genisoimage -graft-points -path-list LIST'\n"
    "                     (without -f, so that links stay links)\n"
    "  --to DIR           folder for the files made\n"
    "  --size SIZE        capacity in MB (1,048,576 bytes) or cd, dvd, dvd-dl, bd, bd-dl\n"
    "                     (default: each medium's own size)\n"
    "  --capacity-bytes N the capacity exactly, in bytes\n"
    "  --medium N         only medium N\n"
    "  --catalog          put QVSPLIT-CATALOG.html (the set's report, marking the medium it is\n"
    "                     on, its data compressed inside it) and QVSPLIT-CATALOG.txt.gz\n"
    "                     (medium TAB bytes TAB written TAB path, a line per entry of the\n"
    "                     set, then 'sha256 TAB hex TAB path' for the files of that medium;\n"
    "                     zgrep reads it, a split can follow it with --since) at\n"
    "                     the root of every image or archive; the default\n"
    "                     for iso, where an image without room for them (a plan made without\n"
    "                     split --catalog) is made without them, said so\n"
    "  --no-catalog       no catalogue files\n"
    "  --force            remove media files of another set from DIR (files this pack does\n"
    "                     not replace, not packed from this set), which pack otherwise\n"
    "                     refuses to leave beside it\n"
    "  --follow-links     the plan followed links (as split --follow-links)\n"
    "  --json             print the summary as JSON\n"
    "  --quiet            no progress bar and no line per medium: the last line alone\n";

const char* const kCheck =
    "Usage: qvsplit check [--plan DIR] [--json] [--quiet] SOURCE...\n"
    "\n"
    "Reads every file of each medium and compares it with the checksum list pack put on it\n"
    "(QVSPLIT-SHA256SUMS, the format 'sha256sum -c' reads). SOURCE is an ISO image or a tar\n"
    "archive made by pack (read as they are, nothing is mounted), or the folder of a mounted\n"
    "disc. Each file is good, changed, missing, unreadable (with the byte where its reading\n"
    "failed) or unexpected (on the medium, not in its list). Exits 0 only when every file of\n"
    "every medium is good.\n"
    "\n"
    "  --plan DIR         the plan the media were packed from: where a medium has no list\n"
    "                     or its list cannot be read (a damaged or cut-short image), its copy\n"
    "                     there (MediaN.SHA256SUMS, found by the image's name MediaN.iso or\n"
    "                     .tar) is used instead\n"
    "  --json             print the result as JSON\n"
    "  --quiet            no progress bar\n";

const char* const kRestore =
    "Usage: qvsplit restore --to DIR [--plan DIR] [--overwrite] [--json] [--quiet] SOURCE...\n"
    "\n"
    "Restores the media of one set, in any order and any number at a time, under DIR: each\n"
    "file at its path inside the medium, with its write time and mode, links as links and\n"
    "folders kept whole (empty ones too). SOURCE is an ISO image or a tar archive made by\n"
    "pack, or the folder of a mounted disc. Every file is checked against its medium's\n"
    "checksum list before it takes its name; the parts of a file cut into parts wait in\n"
    "DIR/.qvsplit-restore until the last one has come, then the file is joined (the media\n"
    "still to come are named at the end). A file already there with the right checksum is\n"
    "skipped, so a stopped restore is simply run again; a file that differs is left as it\n"
    "is and named. Restoring the sets of a chain (split --since) in order removes the files\n"
    "each set records as deleted. Refused: a medium of another set, a medium given twice, a\n"
    "list that does not match its medium, and any path that would lead out of DIR.\n"
    "Exits 1 when anything was not restored.\n"
    "\n"
    "  --to DIR           the folder to restore into (created when missing)\n"
    "  --plan DIR         the plan the media were packed from: a medium made without room\n"
    "                     for its checksum list and notes (pack says so) is restored with\n"
    "                     their copies there (MediaN.SHA256SUMS, MediaN.MEDIUM.txt, found\n"
    "                     by the image's name)\n"
    "  --overwrite        replace files (and links) that differ from the medium's\n"
    "  --json             print the result as JSON\n"
    "  --quiet            no progress bar\n";

const char* const kReport =
    "Usage: qvsplit report [--out FILE.html] MEDIA_DIR\n"
    "\n"
    "Makes one self-contained HTML page of the media set in MEDIA_DIR, which any browser\n"
    "opens from the disk (no network): each medium's fill against its capacity, its largest\n"
    "folders and files and everything on it, what was left out and why, the command the plan\n"
    "was made with, and a search box that tells which medium holds a path (as 'qvsplit where'\n"
    "does). Open it as FILE.html#q=TEXT to search for TEXT at once.\n"
    "\n"
    "  --out FILE         where to write the page (default: MEDIA_DIR/qvsplit-report.html)\n"
    "  --quiet            do not print the page's path\n";

const char* const kDemo =
    "Usage: qvsplit demo [--json] [--quiet]\n"
    "\n"
    "Creates a small sample tree (sparse files, no disk cost) in a temporary folder,\n"
    "splits it with rules of every kind, and prints the summary and where the files are.\n";

}  // namespace

std::string QvCliUsage(const std::string& command) {
    if (command == "split") return kSplit;
    if (command == "rvx") return kRvx;
    if (command == "recover") return kRecover;
    if (command == "show") return kShow;
    if (command == "where") return kWhere;
    if (command == "verify") return kVerify;
    if (command == "pack") return kPack;
    if (command == "demo") return kDemo;
    if (command == "report") return kReport;
    if (command == "check") return kCheck;
    if (command == "restore") return kRestore;
    return kOverview;
}
