// ISO images through libisofs: the tree is built from the layout, the image read from the
// burn source libisofs fills from its writer thread.
#include "pack/QvCliIsoImage.h"

#include "check/QvCliChecksums.h"
#include "check/QvCliMediumNotes.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
// The burn source's declaration comes with libisofs when libburn's header is not used.
#define LIBISOFS_WITHOUT_LIBBURN 1
#include <libisofs/libisofs.h>

namespace fs = std::filesystem;

namespace {

// Blocks of 2,048 bytes between libisofs's writer thread and our reads (its default is 1,024):
// a larger ring lets the writer read ahead while the image file is written.
const size_t kFifoBlocks = 8192;
// Bytes taken from the burn source per read.
const size_t kReadChunk = 1 << 20;

// libisofs is set up once per process and finished at exit, so that leak checks see it clean.
class IsoLibrary {
public:
    static bool Ready(std::string& error) {
        static IsoLibrary library;
        if (library.m_status < 0) error = "libisofs could not be started (error " + std::to_string(library.m_status) + ")";
        return library.m_status >= 0;
    }

private:
    IsoLibrary() : m_status(iso_init()) {
        if (m_status < 0) return;
        // Names are UTF-8 whatever the locale says, so Joliet gets them right.
        iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
        // Messages are queued for our error texts, never printed by the library.
        iso_set_msgs_severities(const_cast<char*>("SORRY"), const_cast<char*>("NEVER"), const_cast<char*>("qvsplit"));
        // A file that cannot be read stops the image instead of being filled with zeros.
        iso_set_abort_severity(const_cast<char*>("MISHAP"));
    }
    ~IsoLibrary() {
        if (m_status >= 0) iso_finish();
    }
    int m_status;
};

// The queued messages of libisofs, oldest first, joined; the queue is left empty.
std::string TakeMessages() {
    std::string text;
    int code = 0, imageId = 0;
    std::vector<char> message(ISO_MSGS_MESSAGE_LEN);
    char severity[80];
    while (iso_obtain_msgs(const_cast<char*>("SORRY"), &code, &imageId, message.data(), severity) > 0)
        text += (text.empty() ? "" : "; ") + std::string(message.data());
    iso_obtain_msgs(const_cast<char*>("NEVER"), &code, &imageId, message.data(), severity);
    return text;
}

std::string IsoError(const std::string& what, int status) {
    const std::string queued = TakeMessages();
    return what + ": " + (queued.empty() ? iso_error_to_msg(status) : queued);
}

// Ends a burn source and its writer thread.
void FreeSource(burn_source* source, bool cancel) {
    if (!source) return;
    if (cancel && source->cancel) source->cancel(source);
    source->free_data(source);
    std::free(source);
}


// libisofs declares its stream object only for C (a member is named "class"); this has the same
// layout, as its header asks of C++ callers.
struct StreamObject {
    IsoStreamIface* iface;
    int refcount;
    void* data;
};

// The files of a medium and their digests, filled in by the streams as libisofs reads them, and
// the files made from them (the catalogue, the checksum list) by their own streams, written
// after the files they are made from.
struct Sums {
    QvCliMediumLayout files;  // each file's paths, kind and size, its digest, and what makes the made ones
    std::string text;         // the checksum list as written
    // Names of a file the image holds once (hard links): each slot takes the digest of the slot
    // whose stream it shares.
    std::vector<std::pair<size_t, size_t>> aliases;
    void TakeAliases() {
        for (const auto& alias : aliases) files.digests[alias.first] = files.digests[alias.second];
    }
};

// A file read for the image: from the disk, hashed on the way, or made from the others.
struct StreamData {
    static constexpr size_t kNoSlot = static_cast<size_t>(-1);
    Sums* sums = nullptr;
    size_t slot = kNoSlot;  // its place in sums (kNoSlot: read, not hashed)
    bool generated = false;
    std::string content;    // a made file's bytes while it is read
    std::string hostPath;
    uint64_t size = 0;
    ino_t serial = 0;
    int fd = -1;
    uint64_t done = 0;
    std::vector<unsigned char> buffer;
    size_t have = 0, at = 0;
    std::unique_ptr<QvCliSha256> hash;
};

// Reads larger than the 2 KiB blocks libisofs asks for: one read of the disk feeds many.
const size_t kStreamBuffer = 1 << 20;
std::atomic<ino_t> g_nextSerial{1};

StreamData* DataOf(IsoStream* stream) { return static_cast<StreamData*>(reinterpret_cast<StreamObject*>(stream)->data); }

int StreamOpen(IsoStream* stream) {
    StreamData* d = DataOf(stream);
    d->done = d->have = d->at = 0;
    if (d->generated) {
        d->sums->TakeAliases();
        d->content = QvCliGenerated(d->sums->files, d->slot);
        if (d->content.size() != d->size) return ISO_FILE_READ_ERROR;
        QvCliSha256 hash;
        hash.Update(d->content.data(), d->content.size());
        hash.Digest(*reinterpret_cast<unsigned char(*)[32]>(d->sums->files.digests[d->slot].data()));
        if (d->sums->files.items[d->slot].mediumPath == kQvCliSumsFile) d->sums->text = d->content;
        return 1;
    }
    d->fd = ::open(d->hostPath.c_str(), O_RDONLY);
    if (d->fd < 0) return ISO_FILE_CANT_ADD;
    struct stat st;
    if (fstat(d->fd, &st) != 0) return ISO_FILE_READ_ERROR;
    d->buffer.resize(kStreamBuffer);
    d->hash.reset(new QvCliSha256);
    const uint64_t now = static_cast<uint64_t>(st.st_size);
    return now == d->size ? 1 : (now > d->size ? 2 : 3);
}

int StreamClose(IsoStream* stream) {
    StreamData* d = DataOf(stream);
    if (!d->generated && d->slot != StreamData::kNoSlot && d->hash && d->done == d->size)
        d->hash->Digest(*reinterpret_cast<unsigned char(*)[32]>(d->sums->files.digests[d->slot].data()));
    if (d->fd >= 0) ::close(d->fd);
    d->fd = -1;
    d->hash.reset();
    std::vector<unsigned char>().swap(d->buffer);
    std::string().swap(d->content);
    return 1;
}

off_t StreamSize(IsoStream* stream) { return static_cast<off_t>(DataOf(stream)->size); }

int StreamRead(IsoStream* stream, void* buf, size_t count) {
    StreamData* d = DataOf(stream);
    if (d->generated) {
        const size_t left = d->content.size() - static_cast<size_t>(d->done);
        const size_t n = count < left ? count : left;
        std::memcpy(buf, d->content.data() + d->done, n);
        d->done += n;
        return static_cast<int>(n);
    }
    size_t given = 0;
    unsigned char* out = static_cast<unsigned char*>(buf);
    while (given < count && d->done < d->size) {
        if (d->at == d->have) {
            const uint64_t left = d->size - d->done;
            const size_t want = left < d->buffer.size() ? static_cast<size_t>(left) : d->buffer.size();
            ssize_t got;
            do got = ::read(d->fd, d->buffer.data(), want);
            while (got < 0 && errno == EINTR);
            if (got < 0) return ISO_FILE_READ_ERROR;
            if (got == 0) break;  // shorter than counted: libisofs says so
            d->have = static_cast<size_t>(got);
            d->at = 0;
            d->hash->Update(d->buffer.data(), d->have);
        }
        size_t n = d->have - d->at;
        if (n > count - given) n = count - given;
        std::memcpy(out + given, d->buffer.data() + d->at, n);
        d->at += n;
        given += n;
        d->done += n;
    }
    return static_cast<int>(given);
}

int StreamRepeatable(IsoStream*) { return 1; }

void StreamId(IsoStream* stream, unsigned int* fsId, dev_t* devId, ino_t* inoId) {
    *fsId = 0x51565331;  // streams of this program, each its own file
    *devId = 0;
    *inoId = DataOf(stream)->serial;
}

void StreamFree(IsoStream* stream) { delete DataOf(stream); }

int StreamUpdateSize(IsoStream*) { return 1; }

IsoStreamIface g_streamClass = {1, {'u', 's', 'e', 'r'}, StreamOpen, StreamClose, StreamSize, StreamRead,
                                StreamRepeatable, StreamId, StreamFree, StreamUpdateSize, nullptr, nullptr, nullptr};

// A new stream object; libisofs frees it (and its data) with the node that holds it.
IsoStream* NewStream(StreamData* data) {
    data->serial = g_nextSerial++;
    StreamObject* object = static_cast<StreamObject*>(std::malloc(sizeof(StreamObject)));
    if (!object) {
        delete data;
        return nullptr;
    }
    object->iface = &g_streamClass;
    object->refcount = 1;
    object->data = data;
    return reinterpret_cast<IsoStream*>(object);
}

}  // namespace

