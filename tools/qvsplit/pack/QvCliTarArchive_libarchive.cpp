// Tar archives through libarchive: entries described from the disk, contents copied in chunks.
#include "pack/QvCliTarArchive.h"

#include "check/QvCliChecksums.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliUtf8Locale.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <vector>

#include <archive.h>
#include <archive_entry.h>

namespace {

const size_t kCopyChunk = 1 << 20;

struct ArchiveCloser {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct DiskCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct EntryCloser {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Whether text is well-formed UTF-8 (no overlong form, surrogate or value past U+10FFFF).
bool IsUtf8(const std::string& text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        const unsigned c = *p;
        int more = 0;
        unsigned min = 0, value = 0;
        if (c < 0x80) { ++p; continue; }
        if (c >= 0xC2 && c <= 0xDF) { more = 1; min = 0x80; value = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { more = 2; min = 0x800; value = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { more = 3; min = 0x10000; value = c & 0x07; }
        else return false;
        if (end - p <= more) return false;
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            value = (value << 6) | (p[i] & 0x3F);
        }
        if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        p += more + 1;
    }
    return true;
}

// Writes an archive to a file, or (measuring) only counts the bytes it would take: the same
// headers from the same files, each file's content counted as libarchive's padding of it.
class TarWriter {
public:
    TarWriter(const std::function<bool(uint64_t)>& progress) : m_progress(progress), m_buffer(kCopyChunk) {}

    // file empty: measure only.
    QvCliWriteOutcome Open(const std::string& file, std::string& error) {
        m_out.reset(archive_write_new());
        m_disk.reset(archive_read_disk_new());
        if (!m_out || !m_disk) {
            error = "out of memory";
            return QvCliWriteOutcome::kFailed;
        }
        // pax headers only where ustar cannot hold a name, size or time.
        archive_write_set_format_pax_restricted(m_out.get());
        archive_read_disk_set_standard_lookup(m_disk.get());
        // Holes are stored as the zeros they read as: the plan counted every byte of a file,
        // and an archive is then exactly as large as measured.
        archive_read_disk_set_behavior(m_disk.get(), ARCHIVE_READDISK_NO_XATTR | ARCHIVE_READDISK_NO_ACL |
                                                         ARCHIVE_READDISK_NO_FFLAGS | ARCHIVE_READDISK_NO_SPARSE);
        m_bMeasuring = file.empty();
        // An archive is not padded to a whole record: it ends with its two end blocks.
        archive_write_set_bytes_in_last_block(m_out.get(), 1);
        const int opened = m_bMeasuring ? archive_write_open(m_out.get(), this, nullptr, &TarWriter::Count, nullptr)
                                        : archive_write_open_filename(m_out.get(), file.c_str());
        if (opened != ARCHIVE_OK) {
            error = (m_bMeasuring ? std::string("measuring") : file) + ": " + archive_error_string(m_out.get());
            return QvCliWriteOutcome::kFailed;
        }
        return QvCliWriteOutcome::kWritten;
    }

    uint64_t Counted() const { return m_counted; }

    // Adds items[index] of the layout; a file's SHA-256 goes to digest when one is given.
    QvCliWriteOutcome Add(const QvCliMediumLayout& layout, size_t index, unsigned char* digest, std::string& error) {
        const QvCliPackItem& item = layout.items[index];
        if (item.kind == QvCliPackItem::kGenerated) return AddGenerated(layout, index, digest, error);
        std::unique_ptr<archive_entry, EntryCloser> entry(archive_entry_new());
        // Links the plan kept are stored as links; every other path is read through.
        if (item.kind == QvCliPackItem::kLink)
            archive_read_disk_set_symlink_physical(m_disk.get());
        else
            archive_read_disk_set_symlink_logical(m_disk.get());
        archive_entry_copy_sourcepath(entry.get(), item.hostPath.c_str());
        if (archive_read_disk_entry_from_file(m_disk.get(), entry.get(), -1, nullptr) < ARCHIVE_WARN) {
            error = QvCliShown(item.hostPath) + ": " + archive_error_string(m_disk.get());
            return QvCliWriteOutcome::kFailed;
        }
        archive_entry_sparse_clear(entry.get());
        // A name that is not UTF-8 is stored as its bytes: libarchive cannot translate it, warns,
        // and marks that entry's extended header hdrcharset=BINARY, as GNU tar stores such a
        // name. Every other name keeps its UTF-8 bytes.
        if (IsUtf8(item.mediumPath)) {
            if (archive_entry_update_pathname_utf8(entry.get(), item.mediumPath.c_str()) == 0) {
                error = item.mediumPath + ": name cannot be stored in a tar header";
                return QvCliWriteOutcome::kFailed;
            }
        } else {
            archive_entry_copy_pathname(entry.get(), item.mediumPath.c_str());
        }
        if (archive_write_header(m_out.get(), entry.get()) < ARCHIVE_WARN) {
            error = item.mediumPath + ": " + archive_error_string(m_out.get());
            return QvCliWriteOutcome::kFailed;
        }
        // Measuring, the content is left to libarchive, which pads the entry to its size.
        if (m_bMeasuring || archive_entry_filetype(entry.get()) != AE_IFREG) return QvCliWriteOutcome::kWritten;
        return CopyContent(item.hostPath, static_cast<uint64_t>(archive_entry_size(entry.get())),
                           digest, error);
    }

