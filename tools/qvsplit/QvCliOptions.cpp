// Parsing of the qvsplit command line from a table of options.
#include "QvCliOptions.h"
#include "QvCliHelp.h"
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

// How each option's value is stored. Which commands take an option, and whether it takes a
// value, is said once, in the command descriptions (QvCliHelp.cpp).
struct OptionSpec {
    const char* flag;
    bool (*apply)(QvCliOptions& o, const std::string& value, std::string& error);
};

const OptionSpec kOptions[] = {
    {"--size", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseSize(v, o, e); }},
    {"--fs", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseFileSystem(v, o, e); }},
    {"--out", [](QvCliOptions& o, const std::string& v, std::string&) { o.outDir = v; return true; }},
    {"--rules", [](QvCliOptions& o, const std::string& v, std::string&) { o.rulesFile = v; return true; }},
    {"--since", [](QvCliOptions& o, const std::string& v, std::string&) { o.since.push_back(v); return true; }},
    {"--label", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseLabel(v, o, e); }},
    {"--exclude", [](QvCliOptions& o, const std::string& v, std::string&) { o.exclude.push_back(v); return true; }},
    {"--first", [](QvCliOptions& o, const std::string& v, std::string&) { o.first.push_back(v); return true; }},
    {"--last", [](QvCliOptions& o, const std::string& v, std::string&) { o.last.push_back(v); return true; }},
    {"--all", [](QvCliOptions& o, const std::string& v, std::string&) { o.all.push_back(v); return true; }},
    {"--together", [](QvCliOptions& o, const std::string&, std::string&) { o.together = true; return true; }},
    {"--follow-links", [](QvCliOptions& o, const std::string&, std::string&) { o.followLinks = true; return true; }},
    {"--method", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMethod(v, o, e); }},
    {"--first-free", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMegabytes(v, o.firstFreeMb, "--first-free", e); }},
    {"--type", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMegabytes(v, o.type, "--type", e); }},
    {"--disp", [](QvCliOptions& o, const std::string& v, std::string&) { o.disp = v; return true; }},
    {"--cut-big", [](QvCliOptions& o, const std::string& v, std::string&) { o.cutBigList = v; return true; }},
    {"--strict", [](QvCliOptions& o, const std::string&, std::string&) { o.strict = true; return true; }},
    {"--yes", [](QvCliOptions& o, const std::string&, std::string&) { o.yes = true; return true; }},
    {"--estimate", [](QvCliOptions& o, const std::string&, std::string&) { o.estimate = true; return true; }},
    {"--list", [](QvCliOptions& o, const std::string& v, std::string&) { o.listFile = v; return true; }},
    {"--drive", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseDrive(v, o, e); }},
    {"--capacity-bytes", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseCapacityBytes(v, o, e); }},
    {"--format", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseChoice(v, "--format", {"iso", "tar", "list"}, o.format, e); }},
    {"--to", [](QvCliOptions& o, const std::string& v, std::string&) { o.toDir = v; return true; }},
    {"--catalog", [](QvCliOptions& o, const std::string&, std::string&) { o.catalog = 1; return true; }},
    {"--no-catalog", [](QvCliOptions& o, const std::string&, std::string&) { o.catalog = 0; return true; }},
    {"--plan", [](QvCliOptions& o, const std::string& v, std::string&) { o.planDir = v; return true; }},
    {"--overwrite", [](QvCliOptions& o, const std::string&, std::string&) { o.overwrite = true; return true; }},
    {"--force", [](QvCliOptions& o, const std::string&, std::string&) { o.force = true; return true; }},
    {"--medium", [](QvCliOptions& o, const std::string& v, std::string& e) {
         if (ParseNumber(v, o.medium) && o.medium > 0) return true;
         e = "--medium takes the number of a medium (1, 2, ...)";
         return false; }},
    {"--quiet", [](QvCliOptions& o, const std::string&, std::string&) { o.quiet = true; return true; }},
    {"--json", [](QvCliOptions& o, const std::string&, std::string&) { o.json = true; return true; }},
    {"--log", [](QvCliOptions& o, const std::string& v, std::string&) { o.logFile = v; return true; }},
};

const OptionSpec* FindOption(const std::string& flag) {
    for (const OptionSpec& spec : kOptions)
        if (flag == spec.flag) return &spec;
    return nullptr;
}

bool IsCommand(const std::string& c) { return QvCliFindCommandHelp(c) != nullptr; }

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
    const QvCliCommandHelp* command = QvCliFindCommandHelp(o.command);
    const QvCliOptionHelp* help = command ? QvCliFindOptionHelp(*command, flag) : nullptr;
    const OptionSpec* spec = FindOption(flag);
    if (!help || !spec) {
        error = "unknown option for " + QvCliShown(o.command) + ": " + QvCliShown(flag);
        return false;
    }
    const bool takesValue = help->value != QvCliValue::kNone;
    if (takesValue && !inlineValue) {
        if (i + 1 >= argc) {
            error = QvCliShown(flag) + " needs a value";
            return false;
        }
        value = argv[++i];
    } else if (!takesValue && inlineValue) {
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
    if (o.command == "--version") {
        o.version = true;
        if (argc == 2) return true;
        error = "--version takes nothing more";
        return false;
    }
    if (o.command == "--generate" || o.command.rfind("--generate=", 0) == 0) {
        const bool inlineForm = o.command.size() > 10;
        o.generate = inlineForm ? o.command.substr(11) : argc > 2 ? argv[2] : "";
        const std::string forms = " " + QvCliGenerateForms() + " ";
        if ((inlineForm ? argc != 2 : argc != 3) || o.generate.empty() ||
            forms.find(" " + o.generate + " ") == std::string::npos) {
            error = "--generate takes one of " + QvCliGenerateForms();
            return false;
        }
        return true;
    }
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
