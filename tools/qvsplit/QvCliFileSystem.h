// The file system a medium will carry, as the allocation model the library plans with.
#ifndef QVCLIFILESYSTEM_H
#define QVCLIFILESYSTEM_H

#include "QvCliOptions.h"

#include <string>

// The file system the options choose: --fs, else iso for a disc preset, else none.
std::string QvCliFileSystem(const QvCliOptions& o);
// Sets the library's allocation model for that file system (none: file bytes).
void QvCliApplyFileSystem(const QvCliOptions& o);

#endif
