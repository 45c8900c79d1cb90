// Tests of the distribution over media: kinds of medium, placement, naming, groups, the
// callback protocol and the mended cases where entries used to be lost.
#include "media/QvMediaTestUtil.h"

#include "platform/QvFaults.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

using namespace qvmediatest;
using qvtest::LogCapture;
using qvtest::TempTree;

namespace {

std::vector<std::string> Names(const TempTree& tree) { return tree.List(); }

// How many times each FullPath occurs over the media files 1..count.
std::map<std::string, int> Occurrences(const TempTree& tree, DWORD count) {
    std::map<std::string, int> seen;
    for (DWORD i = 1; i <= count; ++i)
        for (const std::string& p : ReadMedium(tree, "Media" + std::to_string(i) + ".xml").FullPaths())
            ++seen[p];
    return seen;
}

std::vector<std::string> MediaNames(DWORD count) {
    std::vector<std::string> names;
    for (DWORD i = 1; i <= count; ++i) names.push_back("Media" + std::to_string(i) + ".xml");
    std::sort(names.begin(), names.end());
    return names;
}

std::string Numbered(const std::string& stem, int i) {
    char num[16];
    snprintf(num, sizeof num, "%04d", i);
    return "C:\\" + stem + num + ".bin";
}

void ExpectRange(const Medium& m, const std::string& stem, int from, int to) {
    std::vector<std::string> expected;
    for (int i = from; i < to; ++i) expected.push_back(Numbered(stem, i));
    EXPECT_EQ(expected, m.FullPaths());
}

class MediaSplit : public ::testing::Test {
protected:
    void SetUp() override { CQvMediaFactory::GetInstance()->SetMediaFactoryCB(NULL, NULL); }
    void TearDown() override {
        CQvMediaFactory::GetInstance()->SetMediaFactoryCB(NULL, NULL);
        qvp::ClearFaults();
    }
};

}  // namespace

TEST_F(MediaSplit, OneMediumCountsTheFreeSpaceAndCallsBack) {
    TempTree tree;
    Maps maps;
    PutMany(maps.any, L"f", 30, 10 * MB);
    Script script;
    CQvMediaFactory::GetInstance()->SetMediaFactoryCB(ScriptCB, &script);
    Options run;
    run.dwFreeSpace = 100;
    EXPECT_EQ(1u, Split(tree.WinPath(), maps, run));
    EXPECT_EQ(std::vector<std::string>{"Media1.xml"}, Names(tree));
    const Medium m = ReadMedium(tree, "Media1.xml");
    ExpectRange(m, "f", 0, 30);
    EXPECT_EQ(400 * MB, m.Size());
    EXPECT_EQ(30, m.FileCount());
    ASSERT_GE(script.codes.size(), 3u);
    EXPECT_EQ(0u, script.codes.front());
    EXPECT_EQ(2u, script.codes.back());
    EXPECT_EQ(1u, std::count(script.codes.begin(), script.codes.end(), 0u));
    EXPECT_EQ(1u, std::count(script.codes.begin(), script.codes.end(), 2u));
}

TEST_F(MediaSplit, ManyMediaAreNumberedWithTheLastOneHighest) {
    TempTree tree;
    tree.WriteFile("Media3.xml", "stale");
    Maps maps;
    PutMany(maps.any, L"f", 150, 10 * MB);
    EXPECT_EQ(3u, Split(tree.WinPath(), maps));
    EXPECT_EQ(MediaNames(3), Names(tree));
    // First-fit stops at 690 MB: ten more would reach 700, which is not below the split size.
    ExpectRange(ReadMedium(tree, "Media1.xml"), "f", 0, 69);
    ExpectRange(ReadMedium(tree, "Media3.xml"), "f", 69, 138);  // written second, as Last.xml
    ExpectRange(ReadMedium(tree, "Media2.xml"), "f", 138, 150);
    EXPECT_EQ(690 * MB, ReadMedium(tree, "Media3.xml").Size());
}

