// Parsing of the qvsplit command line from a table of options.
#include "QvCliOptions.h"

#include <cstdlib>
#include <cstring>

namespace {

struct SizePreset {
    const char* name;
    uint64_t sectors;  // of 2,048 bytes
};

// Real capacities of recordable discs; where two kinds share a name, the smaller.
const SizePreset kSizePresets[] = {
    {"cd", 360000},       // CD-R 80 min
    {"dvd", 2295104},     // DVD+R (DVD-R: 2,298,496)
    {"dvd-dl", 4171712},  // DVD-R DL (DVD+R DL: 4,173,824)
    {"bd", 12219392},     // BD-R
    {"bd-dl", 24438784},  // BD-R DL
};

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
    for (const SizePreset& p : kSizePresets) {
        if (text == p.name) {
            // Whole megabytes of the disc; what the file system takes is counted by the model.
            o.sizeMb = static_cast<uint32_t>(p.sectors * 2048 / 1048576);
            o.sizePreset = true;
            return true;
        }
    }
    if (!ParseNumber(text, o.sizeMb) || o.sizeMb == 0) {
        error = "--size takes a number of megabytes or one of cd, dvd, dvd-dl, bd, bd-dl";
        return false;
    }
    return true;
}

bool ParseFileSystem(const std::string& text, QvCliOptions& o, std::string& error) {
    if (text != "iso" && text != "iso-udf" && text != "none") {
        error = "--fs takes iso, iso-udf or none";
        return false;
    }
    o.fileSystem = text;
    return true;
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

// One option: its flag, the commands that take it, and how its value is stored.
struct OptionSpec {
    const char* flag;
    const char* commands;  // space-separated list
    bool (*apply)(QvCliOptions& o, const std::string& value, std::string& error);
    bool takesValue;
};

const OptionSpec kOptions[] = {
    {"--size", "split rvx", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseSize(v, o, e); }, true},
    {"--fs", "split rvx", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseFileSystem(v, o, e); }, true},
    {"--out", "split rvx", [](QvCliOptions& o, const std::string& v, std::string&) { o.outDir = v; return true; }, true},
    {"--rules", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.rulesFile = v; return true; }, true},
    {"--exclude", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.exclude.push_back(v); return true; }, true},
    {"--first", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.first.push_back(v); return true; }, true},
    {"--last", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.last.push_back(v); return true; }, true},
    {"--all", "split rvx", [](QvCliOptions& o, const std::string& v, std::string&) { o.all.push_back(v); return true; }, true},
    {"--together", "split", [](QvCliOptions& o, const std::string&, std::string&) { o.together = true; return true; }, false},
    {"--follow-links", "split rvx verify", [](QvCliOptions& o, const std::string&, std::string&) { o.followLinks = true; return true; }, false},
    {"--method", "split", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMethod(v, o, e); }, true},
    {"--first-free", "split", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMegabytes(v, o.firstFreeMb, "--first-free", e); }, true},
    {"--type", "split rvx", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseMegabytes(v, o.type, "--type", e); }, true},
    {"--disp", "split rvx", [](QvCliOptions& o, const std::string& v, std::string&) { o.disp = v; return true; }, true},
    {"--cut-big", "split", [](QvCliOptions& o, const std::string& v, std::string&) { o.cutBigList = v; return true; }, true},
    {"--yes", "split recover", [](QvCliOptions& o, const std::string&, std::string&) { o.yes = true; return true; }, false},
    {"--estimate", "rvx", [](QvCliOptions& o, const std::string&, std::string&) { o.estimate = true; return true; }, false},
    {"--list", "recover", [](QvCliOptions& o, const std::string& v, std::string&) { o.listFile = v; return true; }, true},
    {"--drive", "recover", [](QvCliOptions& o, const std::string& v, std::string& e) { return ParseDrive(v, o, e); }, true},
    {"--quiet", "split rvx recover demo", [](QvCliOptions& o, const std::string&, std::string&) { o.quiet = true; return true; }, false},
    {"--json", "split rvx show verify where demo", [](QvCliOptions& o, const std::string&, std::string&) { o.json = true; return true; }, false},
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
           c == "verify" || c == "demo";
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
        error = "unknown option for " + o.command + ": " + flag;
        return false;
    }
    if (spec->takesValue && !inlineValue) {
        if (i + 1 >= argc) {
            error = flag + " needs a value";
            return false;
        }
        value = argv[++i];
    } else if (!spec->takesValue && inlineValue) {
        error = flag + " takes no value";
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
    if (o.command == "--help" || o.command == "-h" || o.command == "help") {
        o.help = true;
        o.command = argc > 2 ? argv[2] : "";
        if (o.command.empty() || IsCommand(o.command)) return true;
        error = "unknown command: " + o.command;
        return false;
    }
    if (!IsCommand(o.command)) {
        error = "unknown command: " + o.command;
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
