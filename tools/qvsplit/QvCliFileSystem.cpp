// The file system a medium will carry, as the allocation model the library plans with.
#include "QvCliFileSystem.h"

#include "QvSplit.h"

std::string QvCliFileSystem(const QvCliOptions& o) {
    if (!o.fileSystem.empty()) return o.fileSystem;
    return o.sizePreset ? "iso" : "none";
}

void QvCliApplyFileSystem(const QvCliOptions& o) {
    QvAllocationModel model;
    QvSetAllocationModel(QvGetModelPreset(QvCliFileSystem(o).c_str(), &model) ? &model : nullptr);
}
