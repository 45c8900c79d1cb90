// Text conversions and name checks of the XML facility.
#include "facilities/QvXmlText.h"

#include <cstring>

namespace qvxml {

std::string ToUtf8(const wchar_t* text) {
    if (!text) return std::string();
    return qvp::WideToUtf8(std::wstring(text));
}

BSTR ToBstr(const char* utf8) {
    try {
        const std::wstring wide = qvp::Utf8ToWide(std::string(utf8 ? utf8 : ""));
        return qvp::SysAllocString(wide.c_str());
    } catch (...) {
        return nullptr;
    }
}

// Characters that end or break a name in markup; everything else (letters of any script,
// digits, '-', '.', '_', ':') is let through, which keeps the check cheap and never rejects
// a name a reader would accept.
static bool IsNameBreaker(unsigned char c) {
    return c <= 0x20 || std::strchr("!\"#$%&'()*+,/;<=>?@[\\]^`{|}~", c) != nullptr;
}

bool IsXmlName(const std::string& name) {
    if (name.empty()) return false;
    const unsigned char first = static_cast<unsigned char>(name[0]);
    if ((first >= '0' && first <= '9') || first == '-' || first == '.') return false;
    for (char c : name) {
        if (IsNameBreaker(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool SplitCdataWrapper(const std::string& text, std::string& value) {
    static const char kOpen[] = "<![CDATA[";
    static const char kClose[] = "]]>";
    const size_t open = sizeof(kOpen) - 1, close = sizeof(kClose) - 1;
    if (text.size() < open + close) return false;
    if (text.compare(0, open, kOpen) != 0) return false;
    if (text.compare(text.size() - close, close, kClose) != 0) return false;
    value = text.substr(open, text.size() - open - close);
    return true;
}

}  // namespace qvxml
