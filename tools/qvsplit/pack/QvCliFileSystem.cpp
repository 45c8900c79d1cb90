// The file system a medium will carry, as the allocation model the library plans with.
#include "pack/QvCliFileSystem.h"

#include "report/QvCliHtmlReport.h"

#include "QvSplit.h"

std::string QvCliFileSystem(const QvCliOptions& o) {
    if (!o.fileSystem.empty()) return o.fileSystem;
    return o.sizePreset ? "iso" : "none";
}

void QvCliApplyFileSystem(const QvCliOptions& o, bool catalog, const QvCliPlanRecord& record) {
    QvAllocationModel model{};
    const bool preset = QvGetModelPreset(QvCliFileSystem(o).c_str(), &model) != FALSE;
    if (!preset && !catalog) {
        QvSetAllocationModel(nullptr);
        return;
    }
    // File bytes as they are (every other term zero), plus the room kept.
    if (catalog) {
        QvCliCatalogTerms(o.outDir, record, QvCliBlockBytes(o), model, QvCliRoomForSumsOnly(o));
        if (o.catalog == 1) model.dwCatalogFlags |= QvCatalogRoomRequired;
    }
    QvSetAllocationModel(&model);
}

uint64_t QvCliBlockBytes(const QvCliOptions& o) {
    const std::string fs = QvCliFileSystem(o);
    if (fs == "iso" || fs == "iso-udf") return 2048;
    return fs == "tar" ? 512 : 1;
}

bool QvCliRoomForSumsOnly(const QvCliOptions& o) { return o.catalog == -1 && QvCliFileSystem(o) == "tar"; }
