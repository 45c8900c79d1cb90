// A UTF-8 character set for the calling thread while an object of it lives (POSIX only).
#ifndef QVCLIUTF8LOCALE_H
#define QVCLIUTF8LOCALE_H

#include <locale.h>

// libarchive turns names into header text and back through the character set of this
// thread's locale, which for a program started in the "C" locale is ASCII and fails on any
// other name: archives are written and read in a UTF-8 locale, for this thread only.
class QvCliUtf8Locale {
public:
    QvCliUtf8Locale() : m_utf8(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))) {
        if (m_utf8) m_previous = uselocale(m_utf8);
    }
    ~QvCliUtf8Locale() {
        if (!m_utf8) return;
        uselocale(m_previous);
        freelocale(m_utf8);
    }
    QvCliUtf8Locale(const QvCliUtf8Locale&) = delete;
    QvCliUtf8Locale& operator=(const QvCliUtf8Locale&) = delete;
    bool Active() const { return m_utf8 != static_cast<locale_t>(0); }

private:
    locale_t m_utf8;
    locale_t m_previous = static_cast<locale_t>(0);
};

#endif