struct QvCliIsoImage::Impl {
    IsoImage* image = nullptr;
    Sums sums;

    // The tree the layout makes, built here first and handed to libisofs after, the entries of
    // each folder from the last name to the first. libisofs keeps a folder's entries in a list
    // sorted by name and looks for a new entry's place from the front: entries added in name
    // order, as a layout has them, took time growing with the square of a folder's size (a
    // folder of 18,000 manual pages, ten seconds).
    struct Node {
        enum Kind { kFolderMade, kFromDisk, kLink, kGenerated };
        Kind kind;
        bool folder;                             // entries go below it
        std::string hostPath;                    // what a node from the disk or a link is read from
        std::string mediumPath;                  // its path inside the medium, for messages
        std::map<std::string, size_t> children;  // by name, in the byte order libisofs sorts by
        uint64_t size = 0;                       // a file's bytes
        size_t slot = StreamData::kNoSlot;       // a file's place in sums
    };
    static constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<Node> nodes;                  // [0]: the root
    std::map<std::string, size_t> folders;    // by path inside the medium; "" is the root
    bool hashing = false;                     // files are read through hashing streams
    std::map<std::pair<dev_t, ino_t>, std::pair<IsoStream*, size_t>> linked;  // hard-linked files: stream, slot

    ~Impl() {
        if (image) iso_image_unref(image);
    }

