// Media read from a folder here; images and archives through the archive reader.
#include "check/QvCliMediumReader.h"

#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

const size_t kChunk = 1 << 20;

class FolderReader {
public:
    FolderReader(QvCliMediumVisitor& visitor) : m_visitor(visitor), m_buffer(kChunk) {}

    QvCliReadOutcome Walk(const fs::path& folder, const std::string& prefix, std::string& error) {
        std::error_code ec;
        std::vector<QvCliChild> children;
        if (!QvCliListChildren(folder, false, children, ec)) {
            error = QvCliShown(QvCliPathText(folder)) + ": folder cannot be read (" + ec.message() + ")";
            return QvCliReadOutcome::kDamaged;
        }
        for (const QvCliChild& child : children) {
            const fs::path path = folder / child.name;
            QvCliMediumEntry entry;
            entry.path = prefix + QvCliPathText(child.name);
            Describe(path, entry);
            switch (child.kind) {
                case QvCliChild::kFolder: {
                    entry.kind = QvCliMediumEntry::kFolder;
                    m_visitor.Entry(entry);
                    const QvCliReadOutcome inner = Walk(path, entry.path + "/", error);
                    if (inner != QvCliReadOutcome::kRead) return inner;
                    break;
                }
                case QvCliChild::kLink:
                    entry.kind = QvCliMediumEntry::kLink;
                    entry.linkTarget = QvCliPathText(fs::read_symlink(path, ec));
                    m_visitor.Entry(entry);
                    break;
                case QvCliChild::kFile:
                    entry.kind = QvCliMediumEntry::kFile;
                    entry.size = child.size;
                    if (m_visitor.Entry(entry) && !ReadFile(path)) return QvCliReadOutcome::kStopped;
                    break;
                case QvCliChild::kOther:
                    m_visitor.Entry(entry);
                    break;
            }
        }
        return QvCliReadOutcome::kRead;
    }

private:
    static void Describe(const fs::path& path, QvCliMediumEntry& entry) {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (!ec) entry.mode = static_cast<uint32_t>(status.permissions()) & 07777;
#ifndef _WIN32
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) entry.writeTime = static_cast<int64_t>(st.st_mtime);
#endif
    }

    // False only when the visitor stops the reading; a file that cannot be read whole is
    // told to the visitor with the offset where its reading failed.
    bool ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            m_visitor.FileEnd(false, 0, std::string("cannot be opened (") + std::strerror(errno) + ")");
            return true;
        }
        uint64_t offset = 0;
        for (;;) {
            in.read(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
            const size_t got = static_cast<size_t>(in.gcount());
            if (got && !m_visitor.Data(m_buffer.data(), got)) return false;
            offset += got;
            m_done += got;
            m_visitor.Progress(m_done);
            if (in.eof()) break;
            if (!in) {
                m_visitor.FileEnd(false, offset, std::string("read failed (") + std::strerror(errno) + ")");
                return true;
            }
        }
        m_visitor.FileEnd(true, offset, std::string());
        return true;
    }

    QvCliMediumVisitor& m_visitor;
    std::vector<char> m_buffer;
    uint64_t m_done = 0;
};

}  // namespace

std::string QvCliMediumKind(const std::string& source, uint64_t& bytes, std::string& error) {
    std::error_code ec;
    const fs::path path = QvCliFsPath(source);
    const fs::file_status status = fs::status(path, ec);
    bytes = 0;
    if (fs::is_directory(status)) return "folder";
    if (!fs::exists(status)) {
        error = QvCliShown(source) + ": no such image, archive or folder";
        return std::string();
    }
    bytes = fs::file_size(path, ec);
    const std::string kind = QvCliArchiveKind(source);
    if (kind.empty())
        error = QvCliShown(source) + ": neither an ISO image nor a tar archive (nor a folder)";
    return kind;
}

uint64_t QvCliMediumBytes(const std::string& source) {
    uint64_t bytes = 0;
    std::string error;
    if (QvCliMediumKind(source, bytes, error) != "folder") return bytes;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(QvCliFsPath(source), ec), end; !ec && it != end; it.increment(ec))
        if (!it->is_symlink(ec) && it->is_regular_file(ec)) bytes += it->file_size(ec);
    return bytes;
}

QvCliReadOutcome QvCliReadMedium(const std::string& source, QvCliMediumVisitor& visitor, std::string& error) {
    uint64_t bytes = 0;
    const std::string kind = QvCliMediumKind(source, bytes, error);
    if (kind.empty()) return QvCliReadOutcome::kDamaged;
    if (kind != "folder") return QvCliReadArchive(source, visitor, error);
    FolderReader reader(visitor);
    return reader.Walk(QvCliFsPath(source), std::string(), error);
}

std::string QvCliArchiveKind(const std::string& file) {
    std::ifstream in(QvCliFsPath(file), std::ios::binary);
    char block[512] = {};
    in.read(block, sizeof block);
    if (in.gcount() == static_cast<std::streamsize>(sizeof block) && std::memcmp(block + 257, "ustar", 5) == 0) return "tar";
    char volume[6] = {};
    in.clear();
    in.seekg(16 * 2048);
    in.read(volume, sizeof volume);
    if (in.gcount() == static_cast<std::streamsize>(sizeof volume) && std::memcmp(volume + 1, "CD001", 5) == 0) return "iso";
    return std::string();
}
