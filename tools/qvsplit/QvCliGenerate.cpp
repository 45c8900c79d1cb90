// The manual page, the shell completions and the option blocks of the reference, written from
// the command descriptions, so that none of them can disagree with --help.
#include "QvCliHelp.h"
#include "QvCliOptions.h"

#include <algorithm>

#ifndef QVSPLIT_DATE
#define QVSPLIT_DATE ""
#endif

namespace {

std::string Term(const QvCliOptionHelp& o) {
    return *o.valueName ? std::string(o.flag) + " " + o.valueName : std::string(o.flag);
}

// A paragraph "TERM\ttext" is a tagged item; any other has no term.
bool SplitItem(const std::string& paragraph, std::string& term, std::string& text) {
    const size_t tab = paragraph.find('\t');
    if (tab == std::string::npos) return false;
    term = paragraph.substr(0, tab);
    text = paragraph.substr(tab + 1);
    return true;
}

// ---- roff ----

// Text as roff reads it literally: a backslash is \e, every '-' a minus sign (so that options
// copied from the page are typed as they must be), and a line never starts a request.
std::string Roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

// "--size SIZE" with the flag in bold and the value in italics.
std::string RoffTerm(const QvCliOptionHelp& o) {
    std::string out = "\\fB" + Roff(o.flag) + "\\fR";
    if (*o.valueName) out += " \\fI" + Roff(o.valueName) + "\\fR";
    return out;
}

// A synopsis: the command's words in bold, the rest as written.
std::string RoffSynopsis(const std::string& usage) {
    const size_t space = usage.find(' ');
    const std::string command = usage.substr(0, space);
    std::string out = "\\fBqvsplit " + Roff(command) + "\\fR";
    if (space != std::string::npos) out += " " + Roff(usage.substr(space + 1));
    return out;
}

void RoffSection(const QvCliManualSection& section, std::string& out) {
    out += ".SH \"" + std::string(section.title) + "\"\n";
    for (const char* paragraph : section.text) {
        std::string term, text;
        if (SplitItem(paragraph, term, text)) {
            out += ".TP\n\\fB" + Roff(term) + "\\fR\n" + Roff(text) + "\n";
        } else {
            out += ".PP\n" + Roff(paragraph) + "\n";
        }
    }
}

std::string Manual() {
    std::string out = ".\\\" The manual page of qvsplit, made by 'qvsplit --generate man'.\n";
    out += ".TH QVSPLIT 1 \"" + std::string(QVSPLIT_DATE) + "\" \"qvsplit " + QvCliVersion() +
           "\" \"User Commands\"\n";
    // Names and options are not hyphenated, and lines are not stretched to the margin.
    out += ".nh\n.ad l\n";
    out += ".SH NAME\nqvsplit \\- divide files and folders into media of a fixed size\n";
    out += ".SH SYNOPSIS\n";
    for (const QvCliCommandHelp& c : QvCliCommandHelps())
        for (const char* usage : c.usage) out += RoffSynopsis(usage) + "\n.br\n";
    out += "\\fBqvsplit help\\fR [\\fICOMMAND\\fR]\n.br\n\\fBqvsplit \\-\\-version\\fR\n";
    for (const QvCliManualSection& section : QvCliManualSections()) {
        RoffSection(section, out);
        if (std::string(section.title) != "DESCRIPTION") continue;
        out += ".SH COMMANDS\n";
        for (const QvCliCommandHelp& c : QvCliCommandHelps()) {
            out += ".SS \"qvsplit " + std::string(c.name) + "\"\n";
            for (const char* usage : c.usage) out += RoffSynopsis(usage) + "\n.br\n";
            for (const char* paragraph : c.text) out += ".PP\n" + Roff(paragraph) + "\n";
            for (const QvCliOptionHelp& o : c.options) out += ".TP\n" + RoffTerm(o) + "\n" + Roff(o.text) + "\n";
        }
        out += ".SH OPTIONS\nIn place of a command:\n";
        out += ".TP\n\\fB\\-h\\fR, \\fB\\-\\-help\\fR [\\fICOMMAND\\fR]\n" +
               Roff(QvCliProgramOptions()[0].text) + "\n";
        for (size_t i = 1; i < QvCliProgramOptions().size(); ++i) {
            const QvCliOptionHelp& o = QvCliProgramOptions()[i];
            out += ".TP\n" + RoffTerm(o) + "\n" + Roff(o.text) + "\n";
        }
    }
    return out;
}

// ---- markdown ----

std::string MarkdownCell(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|' || c == '*' || c == '\\' || c == '<' || c == '>') out += '\\';
        out += c;
    }
    return out;
}

