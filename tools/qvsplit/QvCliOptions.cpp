// Parsing of the qvsplit command line from a table of options.
#include "QvCliOptions.h"
#include "system/QvCliShown.h"

#include "QvSplit.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseSize(const std::string& text, QvCliOptions& o, std::string& error) {
    if (const uint64_t sectors = QvGetDiscSectors(text.c_str())) {
        // Whole megabytes of the disc for the plan, whose model counts what the file system
        // takes; the exact capacity for the images made from it.
        o.sizeMb = static_cast<uint32_t>(sectors * 2048 / 1048576);
        o.sizePreset = true;
        o.capacityBytes = sectors * 2048;
        return true;
    }
    if (!ParseNumber(text, o.sizeMb) || o.sizeMb == 0) {
        error = "--size takes a number of megabytes or one of cd, dvd, dvd-dl, bd, bd-dl";
        return false;
    }
    o.capacityBytes = static_cast<uint64_t>(o.sizeMb) * 1048576u;
    return true;
}

bool ParseFileSystem(const std::string& text, QvCliOptions& o, std::string& error) {
    if (text != "iso" && text != "iso-udf" && text != "tar" && text != "none") {
        error = "--fs takes iso, iso-udf, tar or none";
        return false;
    }
    o.fileSystem = text;
    return true;
}

bool ParseCapacityBytes(const std::string& text, QvCliOptions& o, std::string& error) {
    const bool digits = !text.empty() && text.size() <= 19 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    o.capacityBytes = digits ? std::strtoull(text.c_str(), nullptr, 10) : 0;
    if (o.capacityBytes == 0) {
        error = "--capacity-bytes takes a number of bytes above 0";
        return false;
    }
    return true;
}

// A value that must be one of a few words.
bool ParseChoice(const std::string& text, const char* flag, std::initializer_list<const char*> choices,
                 std::string& into, std::string& error) {
    std::string list;
    for (const char* c : choices) {
        if (text == c) {
            into = text;
            return true;
        }
        list += (list.empty() ? "" : ", ") + std::string(c);
    }
    error = std::string(flag) + " takes one of " + list;
    return false;
}

bool ParseMethod(const std::string& text, QvCliOptions& o, std::string& error) {
    if (text == "files" || text == "0") {
        o.method = 0;
    } else if (text == "dirs" || text == "1") {
        o.method = 1;
    } else {
        error = "--method takes files or dirs";
        return false;
    }
    return true;
}

bool ParseDrive(const std::string& text, QvCliOptions& o, std::string& error) {
    const bool letter = text.size() == 1 || (text.size() == 2 && text[1] == ':');
    const char c = text.empty() ? 0 : text[0];
    if (!letter || !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
        error = "--drive takes one drive letter";
        return false;
    }
    o.drive = static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
    return true;
}

bool ParseMegabytes(const std::string& text, uint32_t& value, const char* flag, std::string& error) {
    if (ParseNumber(text, value)) return true;
    error = std::string(flag) + " takes a whole number";
    return false;
}

// A set's label goes into the volume id of each disc with "-" and the medium's number, within
// the 32 characters ISO 9660 allows: letters (kept upper case), digits, "-" and "_".
bool ParseLabel(const std::string& v, QvCliOptions& o, std::string& error) {
    const size_t kLabelMax = 24;
    if (v.empty() || v.size() > kLabelMax ||
        v.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") != std::string::npos) {
        error = "--label takes 1 to " + std::to_string(kLabelMax) +
                " letters, digits, '-' or '_' (it becomes the discs' volume ids with their numbers): " + v;
        return false;
    }
    o.label.clear();
    for (char c : v) o.label += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return true;
}

// One option: its flag, the commands that take it, and how its value is stored.
struct OptionSpec {
    const char* flag;
    const char* commands;  // space-separated list
    bool (*apply)(QvCliOptions& o, const std::string& value, std::string& error);
    bool takesValue;
};

