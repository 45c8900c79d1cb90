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
    "  verify   check a media set against the disk now\n"
    "  demo     split a generated sample tree and show the result\n"
    "\n"
    "Run 'qvsplit COMMAND --help' for the options of one command.\n"
    "Exit status: 0 success, 1 split refused or failed, 2 usage error, 3 cancelled.\n";

const char* const kSplit =
    "Usage: qvsplit split --size SIZE --out DIR PATH...\n"
    "       qvsplit split --size SIZE --out DIR --rules RULES.xml\n"
    "\n"
    "Plans media for the given paths: each PATH may go on any medium. The media files\n"
    "Media1.xml ... MediaN.xml are written into DIR; nothing is copied.\n"
    "\n"
    "  --size SIZE        medium size in MB (1,048,576 bytes), or cd (700), dvd (4482),\n"
    "                     dvd-dl (8150), bd (23866), bd-dl (47732)\n"
    "  --out DIR          folder for the media files (created when missing)\n"
    "  --rules FILE       take the rules from a rules file instead of PATH arguments\n"
    "  --first PATH       only on the first medium (repeatable)\n"
    "  --last PATH        only on the last medium (repeatable)\n"
    "  --all PATH         on every medium (repeatable)\n"
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
    "  --yes              do not ask before modifying files\n"
    "  --json             print the summary as JSON\n"
    "  --quiet            no progress line\n"
    "  --log FILE         append the library's log to FILE\n";

const char* const kRvx =
    "Usage: qvsplit rvx --size SIZE --out DIR PATH... [--all PATH]... [--estimate]\n"
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
    "Usage: qvsplit where DIR TEXT [--json]\n\nLists the media of DIR that hold a path containing TEXT (ignoring case).\n";

const char* const kVerify =
    "Usage: qvsplit verify DIR [--json] [--follow-links]\n"
    "\n"
    "Checks the media set in DIR against the disk now: every listed file exists with the\n"
    "recorded size and write time, every listed folder still holds what was recorded.\n"
    "Exits 1 when anything changed.\n";

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
    if (command == "demo") return kDemo;
    return kOverview;
}