    size_t NewNode(size_t parent, const std::string& name, Node node) {
        nodes.push_back(std::move(node));
        nodes[parent].children.emplace(name, nodes.size() - 1);
        return nodes.size() - 1;
    }

    // The folder at path, made with its parents when missing; kNone, with error set, when a
    // file of the plan has its path.
    size_t Folder(const std::string& path, std::string& error) {
        const auto known = folders.find(path);
        if (known != folders.end()) return known->second;
        const size_t slash = path.rfind('/');
        const size_t parent = Folder(slash == std::string::npos ? "" : path.substr(0, slash), error);
        if (parent == kNone) return kNone;
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        const auto child = nodes[parent].children.find(name);
        if (child != nodes[parent].children.end() && !nodes[child->second].folder) {
            error = QvCliShown(path) + ": a file and a folder of the same path";
            return kNone;
        }
        const size_t folder = child != nodes[parent].children.end()
                                  ? child->second
                                  : NewNode(parent, name, Node{Node::kFolderMade, true, std::string(), path, {}});
        folders[path] = folder;
        return folder;
    }

    bool Add(const QvCliPackItem& item, std::string& error) {
        const size_t slash = item.mediumPath.rfind('/');
        const std::string parentPath = slash == std::string::npos ? "" : item.mediumPath.substr(0, slash);
        const std::string name = slash == std::string::npos ? item.mediumPath : item.mediumPath.substr(slash + 1);
        if (item.kind == QvCliPackItem::kFolder) {
            // A folder that an earlier entry's path made already stays; otherwise it takes the
            // attributes of the folder on the disk.
            if (folders.count(item.mediumPath)) return true;
            const size_t parent = Folder(parentPath, error);
            if (parent == kNone) return false;
            if (!nodes[parent].children.count(name))
                NewNode(parent, name, Node{Node::kFromDisk, true, item.hostPath, item.mediumPath, {}});
            return Folder(item.mediumPath, error) != kNone;
        }
        const size_t parent = Folder(parentPath, error);
        if (parent == kNone) return false;
        if (nodes[parent].children.count(name)) {
            error = QvCliShown(item.mediumPath) + ": two entries of the plan at the same path";
            return false;
        }
        Node node{item.kind == QvCliPackItem::kLink ? Node::kLink : Node::kFromDisk, false, item.hostPath,
                  item.mediumPath, {}};
        node.size = item.size;
        if (item.kind == QvCliPackItem::kGenerated) node.kind = Node::kGenerated;
        if (item.kind == QvCliPackItem::kGenerated || (item.kind == QvCliPackItem::kFile && hashing)) {
            node.slot = sums.files.items.size();
            sums.files.items.push_back(item);
        }
        NewNode(parent, name, std::move(node));
        return true;
    }

