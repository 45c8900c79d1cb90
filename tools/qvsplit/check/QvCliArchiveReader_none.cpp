// Builds without libarchive (the MinGW build): images and archives are not read, folders are.
#include "check/QvCliMediumReader.h"

QvCliReadOutcome QvCliReadArchive(const std::string& file, QvCliMediumVisitor&, std::string& error) {
    error = file + ": this build of qvsplit reads no ISO images or tar archives (it was built without libarchive); "
                   "mount the image and give its folder";
    return QvCliReadOutcome::kDamaged;
}