const OptionSpec kOptions[] = {
    {"--size", "split rvx pack verify", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseSize(v, o, e); }, true},
    {"--fs", "split rvx verify", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseFileSystem(v, o, e); }, true},
    {"--out", "split rvx report", [](QvCliOptions& o, const std::string& v, std::string&) { o.outDir = v; return true; }, true},
    {"--rules", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.rulesFile = v; return true; }, true},
    {"--since", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.since.push_back(v); return true; }, true},
    {"--label", "split", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseLabel(v, o, e); }, true},
    {"--exclude", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.exclude.push_back(v); return true; }, true},
    {"--first", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.first.push_back(v); return true; }, true},
    {"--last", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.last.push_back(v); return true; }, true},
    {"--all", "split rvx", [](QvCliOptions& o, const std::string& v, std::string&) { o.all.push_back(v); return true; }, true},
    {"--together", "split", [](QvCliOptions& o, const std::string&, std::string&) { o.together = true; return true; }, false},
    {"--follow-links", "split rvx verify pack", [](QvCliOptions& o, const std::string&, std::string&) { o.followLinks = true; return true; }, false},
    {"--method", "split", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMethod(v, o, e); }, true},
    {"--first-free", "split", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMegabytes(v, o.firstFreeMb, "--first-free", e); }, true},
    {"--type", "split rvx", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMegabytes(v, o.type, "--type", e); }, true},
    {"--disp", "split rvx", [](QvCliOptions& o, const std::string& v, std::string&) { o.disp = v; return true; }, true},
    {"--cut-big", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.cutBigList = v; return true; }, true},
    {"--strict", "split", [](QvCliOptions& o, const std::string&, std::string&) { o.strict = true; return true; }, false},
    {"--yes", "split recover", [](QvCliOptions& o, const std::string&, std::string&) { o.yes = true; return true; }, false},
    {"--estimate", "rvx", [](QvCliOptions& o, const std::string&, std::string&) { o.estimate = true; return true; }, false},
    {"--list", "recover", [](QvCliOptions& o, const std::string& v, std::string&) { o.listFile = v; return true; }, true},
    {"--drive", "recover", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseDrive(v, o, e); }, true},
    {"--capacity-bytes", "pack verify", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseCapacityBytes(v, o, e); }, true},
    {"--format", "pack", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseChoice(v, "--format", {"iso", "tar", "list"}, o.format, e); }, true},
    {"--to", "pack restore", [](QvCliOptions& o, const std::string& v, std::string&) { o.toDir = v; return true; }, true},
    {"--catalog", "split pack", [](QvCliOptions& o, const std::string&, std::string&) { o.catalog = 1; return true; }, false},
    {"--no-catalog", "split pack", [](QvCliOptions& o, const std::string&, std::string&) { o.catalog = 0; return true; }, false},
    {"--plan", "check restore", [](QvCliOptions& o, const std::string& v, std::string&) { o.planDir = v; return true; }, true},
    {"--overwrite", "restore", [](QvCliOptions& o, const std::string&, std::string&) { o.overwrite = true; return true; }, false},
    {"--force", "pack", [](QvCliOptions& o, const std::string&, std::string&) { o.force = true; return true; }, false},
    {"--medium", "pack", [](QvCliOptions& o, const std::string& v, std::string& e) {
         if (ParseNumber(v, o.medium) && o.medium > 0) return true;
         e = "--medium takes the number of a medium (1, 2, ...)";
         return false; }, true},
    {"--quiet", "split rvx recover pack demo report check restore", [](QvCliOptions& o, const std::string&, std::string&) { o.quiet = true; return true; }, false},
    {"--json", "split rvx show verify where pack demo check restore", [](QvCliOptions& o, const std::string&, std::string&) { o.json = true; return true; }, false},
    {"--log", "split rvx recover demo", [](QvCliOptions& o, const std::string& v, std::string&) { o.logFile = v; return true; }, true},
};

bool CommandTakes(const OptionSpec& spec, const std::string& command) {
    const std::string list = std::string(" ") + spec.commands + " ";
    return list.find(" " + command + " ") != std::string::npos;
}

const OptionSpec* FindOption(const std::string& flag) {
    for (const OptionSpec& spec : kOptions)
        if (flag == spec.flag) return &spec;
    return nullptr;
}

bool IsCommand(const std::string& c) {
    return c == "split" || c == "rvx" || c == "recover" || c == "show" || c == "where" ||
           c == "verify" || c == "pack" || c == "demo" || c == "report" || c == "check" || c == "restore";
}

bool ApplyOption(const std::string& arg, int& i, int argc, char** argv, QvCliOptions& o,
                 std::string& error) {
    std::string flag = arg;
    std::string value;
    bool inlineValue = false;
    const size_t eq = arg.find('=');
    if (eq != std::string::npos) {
        flag = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inlineValue = true;
    }
    const OptionSpec* spec = FindOption(flag);
    if (!spec || !CommandTakes(*spec, o.command)) {
        error = "unknown option for " + QvCliShown(o.command) + ": " + QvCliShown(flag);
        return false;
    }
    if (spec->takesValue && !inlineValue) {
        if (i + 1 >= argc) {
            error = QvCliShown(flag) + " needs a value";
            return false;
        }
        value = argv[++i];
    } else if (!spec->takesValue && inlineValue) {
        error = QvCliShown(flag) + " takes no value";
        return false;
    }
    return spec->apply(o, value, error);
}

}  // namespace

bool QvCliParse(int argc, char** argv, QvCliOptions& o, std::string& error) {
    if (argc < 2) {
        error = "no command given";
        return false;
    }
    o.command = argv[1];
    o.arguments.assign(argv + 1, argv + argc);
    if (o.command == "--help" || o.command == "-h" || o.command == "help") {
        o.help = true;
        o.command = argc > 2 ? argv[2] : "";
        if (o.command.empty() || IsCommand(o.command)) return true;
        error = "unknown command: " + QvCliShown(o.command);
        return false;
    }
    if (!IsCommand(o.command)) {
        error = "unknown command: " + QvCliShown(o.command);
        return false;
    }
    bool operandsOnly = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
            o.operands.push_back(arg);
        } else if (arg == "--") {
            operandsOnly = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (!ApplyOption(arg, i, argc, argv, o, error)) {
            return false;
        }
    }
    return true;
}
