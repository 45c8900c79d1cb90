// Catalogue keys that keep files differing only in letter case apart.
#include "common/QvFileDescKeys.h"

#include "platform/QvPlatform.h"

#include <iterator>

namespace {

// Whether what r reads begins with the lower-cased text lower, in any letter case; r is left
// after it.
bool ReadsLower(CQvPathText::Reader& r, std::wstring_view lower) {
    for (wchar_t c : lower) {
        if (r.AtEnd()) return false;
        const wchar_t ch = r.Next();
        if (ch != c && CQvString::LowerChar(ch) != c) return false;
    }
    return true;
}

// Whether key belongs to the entries of one lower-cased path: the path in any letter case, or
// a twin's key.
bool InRange(const CQvPathText& key, std::wstring_view lower) {
    CQvPathText::Reader r(key.pieces());
    return ReadsLower(r, lower) && (r.AtEnd() || r.Peek() == 0);
}

// Whether two paths equal apart from letter case name one file. Different spellings of one
// path do (a rule may spell a folder otherwise than the disk); twins on a case-sensitive file
// system do not.
bool SameFile(const CQvPathText& a, const CQvString& b) {
    return a == b || qvp::PathsNameSameEntry(a.Wide(), b);
}

CQvPathText TwinKey(std::wstring_view lower, const CQvString& strPath) {
    std::wstring key(lower);
    key += L'\0';
    key += strPath.view();
    return CQvPathText(std::wstring_view(key));
}

}  // namespace

CQvString QvFileDescKey(const CQvString& strPath) {
    CQvString key(strPath);
    key.MakeLower();
    return key;
}

QvFileDescMapIter QvFindFileDesc(QvFileDescMap& map, const CQvString& strPath,
                                 const CQvString* pLowerKey, QvFileDescMapIter* pAt,
                                 const QvFileDescMapIter* pNear, std::wstring_view nearLower) {
    CQvString own;
    const CQvString& lower = pLowerKey ? *pLowerKey : (own = QvFileDescKey(strPath));
    QvFileDescMapIter first;
    const QvPathLess less;
    QvFileDescMapIter next;
    // Lower-cased texts order as their keys do: a key compares by its lower-cased characters.
    const auto nearBefore = [&] {
        return nearLower.empty() ? less((*pNear)->first, lower.view()) : nearLower < lower.view();
    };
    // Behind the last entry comes the end, known without climbing the tree from it.
    const auto after = [&map](QvFileDescMapIter at) { return at == std::prev(map.end()) ? map.end() : std::next(at); };
    if (pNear && *pNear != map.end() && nearBefore() &&
        ((next = after(*pNear)) == map.end() || !less(next->first, lower.view())))
        first = next;  // the first entry not below lower, as lower_bound would find it
    else
        first = map.lower_bound(lower.view());
    if (pAt) *pAt = first;
    QvFileDescMapIter it = first;
    for (; it != map.end() && InRange(it->first, lower.view()); ++it)
        if (it->second.strFilePath == strPath) return it;
    for (it = first; it != map.end() && InRange(it->first, lower.view()); ++it)
        if (SameFile(it->second.strFilePath, strPath)) return it;
    return map.end();
}

bool QvInsertFileDesc(QvFileDescMap& map, FileDesc&& desc, const CQvString* pLowerKey,
                      const QvFileDescMapIter* pAt, QvFileDescMapIter* pAdded, bool* pOwnKey) {
    CQvString own;
    const CQvString& lower = pLowerKey ? *pLowerKey : (own = QvFileDescKey(desc.strFilePath));
    const QvFileDescMapIter at = pAt ? *pAt : map.lower_bound(lower.view());
    // The common case: no entry of that lower-cased path yet.
    if (at == map.end() || !InRange(at->first, lower.view())) {
        CQvPathText key(desc.strFilePath);
        const QvFileDescMapIter added = map.emplace_hint(at, std::move(key), std::move(desc));
        if (pAdded) *pAdded = added;
        if (pOwnKey) *pOwnKey = true;
        return true;
    }
    const CQvString path = desc.strFilePath.Wide();
    for (QvFileDescMapIter it = at; it != map.end() && InRange(it->first, lower.view()); ++it)
        if (SameFile(it->second.strFilePath, path)) return false;
    CQvPathText key = TwinKey(lower.view(), path);
    const auto added = map.emplace(std::move(key), std::move(desc));
    if (added.second && pAdded) *pAdded = added.first;
    if (pOwnKey) *pOwnKey = false;
    return added.second;
}

