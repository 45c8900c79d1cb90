// Tests of the catalogue's hand-over to the media factory (SplitIntoMedias).
#include "catalog/QvCatalogTestAccess.h"
#include "media/QvMediaTestUtil.h"

#include <gtest/gtest.h>

using namespace qvmediatest;
using qvtest::LogCapture;
using qvtest::TempTree;

TEST(CQvFileDescCatalogSplit, FilledCatalogueIsWrittenWithoutValidationAndEmptied) {
    QvCatalogTestAccess::ResetAll();
    TempTree tree;
    PutMany(QvCatalogTestAccess::Map(InAny), L"f", 100, 10 * MB);
    Put(QvCatalogTestAccess::Map(InFirst), File(L"C:\\First.bin", MB));
    Put(QvCatalogTestAccess::Map(NotLast), File(L"C:\\NotLast.bin", MB));
    // The total of the last validation stays in force.
    QvMediaTestAccess::SetTotalSize(1002 * MB);
    Script script;
    LogCapture capture;
    const DWORD count = CQvFileDescCatalog::GetInstance()->SplitIntoMedias(
        L"Disp", 3, 700, 0, 0, tree.WinPath().c_str(), ScriptCB, &script);
    EXPECT_EQ(2u, count);
    EXPECT_FALSE(capture.HasContaining(QvLogLevel::Enter, L"ValidateSplitSize")) << capture.Dump();
    EXPECT_EQ(0u, script.codes.front());
    EXPECT_EQ(2u, script.codes.back());
    for (int location = InFirst; location <= NotLast; ++location)
        EXPECT_TRUE(QvCatalogTestAccess::Map(location).empty()) << location;
    EXPECT_TRUE(ReadMedium(tree, "Media1.xml").Holds("C:\\First.bin"));
    EXPECT_TRUE(ReadMedium(tree, "Media1.xml").Holds("C:\\NotLast.bin"));
    EXPECT_EQ(102u, ReadMedium(tree, "Media1.xml").entries.size() +
                        ReadMedium(tree, "Media2.xml").entries.size());
    // The callback was the caller's for that call only: a later run of the factory does not
    // call it (the caller's data may be gone by then).
    const size_t calls = script.codes.size();
    TempTree again;
    Maps maps;
    Put(maps.any, File(L"C:\\later.bin", MB));
    EXPECT_EQ(1u, Split(again.WinPath(), maps));
    EXPECT_EQ(calls, script.codes.size());
}

TEST(CQvFileDescCatalogSplit, FailedValidationWritesNothing) {
    QvCatalogTestAccess::ResetAll();
    TempTree tree;
    // Only not-first entries: the catalogue counts as unbuilt and is validated, and the stop
    // answered to the validation's callback fails it.
    Put(QvCatalogTestAccess::Map(NotFirst), File(L"C:\\nf.bin", MB));
    Script script;
    script.abortAt = 1;
    LogCapture capture;
    const std::wstring dir = tree.WinPath();
    EXPECT_EQ(0u, CQvFileDescCatalog::GetInstance()->SplitIntoMedias(L"Disp", 3, 700, 10, 2,
                                                                     dir.c_str(), ScriptCB,
                                                                     &script));
    EXPECT_EQ(std::vector<DWORD>{1}, script.codes);
    EXPECT_TRUE(capture.Has(
        QvLogLevel::Error,
        L"DWORD CQvFileDescCatalog::SplitIntoMedias(LPCTSTR strDispFlag=Disp, DWORD dwType=3, "
        L"DWORD dwSplitSize=700, DWORD dwFirstMediaFreeSpaceSize=10, DWORD dwOutputMethod=2, "
        L"LPCTSTR strOutputDir=" + dir + L")"))
        << capture.Dump();
    EXPECT_TRUE(tree.List().empty());
    EXPECT_TRUE(QvCatalogTestAccess::Map(NotFirst).empty());
}

TEST(CQvFileDescCatalogSplit, EmptyCatalogueIsValidatedAndGivesNoMedia) {
    QvCatalogTestAccess::ResetAll();
    TempTree tree;
    Script script;
    EXPECT_EQ(0u, CQvFileDescCatalog::GetInstance()->SplitIntoMedias(
                      L"Disp", 3, 700, 0, 2, tree.WinPath().c_str(), ScriptCB, &script));
    // The validation's stop point, then the start of writing; nothing to write after that.
    EXPECT_EQ((std::vector<DWORD>{1, 0}), script.codes);
    EXPECT_TRUE(tree.List().empty());
}
