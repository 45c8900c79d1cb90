// ISO images and tar archives read through libarchive, which reads Rock Ridge names and pax
// headers, without mounting anything.
#include "check/QvCliMediumReader.h"

#include "system/QvCliShown.h"
#include "system/QvCliUtf8Locale.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <string>

namespace {

struct ReaderCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};

std::string Path(archive_entry* entry) {
    const char* name = archive_entry_pathname(entry);
    std::string path = name ? name : "";
    while (path.compare(0, 2, "./") == 0) path.erase(0, 2);
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

// Hands count zeros to the visitor: a hole of a sparse entry reads as zeros.
bool Zeros(QvCliMediumVisitor& visitor, uint64_t count) {
    static const char kZeros[65536] = {};
    while (count) {
        const size_t n = count < sizeof kZeros ? static_cast<size_t>(count) : sizeof kZeros;
        if (!visitor.Data(kZeros, n)) return false;
        count -= n;
    }
    return true;
}

}  // namespace

QvCliReadOutcome QvCliReadArchive(const std::string& file, QvCliMediumVisitor& visitor, std::string& error) {
    const QvCliUtf8Locale locale;
    std::unique_ptr<archive, ReaderCloser> in(archive_read_new());
    if (!in) {
        error = "out of memory";
        return QvCliReadOutcome::kDamaged;
    }
    archive_read_support_format_iso9660(in.get());
    archive_read_support_format_tar(in.get());
    if (archive_read_open_filename(in.get(), file.c_str(), 1 << 20) != ARCHIVE_OK) {
        error = QvCliShown(file) + ": " + archive_error_string(in.get());
        return QvCliReadOutcome::kDamaged;
    }
    for (;;) {
        archive_entry* header = nullptr;
        const int status = archive_read_next_header(in.get(), &header);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) {
            error = QvCliShown(file) + ": " + archive_error_string(in.get()) + " (after byte " +
                    std::to_string(archive_filter_bytes(in.get(), -1)) + ")";
            return QvCliReadOutcome::kDamaged;
        }
        QvCliMediumEntry entry;
        entry.path = Path(header);
        entry.mode = static_cast<uint32_t>(archive_entry_perm(header));
        entry.writeTime = static_cast<int64_t>(archive_entry_mtime(header));
        const char* hardLink = archive_entry_hardlink(header);
        switch (archive_entry_filetype(header)) {
            case AE_IFREG: entry.kind = QvCliMediumEntry::kFile; break;
            case AE_IFDIR: entry.kind = QvCliMediumEntry::kFolder; break;
            case AE_IFLNK: entry.kind = QvCliMediumEntry::kLink; break;
            default: entry.kind = hardLink ? QvCliMediumEntry::kFile : QvCliMediumEntry::kOther; break;
        }
        if (entry.kind == QvCliMediumEntry::kLink && archive_entry_symlink(header))
            entry.linkTarget = archive_entry_symlink(header);
        if (entry.kind == QvCliMediumEntry::kFile && hardLink) {
            std::string target = hardLink;
            while (target.compare(0, 2, "./") == 0) target.erase(0, 2);
            entry.hardLink = target;
        }
        entry.size = entry.kind == QvCliMediumEntry::kFile ? static_cast<uint64_t>(archive_entry_size(header)) : 0;
        const bool wanted = visitor.Entry(entry);
        if (!wanted || entry.kind != QvCliMediumEntry::kFile || !entry.hardLink.empty()) continue;
        uint64_t offset = 0;
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t at = 0;
            const int read = archive_read_data_block(in.get(), &block, &size, &at);
            if (read == ARCHIVE_EOF) break;
            if (read < ARCHIVE_WARN) {
                const std::string why = archive_error_string(in.get()) ? archive_error_string(in.get()) : "read failed";
                visitor.FileEnd(false, offset, why);
                error = QvCliShown(file) + ": " + why + " (in " + QvCliShown(entry.path) + ", at its byte " + std::to_string(offset) + ")";
                return QvCliReadOutcome::kDamaged;
            }
            if (static_cast<uint64_t>(at) > offset) {
                if (!Zeros(visitor, static_cast<uint64_t>(at) - offset)) return QvCliReadOutcome::kStopped;
                offset = static_cast<uint64_t>(at);
            }
            if (size && !visitor.Data(block, size)) return QvCliReadOutcome::kStopped;
            offset += size;
            visitor.Progress(static_cast<uint64_t>(archive_filter_bytes(in.get(), -1)));
        }
        // A sparse entry may end in a hole.
        if (offset < entry.size) {
            if (!Zeros(visitor, entry.size - offset)) return QvCliReadOutcome::kStopped;
            offset = entry.size;
        }
        visitor.FileEnd(true, offset, std::string());
    }
    return QvCliReadOutcome::kRead;
}