    // Makes the entries below the folder node at index in dir, each folder's after it.
    bool Make(size_t index, IsoDir* dir, std::string& error) {
        const Node& node = nodes[index];
        for (auto child = node.children.rbegin(); child != node.children.rend(); ++child) {
            const Node& entry = nodes[child->second];
            const char* name = child->first.c_str();
            IsoNode* made = nullptr;
            int status = 0;
            if (entry.kind == Node::kFolderMade) {
                IsoDir* folder = nullptr;
                status = iso_tree_add_new_dir(dir, name, &folder);
                made = reinterpret_cast<IsoNode*>(folder);
                // A folder only on the way to the plan's entries is made as extracting an
                // archive makes one: open to its owner's writing (libisofs makes it 0555).
                if (status >= 0) iso_node_set_permissions(made, 0755);
            } else if (entry.kind == Node::kLink) {
                std::error_code ec;
                const fs::path target = fs::read_symlink(QvCliFsPath(entry.hostPath), ec);
                if (ec) {
                    error = QvCliShown(entry.hostPath) + ": link cannot be read (" + ec.message() + ")";
                    return false;
                }
                status = iso_tree_add_new_symlink(dir, name, QvCliPathText(target).c_str(), nullptr);
            } else if (entry.kind == Node::kGenerated || (entry.kind == Node::kFromDisk && !entry.folder && hashing)) {
                status = AddStreamed(dir, name, entry, made, error);
                if (status == 0) return false;
            } else {
                status = iso_tree_add_new_node(image, dir, name, entry.hostPath.c_str(), &made);
            }
            if (status < 0) {
                error = IsoError(entry.kind == Node::kFolderMade ? entry.mediumPath : entry.hostPath, status);
                return false;
            }
            if (!entry.folder) continue;
            // A folder of the plan that the disk now has as a file.
            if (iso_node_get_type(made) != static_cast<int>(LIBISO_DIR)) {
                error = QvCliShown(entry.mediumPath) + ": a file and a folder of the same path";
                return false;
            }
            if (!Make(child->second, reinterpret_cast<IsoDir*>(made), error)) return false;
        }
        return true;
    }