TEST_F(MediaSplit, FirstAndLastTakingEverythingMakeTwoMedia) {
    TempTree tree;
    Maps maps;
    PutMany(maps.any, L"f", 100, 10 * MB);
    EXPECT_EQ(2u, Split(tree.WinPath(), maps));
    EXPECT_EQ(MediaNames(2), Names(tree));
    ExpectRange(ReadMedium(tree, "Media2.xml"), "f", 69, 100);
}

TEST_F(MediaSplit, OutputFolderWithOrWithoutTrailingBackslash) {
    for (const bool slash : {false, true}) {
        SCOPED_TRACE(slash ? "with backslash" : "without backslash");
        TempTree tree;
        tree.MakeDir("out");
        Maps maps;
        PutMany(maps.any, L"f", 80, 10 * MB);
        const std::wstring dir = tree.WinPath("out") + (slash ? L"\\" : L"");
        EXPECT_EQ(2u, Split(dir, maps));
        EXPECT_EQ(MediaNames(2), tree.List("out"));
        EXPECT_EQ((std::vector<std::string>{"out"}), tree.List());
    }
}

TEST_F(MediaSplit, EveryLocationKindLandsWhereItMust) {
    TempTree tree;
    Maps maps;
    Put(maps.first, File(L"C:\\First.bin", 5 * MB));
    Put(maps.last, File(L"C:\\Last.bin", 5 * MB));
    Put(maps.all, File(L"C:\\All.bin", 5 * MB));
    PutMany(maps.notFirst, L"nf", 10, 10 * MB);
    PutMany(maps.notLast, L"nl", 10, 10 * MB);
    PutMany(maps.any, L"any", 10, 10 * MB);
    // Entries that are also fixed are placed only where they are fixed.
    Put(maps.any, File(L"C:\\First.bin", 5 * MB));
    Put(maps.any, File(L"C:\\All.bin", 5 * MB));
    Put(maps.any, File(L"C:\\Last.bin", 5 * MB));
    Options run;
    run.dwSplitSize = 100;
    const DWORD count = Split(tree.WinPath(), maps, run);
    ASSERT_GE(count, 3u);
    EXPECT_EQ(MediaNames(count), Names(tree));
    const std::map<std::string, int> seen = Occurrences(tree, count);
    EXPECT_EQ(static_cast<int>(count), seen.at("C:\\All.bin"));
    EXPECT_EQ(1, seen.at("C:\\First.bin"));
    EXPECT_EQ(1, seen.at("C:\\Last.bin"));
    for (int i = 0; i < 10; ++i)
        for (const char* stem : {"nf", "nl", "any"}) EXPECT_EQ(1, seen.at(Numbered(stem, i)));
    const Medium first = ReadMedium(tree, "Media1.xml");
    const Medium last = ReadMedium(tree, "Media" + std::to_string(count) + ".xml");
    EXPECT_TRUE(first.Holds("C:\\First.bin"));
    EXPECT_TRUE(last.Holds("C:\\Last.bin"));
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(first.Holds(Numbered("nf", i)));
        EXPECT_FALSE(last.Holds(Numbered("nl", i)));
    }
    // Fixed maps come first on their media, in the builders' order.
    EXPECT_EQ("C:\\First.bin", first.FullPaths()[0]);
    EXPECT_EQ("C:\\All.bin", first.FullPaths()[1]);
    EXPECT_EQ("C:\\Last.bin", last.FullPaths()[0]);
    EXPECT_EQ("C:\\All.bin", last.FullPaths()[1]);
    for (DWORD i = 2; i < count; ++i)
        EXPECT_EQ("C:\\All.bin", ReadMedium(tree, "Media" + std::to_string(i) + ".xml").FullPaths()[0]);
}

TEST_F(MediaSplit, GroupsAreWrittenWholeLargestFirst) {
    TempTree tree;
    Maps maps;
    PutMany(maps.any, L"g0_", 3, 100 * MB, 0);  // 300 MB
    PutMany(maps.any, L"g1_", 5, 100 * MB, 1);  // 500 MB
    PutMany(maps.any, L"g2_", 5, 100 * MB, 2);  // 500 MB
    Options run;
    run.iGroupCount = 4;  // group 3 has no entries: it fits anywhere and writes nothing
    EXPECT_EQ(3u, Split(tree.WinPath(), maps, run));
    ExpectRange(ReadMedium(tree, "Media1.xml"), "g1_", 0, 5);
    ExpectRange(ReadMedium(tree, "Media3.xml"), "g2_", 0, 5);
    ExpectRange(ReadMedium(tree, "Media2.xml"), "g0_", 0, 3);
}

