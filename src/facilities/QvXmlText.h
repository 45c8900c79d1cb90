// Helpers shared by the XML classes: text conversions, name checks and the exception guard.
#ifndef QVXMLTEXT_H
#define QVXMLTEXT_H

#include "platform/QvPlatform.h"

#include <string>

namespace qvxml {

// UTF-8 bytes of a wide text (null gives the empty string).
std::string ToUtf8(const wchar_t* text);
// A caller-owned OLE string holding UTF-8 text decoded to wide characters; null on failure.
BSTR ToBstr(const char* utf8);
// Whether a name can stand as an element or attribute name in well-formed XML.
bool IsXmlName(const std::string& name);

// Runs body and turns any exception (allocation failure above all) into the failure value,
// since no exception may leave the library.
template <class R, class F>
R Guard(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace qvxml

#endif
