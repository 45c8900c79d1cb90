// Graft-point path lists of one medium, as `xorriso -as mkisofs -graft-points -path-list` and
// `genisoimage -graft-points -path-list` read them.
#ifndef QVCLIPATHLIST_H
#define QVCLIPATHLIST_H

#include "mediaset/QvCliMediumLayout.h"

#include <cstdint>
#include <string>

class QvCliPathList {
public:
    // One line, without its line end: "/path/in/medium=host path", with '\' and '=' of the
    // path in the medium escaped by a '\'. False for a name holding a line end, which no
    // line of such a list can carry.
    static bool Line(const QvCliPackItem& item, std::string& line, std::string& error);

    // Writes one line for each item of a layout (folders kept whole stay one line each);
    // bytes is the size written.
    static bool Write(const QvCliMediumLayout& layout, const std::string& file, uint64_t& bytes,
                      std::string& error);
};

#endif