    // A file made from the files before it (the catalogue, the checksum list); its size was
    // counted ahead and measuring counts that.
    QvCliWriteOutcome AddGenerated(const QvCliMediumLayout& layout, size_t index, unsigned char* digest, std::string& error) {
        const QvCliPackItem& item = layout.items[index];
        const std::string content = m_bMeasuring ? std::string() : QvCliGenerated(layout, index);
        if (!m_bMeasuring && content.size() != item.size) {
            error = item.mediumPath + ": came out " + std::to_string(content.size()) + " bytes, not the " +
                    std::to_string(item.size) + " counted";
            return QvCliWriteOutcome::kFailed;
        }
        std::unique_ptr<archive_entry, EntryCloser> entry(archive_entry_new());
        archive_entry_copy_pathname(entry.get(), item.mediumPath.c_str());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(item.size));
        archive_entry_set_mtime(entry.get(), m_bMeasuring ? 0 : std::time(nullptr), 0);
        if (archive_write_header(m_out.get(), entry.get()) < ARCHIVE_WARN) {
            error = item.mediumPath + ": " + archive_error_string(m_out.get());
            return QvCliWriteOutcome::kFailed;
        }
        if (m_bMeasuring) return QvCliWriteOutcome::kWritten;
        if (archive_write_data(m_out.get(), content.data(), content.size()) < 0) {
            error = archive_error_string(m_out.get());
            return QvCliWriteOutcome::kFailed;
        }
        if (digest) {
            m_hash.Update(content.data(), content.size());
            m_hash.Digest(*reinterpret_cast<unsigned char(*)[32]>(digest));
        }
        return QvCliWriteOutcome::kWritten;
    }

    QvCliWriteOutcome Close(const std::string& file, std::string& error) {
        if (archive_write_close(m_out.get()) != ARCHIVE_OK) {
            error = QvCliShown(file) + ": " + archive_error_string(m_out.get());
            return QvCliWriteOutcome::kFailed;
        }
        return QvCliWriteOutcome::kWritten;
    }

private:
    static la_ssize_t Count(archive*, void* self, const void*, size_t length) {
        static_cast<TarWriter*>(self)->m_counted += length;
        return static_cast<la_ssize_t>(length);
    }

    bool m_bMeasuring = false;
    uint64_t m_counted = 0;
    // Copies a file's content; its size must stay what the header says.
    // With digest, the content's SHA-256 is computed on the way.
    QvCliWriteOutcome CopyContent(const std::string& hostPath, uint64_t size, unsigned char* digest, std::string& error) {
        std::unique_ptr<std::FILE, FileCloser> in(std::fopen(hostPath.c_str(), "rb"));
        if (!in) {
            error = hostPath + ": cannot be read";
            return QvCliWriteOutcome::kFailed;
        }
        uint64_t copied = 0;
        while (copied < size) {
            const size_t got = std::fread(m_buffer.data(), 1, m_buffer.size(), in.get());
            if (got == 0) break;
            if (digest) m_hash.Update(m_buffer.data(), got);
            if (archive_write_data(m_out.get(), m_buffer.data(), got) < 0) {
                error = archive_error_string(m_out.get());
                return QvCliWriteOutcome::kFailed;
            }
            copied += got;
            m_done += got;
            if (!m_progress(m_done)) return QvCliWriteOutcome::kStopped;
        }
        if (copied != size || std::ferror(in.get())) {
            error = hostPath + ": could not be read whole, or changed while it was stored";
            return QvCliWriteOutcome::kFailed;
        }
        if (digest) m_hash.Digest(*reinterpret_cast<unsigned char(*)[32]>(digest));
        return QvCliWriteOutcome::kWritten;
    }

    std::function<bool(uint64_t)> m_progress;
    std::vector<char> m_buffer;
    QvCliSha256 m_hash;
    std::unique_ptr<archive, ArchiveCloser> m_out;
    std::unique_ptr<archive, DiskCloser> m_disk;
    uint64_t m_done = 0;
};

}  // namespace

bool QvCliTarArchive::Available(std::string&) { return true; }

std::string QvCliTarArchive::Library() { return archive_version_string(); }

QvCliWriteOutcome QvCliTarArchive::Write(QvCliMediumLayout& layout, const std::string& file,
                                                const std::function<bool(uint64_t)>& progress, uint64_t& bytes,
                                                std::string& error) {
    bytes = 0;
    const QvCliUtf8Locale locale;
    if (!locale.Active()) {
        error = "the C.UTF-8 locale is missing: tar names could not be written";
        return QvCliWriteOutcome::kFailed;
    }
    TarWriter writer(progress);
    if (layout.hashing) layout.digests.assign(layout.items.size(), {});
    QvCliWriteOutcome outcome = writer.Open(file, error);
    for (size_t i = 0; outcome == QvCliWriteOutcome::kWritten && i < layout.items.size(); ++i)
        outcome = writer.Add(layout, i, layout.hashing ? layout.digests[i].data() : nullptr, error);
    if (outcome == QvCliWriteOutcome::kWritten) outcome = writer.Close(file, error);
    std::error_code ec;
    bytes = std::filesystem::file_size(QvCliFsPath(file), ec);
    return outcome;
}

bool QvCliTarArchive::Measure(const QvCliMediumLayout& layout, uint64_t& bytes, std::string& error) {
    bytes = 0;
    const QvCliUtf8Locale locale;
    if (!locale.Active()) {
        error = "the C.UTF-8 locale is missing: tar names could not be written";
        return false;
    }
    TarWriter writer([](uint64_t) { return true; });
    QvCliWriteOutcome outcome = writer.Open(std::string(), error);
    for (size_t i = 0; outcome == QvCliWriteOutcome::kWritten && i < layout.items.size(); ++i) outcome = writer.Add(layout, i, nullptr, error);
    if (outcome == QvCliWriteOutcome::kWritten) outcome = writer.Close("measuring", error);
    bytes = writer.Counted();
    return outcome == QvCliWriteOutcome::kWritten;
}
