// The file system a medium will carry, as the allocation model the library plans with.
#include "pack/QvCliFileSystem.h"

#include "QvSplit.h"

std::string QvCliFileSystem(const QvCliOptions& o) {
    if (!o.fileSystem.empty()) return o.fileSystem;
    return o.sizePreset ? "iso" : "none";
}

void QvCliApplyFileSystem(const QvCliOptions& o, uint64_t reserve) {
    QvAllocationModel model;
    const bool preset = QvGetModelPreset(QvCliFileSystem(o).c_str(), &model) != FALSE;
    if (!preset && reserve == 0) {
        QvSetAllocationModel(nullptr);
        return;
    }
    // File bytes as they are (every other term zero), plus the room kept.
    if (!preset) model = QvAllocationModel();
    model.cbPerMedium += reserve;
    QvSetAllocationModel(&model);
}

uint64_t QvCliBlockBytes(const QvCliOptions& o) {
    const std::string fs = QvCliFileSystem(o);
    if (fs == "iso" || fs == "iso-udf") return 2048;
    return fs == "tar" ? 512 : 1;
}
