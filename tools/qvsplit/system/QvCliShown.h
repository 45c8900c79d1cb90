// Names as the program shows them: every character that a terminal or an editor would act on
// or hide written visibly, so that a file name cannot fake, recolour or reorder what is read.
#ifndef QVCLISHOWN_H
#define QVCLISHOWN_H

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

// A name or host path as it is shown on a terminal and in the text files people read (the text
// catalogue): a backslash as \\, a tab, newline and carriage return as \t, \n, \r, any other
// control character (U+0000-U+001F, U+007F) and each byte that is not part of well-formed UTF-8
// as \xNN, and a C1 control (U+0080-U+009F) or a character that reorders or hides text (the
// bidirectional embeddings, overrides, isolates and marks, U+2028, U+2029) as \uNNNN, hex digits
// upper case. Everything else, plain Unicode included, is written as it is.
// On Windows a backslash, which separates folders there, is shown as it is.
std::string QvCliShown(std::string_view name);
// The same with every backslash doubled, for a list read back (QvCliUnshown) on any host.
std::string QvCliShownInList(std::string_view name);
// The same for a message that holds names in its own words (the library's, whose Windows paths
// separate folders with backslashes): a backslash stays as it is, and a character the library
// maps from one a Windows name cannot hold (U+F000 + byte) is shown as the host's own.
std::string QvCliShownMessage(std::string_view text);
// The name a shown form stands for, as it was; false on a backslash that begins none of the
// forms QvCliShown writes.
bool QvCliUnshown(std::string_view shown, std::string& name);

// While one lives, standard output and standard error pass through a filter that writes any
// control character but newline and tab, and any character that reorders or hides text, in the
// form QvCliShown gives it: whatever a message quotes, the terminal acts on none of it. Text
// already shown (every name the program prints) passes unchanged.
class QvCliShownOutput {
public:
    QvCliShownOutput();
    ~QvCliShownOutput();
    QvCliShownOutput(const QvCliShownOutput&) = delete;
    QvCliShownOutput& operator=(const QvCliShownOutput&) = delete;

private:
    class Buffer;
    std::unique_ptr<Buffer> m_out, m_err;
    std::streambuf* m_oldOut;
    std::streambuf* m_oldErr;
};

#endif
