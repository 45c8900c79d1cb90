// The one description of the command line that --help, the manual page, the shell completions
// and the option blocks of docs/program.md are all made from, and that the parser accepts
// options by: a command takes exactly the options listed under it here.
#ifndef QVCLIHELP_H
#define QVCLIHELP_H

#include <string>
#include <vector>

// What an option's value is, for the completions: a folder, a file (or any path), one of a
// few words, or text that nothing completes.
enum class QvCliValue { kNone, kText, kDirectory, kFile, kWord };

struct QvCliOptionHelp {
    const char* flag;      // "--size"
    QvCliValue value;      // kNone for an option without a value
    const char* valueName; // "SIZE" ("" without a value)
    const char* words;     // kWord: the words it takes, space-separated ("" otherwise)
    const char* text;      // one paragraph, not wrapped
};

struct QvCliCommandHelp {
    const char* name;                  // "split"
    const char* summary;               // one line for the overview
    std::vector<const char*> usage;    // synopses, each after "qvsplit "
    std::vector<const char*> text;     // paragraphs, not wrapped
    std::vector<QvCliOptionHelp> options;
};

// A section of the manual page beyond the commands: exit status, environment, files...
struct QvCliManualSection {
    const char* title;                 // "EXIT STATUS"
    std::vector<const char*> text;     // paragraphs; one starting "TERM\t" is a tagged item
};

const std::vector<QvCliCommandHelp>& QvCliCommandHelps();
const std::vector<QvCliManualSection>& QvCliManualSections();
// The options that stand in place of a command: --help, --version, --generate.
const std::vector<QvCliOptionHelp>& QvCliProgramOptions();
const QvCliCommandHelp* QvCliFindCommandHelp(const std::string& name);
const QvCliOptionHelp* QvCliFindOptionHelp(const QvCliCommandHelp& command, const std::string& flag);

// The program's version, as CMake's project() gives it.
const char* QvCliVersion();

// The made forms: "man" (roff), "complete-bash", "complete-zsh", "markdown" (the option blocks
// of docs/program.md). Returns false for an unknown form.
bool QvCliGenerate(const std::string& form, std::string& out);
// Those forms, space-separated, as --generate describes them.
std::string QvCliGenerateForms();

// Paragraph text wrapped at width columns, each line after the first indented by indent.
std::string QvCliWrap(const std::string& text, size_t width, size_t indent, size_t firstColumn = 0);

#endif
