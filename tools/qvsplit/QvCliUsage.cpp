// The help texts of qvsplit and its commands, written from the command descriptions.
#include "QvCliHelp.h"
#include "QvCliOptions.h"

namespace {

const size_t kWidth = 79;
const size_t kOptionColumn = 21;

// "--size SIZE" as a synopsis shows it.
std::string OptionTerm(const QvCliOptionHelp& o) {
    return *o.valueName ? std::string(o.flag) + " " + o.valueName : std::string(o.flag);
}

std::string Overview() {
    std::string out = "qvsplit - divide files and folders into media of a fixed size\n\n"
                      "Usage: qvsplit COMMAND [OPTIONS] [ARGS]\n\nCommands:\n";
    for (const QvCliCommandHelp& c : QvCliCommandHelps()) {
        std::string line = "  " + std::string(c.name);
        line.resize(11, ' ');
        out += line + QvCliWrap(c.summary, kWidth, 11, line.size()) + "\n";
    }
    out += "\n"
           "Run 'qvsplit help COMMAND' (or 'qvsplit COMMAND --help') for the options of\n"
           "one command, 'man qvsplit' for the whole manual, 'qvsplit --version' for the\n"
           "version and the libraries this build uses.\n"
           "Exit status: 0 success, 1 refused or failed, 2 usage error, 3 cancelled.\n";
    return out;
}

std::string CommandUsage(const QvCliCommandHelp& c) {
    std::string out;
    for (size_t i = 0; i < c.usage.size(); ++i)
        out += (i == 0 ? "Usage: qvsplit " : "       qvsplit ") + std::string(c.usage[i]) + "\n";
    for (const char* paragraph : c.text) out += "\n" + QvCliWrap(paragraph, kWidth, 0) + "\n";
    if (!c.options.empty()) out += "\nOptions:\n";
    for (const QvCliOptionHelp& o : c.options) {
        std::string term = "  " + OptionTerm(o);
        // A term too long for its column has its text start on the next line.
        if (term.size() + 1 >= kOptionColumn) {
            out += term + "\n";
            term.clear();
        }
        term.resize(kOptionColumn, ' ');
        out += term + QvCliWrap(o.text, kWidth, kOptionColumn, kOptionColumn) + "\n";
    }
    out += "  -h, --help         this text\n";
    return out;
}

}  // namespace

std::string QvCliWrap(const std::string& text, size_t width, size_t indent, size_t firstColumn) {
    std::string out;
    size_t column = firstColumn;
    bool lineHasWord = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(' ', pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) {
            const size_t length = end - pos;
            if (lineHasWord && column + 1 + length > width) {
                out += "\n" + std::string(indent, ' ');
                column = indent;
                lineHasWord = false;
            }
            if (lineHasWord) {
                out += ' ';
                ++column;
            }
            out.append(text, pos, length);
            column += length;
            lineHasWord = true;
        }
        pos = end + 1;
    }
    return out;
}

std::string QvCliUsage(const std::string& command) {
    if (const QvCliCommandHelp* c = QvCliFindCommandHelp(command)) return CommandUsage(*c);
    return Overview();
}
