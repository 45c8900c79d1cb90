// Tests of the value records: defaults, copies that own their strings and containers but
// share the rule pointer, and the keys of the catalogue maps.
#include "common/QvFileDescKeys.h"
#include "common/QvRecords.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace {

// Any distinct address stands for a rule; the records never look behind the pointer.
CQvPathRules* FakeRule() {
    static int marker;
    return reinterpret_cast<CQvPathRules*>(&marker);
}

FileDesc SampleFile() {
    FileDesc f;
    f.pPathRules = FakeRule();
    f.dwAttributes = 0x20;
    f.iAllTogetherGroup = 3;
    f.strWriteTime = L"20240131235959";
    f.strFilePath = L"C:\\Data\\a.txt";
    f.strTargetPath = L"\\Data";
    f.iFileSize = INT64_C(5000000000);
    f.dwFileCount = 7;
    return f;
}

void ExpectSame(const FileDesc& a, const FileDesc& b) {
    EXPECT_EQ(a.pPathRules, b.pPathRules);
    EXPECT_EQ(a.dwAttributes, b.dwAttributes);
    EXPECT_EQ(a.dwCRC32, b.dwCRC32);
    EXPECT_EQ(a.iAllTogetherGroup, b.iAllTogetherGroup);
    EXPECT_EQ(a.strWriteTime, b.strWriteTime);
    EXPECT_EQ(a.strFilePath, b.strFilePath);
    EXPECT_EQ(a.strTargetPath, b.strTargetPath);
    EXPECT_EQ(a.iFileSize, b.iFileSize);
    EXPECT_EQ(a.dwFileCount, b.dwFileCount);
}

}  // namespace

TEST(QvRecords, DefaultFileDescIsEmpty) {
    const FileDesc f;
    EXPECT_EQ(f.pPathRules, nullptr);
    EXPECT_EQ(f.iAllTogetherGroup, -1);
    EXPECT_EQ(f.dwAttributes, 0u);
    EXPECT_EQ(f.dwCRC32, 0u);
    EXPECT_EQ(f.iFileSize, 0);
    EXPECT_EQ(f.dwFileCount, 0u);
    EXPECT_TRUE(f.strWriteTime.IsEmpty());
    EXPECT_TRUE(f.strFilePath.IsEmpty());
    EXPECT_TRUE(f.strTargetPath.IsEmpty());
}

TEST(QvRecords, FileDescCopiesShareTheRuleAndOwnTheirStrings) {
    const FileDesc source = SampleFile();
    FileDesc constructed(source);
    FileDesc assigned;
    assigned = source;
    for (FileDesc* copy : {&constructed, &assigned}) {
        ExpectSame(*copy, source);
        EXPECT_EQ(copy->pPathRules, FakeRule());
        CQvString changed = copy->strFilePath;
        changed += L".bak";
        copy->strFilePath = changed;
        copy->strTargetPath.MakeUpper();
        copy->iFileSize = 1;
    }
    EXPECT_EQ(source.strFilePath, CQvString(L"C:\\Data\\a.txt"));
    EXPECT_EQ(source.strTargetPath, CQvString(L"\\Data"));
    EXPECT_EQ(source.iFileSize, INT64_C(5000000000));
    FileDesc self = SampleFile();
    self = *&self;
    ExpectSame(self, source);
}

