// ISO images in a build without libisofs: every call says the build cannot make them.
#include "pack/QvCliIsoImage.h"

namespace {
const char* const kNoIso = "this build of qvsplit cannot make ISO images (it was built without libisofs)";
}

struct QvCliIsoImage::Impl {};

QvCliIsoImage::QvCliIsoImage() = default;
QvCliIsoImage::~QvCliIsoImage() = default;

bool QvCliIsoImage::Available(std::string& reason) {
    reason = kNoIso;
    return false;
}

bool QvCliIsoImage::Build(const QvCliMediumLayout&, const std::string&, std::string& error) {
    error = kNoIso;
    return false;
}

bool QvCliIsoImage::Measure(uint64_t&, std::string& error) {
    error = kNoIso;
    return false;
}

QvCliWriteOutcome QvCliIsoImage::Write(const std::string&, const std::function<bool(uint64_t)>&,
                                            uint64_t&, std::string& error) {
    error = kNoIso;
    return QvCliWriteOutcome::kFailed;
}

std::string QvCliIsoImage::SumsText() const { return std::string(); }

std::string QvCliIsoImage::Library() { return ""; }
