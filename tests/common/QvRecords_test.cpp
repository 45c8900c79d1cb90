// Tests of the value records: defaults, and copies that own their strings and containers but
// share the rule pointer.
#include "common/QvRecords.h"

#include <gtest/gtest.h>

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
        copy->strFilePath += L".bak";
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
