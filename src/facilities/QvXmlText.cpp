// Text conversions and name checks of the XML facility.
#include "facilities/QvXmlText.h"

#include <cstring>
#include <cwchar>

namespace qvxml {

std::string ToUtf8(const wchar_t* text) {
    if (!text) return std::string();
    return qvp::WideToUtf8(text, std::wcslen(text));
}

BSTR ToBstr(const char* utf8) {
    try {
        const char* bytes = utf8 ? utf8 : "";
        const std::wstring wide = qvp::Utf8ToWide(bytes, std::strlen(bytes));
        return qvp::SysAllocString(wide.c_str());
    } catch (...) {
        return nullptr;
    }
}

// Characters that end or break a name in markup; everything else (letters of any script,
// digits, '-', '.', '_', ':') is let through, which keeps the check cheap and never rejects
// a name a reader would accept.
namespace {

struct QvNameBreakers {
    bool table[256] = {};
    QvNameBreakers() {
        for (int c = 0; c <= 0x20; ++c) table[c] = true;
        for (const char* p = "!\"#$%&'()*+,/;<=>?@[\\]^`{|}~"; *p; ++p)
            table[static_cast<unsigned char>(*p)] = true;
    }
};

bool IsNameBreaker(unsigned char c) {
    static const QvNameBreakers breakers;
    return breakers.table[c];
}

}  // namespace

bool IsXmlName(const std::string& name) {
    if (name.empty()) return false;
    const unsigned char first = static_cast<unsigned char>(name[0]);
    if ((first >= '0' && first <= '9') || first == '-' || first == '.') return false;
    for (char c : name) {
        if (IsNameBreaker(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace qvxml