TEST(QvRecords, GroupAndMediaCopiesAreDeep) {
    GroupFileDesc group;
    group.vtFileDesc.push_back(SampleFile());
    group.iGroupSize = 42;
    GroupFileDesc groupCopy(group);
    groupCopy.vtFileDesc[0].strFilePath = L"changed";
    groupCopy.vtFileDesc.push_back(FileDesc());
    EXPECT_EQ(group.vtFileDesc.size(), 1u);
    EXPECT_EQ(group.vtFileDesc[0].strFilePath, CQvString(L"C:\\Data\\a.txt"));
    EXPECT_EQ(groupCopy.iGroupSize, 42);
    EXPECT_EQ(groupCopy.vtFileDesc[0].pPathRules, FakeRule());

    MediaDesc media;
    EXPECT_TRUE(media.mpFileDesc.empty());
    EXPECT_EQ(media.dwMediaNumber, 0u);
    media.strMediaName = L"Media1";
    media.mpFileDesc[L"c:\\data\\a.txt"] = SampleFile();
    MediaDesc mediaCopy;
    mediaCopy = media;
    mediaCopy.mpFileDesc.begin()->second.strFilePath = L"changed";
    mediaCopy.strMediaName = L"Other";
    EXPECT_EQ(media.strMediaName, CQvString(L"Media1"));
    EXPECT_EQ(media.mpFileDesc.begin()->second.strFilePath, CQvString(L"C:\\Data\\a.txt"));
    ExpectSame(MediaDesc(media).mpFileDesc.begin()->second, SampleFile());
}

#if !defined(_WIN32)
// Catalogue keys on a case-sensitive file system: twins keep an entry each, in lower-cased
// order; another spelling of one file finds that file's entry.
TEST(QvFileDescKeys, TwinsKeepTheirEntriesAndSpellingsFindTheirFile) {
    qvtest::TempTree t;
    t.WriteFile("d/readme.txt", "lower");
    t.WriteFile("d/README.TXT", "upper");
    t.WriteFile("d/ReadMe.txt", "mixed");
    t.WriteFile("d/only.txt", "1");
    auto desc = [&](const std::string& rel) {
        FileDesc f;
        f.strFilePath = t.WinPath(rel);
        return f;
    };
    QvFileDescMap map;
    EXPECT_TRUE(QvInsertFileDesc(map, desc("d/README.TXT")));
    EXPECT_TRUE(QvInsertFileDesc(map, desc("d/readme.txt")));
    EXPECT_TRUE(QvInsertFileDesc(map, desc("d/ReadMe.txt"))) << "a third spelling";
    EXPECT_FALSE(QvInsertFileDesc(map, desc("d/readme.txt"))) << "the same file twice";
    EXPECT_FALSE(QvInsertFileDesc(map, desc("d/ReadMe.txt"))) << "the same file twice";
    EXPECT_TRUE(QvInsertFileDesc(map, desc("d/only.txt")));
    // "D\ONLY.TXT" names the one file "d/only.txt", as Windows would.
    EXPECT_FALSE(QvInsertFileDesc(map, desc("D/ONLY.TXT")));
    ASSERT_EQ(4u, map.size());
    std::vector<std::wstring> order;
    for (const auto& e : map) order.push_back(e.second.strFilePath.str());
    EXPECT_EQ((std::vector<std::wstring>{t.WinPath("d/only.txt"), t.WinPath("d/README.TXT"),
                                         t.WinPath("d/ReadMe.txt"), t.WinPath("d/readme.txt")}),
              order);
    ASSERT_NE(map.end(), QvFindFileDesc(map, t.WinPath("d/ReadMe.txt")));
    EXPECT_EQ(t.WinPath("d/ReadMe.txt"), QvFindFileDesc(map, t.WinPath("d/ReadMe.txt"))->second.strFilePath.str());
    ASSERT_NE(map.end(), QvFindFileDesc(map, t.WinPath("D/Only.Txt")));
    EXPECT_TRUE(QvEraseFileDesc(map, t.WinPath("d/readme.txt")));
    EXPECT_EQ(map.end(), QvFindFileDesc(map, t.WinPath("d/readme.txt")));
    ASSERT_NE(map.end(), QvFindFileDesc(map, t.WinPath("d/README.TXT")));
    EXPECT_EQ("upper", t.ReadFile("d/README.TXT"));
    EXPECT_EQ(3u, map.size());
}
#endif