TEST_F(MediaSplit, SingleEntriesAndGroupsFitByTheirBytes) {
    struct Row {
        const char* label;
        int64_t first;   // bytes on the first-medium list
        int64_t other;   // bytes of the entry that may go anywhere
        DWORD split;
        DWORD media;
    };
    const Row rows[] = {
        // 699.5 MB and 0.9 MB more make 700.4 MB: too much for one 700 MB medium.
        {"700.4 MB on 700 MB", 699 * MB + MB / 2, MB * 9 / 10, 700, 2},
        {"699.9 MB on 700 MB", 699 * MB, MB * 9 / 10, 700, 1},
        // Two files of one byte under a megabyte each do not share a 1 MB medium.
        {"two of 1,048,575 bytes on 1 MB", MB - 1, MB - 1, 1, 2},
    };
    for (const Row& row : rows) {
        for (const bool grouped : {false, true}) {
            SCOPED_TRACE(std::string(row.label) + (grouped ? ", group" : ", single entry"));
            TempTree tree;
            Maps maps;
            Put(maps.first, File(L"C:\\first.bin", row.first));
            Put(maps.any, File(L"C:\\other.bin", row.other, grouped ? 0 : -1));
            Options run;
            run.dwSplitSize = row.split;
            run.iGroupCount = grouped ? 1 : 0;
            const DWORD count = Split(tree.WinPath(), maps, run);
            EXPECT_EQ(row.media, count);
            for (DWORD m = 1; m <= count; ++m) {
                const std::string name = "Media" + std::to_string(m) + ".xml";
                EXPECT_LT(ReadMedium(tree, name).Size(), static_cast<long long>(row.split) * MB) << name;
            }
            EXPECT_EQ(1, Occurrences(tree, count)["C:\\other.bin"]);
        }
    }
}

TEST_F(MediaSplit, FreeSpaceIsKeptOnTheFirstMediumInMegabytes) {
    TempTree tree;
    Maps maps;
    PutMany(maps.any, L"f", 60, 10 * MB);
    Options run;
    run.dwFreeSpace = 150;
    // 600 MB of files and 150 MB kept free do not fit on one 700 MB medium.
    EXPECT_EQ(2u, Split(tree.WinPath(), maps, run));
    const Medium first = ReadMedium(tree, "Media1.xml");
    ExpectRange(first, "f", 0, 54);
    EXPECT_EQ(690 * MB, first.Size());
    EXPECT_LE(first.Size(), 700 * MB);
    ExpectRange(ReadMedium(tree, "Media2.xml"), "f", 54, 60);
    EXPECT_EQ(60 * MB, ReadMedium(tree, "Media2.xml").Size());
}

