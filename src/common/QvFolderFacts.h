// What a split learned of the folders it measured, kept for the rest of the split so that a
// later step need not list them again.
#ifndef QVFOLDERFACTS_H
#define QVFOLDERFACTS_H

#include "QvSplit.h"

#include <string>

namespace qvfolders {

// Records the number of files and links below a folder (path without a trailing backslash),
// counted as its medium counts a folder kept whole.
void RememberFileCount(const std::wstring& path, uint64_t nFiles);
// The number recorded for the folder; false when none is.
bool KnownFileCount(const std::wstring& path, uint64_t& nFiles);
// Forgets every folder: at the start of each split, and when the split changes the disk.
void Forget();

}  // namespace qvfolders

#endif
