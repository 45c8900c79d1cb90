// Files put in place behind the writer: the wait for the disk overlaps making the next file.
#ifndef CQVCOMMITS_H
#define CQVCOMMITS_H

#include "facilities/CQvFile.h"
#include "facilities/CQvString.h"

#include <cstddef>
#include <memory>

// Replaces files on a thread of its own. A file written under its temporary name is flushed to
// the disk, closed and renamed over its target there, in the order the files were given, while
// the writer goes on with the next one. A replacement that fails stops the rest: their
// temporary files are removed and their targets stay as they were, as if the writer had stopped
// at the one that failed. Few files wait at a time, so a process stopped midway leaves at most
// a few temporary files. The renames are on the disk once Finish has returned true: a folder
// is synced once for a run of files renamed into it. Only the thread that made the object may
// call it.
class QVSPLIT_API CQvCommits {
public:
    CQvCommits();
    ~CQvCommits();  // waits for what was given, as Finish does
    CQvCommits(const CQvCommits&) = delete;
    CQvCommits& operator=(const CQvCommits&) = delete;

    // Takes temp, written and still open, to be put in place at target. False when an earlier
    // replacement failed: temp is then removed, and the last error is that failure's.
    bool Add(std::unique_ptr<CQvFile> temp, CQvString target);
    // Waits until every file given is in place. False when one could not be put there: Failed()
    // names its target, the last error is the system's code, and the failure is logged once.
    bool Finish();
    // The target of the replacement that failed, empty while none has.
    LPCTSTR Failed() const;
    // How many of the files given are in place under their targets so far (the folder's sync
    // may still be to come): the first ones given, in order.
    size_t Placed() const;

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

#endif