TEST_F(MediaSplit, NothingSelectedIsLeftOut) {
    struct Row {
        const char* label;
        std::function<void(Maps&, Options&)> setup;
        DWORD expected;
    };
    const Row rows[] = {
        {"total equal to the split size",
         [](Maps& m, Options&) { PutMany(m.any, L"f", 70, 10 * MB); }, 2},
        {"total below the split size but not with the free space",
         [](Maps& m, Options& r) {
             PutMany(m.any, L"f", 60, 10 * MB);
             r.dwFreeSpace = 150;
         },
         2},
        {"last-medium entries when the first medium takes the rest",
         [](Maps& m, Options& r) {
             PutMany(m.any, L"f", 3, 10 * MB);
             Put(m.last, File(L"C:\\Last.bin", 5 * MB));
             r.dwFreeSpace = 665;
         },
         2},
        {"groups left when the single lists are empty",
         [](Maps& m, Options& r) {
             PutMany(m.any, L"a", 6, 100 * MB, 0);
             PutMany(m.any, L"b", 6, 100 * MB, 1);
             PutMany(m.any, L"c", 6, 100 * MB, 2);
             r.iGroupCount = 3;
         },
         3},
        {"a stale total that promises one medium",
         [](Maps& m, Options& r) {
             PutMany(m.any, L"f", 100, 10 * MB);
             r.iTotal = 10 * MB;
         },
         2},
        {"not-first entries beside a full first medium",
         [](Maps& m, Options& r) {
             PutMany(m.first, L"first", 4, 100 * MB);
             PutMany(m.notFirst, L"nf", 3, 100 * MB);
             (void)r;
         },
         2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree tree;
        Maps maps;
        Options run;
        row.setup(maps, run);
        const DWORD count = Split(tree.WinPath(), maps, run);
        EXPECT_EQ(row.expected, count);
        EXPECT_EQ(MediaNames(count), Names(tree));
        const std::map<std::string, int> seen = Occurrences(tree, count);
        for (const QvFileDescMap* map : {&maps.any, &maps.first, &maps.last, &maps.notFirst})
            for (const auto& e : *map)
                EXPECT_EQ(1, seen.count(qvtest::Narrow(e.second.strFilePath.str())))
                    << qvtest::Narrow(e.second.strFilePath.str());
        for (DWORD i = 1; i <= count; ++i)
            EXPECT_LE(ReadMedium(tree, "Media" + std::to_string(i) + ".xml").Size(), 700 * MB);
    }
}

TEST_F(MediaSplit, EntryThatFitsNoMediumFailsTheSplit) {
    struct Row {
        const char* label;
        int group;
        const wchar_t* message;
    };
    const Row rows[] = {
        {"single entry", -1,
         L"CQvMediaFactory::CreateMediaFiles(...) file C:\\x0000.bin (62914560 bytes) does not "
         L"fit on medium 2 beside 681574400 bytes of every-medium files, split size 700MB"},
        {"group", 0,
         L"CQvMediaFactory::CreateMediaFiles(...) AllTogether group of 2 files from C:\\x0000.bin "
         L"(62914560 bytes) does not fit on medium 2 beside 681574400 bytes of every-medium "
         L"files, split size 700MB"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree tree;
        Maps maps;
        Put(maps.all, File(L"C:\\All.bin", 650 * MB));
        PutMany(maps.any, L"x", row.group < 0 ? 1 : 2, row.group < 0 ? 60 * MB : 30 * MB,
                row.group);
        Options run;
        run.iGroupCount = row.group < 0 ? 0 : 1;
        LogCapture capture;
        EXPECT_EQ(0u, Split(tree.WinPath(), maps, run));
        EXPECT_TRUE(capture.Has(QvLogLevel::Error, row.message)) << capture.Dump();
        // The media finished before stay; the stuck medium is not saved.
        EXPECT_EQ((std::vector<std::string>{"Last.xml", "Media1.xml"}), Names(tree));
    }
}

TEST_F(MediaSplit, ArgumentsAndEmptyCatalogue) {
    TempTree tree;
    Maps maps;
    PutMany(maps.any, L"f", 2, MB);
    CQvMediaFactory* f = CQvMediaFactory::GetInstance();
    {
        LogCapture capture;
        EXPECT_EQ(0u, f->CreateMediaFiles(NULL, NULL, 3, 700, 0, 0, maps.all, maps.any,
                                          maps.first, maps.last, maps.notFirst, maps.notLast));
        EXPECT_TRUE(capture.Has(QvLogLevel::Error,
                                L"CQvMediaFactory::CreateMediaFiles(...) strOutputDir = NULL !"));
        EXPECT_TRUE(capture.Has(QvLogLevel::Error,
                                L"CQvMediaFactory::CreateMediaFiles(...) strDispFlag = NULL !"));
    }
    Script script;
    f->SetMediaFactoryCB(ScriptCB, &script);
    EXPECT_EQ(0u, Split(tree.WinPath(), Maps()));
    EXPECT_EQ(std::vector<DWORD>{0}, script.codes);  // code 0 comes before the empty test
    EXPECT_TRUE(Names(tree).empty());
}

TEST_F(MediaSplit, SaveAndFinalMoveFailuresFailTheSplit) {
    {
        TempTree tree;
        Maps maps;
        PutMany(maps.any, L"f", 2, MB);
        LogCapture capture;
        const std::wstring missing = tree.WinPath("no-such-folder");
        EXPECT_EQ(0u, Split(missing, maps));
        EXPECT_TRUE(capture.Has(QvLogLevel::Error,
                                L"CQvMediaFactory::CreateMediaFiles(...) Save XML file " + missing +
                                    L"\\Media1.xml FAILED"))
            << capture.Dump();
    }
    // Count the renames of a two-medium split, then make the last one (the final move) fail.
    Maps maps;
    PutMany(maps.any, L"f", 100, 10 * MB);
    int renames = 0;
    {
        TempTree tree;
        qvp::ResetFaultCounters();
        ASSERT_EQ(2u, Split(tree.WinPath(), maps));
        renames = qvp::FaultCallCount(qvp::FaultOp::Rename);
    }
    ASSERT_EQ(3, renames) << "Media1.xml and Last.xml put in place, then the final move";
    {
        TempTree tree;
        qvp::InjectFault(qvp::FaultOp::Rename, renames);
        LogCapture capture;
        EXPECT_EQ(0u, Split(tree.WinPath(), maps));
        EXPECT_TRUE(capture.HasContaining(QvLogLevel::Error, L"Last.xml to ")) << capture.Dump();
        EXPECT_EQ((std::vector<std::string>{"Last.xml", "Media1.xml"}), Names(tree));
    }
    // A medium saved but not put in place fails the split, named, with nothing saved after it
    // in place and no temporary file left.
    const struct {
        int rename;
        const wchar_t* failed;
        std::vector<std::string> kept;
    } rows[] = {{1, L"Media1.xml", {}}, {2, L"Last.xml", {"Media1.xml"}}};
    for (const auto& row : rows) {
        TempTree tree;
        qvp::InjectFault(qvp::FaultOp::Rename, row.rename);
        LogCapture capture;
        EXPECT_EQ(0u, Split(tree.WinPath(), maps));
        qvp::ClearFaults();
        EXPECT_TRUE(capture.Has(QvLogLevel::Error, L"CQvMediaFactory::CreateMediaFiles(...) Save XML file " +
                                                       tree.WinPath() + L"\\" + row.failed + L" FAILED"))
            << capture.Dump();
        EXPECT_EQ(row.kept, Names(tree));
    }
}

TEST_F(MediaSplit, TwoSplitsInARowGiveTheSameFiles) {
    TempTree one(L'T'), two(L'U');
    Maps maps;
    PutMany(maps.any, L"f", 150, 10 * MB);
    PutMany(maps.any, L"g", 4, 100 * MB, 0);
    Put(maps.all, File(L"C:\\All.bin", 1 * MB));
    Options run;
    run.iGroupCount = 1;
    ASSERT_EQ(3u, Split(one.WinPath(), maps, run));
    ASSERT_EQ(3u, Split(two.WinPath(), maps, run));
    for (const std::string& name : MediaNames(3)) {
        SCOPED_TRACE(name);
        const std::string first = one.ReadFile(name);
        EXPECT_FALSE(first.empty());
        EXPECT_TRUE(first == two.ReadFile(name));
    }
}

TEST_F(MediaSplit, AnswersOtherThanOneNeverStop) {
    for (const DWORD answer : {0u, 2u, 7u}) {
        SCOPED_TRACE(answer);
        TempTree tree;
        Maps maps;
        PutMany(maps.any, L"f", 150, 10 * MB);
        Script script;
        script.answer = answer;
        CQvMediaFactory::GetInstance()->SetMediaFactoryCB(ScriptCB, &script);
        EXPECT_EQ(3u, Split(tree.WinPath(), maps));
        EXPECT_EQ(MediaNames(3), Names(tree));
    }
}

// Stops the same split at every callback in turn and checks the result, the one abort message
// and which files stay behind.
TEST_F(MediaSplit, CallbackStopsAtEveryPoint) {
    Maps maps;
    PutMany(maps.any, L"g", 2, 30 * MB, 0);
    PutMany(maps.any, L"y", 12, 20 * MB);
    Options run;
    run.dwSplitSize = 100;
    run.iGroupCount = 1;
    Script full;
    CQvMediaFactory::GetInstance()->SetMediaFactoryCB(ScriptCB, &full);
    DWORD count = 0;
    {
        TempTree tree;
        count = Split(tree.WinPath(), maps, run);
    }
    ASSERT_EQ(4u, count);
    // Writing order: Media1, Last, Media2, Media3; the last becomes Media4 at the end.
    const std::vector<std::string> order = {"Media1.xml", "Last.xml", "Media2.xml", "Media3.xml"};
    std::set<std::wstring> kinds;
    for (size_t k = 1; k <= full.codes.size(); ++k) {
        SCOPED_TRACE("stop at call " + std::to_string(k));
        TempTree tree;
        Script script;
        script.abortAt = k;
        CQvMediaFactory::GetInstance()->SetMediaFactoryCB(ScriptCB, &script);
        LogCapture capture;
        const DWORD result = Split(tree.WinPath(), maps, run);
        EXPECT_EQ(k, script.codes.size());  // nothing is asked after the stop
        std::vector<std::wstring> aborts;
        for (const QvLogRecord& r : capture.Records())
            if (r.level == QvLogLevel::Error && r.text.find(L"ABORT request") != std::wstring::npos)
                aborts.push_back(r.text);
        ASSERT_EQ(1u, aborts.size()) << capture.Dump();
        kinds.insert(aborts[0]);
        const std::vector<std::string> left = Names(tree);
        if (k == 1) {
            EXPECT_EQ(static_cast<DWORD>(E_ABORT), result);
            EXPECT_EQ(L"CQvMediaFactory::CreateMediaFiles(...) ABORT request", aborts[0]);
            EXPECT_TRUE(left.empty());
        } else if (k == full.codes.size()) {
            EXPECT_EQ(0u, result);
            EXPECT_EQ(2u, script.codes.back());
            EXPECT_EQ(MediaNames(4), left);  // everything written and renamed
        } else {
            EXPECT_EQ(0u, result);
            // Exactly the media finished before the stop, in writing order.
            std::vector<std::string> prefix(order.begin(), order.begin() + left.size());
            std::sort(prefix.begin(), prefix.end());
            EXPECT_EQ(prefix, left);
            if (aborts[0] == L"CQvMediaFactory::MakeFirstMedia(...) ABORT request") {
                EXPECT_TRUE(left.empty());
            }
            if (aborts[0] == L"CQvMediaFactory::MakeLastMedia(...) ABORT request") {
                EXPECT_EQ(std::vector<std::string>{"Media1.xml"}, left);
            }
        }
    }
    for (const wchar_t* kind :
         {L"CQvMediaFactory::CreateMediaFiles(...) ABORT request",
          L"CQvMediaFactory::MakeFirstMedia(...) ABORT request",
          L"CQvMediaFactory::MakeLastMedia(...) ABORT request",
          L"CQvMediaFactory::MakeMedia(...) ABORT request",
          L"CQvMediaFactory::FillMediaWithOtherFiles(...) ABORT request",
          L"CQvMediaFactory::FillMediaWithGroupFiles(...) ABORT request"})
        EXPECT_EQ(1u, kinds.count(kind)) << qvtest::Narrow(kind);
}

TEST_F(MediaSplit, CallbackStopsTheOnlyMedium) {
    TempTree tree;
    Maps maps;
    PutMany(maps.any, L"f", 3, MB);
    Script script;
    script.abortAt = 2;
    CQvMediaFactory::GetInstance()->SetMediaFactoryCB(ScriptCB, &script);
    LogCapture capture;
    EXPECT_EQ(0u, Split(tree.WinPath(), maps));
    EXPECT_TRUE(capture.Has(QvLogLevel::Error, L"CQvMediaFactory::MakeOneMedia(...) ABORT request"));
    EXPECT_TRUE(Names(tree).empty());
}

namespace {

// The first-fit of single entries as a fill step is defined: examine from the front after
// every placement, stop once the medium is full.
std::vector<int> ReferenceSingles(std::vector<int64_t> sizes, int64_t& media, int64_t split) {
    std::vector<int> placed;
    std::vector<int> ids(sizes.size());
    for (size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<int>(i);
    if (ids.empty() || media / MB >= split) return placed;
    size_t i = 0;
    while (i < ids.size()) {
        if ((sizes[ids[i]] + media) / MB < split) {
            media += sizes[ids[i]];
            placed.push_back(ids[i]);
            ids.erase(ids.begin() + i);
            if (ids.empty()) break;
            i = 0;
        } else {
            ++i;
        }
        if (media / MB >= split) break;
    }
    return placed;
}

std::vector<int> ReferenceGroups(std::vector<int64_t> sizes, int64_t& media, int64_t split) {
    std::vector<int> placed;
    std::vector<int> ids(sizes.size());
    for (size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<int>(i);
    size_t i = 0;
    while (i < ids.size()) {
        if ((sizes[ids[i]] + media) / MB < split) {
            media += sizes[ids[i]];
            placed.push_back(ids[i]);
            ids.erase(ids.begin() + i);
            i = 0;
        } else {
            ++i;
        }
    }
    return placed;
}

}  // namespace

// The fill steps resume after each placement instead of starting over; the placement must
// be exactly that of the restarting first-fit.
TEST_F(MediaSplit, FillStepsPlaceExactlyAsRestartingFirstFit) {
    std::mt19937 rng(12345);
    IQvXml* xml = GetQvXmlInterface(XML_TYPE_LIBRARY);
    ASSERT_NE(nullptr, xml);
    QvMediaTestAccess::Xml() = xml;
    TempTree tree;
    const std::wstring path = tree.WinPath("fill.xml");
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool groups = round % 2 == 1;
        const int n = 1 + static_cast<int>(rng() % 100);  // several blocks of the fit index
        const int64_t split = 50 + rng() % 100;
        const int64_t start = static_cast<int64_t>(rng() % (split * MB));
        std::vector<int64_t> sizes;
        for (int i = 0; i < n; ++i) sizes.push_back(static_cast<int64_t>(rng() % (60 * MB)));
        int64_t expectedMedia = start;
        const std::vector<int> expected = groups ? ReferenceGroups(sizes, expectedMedia, split)
                                                 : ReferenceSingles(sizes, expectedMedia, split);
        ASSERT_EQ(S_OK, QvMediaTestAccess::CreateNewMediaFile(path.c_str(), L"d", L"t", 0));
        QvMediaTestAccess::SetMediaSize(start);
        std::vector<int> remaining;
        if (groups) {
            GroupFileDescVector list(n);
            for (int i = 0; i < n; ++i) {
                list[i].vtFileDesc.push_back(File(L"C:\\" + std::to_wstring(i), sizes[i]));
                list[i].iGroupSize = sizes[i];
            }
            EXPECT_EQ(S_OK, QvMediaTestAccess::FillMediaWithGroupFiles(static_cast<DWORD>(split), list));
            for (const GroupFileDesc& g : list) remaining.push_back(std::stoi(qvtest::Narrow(g.vtFileDesc[0].strFilePath.str()).substr(3)));
        } else {
            FileDescVector list;
            for (int i = 0; i < n; ++i) list.push_back(File(L"C:\\" + std::to_wstring(i), sizes[i]));
            EXPECT_EQ(S_OK, QvMediaTestAccess::FillMediaWithOtherFiles(static_cast<DWORD>(split), list));
            for (const FileDesc& d : list) remaining.push_back(std::stoi(qvtest::Narrow(d.strFilePath.str()).substr(3)));
        }
        EXPECT_EQ(expectedMedia, QvMediaTestAccess::MediaSize());
        ASSERT_EQ(S_OK, xml->Save(0));
        std::vector<std::string> placedPaths;
        for (int id : expected) placedPaths.push_back("C:\\" + std::to_string(id));
        EXPECT_EQ(placedPaths, ReadMedium(tree, "fill.xml").FullPaths());
        std::vector<int> expectedRemaining;
        for (int i = 0; i < n; ++i)
            if (std::find(expected.begin(), expected.end(), i) == expected.end())
                expectedRemaining.push_back(i);
        EXPECT_EQ(expectedRemaining, remaining);
    }
    QvMediaTestAccess::Xml() = NULL;
    xml->Close();
}