    // A file whose content comes through a stream of ours: a file of the disk, hashed as it is
    // read, with the disk's attributes, or the checksum list, written after every other file.
    // 0, with error set, when the disk's file cannot be described.
    int AddStreamed(IsoDir* dir, const char* name, const Node& entry, IsoNode*& made, std::string& error) {
        struct stat st {};
        if (entry.kind == Node::kFromDisk && ::stat(entry.hostPath.c_str(), &st) != 0) {
            error = QvCliShown(entry.hostPath) + ": cannot be read (" + std::strerror(errno) + ")";
            return 0;
        }
        // Another name of a file the image holds already shares its stream, and so its data, as
        // the plan counted it.
        if (entry.kind == Node::kFromDisk && st.st_nlink > 1) {
            const auto known = linked.find({st.st_dev, st.st_ino});
            if (known != linked.end()) {
                iso_stream_ref(known->second.first);
                IsoFile* file = nullptr;
                const int status = iso_tree_add_new_file(dir, name, known->second.first, &file);
                if (status < 0) {
                    iso_stream_unref(known->second.first);
                    return status;
                }
                if (entry.slot != StreamData::kNoSlot) sums.aliases.emplace_back(entry.slot, known->second.second);
                made = reinterpret_cast<IsoNode*>(file);
                SetAttributes(made, st);
                return status;
            }
        }
        StreamData* data = new StreamData;
        data->sums = &sums;
        data->slot = entry.slot;
        data->generated = entry.kind == Node::kGenerated;
        data->hostPath = entry.hostPath;
        data->size = entry.size;
        IsoStream* stream = NewStream(data);
        if (!stream) {
            error = "out of memory";
            return 0;
        }
        IsoFile* file = nullptr;
        const int status = iso_tree_add_new_file(dir, name, stream, &file);
        if (status < 0) {
            iso_stream_unref(stream);
            return status;
        }
        made = reinterpret_cast<IsoNode*>(file);
        if (entry.kind == Node::kGenerated) {
            iso_node_set_permissions(made, 0444);
            // After the files they are made from; the checksum list after the catalogue.
            iso_node_set_sort_weight(made, entry.mediumPath == kQvCliSumsFile ? -2 : -1);
            const time_t now = std::time(nullptr);
            iso_node_set_mtime(made, now);
            iso_node_set_atime(made, now);
            iso_node_set_ctime(made, now);
            return status;
        }
        // The medium notes' data first, so that a reader knows the set before its files.
        if (entry.mediumPath == kQvCliNotesFile) iso_node_set_sort_weight(made, 1);
        if (st.st_nlink > 1 && entry.slot != StreamData::kNoSlot) linked[{st.st_dev, st.st_ino}] = {stream, entry.slot};
        SetAttributes(made, st);
        return status;
    }

    static void SetAttributes(IsoNode* made, const struct stat& st) {
        iso_node_set_permissions(made, st.st_mode & 07777);
        iso_node_set_uid(made, st.st_uid);
        iso_node_set_gid(made, st.st_gid);
        iso_node_set_mtime(made, st.st_mtime);
        iso_node_set_atime(made, st.st_atime);
        iso_node_set_ctime(made, st.st_ctime);
    }

    // The burn source of the image, its writer thread started.
    burn_source* Source(std::string& error) const {
        IsoWriteOpts* opts = nullptr;
        int status = iso_write_opts_new(&opts, 1);
        if (status < 0) {
            error = IsoError("image options", status);
            return nullptr;
        }
        iso_write_opts_set_iso_level(opts, 3);
        iso_write_opts_set_rockridge(opts, 1);
        iso_write_opts_set_joliet(opts, 1);
        iso_write_opts_set_joliet_longer_paths(opts, 1);
        iso_write_opts_set_joliet_long_names(opts, 1);
        // Folders more than eight deep stay where they are instead of being moved into a
        // relocation folder: Rock Ridge readers (Linux, libarchive) read them in place, and
        // libarchive cannot read a relocated folder back (which check and restore rely on).
        iso_write_opts_set_allow_deep_paths(opts, 1);
        iso_write_opts_set_aaip(opts, 0);
        iso_write_opts_set_fifo_size(opts, kFifoBlocks);
        // The checksum list's weight puts it after every file whose digest it holds.
        iso_write_opts_set_sort_files(opts, 1);
        burn_source* source = nullptr;
        status = iso_image_create_burn_source(image, opts, &source);
        iso_write_opts_free(opts);
        if (status < 0) {
            error = IsoError("image", status);
            return nullptr;
        }
        return source;
    }
};

QvCliIsoImage::QvCliIsoImage() : m_impl(new Impl) {}
QvCliIsoImage::~QvCliIsoImage() = default;

bool QvCliIsoImage::Available(std::string& reason) { return IsoLibrary::Ready(reason); }

std::string QvCliIsoImage::Library() {
    int major = 0, minor = 0, micro = 0;
    iso_lib_version(&major, &minor, &micro);
    return "libisofs " + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(micro);
}

