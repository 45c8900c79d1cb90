// Writing graft-point path lists.
#include "pack/QvCliPathList.h"

#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"

#include <fstream>

bool QvCliPathList::Line(const QvCliPackItem& item, std::string& line, std::string& error) {
    if (item.mediumPath.find_first_of("\r\n") != std::string::npos ||
        item.hostPath.find_first_of("\r\n") != std::string::npos) {
        error = QvCliShown(item.hostPath) + ": a name with a line end cannot go into a path list";
        return false;
    }
    // The list splits each line at its first '=' that no '\' escapes; the host path after it
    // is taken as it stands.
    line = "/";
    for (char c : item.mediumPath) {
        if (c == '\\' || c == '=') line += '\\';
        line += c;
    }
    line += '=';
    line += item.hostPath;
    return true;
}

bool QvCliPathList::Write(const QvCliMediumLayout& layout, const std::string& file, uint64_t& bytes,
                          std::string& error) {
    std::ofstream out(QvCliFsPath(file), std::ios::binary | std::ios::trunc);
    std::string line;
    bytes = 0;
    for (const QvCliPackItem& item : layout.items) {
        if (!Line(item, line, error)) return false;
        out << line << '\n';
        bytes += line.size() + 1;
    }
    out.flush();
    if (!out) {
        error = QvCliShown(file) + ": write failed";
        return false;
    }
    return true;
}
