// Tar archives in a build without libarchive: every call says the build cannot make them.
#include "pack/QvCliTarArchive.h"

namespace {
const char* const kNoTar = "this build of qvsplit cannot make tar archives (it was built without libarchive)";
}

bool QvCliTarArchive::Available(std::string& reason) {
    reason = kNoTar;
    return false;
}

QvCliWriteOutcome QvCliTarArchive::Write(QvCliMediumLayout&, const std::string&,
                                                const std::function<bool(uint64_t)>&, uint64_t&,
                                                std::string& error) {
    error = kNoTar;
    return QvCliWriteOutcome::kFailed;
}

bool QvCliTarArchive::Measure(const QvCliMediumLayout&, uint64_t&, std::string& error) {
    error = kNoTar;
    return false;
}

std::string QvCliTarArchive::Library() { return ""; }