void QvPutFileDesc(QvFileDescMap& map, const FileDesc& desc) {
    const QvFileDescMapIter it = QvFindFileDesc(map, desc.strFilePath);
    if (it != map.end()) {
        it->second = desc;
        return;
    }
    FileDesc copy(desc);
    QvInsertFileDesc(map, std::move(copy));
}

bool QvEraseFileDesc(QvFileDescMap& map, const CQvString& strPath) {
    const QvFileDescMapIter it = QvFindFileDesc(map, strPath);
    if (it == map.end()) return false;
    map.erase(it);
    return true;
}

bool QvPathAtOrBelow(const CQvString& strPath, const CQvString& strBase) {
    std::wstring_view base = strBase.view();
    while (base.size() > 3 && base.back() == L'\\') base.remove_suffix(1);
    const std::wstring_view path = strPath.view();
    if (base.empty() || path.size() < base.size()) return false;
    if (path.size() > base.size() && path[base.size()] != L'\\' && base.back() != L'\\')
        return false;
    bool bExact = true;
    for (size_t i = 0; i < base.size(); ++i) {
        if (path[i] == base[i]) continue;
        if (CQvString::LowerChar(path[i]) != CQvString::LowerChar(base[i])) return false;
        bExact = false;
    }
    if (bExact) return true;
    // Spelled in another case: the same folder only where no twin of that spelling exists.
    const CQvString strHead(std::wstring(path.substr(0, base.size())).c_str());
    const CQvString strFolder(std::wstring(base).c_str());
    return qvp::PathsNameSameEntry(strHead, strFolder) != FALSE;
}

namespace {

// The lower-cased path of a folder and one backslash: the keys of the entries below it begin
// so, and follow one another in the map.
std::wstring LowerBase(const CQvString& strFolder) {
    std::wstring lower = QvFileDescKey(strFolder).str();
    while (lower.size() > 3 && lower.back() == L'\\') lower.pop_back();
    lower += L'\\';
    return lower;
}

bool KeyBelow(const CQvPathText& key, std::wstring_view lower) {
    CQvPathText::Reader r(key.pieces());
    return ReadsLower(r, lower);
}

}  // namespace

size_t QvEraseBelow(QvFileDescMap& map, const CQvString& strFolder,
                    const std::function<bool(const FileDesc&)>& bErase) {
    const std::wstring lower = LowerBase(strFolder);
    size_t nErased = 0;
    QvFileDescMapIter it = map.lower_bound(std::wstring_view(lower));
    while (it != map.end() && KeyBelow(it->first, lower)) {
        if (QvPathAtOrBelow(it->second.strFilePath.Wide(), strFolder) && (!bErase || bErase(it->second))) {
            it = map.erase(it);
            ++nErased;
        } else {
            ++it;
        }
    }
    return nErased;
}

bool QvHoldsBelow(const QvFileDescMap& map, const CQvString& strFolder) {
    const std::wstring lower = LowerBase(strFolder);
    for (auto it = map.lower_bound(std::wstring_view(lower)); it != map.end() && KeyBelow(it->first, lower); ++it) {
        const CQvString path = it->second.strFilePath.Wide();
        // The folder's own entry may be kept with its backslash: it is not below itself.
        std::wstring_view own = path.view();
        while (own.size() > 3 && own.back() == L'\\') own.remove_suffix(1);
        if (own.size() >= lower.size() && QvPathAtOrBelow(path, strFolder)) return true;
    }
    return false;
}
