// Files flushed and renamed over their targets on a thread of their own, in order.
#include "facilities/CQvCommits.h"

#include "facilities/CQvLog.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// Files waiting besides the one being put in place: enough to keep the thread busy while the
// writer makes the next file, few enough that a stopped process leaves little behind.
const size_t kMaxWaiting = 2;

struct Pending {
    std::unique_ptr<CQvFile> file;
    CQvString target;
};

// Flushes and closes the temporary file and moves it over its target; on failure the temporary
// file is removed and error holds the system's code. With bWriteThrough, the move is on the
// disk when this returns: the folder is synced, which writes every entry it holds, the moves
// before this one included. Allocates nothing of its own: the thread has no caller to throw to.
bool PutInPlace(Pending& p, DWORD& error, bool bWriteThrough = true) {
    LPCTSTR temp = p.file->GetPath();
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (bWriteThrough ? MOVEFILE_WRITE_THROUGH : 0);
    if (p.file->Flush() && p.file->Close() && qvp::MoveFileExW(temp, p.target, flags)) return true;
    error = qvp::GetLastError();
    p.file->Close();
    qvp::DeleteFileW(temp);
    return false;
}

// Whether two targets are spelled with one folder.
bool SameFolder(const CQvString& a, const CQvString& b) {
    const std::wstring_view x = a.view(), y = b.view();
    const size_t i = x.find_last_of(L"\\/"), j = y.find_last_of(L"\\/");
    return i == j && (i == std::wstring_view::npos || x.compare(0, i, y, 0, j) == 0);
}

// What is left of a file after an earlier failure: nothing.
void Drop(Pending& p) {
    p.file->Close();
    qvp::DeleteFileW(p.file->GetPath());
}

}  // namespace

struct CQvCommits::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Pending> waiting;
    bool bBusy = false;  // the thread holds a file it took from waiting
    bool bStop = false;
    bool bReported = false;
    size_t nPlaced = 0;  // files renamed over their targets, in the order given
    CQvString strFailed;
    DWORD dwError = 0;
    std::thread worker;

    void Work() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return bStop || !waiting.empty(); });
            if (waiting.empty()) return;
            Pending p = std::move(waiting.front());
            waiting.pop_front();
            bBusy = true;
            const bool bFailedBefore = !strFailed.IsEmpty();
            // Of files that follow one another into one folder, the last one waiting syncs the
            // folder for all of them, so that each move is on the disk once Finish returns.
            // After a failure, those before it may reach the disk only later: the set they
            // belong to is incomplete anyway.
            const bool bWriteThrough = waiting.empty() || !SameFolder(waiting.front().target, p.target);
            lock.unlock();
            DWORD error = ERROR_NOT_ENOUGH_MEMORY;
            bool ok = false;
            try {
                if (bFailedBefore)
                    Drop(p);
                else
                    ok = PutInPlace(p, error, bWriteThrough);
            } catch (...) {
                Drop(p);
            }
            lock.lock();
            if (ok) ++nPlaced;
            if (!ok && !bFailedBefore) {
                strFailed = std::move(p.target);
                dwError = error;
            }
            bBusy = false;
            changed.notify_all();
        }
    }

    void Stop() {
        if (!worker.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            bStop = true;
        }
        changed.notify_all();
        worker.join();
    }
};

CQvCommits::CQvCommits() : m_pState(new State) {}

CQvCommits::~CQvCommits() {
    Finish();
    m_pState->Stop();
}

bool CQvCommits::Add(std::unique_ptr<CQvFile> temp, CQvString target) {
    State& s = *m_pState;
    Pending p{std::move(temp), std::move(target)};
    try {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.changed.wait(lock, [&s] { return s.waiting.size() < kMaxWaiting || !s.strFailed.IsEmpty(); });
        if (!s.strFailed.IsEmpty()) {
            lock.unlock();
            Drop(p);
            qvp::SetLastError(s.dwError);
            return false;
        }
        if (!s.worker.joinable()) s.worker = std::thread([&s] { s.Work(); });
        s.waiting.push_back(std::move(p));
    } catch (...) {
        // No thread or no room to queue: the file is put in place here, after those before it.
        if (!p.file) throw;
        if (!Finish()) {
            Drop(p);
            return false;
        }
        DWORD error = 0;
        if (PutInPlace(p, error)) {
            std::lock_guard<std::mutex> lock(s.mutex);
            ++s.nPlaced;
            return true;
        }
        std::lock_guard<std::mutex> lock(s.mutex);
        s.strFailed = std::move(p.target);
        s.dwError = error;
        qvp::SetLastError(error);
        return false;
    }
    s.changed.notify_all();
    return true;
}

bool CQvCommits::Finish() {
    State& s = *m_pState;
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.wait(lock, [&s] { return s.waiting.empty() && !s.bBusy; });
    if (s.strFailed.IsEmpty()) return true;
    if (!s.bReported) {
        s.bReported = true;
        CQvLog::GetInstance()->AddError(L"CQvFile::WriteAtomically(...) Write of %s FAILED error=%u, kept the old file",
                                        static_cast<LPCTSTR>(s.strFailed), s.dwError);
    }
    qvp::SetLastError(s.dwError);
    return false;
}

LPCTSTR CQvCommits::Failed() const { return m_pState->strFailed; }

size_t CQvCommits::Placed() const {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    return m_pState->nPlaced;
}