// One block a command, between the markers docs/program.md holds for it.
std::string Markdown() {
    std::string out;
    for (const QvCliCommandHelp& c : QvCliCommandHelps()) {
        out += "<!-- BEGIN options: " + std::string(c.name) + " -->\n";
        out += "<!-- made by scripts/update-docs.py from the program's own descriptions: edit those -->\n\n```text\n";
        for (size_t i = 0; i < c.usage.size(); ++i)
            out += (i == 0 ? "Usage: qvsplit " : "       qvsplit ") + std::string(c.usage[i]) + "\n";
        out += "```\n\n| option | meaning |\n|---|---|\n";
        for (const QvCliOptionHelp& o : c.options)
            out += "| `" + Term(o) + "` | " + MarkdownCell(o.text) + " |\n";
        out += "\n<!-- END options: " + std::string(c.name) + " -->\n";
    }
    return out;
}

// ---- bash ----

std::string Words(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

std::string CommandNames() {
    std::vector<std::string> names;
    for (const QvCliCommandHelp& c : QvCliCommandHelps()) names.push_back(c.name);
    return Words(names);
}

// What completes a value in bash: words, folders, files, or nothing.
std::string BashValue(const QvCliOptionHelp& o) {
    switch (o.value) {
        case QvCliValue::kWord: return "_qvsplit_reply -W '" + std::string(o.words) + "'";
        case QvCliValue::kDirectory: return "_qvsplit_reply -d";
        case QvCliValue::kFile: return "_qvsplit_reply -f";
        default: return ":";
    }
}

std::string Bash() {
    std::string out =
        "# bash completion for qvsplit, made by 'qvsplit --generate complete-bash'.\n"
        "\n"
        "# COMPREPLY from compgen, one name a line, so that names with spaces stay whole.\n"
        "_qvsplit_reply() {\n"
        "    local line\n"
        "    COMPREPLY=()\n"
        "    while IFS= read -r line; do COMPREPLY+=(\"$line\"); done < <(compgen \"$@\" -- \"$cur\")\n"
        "    case $1 in -d|-f) compopt -o filenames 2>/dev/null ;; esac\n"
        "}\n"
        "\n"
        "_qvsplit() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    # --option=value: bash breaks the word at '='.\n"
        "    if [[ $cur == = ]]; then\n"
        "        cur=\n"
        "    elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then\n"
        "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
        "    fi\n"
        "    COMPREPLY=()\n"
        "    if [[ $COMP_CWORD -eq 1 ]]; then\n"
        "        _qvsplit_reply -W '" + CommandNames() + " help --help --version --generate'\n"
        "        return\n"
        "    fi\n"
        "    local command=${COMP_WORDS[1]}\n"
        "    case $command in\n"
        "        help|--help|-h) [[ $COMP_CWORD -eq 2 ]] && _qvsplit_reply -W '" + CommandNames() + "'; return ;;\n"
        "        --generate) [[ $COMP_CWORD -eq 2 ]] && _qvsplit_reply -W '" +
        QvCliGenerateForms() + "'; return ;;\n"
        "    esac\n"
        "    case \"$command $prev\" in\n";
    for (const QvCliCommandHelp& c : QvCliCommandHelps())
        for (const QvCliOptionHelp& o : c.options)
            if (o.value != QvCliValue::kNone)
                out += "        \"" + std::string(c.name) + " " + o.flag + "\") " + BashValue(o) + "; return ;;\n";
    out += "    esac\n"
           "    if [[ $cur == -* ]]; then\n"
           "        case $command in\n";
    for (const QvCliCommandHelp& c : QvCliCommandHelps()) {
        std::vector<std::string> flags;
        for (const QvCliOptionHelp& o : c.options) flags.push_back(o.flag);
        flags.push_back("--help");
        out += "            " + std::string(c.name) + ") _qvsplit_reply -W '" + Words(flags) + "' ;;\n";
    }
    out += "        esac\n"
           "        return\n"
           "    fi\n"
           "    _qvsplit_reply -f\n"
           "}\n"
           "complete -F _qvsplit qvsplit\n";
    return out;
}

// ---- zsh ----

// Text inside a single-quoted word of an _arguments spec.
std::string ZshEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else if (c == '[' || c == ']' || c == ':' || c == '\\') {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

// The first clause of an option's text, as a short description in brackets.
std::string ZshDescription(const std::string& text) {
    size_t end = text.size();
    for (const char* stop : {"; ", " (", ": ", ". "}) end = std::min(end, text.find(stop));
    return ZshEscape(text.substr(0, end));
}

std::string ZshValue(const QvCliOptionHelp& o) {
    std::string name = o.valueName;
    for (char& ch : name) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    switch (o.value) {
        case QvCliValue::kWord: return ":" + name + ":(" + o.words + ")";
        case QvCliValue::kDirectory: return ":" + name + ":_files -/";
        case QvCliValue::kFile: return ":" + name + ":_files";
        case QvCliValue::kText: return ":" + name + ": ";
        default: return "";
    }
}

std::string Zsh() {
    std::string out =
        "#compdef qvsplit\n"
        "# zsh completion for qvsplit, made by 'qvsplit --generate complete-zsh'.\n"
        "\n"
        "_qvsplit() {\n"
        "    local -a commands\n"
        "    commands=(\n";
    for (const QvCliCommandHelp& c : QvCliCommandHelps())
        out += "        '" + std::string(c.name) + ":" + ZshEscape(c.summary) + "'\n";
    out += "        'help:the options of a command'\n"
           "    )\n"
           "    if (( CURRENT == 2 )); then\n"
           "        _describe -t commands 'qvsplit command' commands\n"
           "        compadd -- --help --version --generate\n"
           "        return\n"
           "    fi\n"
           "    local command=$words[2]\n"
           "    shift words\n"
           "    (( CURRENT-- ))\n"
           "    case $command in\n"
           "        help|--help|-h) (( CURRENT == 2 )) && _describe -t commands 'qvsplit command' commands ;;\n"
           "        --generate) (( CURRENT == 2 )) && compadd -- " +
           QvCliGenerateForms() + " ;;\n";
    for (const QvCliCommandHelp& c : QvCliCommandHelps()) {
        out += "        " + std::string(c.name) + ")\n            _arguments -S \\\n";
        for (const QvCliOptionHelp& o : c.options) {
            const std::string flag = std::string(o.flag) + (o.value == QvCliValue::kNone ? "" : "=");
            out += "                '*" + flag + "[" + ZshDescription(o.text) + "]" + ZshValue(o) + "' \\\n";
        }
        out += "                '(- *)--help[this command'\\''s options]' \\\n"
               "                '*:file:_files' ;;\n";
    }
    out += "    esac\n"
           "}\n"
           "\n"
           "_qvsplit \"$@\"\n";
    return out;
}

}  // namespace

bool QvCliGenerate(const std::string& form, std::string& out) {
    if (form == "man") {
        out = Manual();
    } else if (form == "complete-bash") {
        out = Bash();
    } else if (form == "complete-zsh") {
        out = Zsh();
    } else if (form == "markdown") {
        out = Markdown();
    } else {
        return false;
    }
    return true;
}
