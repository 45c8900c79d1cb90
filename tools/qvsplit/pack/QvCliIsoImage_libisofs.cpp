// ISO images through libisofs: the tree is built from the layout, the image read from the
// burn source libisofs fills from its writer thread.
#include "pack/QvCliIsoImage.h"

#include "system/QvCliPaths.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <stdint.h>
#include <sys/types.h>
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

}  // namespace

struct QvCliIsoImage::Impl {
    IsoImage* image = nullptr;

    // The tree the layout makes, built here first and handed to libisofs after, the entries of
    // each folder from the last name to the first. libisofs keeps a folder's entries in a list
    // sorted by name and looks for a new entry's place from the front: entries added in name
    // order, as a layout has them, took time growing with the square of a folder's size (a
    // folder of 18,000 manual pages, ten seconds).
    struct Node {
        enum Kind { kFolderMade, kFromDisk, kLink };
        Kind kind;
        bool folder;                             // entries go below it
        std::string hostPath;                    // what a node from the disk or a link is read from
        std::string mediumPath;                  // its path inside the medium, for messages
        std::map<std::string, size_t> children;  // by name, in the byte order libisofs sorts by
    };
    static constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<Node> nodes;                  // [0]: the root
    std::map<std::string, size_t> folders;    // by path inside the medium; "" is the root

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
            error = path + ": a file and a folder of the same path";
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
            error = item.mediumPath + ": two entries of the plan at the same path";
            return false;
        }
        NewNode(parent, name, Node{item.kind == QvCliPackItem::kLink ? Node::kLink : Node::kFromDisk, false, item.hostPath,
                                   item.mediumPath, {}});
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
            } else if (entry.kind == Node::kLink) {
                std::error_code ec;
                const fs::path target = fs::read_symlink(QvCliFsPath(entry.hostPath), ec);
                if (ec) {
                    error = entry.hostPath + ": link cannot be read (" + ec.message() + ")";
                    return false;
                }
                status = iso_tree_add_new_symlink(dir, name, QvCliPathText(target).c_str(), nullptr);
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
                error = entry.mediumPath + ": a file and a folder of the same path";
                return false;
            }
            if (!Make(child->second, reinterpret_cast<IsoDir*>(made), error)) return false;
        }
        return true;
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
        iso_write_opts_set_aaip(opts, 0);
        iso_write_opts_set_fifo_size(opts, kFifoBlocks);
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
    bool built = true;
    for (const QvCliPackItem& item : layout.items)
        if (!(built = m_impl->Add(item, error))) break;
    built = built && m_impl->Make(0, iso_image_get_root(m_impl->image), error);
    // libisofs holds the tree now.
    std::vector<Impl::Node>().swap(m_impl->nodes);
    m_impl->folders.clear();
    return built;
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
        error = file + ": cannot be created";
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
            error = file + ": write failed (disk full?)";
            outcome = QvCliWriteOutcome::kFailed;
        } else {
            bytes += static_cast<uint64_t>(got);
            if (!progress(bytes)) outcome = QvCliWriteOutcome::kStopped;
        }
    }
    FreeSource(source, outcome != QvCliWriteOutcome::kWritten);
    if (std::fclose(out) != 0 && outcome == QvCliWriteOutcome::kWritten) {
        error = file + ": write failed (disk full?)";
        outcome = QvCliWriteOutcome::kFailed;
    }
    // Anything libisofs found wrong while reading the files (one vanished, could not be read)
    // makes the image untrustworthy even when it reached its end. Its writer thread queues its
    // reasons as it ends, so they are taken only once the source is freed.
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
