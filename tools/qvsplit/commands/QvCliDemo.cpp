// The demo command: a generated sample tree, split with rules of every kind.
#include "QvCliCommands.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliSystem.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace fs = std::filesystem;

namespace {

const uint64_t kMB = 1048576;

// A fixed sequence of pseudo-random numbers, so every demo tree is the same.
struct Sequence {
    uint64_t state = 88172645463325252ull;
    uint64_t Next(uint64_t lo, uint64_t hi) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return lo + state % (hi - lo + 1);
    }
};

// A sparse file: its size costs no disk.
void Sparse(const fs::path& file, uint64_t size) {
    fs::create_directories(file.parent_path());
    { std::ofstream out(file, std::ios::binary | std::ios::trunc); }
    fs::resize_file(file, size);
}

void Folder(const fs::path& root, const std::string& name, int count, uint64_t lo, uint64_t hi,
            const char* ext, Sequence& seq) {
    for (int i = 1; i <= count; ++i)
        Sparse(root / name / (std::string("file") + std::to_string(i) + ext), seq.Next(lo, hi));
}

void MakeTree(const fs::path& tree) {
    Sequence seq;
    Folder(tree, "Documents", 120, 4 * 1024, 2 * kMB, ".odt", seq);
    Folder(tree, "Documents/drafts", 15, 4 * 1024, 512 * 1024, ".txt", seq);
    Folder(tree, "Photos/2024", 90, kMB, 6 * kMB, ".jpg", seq);
    Folder(tree, "Photos/2025", 60, kMB, 6 * kMB, ".jpg", seq);
    Folder(tree, "Music", 40, 3 * kMB, 9 * kMB, ".flac", seq);
    Folder(tree, "Projects/app", 30, 64 * 1024, 2 * kMB, ".cpp", seq);
    Folder(tree, "Archive", 12, kMB, 5 * kMB, ".zip", seq);
    Folder(tree, "Notes", 10, 1024, 64 * 1024, ".md", seq);
    Folder(tree, "Setup", 3, 512 * 1024, 3 * kMB, ".exe", seq);
    Sparse(tree / "catalog.txt", 256 * 1024);
    Sparse(tree / "autorun.inf", 1024);
    Sparse(tree / "Video" / "holiday.mkv", 150 * kMB);
}

std::string XmlText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

void Rule(std::ofstream& out, int id, const char* action, const char* location, bool together,
          const fs::path& source, const char* target) {
    out << "  <Rule RuleID=\"" << id << "\" Action=\"" << action << "\" AllTogether=\""
        << (together ? "TRUE" : "FALSE") << "\" Location=\"" << location << "\">\n"
        << "    <SourcePath>" << XmlText(QvCliNarrow(QvCliToLibraryPath(QvCliPathText(source))))
        << "</SourcePath>\n    <TargetPath>" << target << "</TargetPath>\n  </Rule>\n";
}

void WriteRules(const fs::path& tree, const fs::path& rules) {
    std::ofstream out(rules, std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RulesFile>\n";
    Rule(out, 1, "INCLUDE", "First", false, tree / "Setup", "\\");
    Rule(out, 2, "INCLUDE", "Last", false, tree / "catalog.txt", "\\");
    Rule(out, 3, "INCLUDE", "All", false, tree / "autorun.inf", "\\");
    Rule(out, 4, "INCLUDE", "Any", false, tree / "Documents", "\\Backup");
    Rule(out, 5, "EXCLUDE", "Any", false, tree / "Documents" / "drafts", "");
    Rule(out, 6, "INCLUDE", "Any", false, tree / "Photos", "\\Backup");
    Rule(out, 7, "INCLUDE", "Any", false, tree / "Music", "\\Backup");
    Rule(out, 8, "INCLUDE", "Any", true, tree / "Projects", "\\Backup");
    Rule(out, 9, "INCLUDE", "NotFirst", false, tree / "Archive", "\\Backup");
    Rule(out, 10, "INCLUDE", "NotLast", false, tree / "Notes", "\\Backup");
    Rule(out, 11, "INCLUDE", "Any", false, tree / "Video", "\\Backup");
    out << "</RulesFile>\n";
}

}  // namespace

int QvCliRunDemo(const QvCliOptions& o) {
    const std::string dir = QvCliMakeTempDir("qvsplit-demo-");
    if (dir.empty()) return QvCliFail(kExitFailed, "cannot create a temporary folder");
    const fs::path root = QvCliFsPath(dir);
    try {
        MakeTree(root / "tree");
        WriteRules(root / "tree", root / "rules.xml");
    } catch (const std::exception& e) {
        return QvCliFail(kExitFailed, std::string("cannot create the sample tree: ") + e.what());
    }
    if (!o.json)
        std::cout << "Sample tree: " << QvCliPathText(root / "tree")
                  << " (sparse files; the demo copies nothing)\nRules: "
                  << QvCliPathText(root / "rules.xml") << "\nSplitting onto 100 MB media...\n\n";
    QvCliOptions split = o;
    split.command = "split";
    split.sizeMb = 100;
    split.outDir = QvCliPathText(root / "media");
    split.rulesFile = QvCliPathText(root / "rules.xml");
    split.firstFreeMb = 10;
    const int status = QvCliRunSplit(split);
    if (!o.json && status == kExitOk)
        std::cout << "\nMedia files: " << split.outDir << "\nTry: qvsplit show " << split.outDir
                  << "\n     qvsplit where " << split.outDir << " 2025\n     qvsplit verify "
                  << split.outDir << "\nRemove the demo with: rm -rf " << dir << "\n";
    return status;
}