// The maps order their keys as the lower-cased texts would be ordered, whatever case a key
// keeps: "_" lies between the upper and the lower letters, so this differs from plain order.
// How keys were ordered when the maps held them as wide strings: lower-cased character by
// character, exactly behind a zero both share.
bool WideKeyLess(const std::wstring& x, const std::wstring& y) {
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        if (x[i] == y[i]) {
            if (x[i] == 0) return x.substr(i) < y.substr(i);
            continue;
        }
        const wchar_t cx = CQvString::LowerChar(x[i]);
        const wchar_t cy = CQvString::LowerChar(y[i]);
        if (cx != cy) return cx < cy;
    }
    return x.size() < y.size();
}

// Keys held as bytes keep that order, whatever characters they hold and wherever two keys
// part: random keys with long common starts, letters of several byte lengths and twins' zeros;
// held whole or as a shared folder's text and a name, the folder's block one for several keys
// or one of its own.
TEST(QvFileDescKeys, KeysHeldAsBytesKeepTheOrderOfWideKeys) {
    const std::wstring prefixes[] = {L"", L"C:\\", L"C:\\Data\\Photos\\", L"c:\\data\\PHOTOS\\",
                                     L"C:\\\u00C4rger\\\u4E2D\u6587\\"};
    const wchar_t letters[] = {L'a', L'A', L'b', L'Z', L'_', L'\\', L'.', 0x00E9, 0x00C9, 0x0100,
                               0x0101, 0x4E2D, 0x4E2E, 0x0130, 0xD800, 0};
    std::mt19937 random(20261208);
    std::vector<std::wstring> keys;
    for (int i = 0; i < 300; ++i) {
        std::wstring key = prefixes[random() % 5];
        const size_t tail = random() % 14;
        for (size_t k = 0; k < tail; ++k) key += letters[random() % (sizeof letters / sizeof letters[0])];
        keys.push_back(key);
    }
    // Twins whose spellings part well behind the zero.
    const std::wstring lower = L"c:\\data\\photos\\x";
    for (const wchar_t* spelling : {L"C:\\Data\\Photos\\X", L"C:\\Data\\Photos\\x"})
        keys.push_back(lower + L'\0' + spelling);
    std::map<std::wstring, CQvPathText> folders;
    auto shared = [&](const std::wstring& key, bool bOwnBlock) {
        const size_t slash = key.rfind(L'\\');
        if (slash == std::wstring::npos) return CQvPathText(key);
        const std::wstring folder = key.substr(0, slash + 1);
        if (bOwnBlock) return CQvPathText(CQvPathText(folder), std::wstring_view(key).substr(slash + 1));
        auto it = folders.emplace(folder, CQvPathText(folder)).first;
        return CQvPathText(it->second, std::wstring_view(key).substr(slash + 1));
    };
    std::vector<CQvPathText> forms[3];
    for (size_t i = 0; i < keys.size(); ++i) {
        forms[0].emplace_back(keys[i]);
        forms[1].push_back(shared(keys[i], false));
        forms[2].push_back(shared(keys[i], i % 2 == 0));
        ASSERT_EQ(keys[i], forms[1].back().str());
        ASSERT_EQ(keys[i], forms[2].back().Wide().str());
        ASSERT_EQ(forms[0].back().Utf8(), forms[2].back().Utf8());
        ASSERT_TRUE(forms[1].back() == forms[0].back() && forms[0].back() == forms[2].back());
    }
    const QvPathLess less;
    for (size_t i = 0; i < keys.size(); ++i)
        for (size_t j = 0; j < keys.size(); ++j) {
            const bool want = WideKeyLess(keys[i], keys[j]);
            SCOPED_TRACE(testing::PrintToString(keys[i]) + " " + testing::PrintToString(keys[j]));
            for (int x = 0; x < 3; ++x) {
                ASSERT_EQ(want, less(forms[x][i], std::wstring_view(keys[j])));
                ASSERT_EQ(keys[i] == keys[j], forms[x][i] == std::wstring_view(keys[j]));
                for (int y = 0; y < 3; ++y) {
                    ASSERT_EQ(want, less(forms[x][i], forms[y][j])) << "forms " << x << " " << y;
                    ASSERT_EQ(keys[i] == keys[j], forms[x][i] == forms[y][j]) << "forms " << x << " " << y;
                }
            }
        }
}

