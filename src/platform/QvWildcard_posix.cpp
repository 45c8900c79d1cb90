// Windows wildcard matching of one file name, with the DOS rules FindFirstFileW applies.
#include "platform/QvPosixSupport.h"

#include <vector>

namespace qvp {
namespace posix {

namespace {

// Pattern tokens: a character (upper-cased) or one of these wildcards.
enum : int32_t {
    kStar = -1,     // '*': any run of characters
    kDosStar = -2,  // '*' before '.': any run that does not take the name's last dot
    kDosQm = -3,    // '?': one character, or none at a dot or the end of the name
    kDosDot = -4    // '.' before a wildcard or at the end: a dot, or nothing at the end
};

// Rewrites the pattern the way Windows does before matching, so "*.*" matches names without a
// dot and "*." matches only names without one.
std::vector<int32_t> Compile(const std::wstring& pattern) {
    if (pattern == L"*.*") return {kStar};
    std::vector<int32_t> tokens;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = pattern[i];
        const wchar_t next = i + 1 < pattern.size() ? pattern[i + 1] : L'\0';
        if (c == L'?')
            tokens.push_back(kDosQm);
        else if (c == L'*')
            tokens.push_back(next == L'.' ? kDosStar : kStar);
        else if (c == L'.' && (next == L'?' || next == L'*' || next == L'\0'))
            tokens.push_back(kDosDot);
        else
            tokens.push_back(static_cast<int32_t>(ToUpperChar(c)));
    }
    return tokens;
}

class Matcher {
public:
    Matcher(const std::vector<int32_t>& tokens, const std::wstring& name)
        : m_tokens(tokens), m_memo((tokens.size() + 1) * (name.size() + 1), -1) {
        for (wchar_t c : name) m_name.push_back(static_cast<int32_t>(ToUpperChar(c)));
        m_lastDot = name.rfind(L'.');
    }

    // Whether tokens from i on match the name from j on; memoised, so "*" runs stay quadratic.
    bool Run(size_t i, size_t j) {
        signed char& memo = m_memo[i * (m_name.size() + 1) + j];
        if (memo < 0) memo = Step(i, j) ? 1 : 0;
        return memo == 1;
    }

private:
    bool Step(size_t i, size_t j) {
        const size_t n = m_name.size();
        if (i == m_tokens.size()) return j == n;
        const bool atDot = j < n && m_name[j] == L'.';
        switch (m_tokens[i]) {
        case kStar:
            return RunFrom(i + 1, j, n);
        case kDosStar:
            return RunFrom(i + 1, j, (m_lastDot != std::wstring::npos && m_lastDot >= j) ? m_lastDot : n);
        case kDosQm:
            return (j < n && !atDot) ? Run(i + 1, j + 1) : Run(i + 1, j);
        case kDosDot:
            return atDot ? Run(i + 1, j + 1) : (j == n && Run(i + 1, j));
        default:
            return j < n && m_name[j] == m_tokens[i] && Run(i + 1, j + 1);
        }
    }

    // Tries the rest of the pattern after consuming name[j..k) for every k up to last.
    bool RunFrom(size_t i, size_t j, size_t last) {
        for (size_t k = j; k <= last; ++k)
            if (Run(i, k)) return true;
        return false;
    }

    const std::vector<int32_t>& m_tokens;
    std::vector<int32_t> m_name;
    std::vector<signed char> m_memo;
    size_t m_lastDot;
};

}  // namespace

bool MatchesWindowsPattern(const std::wstring& pattern, const std::wstring& name) {
    // The patterns of a tree walk take every name; they need no matcher for each entry.
    if (pattern == L"*" || pattern == L"*.*") return true;
    const std::vector<int32_t> tokens = Compile(pattern);
    Matcher matcher(tokens, name);
    return matcher.Run(0, 0);
}

}  // namespace posix
}  // namespace qvp
