// A split that follows earlier sets: only what changed since stays in the location maps.
#include "catalog/CQvFileDescCatalog.h"

#include "common/QvSinceChain.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvLog.h"

void CQvFileDescCatalog::KeepOnlyChanges() {
    QvSinceChain& chain = QvSinceChain::Instance();
    QvSplitRun& run = QvSplitRun::Current();
    ForgetLastAdded();
    chain.BeginSplit();
    QvFileDescMap* maps[] = {&mpFileDescInAll,  &mpFileDescInAny,    &mpFileDescInFirst,
                             &mpFileDescInLast, &mpFileDescNotFirst, &mpFileDescNotLast};
    for (QvFileDescMap* pMap : maps)
        for (auto it = pMap->begin(); it != pMap->end();) {
            bool bFirstTime = false;
            if (chain.Judge(it->second, bFirstTime) == QvSinceChain::kUnchanged)
                it = pMap->erase(it);
            else
                ++it;
        }
    // What was left out is still there: a file too big, a folder that cannot be listed (its
    // records below it with it).
    for (const QvLeftOutEntry& entry : run.leftOut.Entries())
        chain.Present(entry.strPath, entry.dwReason == QvLeftOutUnreadable || entry.dwReason == QvLeftOutSystemFolder ||
                                         entry.dwReason == QvLeftOutVanished);
    run.deleted = chain.Unseen();
    QvChangeCounts& counts = run.changes;
    counts.dwSets = chain.Sets();
    counts.iNew = chain.m_iNew;
    counts.iChanged = chain.m_iChanged;
    counts.iUnchanged = chain.m_iUnchanged;
    counts.iDeleted = static_cast<int64_t>(run.deleted.size());
    counts.iRecorded = chain.Recorded();
    CQvLog::GetInstance()->AddInfo(
        L"CQvFileDescCatalog::ValidateSplitSize(...) since %d sets: %d new, %d changed, %d unchanged, %d deleted",
        static_cast<int>(counts.dwSets), static_cast<int>(counts.iNew), static_cast<int>(counts.iChanged),
        static_cast<int>(counts.iUnchanged), static_cast<int>(counts.iDeleted));
}