TEST(QvFileDescKeys, MapsOrderKeysByTheirLowerCasedText) {
    const std::vector<std::wstring> keys = {
        L"C:\\B\\x", L"c:\\a_b", L"C:\\A\\Z", L"c:\\a\\y", L"C:\\\u00C9t\u00E9",
        L"c:\\f", L"C:\\AB", L"c:\\a", std::wstring(L"c:\\ab\0C:\\aB", 12), L"C:\\\u00E9s",
        std::wstring(L"c:\\ab\0C:\\Ab", 12),
        // Several bytes a character, differing past a common start of eight bytes and more.
        L"C:\\Dat\\\u00C4b", L"C:\\Dat\\\u00E4", L"C:\\Dat\\\u00C5", L"C:\\Dat\\\u4E2D\u6587",
        L"C:\\Dat\\\u4E2D\u6588", L"C:\\Dat\\\u0100x", L"C:\\Dat\\\u0101", L"C:\\Dat\\z",
        L"C:\\Dat\\\U0001F600"};
    QvFileDescMap map;
    for (const auto& k : keys) map.emplace(CQvString(k), FileDesc());
    ASSERT_EQ(keys.size(), map.size());
    std::vector<std::wstring> lowered;
    for (const auto& k : keys) {
        CQvString l(k);
        l.MakeLower();
        lowered.push_back(l.str());
    }
    std::sort(lowered.begin(), lowered.end());
    std::vector<std::wstring> order;
    for (const auto& e : map) {
        CQvString l(e.first);
        l.MakeLower();
        order.push_back(l.str());
    }
    EXPECT_EQ(lowered, order);
    // A wide text compares with a key exactly as that text's key would: searches hand the
    // map wide texts.
    const QvPathLess less;
    for (const auto& a : keys)
        for (const auto& b : keys) {
            const CQvPathText ka(a), kb(b);
            EXPECT_EQ(less(ka, kb), less(ka, std::wstring_view(b))) << testing::PrintToString(a) << " " << testing::PrintToString(b);
            EXPECT_EQ(less(ka, kb), less(std::wstring_view(a), kb)) << testing::PrintToString(a) << " " << testing::PrintToString(b);
        }
    // A search given any entry as the one added last finds what a search without it finds,
    // also when given that entry's lower-cased path to compare with (an entry keyed by its own).
    for (const auto& k : keys) {
        if (k.find(L'\0') != std::wstring::npos) continue;
        QvFileDescMapIter expected;
        const QvFileDescMapIter found = QvFindFileDesc(map, CQvString(k), nullptr, &expected);
        for (QvFileDescMapIter last = map.begin(); last != map.end(); ++last) {
            QvFileDescMapIter at;
            EXPECT_EQ(found, QvFindFileDesc(map, CQvString(k), nullptr, &at, &last));
            EXPECT_EQ(expected, at);
            const std::wstring lastKey = last->first.Wide().str();
            if (lastKey.find(L'\0') != std::wstring::npos) continue;
            CQvString lastLower(lastKey.c_str());
            lastLower.MakeLower();
            EXPECT_EQ(found, QvFindFileDesc(map, CQvString(k), nullptr, &at, &last, lastLower.view()))
                << testing::PrintToString(k) << " after " << testing::PrintToString(lastKey);
            EXPECT_EQ(expected, at);
        }
    }
    // One key whatever the spelling.
    EXPECT_FALSE(map.emplace(CQvString(L"C:\\a"), FileDesc()).second);
    EXPECT_NE(map.end(), map.find(CQvString(L"C:\\F")));
}