bool QvCliIsoImage::Build(const QvCliMediumLayout& layout, const std::string& volumeId, std::string& error) {
    if (!IsoLibrary::Ready(error)) return false;
    const int status = iso_image_new(volumeId.c_str(), &m_impl->image);
    if (status < 0) {
        error = IsoError("image", status);
        return false;
    }
    // The plan decided which links are kept as links; any other path is read through.
    iso_tree_set_follow_symlinks(m_impl->image, 1);
    // ACLs and extended attributes are not part of a plan.
    iso_image_set_ignore_aclea(m_impl->image, 3);
    m_impl->nodes.assign(1, Impl::Node{Impl::Node::kFolderMade, true, std::string(), std::string(), {}});
    m_impl->folders[""] = 0;
    m_impl->hashing = layout.hashing;
    m_impl->sums.files.generate = layout.generate;
    bool built = true;
    for (const QvCliPackItem& item : layout.items)
        if (!(built = m_impl->Add(item, error))) break;
    m_impl->sums.files.digests.assign(m_impl->sums.files.items.size(), {});
    built = built && m_impl->Make(0, iso_image_get_root(m_impl->image), error);
    // libisofs holds the tree now.
    std::vector<Impl::Node>().swap(m_impl->nodes);
    m_impl->folders.clear();
    return built;
}

std::string QvCliIsoImage::SumsText() const {
    return m_impl->sums.text.empty() ? QvCliSumsText(m_impl->sums.files) : m_impl->sums.text;
}

bool QvCliIsoImage::Measure(uint64_t& bytes, std::string& error) {
    burn_source* source = m_impl->Source(error);
    if (!source) return false;
    bytes = static_cast<uint64_t>(source->get_size(source));
    FreeSource(source, true);
    TakeMessages();
    return true;
}

QvCliWriteOutcome QvCliIsoImage::Write(const std::string& file, const std::function<bool(uint64_t)>& progress,
                                            uint64_t& bytes, std::string& error) {
    bytes = 0;
    burn_source* source = m_impl->Source(error);
    if (!source) return QvCliWriteOutcome::kFailed;
    const uint64_t expected = static_cast<uint64_t>(source->get_size(source));
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) {
        FreeSource(source, true);
        error = QvCliShown(file) + ": cannot be created";
        return QvCliWriteOutcome::kFailed;
    }
    std::vector<unsigned char> buffer(kReadChunk);
    QvCliWriteOutcome outcome = QvCliWriteOutcome::kWritten;
    bool writerStopped = false;
    // A read asking for more than is left gets nothing at all, so none asks past the end.
    while (outcome == QvCliWriteOutcome::kWritten && bytes < expected) {
        const uint64_t left = expected - bytes;
        const int want = static_cast<int>(left < buffer.size() ? left : buffer.size());
        const int got = source->read_xt(source, buffer.data(), want);
        if (got <= 0) {
            writerStopped = true;  // why is told once its thread has ended (below)
            outcome = QvCliWriteOutcome::kFailed;
        } else if (std::fwrite(buffer.data(), 1, static_cast<size_t>(got), out) != static_cast<size_t>(got)) {
            error = QvCliShown(file) + ": write failed (disk full?)";
            outcome = QvCliWriteOutcome::kFailed;
        } else {
            bytes += static_cast<uint64_t>(got);
            if (!progress(bytes)) outcome = QvCliWriteOutcome::kStopped;
        }
    }
    FreeSource(source, outcome != QvCliWriteOutcome::kWritten);
    if (std::fclose(out) != 0 && outcome == QvCliWriteOutcome::kWritten) {
        error = QvCliShown(file) + ": write failed (disk full?)";
        outcome = QvCliWriteOutcome::kFailed;
    }
    // Anything libisofs found wrong while reading the files (one vanished, could not be read)
    // makes the image untrustworthy even when it reached its end. Its writer thread queues its
    // reasons as it ends, so they are taken only once the source is freed.
    m_impl->sums.TakeAliases();
    const std::string problems = TakeMessages();
    if (writerStopped)
        error = "the image could not be made: " +
                (problems.empty() ? "libisofs stopped writing it after " + std::to_string(bytes) + " of " + std::to_string(expected) + " bytes"
                                  : problems);
    if (outcome == QvCliWriteOutcome::kWritten && (!problems.empty() || bytes != expected)) {
        error = "the image could not be made: " + (problems.empty() ? "its size came out wrong (" + std::to_string(bytes) + " of " + std::to_string(expected) + " bytes)" : problems);
        outcome = QvCliWriteOutcome::kFailed;
    }
    return outcome;
}
