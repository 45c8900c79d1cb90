// Tests of qvsplit pack and verify --fs: the media made from a plan are read back and compared
// with the tree on the disk.
#include <gtest/gtest.h>

#include "support/QvProgramTest.h"
#include "support/QvShownNames.h"
#include "support/QvTestProcess.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#if defined(QVSPLIT_TEST_PACK)
#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {


// What a medium holds, by path inside it: a file's content, a link's target ("-> a.txt") or
// "/" for a folder.
using Contents = std::map<std::string, std::string>;

class QvCliPackTest : public qvtest::ProgramTest {
protected:
    QvCliPackTest() : ProgramTest("qvsplit-pack-test-") {}

    qvtest::ProcessResult Run(const std::vector<std::string>& args) const {
        qvtest::ProcessSetup setup;
        setup.scratch = m_root / "scratch";
        setup.runAsUser = m_runAs;
        setup.unset = {"QVSPLIT_DRIVE_C", "QVSPLIT_LOG", "QVSPLIT_LOG_LEVEL", "QVSPLIT_FOLLOW_LINKS"};
        setup.env = {"TMPDIR=" + S("tmp"), "TMP=" + S("tmp"), "TEMP=" + S("tmp")};
        qvtest::ChildProcess child(m_program, args, setup);
        const qvtest::ProcessResult r = child.Wait(std::chrono::seconds(120));
        if (r.timedOut) ADD_FAILURE() << "qvsplit did not end within 120 s";
        return r;
    }

    // Names of the files in a folder, sorted (hidden ones included).
    std::vector<std::string> FilesIn(const std::string& rel) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(P(rel), ec)) names.push_back(e.path().filename().u8string());
        std::sort(names.begin(), names.end());
        return names;
    }

    int m_runAs = -1;  // POSIX user id the program runs as (when the tests run as root)
};

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

#if defined(QVSPLIT_TEST_PACK)

const uint64_t MB = 1048576;

// The integer after "key": in a JSON text, or -1 when the key is missing.
long long JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return -1;
    return std::atoll(json.c_str() + at + key.size() + 3);
}

std::string LongName() { return std::string(150, 'L') + ".txt"; }

// The text of a gzip file of one or more members, read with libarchive.
std::string Gunzip(const std::string& packed) {
    archive* a = archive_read_new();
    archive_read_support_filter_gzip(a);
    archive_read_support_format_raw(a);
    std::string text;
    archive_entry* entry = nullptr;
    if (archive_read_open_memory(a, packed.data(), packed.size()) == ARCHIVE_OK &&
        archive_read_next_header(a, &entry) == ARCHIVE_OK) {
        char piece[65536];
        for (la_ssize_t n; (n = archive_read_data(a, piece, sizeof piece)) > 0;) text.append(piece, static_cast<size_t>(n));
    } else {
        ADD_FAILURE() << "not gzip: " << archive_error_string(a);
    }
    archive_read_free(a);
    return text;
}

// Everything a medium holds, read back with libarchive. options picks the reader's view of an
// ISO image ("iso9660:!rockridge" for the Joliet names).
Contents ReadMedium(const fs::path& file, const char* options = nullptr) {
    Contents contents;
    // Names are UTF-8 on the media; the reader converts them through this thread's locale.
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!utf8) {
        ADD_FAILURE() << "no C.UTF-8 locale";
        return contents;
    }
    const locale_t previous = uselocale(utf8);
    archive* a = archive_read_new();
    archive_read_support_format_iso9660(a);
    archive_read_support_format_tar(a);
    if (options) archive_read_set_options(a, options);
    if (archive_read_open_filename(a, file.string().c_str(), 65536) != ARCHIVE_OK) {
        ADD_FAILURE() << file << ": " << archive_error_string(a);
        archive_read_free(a);
        uselocale(previous);
        freelocale(utf8);
        return contents;
    }
    archive_entry* entry = nullptr;
    // A warning is the reader failing to turn a UTF-8 name into the test's "C" locale; the
    // UTF-8 name is still there.
    for (int status = archive_read_next_header(a, &entry); status == ARCHIVE_OK || status == ARCHIVE_WARN;
         status = archive_read_next_header(a, &entry)) {
        const char* name = archive_entry_pathname_utf8(entry);
        const char* raw = archive_entry_pathname(entry);
        // A name that is not UTF-8 is compared as its bytes, as the disk gives them.
        std::string path = name ? name : raw ? raw : "(no name)";
        // The ISO reader names entries "./tree/a.txt", the tar reader "tree/a.txt".
        if (path.compare(0, 2, "./") == 0) path.erase(0, 2);
        if (!path.empty() && path.back() == '/') path.pop_back();
        if (path.empty() || path == ".") continue;
        if (archive_entry_filetype(entry) == AE_IFDIR) {
            contents[path] = "/";
        } else if (archive_entry_filetype(entry) == AE_IFLNK) {
            contents[path] = std::string("-> ") + archive_entry_symlink(entry);
        } else {
            std::string data;
            char buffer[65536];
            la_ssize_t got;
            while ((got = archive_read_data(a, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<size_t>(got));
            contents[path] = data;
        }
    }
    archive_read_free(a);
    uselocale(previous);
    freelocale(utf8);
    return contents;
}

// The paths of a medium, for a failure message.
std::string Listing(const Contents& contents) {
    std::string text;
    for (const auto& kv : contents) text += "\n  " + kv.first;
    return text;
}

// Every file and link of a tree on the disk, as a medium restoring it under its own name holds it.
Contents ReadTree(const fs::path& top) {
    Contents contents;
    const std::string name = top.filename().u8string();
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
        const std::string path = name + "/" + it->path().lexically_relative(top).generic_u8string();
        if (it->is_symlink())
            contents[path] = "-> " + fs::read_symlink(it->path()).u8string();
        else if (it->is_directory())
            contents[path] = "/";
        else
            contents[path] = ReadText(it->path());
    }
    return contents;
}

// Only the files and links: folders appear on a medium wherever something below them does.
Contents WithoutFolders(const Contents& all) {
    Contents out;
    for (const auto& kv : all)
        if (kv.second != "/") out.insert(kv);
    return out;
}

class QvCliPackTreeTest : public QvCliPackTest {
protected:
    // A tree of every kind of entry a plan holds, planned on two media of 21 MB with folders
    // kept whole and the one file larger than a medium cut into parts, the part list inside
    // the tree: nested folders, a non-ASCII name, a 154-character name, a symbolic link, a
    // name with '=' and '\' (which a path list escapes).
    void PlanTree() {
        Write("tree/a.txt", "alpha\n");
        Write("tree/sub/deep/b.txt", "beta\n");
        Write("tree/sub/Été résumé.txt", "accents\n");
        Write("tree/long/" + LongName(), "long\n");
        Write("tree/keep/inner/k.txt", "kept whole\n");
        Write("tree/big.bin", Pattern(25 * MB));
        Write("tree/a=b\\c.txt", "odd\n");
        // A name that is not UTF-8 (Latin-1 "\xe9"): the image and the archive keep its bytes.
        Write("tree/sub/latin1-\xe9.txt", "latin-1\n");
        fs::create_symlink("a.txt", P("tree/link"));
        fs::create_symlink("k.txt", P("tree/keep/inner/k-link"));  // inside a folder kept whole
        const qvtest::ProcessResult split = Run({"split", "--quiet", "--yes", "--method", "dirs", "--size", "21",
                                                 "--cut-big", S("tree/parts.ini"), "--out", S("plan"), S("tree")});
        ASSERT_EQ(0, split.status) << split.err << split.out;
        ASSERT_FALSE(fs::exists(P("tree/big.bin"))) << "the big file was not cut";
    }

    // The union of what the media of a format hold.
    Contents PackAndRead(const std::string& format, const std::string& to) {
        const qvtest::ProcessResult pack = Run({"pack", "--quiet", "--format", format, "--to", S(to), S("plan")});
        EXPECT_EQ(0, pack.status) << pack.err;
        EXPECT_NE(std::string::npos, pack.out.find("packed 2 media into")) << pack.out;
        Contents all;
        for (const std::string medium : {"Media1", "Media2"}) {
            const Contents one = ReadMedium(P(to + "/" + medium + "." + format));
            EXPECT_FALSE(one.empty()) << medium;
            all.insert(one.begin(), one.end());
        }
        return all;
    }
};

TEST_F(QvCliPackTreeTest, ImageAndArchiveHoldThePlansFilesAtTheirTargetPaths) {
    PlanTree();
    const Contents disk = WithoutFolders(ReadTree(P("tree")));
    // The parts, the part list, the folder kept whole, the odd names and the link all count.
    ASSERT_TRUE(disk.count("tree/parts.ini"));
    ASSERT_TRUE(disk.count("tree/keep/inner/k.txt"));
    ASSERT_TRUE(disk.count("tree/long/" + LongName()));
    for (const char* format : {"iso", "tar"}) {
        SCOPED_TRACE(format);
        Contents media = PackAndRead(format, std::string("out-") + format);
        // An ISO image carries the catalogue files besides, unless told not to; an archive only
        // when told to.
        const bool iso = std::string(format) == "iso";
        EXPECT_EQ(iso ? 1u : 0u, media.erase("QVSPLIT-CATALOG.html"));
        EXPECT_EQ(iso ? 1u : 0u, media.erase("QVSPLIT-CATALOG.txt.gz"));
        // Both carry their checksum list and notes (checked by check, restore and sha256sum).
        EXPECT_EQ(1u, media.erase("QVSPLIT-SHA256SUMS"));
        EXPECT_EQ(1u, media.erase("QVSPLIT-MEDIUM.txt"));
        EXPECT_EQ(disk.size(), WithoutFolders(media).size()) << Listing(WithoutFolders(media));
        for (const auto& kv : disk) {
            SCOPED_TRACE(kv.first);
            const auto found = media.find(kv.first);
            ASSERT_NE(media.end(), found) << "missing from the media, which hold " << Listing(media);
            EXPECT_TRUE(found->second == kv.second) << "content differs (" << found->second.size() << " bytes on the medium, "
                                                    << kv.second.size() << " on the disk)";
        }
        EXPECT_EQ("-> a.txt", media.at("tree/link"));
        EXPECT_EQ("-> k.txt", media.at("tree/keep/inner/k-link"));
        // The folder kept whole is a folder of the medium, not only a path of its files.
        EXPECT_EQ("/", media.at("tree/keep/inner"));
        // Only the finished files are left, under their final names, with the record of the set
        // they were packed from.
        EXPECT_EQ((std::vector<std::string>{".qvsplit-pack", std::string("Media1.") + format, std::string("Media2.") + format}),
                  FilesIn(std::string("out-") + format));
    }
}

TEST_F(QvCliPackTreeTest, ImageCarriesJolietNamesBesideRockRidge) {
    PlanTree();
    const qvtest::ProcessResult pack = Run({"pack", "--quiet", "--format", "iso", "--to", S("out"), S("plan")});
    ASSERT_EQ(0, pack.status) << pack.err;
    const Contents joliet = ReadMedium(P("out/Media1.iso"), "iso9660:!rockridge");
    // Joliet keeps letter case and non-ASCII names; long names are cut at 103 characters
    // (plain Joliet stops at 64).
    EXPECT_TRUE(joliet.count("tree/sub/Été résumé.txt")) << "no Joliet name for the non-ASCII file" << Listing(joliet);
    const auto longName = std::find_if(joliet.begin(), joliet.end(), [](const Contents::value_type& kv) {
        return kv.first.compare(0, 11, "tree/long/L") == 0;
    });
    ASSERT_NE(joliet.end(), longName) << Listing(joliet);
    EXPECT_EQ(std::string("tree/long/").size() + 103, longName->first.size()) << longName->first;
}

// xorriso on the path list builds the same tree as pack does (without -f: links stay links).
TEST_F(QvCliPackTreeTest, PathListGivesXorrisoTheSameFiles) {
    const char* xorriso = "/usr/bin/xorriso";
    if (!fs::exists(xorriso)) GTEST_SKIP() << "xorriso is not installed";
    PlanTree();
    ASSERT_EQ(0, Run({"pack", "--quiet", "--format", "list", "--to", S("lists"), S("plan")}).status);
    ASSERT_EQ(0, Run({"pack", "--quiet", "--format", "iso", "--no-catalog", "--to", S("images"), S("plan")}).status);
    // The '=' and '\' of a name inside the medium are escaped; the host path after '=' is not.
    const std::string list = ReadText(P("lists/Media1.list")) + ReadText(P("lists/Media2.list"));
    EXPECT_NE(std::string::npos, list.find("/tree/a\\=b\\\\c.txt=" + S("tree/a=b\\c.txt") + "\n")) << list;
    for (const std::string medium : {"Media1", "Media2"}) {
        SCOPED_TRACE(medium);
        const qvtest::ProcessResult made =
            qvtest::ChildProcess(xorriso, {"-as", "mkisofs", "-R", "-J", "-joliet-long", "-iso-level", "3", "-graft-points",
                                           "-path-list", S("lists/" + medium + ".list"), "-o", S(medium + "-xorriso.iso")},
                                 qvtest::ProcessSetup{m_root / "scratch", {}, {}, -1})
                .Wait(std::chrono::seconds(120));
        ASSERT_EQ(0, made.status) << made.err;
        const Contents fromList = ReadMedium(P(medium + "-xorriso.iso"));
        Contents fromPack = ReadMedium(P("images/" + medium + ".iso"));
        // A path list names the plan's files; the checksum list and the notes are pack's own.
        EXPECT_EQ(1u, fromPack.erase("QVSPLIT-SHA256SUMS"));
        EXPECT_EQ(1u, fromPack.erase("QVSPLIT-MEDIUM.txt"));
        EXPECT_FALSE(fromPack.empty());
        EXPECT_TRUE(fromList == fromPack) << fromList.size() << " entries from the list, " << fromPack.size() << " from pack";
    }
}

class QvCliPackSmallTest : public QvCliPackTest {
protected:
    void PlanSmall() {
        for (int i = 0; i < 5; ++i) Write("small/f" + std::to_string(i) + ".txt", Pattern(100000 + i));
        const qvtest::ProcessResult split = Run({"split", "--quiet", "--size", "10", "--out", S("plan"), S("small")});
        ASSERT_EQ(0, split.status) << split.err;
    }

    // The exact size of medium 1's image or archive, as verify --fs iso|tar measures it.
    long long MeasuredBytes(const char* format = "iso") {
        const qvtest::ProcessResult verify = Run({"verify", "--json", "--fs", format, S("plan")});
        EXPECT_EQ(0, verify.status) << verify.out << verify.err;
        return JsonNumber(verify.out, "bytes");
    }
};

// An ISO image is whole sectors, a tar archive whole 512-byte blocks: one unit short, one
// byte short and the exact size, each for pack and verify.
TEST_F(QvCliPackSmallTest, ImageOrArchiveIsRefusedOneUnitTooSmallAndAcceptedAtItsExactSize) {
    PlanSmall();
    struct Format {
        const char* name;
        long long unit;
        const char* tooBig;       // pack's refusal
        const char* fits;         // verify at the exact size
        const char* over;         // verify one unit short
        const char* advice;       // what the refusal says of a plan made for file bytes alone
    };
    const Format formats[] = {
        {"iso", 2048, "Media1.xml: the ISO image would take", "fits, 0 sectors free", "DOES NOT FIT, 1 sector over",
         "the plan was made for file bytes alone: split with --fs iso to plan for ISO images"},
        {"tar", 512, "Media1.xml: the tar archive would take", "fits, 0 bytes free", "DOES NOT FIT, 512 bytes over",
         "the plan was made for file bytes alone: split with --fs tar to plan for tar archives"},
    };
    for (const Format& format : formats) {
        SCOPED_TRACE(format.name);
        const long long exact = MeasuredBytes(format.name);
        ASSERT_GT(exact, 0);
        ASSERT_EQ(0, exact % format.unit);
        const std::string file = std::string("Media1.") + format.name;
        const long long capacities[] = {exact - format.unit, exact - 1, exact};
        for (const long long capacity : capacities) {
            SCOPED_TRACE(capacity);
            const bool fits = capacity == exact;
            const std::string to = std::string("out-") + format.name + std::to_string(capacity);
            const qvtest::ProcessResult pack = Run({"pack", "--quiet", "--format", format.name, "--capacity-bytes",
                                                    std::to_string(capacity), "--to", S(to), S("plan")});
            EXPECT_EQ(fits ? 0 : 1, pack.status) << pack.err;
            const qvtest::ProcessResult verify =
                Run({"verify", "--fs", format.name, "--capacity-bytes", std::to_string(capacity), S("plan")});
            EXPECT_EQ(fits ? 0 : 1, verify.status) << verify.out;
            if (fits) {
                EXPECT_EQ((std::vector<std::string>{".qvsplit-pack", file}), FilesIn(to));
                EXPECT_EQ(static_cast<uintmax_t>(exact), fs::file_size(P(to + "/" + file)));
                EXPECT_NE(std::string::npos, verify.out.find(format.fits)) << verify.out;
                // Quiet, pack says what it made in one line.
                EXPECT_EQ("packed 1 medium into " + S(to) + "\n", pack.out);
                if (std::string(format.name) == "iso") {
                    // The volume id names the set and the medium (ISO 9660 writes "-" as "_").
                    const std::string record = ReadText(P("plan/qvsplit-plan.xml"));
                    const size_t at = record.find("Label=\"QV");
                    ASSERT_NE(std::string::npos, at) << record;
                    std::string id = record.substr(at + 7, record.find('"', at + 7) - at - 7) + "-01";
                    std::replace(id.begin(), id.end(), '-', '_');
                    EXPECT_EQ(id, ReadText(P(to + "/" + file)).substr(16 * 2048 + 40, id.size()));
                }
            } else {
                // The refusal names the medium, the size and the capacity; nothing was written.
                EXPECT_NE(std::string::npos, pack.err.find(format.tooBig)) << pack.err;
                EXPECT_NE(std::string::npos, pack.err.find("more than the capacity of ")) << pack.err;
                EXPECT_NE(std::string::npos, pack.err.find(format.advice)) << pack.err;
                EXPECT_TRUE(FilesIn(to).empty());
                if (capacity == exact - format.unit) {
                    EXPECT_NE(std::string::npos, verify.out.find(format.over)) << verify.out;
                }
            }
        }
    }
}

TEST_F(QvCliPackSmallTest, CapacityComesFromTheSizeOptionOrTheMediumsOwnSize) {
    PlanSmall();
    // Without --size each image is held to its medium's size in the plan (10 MB here).
    const qvtest::ProcessResult own = Run({"pack", "--json", "--quiet", "--format", "iso", "--to", S("own"), S("plan")});
    ASSERT_EQ(0, own.status) << own.err;
    EXPECT_EQ(static_cast<long long>(10 * MB / 2048), JsonNumber(own.out, "capacity_sectors")) << own.out;
    const qvtest::ProcessResult cd = Run({"pack", "--json", "--quiet", "--format", "iso", "--size", "cd", "--to", S("cd"), S("plan")});
    ASSERT_EQ(0, cd.status) << cd.err;
    // A disc preset is the disc's real capacity: CD-R 80 min, 360,000 sectors.
    EXPECT_EQ(360000, JsonNumber(cd.out, "capacity_sectors")) << cd.out;
    EXPECT_EQ(JsonNumber(own.out, "bytes"), static_cast<long long>(fs::file_size(P("own/Media1.iso"))));
}

// Planned for ISO images, where room for the catalogue is kept by default (and only then), every
// image (or archive, when asked) carries the report page marking
// its own medium and the text list of every file of the set with its medium, and still fits.
TEST_F(QvCliPackTest, CatalogueOnEveryMediumListsTheSetAndStillFits) {
    for (int i = 0; i < 24; ++i) Write("set/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin", Pattern(90000 + 7 * i));
    Write("set/<script>alert(1)</script>", "hostile");
    const Contents disk = WithoutFolders(ReadTree(P("set")));
    const auto reserveOf = [&](const std::vector<std::string>& options, const std::string& out) {
        std::vector<std::string> args{"split", "--json", "--size", "1", "--out", S(out), S("set")};
        args.insert(args.begin() + 4, options.begin(), options.end());
        const qvtest::ProcessResult split = Run(args);
        EXPECT_EQ(0, split.status) << split.err;
        const std::string record = ReadText(P(out + "/qvsplit-plan.xml"));
        const size_t at = record.find("CatalogReserve=\"");
        const long long reserve = at == std::string::npos ? 0LL : std::atoll(record.c_str() + at + 16);
        EXPECT_EQ(reserve, JsonNumber(split.out, "catalog_room_bytes")) << split.out;
        return reserve;
    };
    EXPECT_EQ(0, reserveOf({"--fs", "iso", "--no-catalog"}, "plain"));
    EXPECT_EQ(std::string::npos, Run({"verify", "--json", "--fs", "iso", S("plain")}).out.find("catalog_room"));
    EXPECT_EQ(0, reserveOf({"--fs", "tar", "--no-catalog"}, "tar-plan"));
    // A tar archive carries no catalogue files unless asked, but its checksum list always.
    const long long sumsOnly = reserveOf({"--fs", "tar"}, "tar-sums");
    EXPECT_GT(sumsOnly, 0);
    EXPECT_GT(reserveOf({"--fs", "tar", "--catalog"}, "tar-room"), sumsOnly);
    // Planned folder by folder too: the lists name the files below each folder kept whole.
    for (const char* method : {"files", "dirs"}) {
        SCOPED_TRACE(method);
        const std::string plan = std::string("plan-") + method;
        const long long reserve = reserveOf({"--fs", "iso", "--method", method}, plan);
        ASSERT_GT(reserve, 0);
        // verify holds each image to its medium with the room kept, as pack fills it.
        const qvtest::ProcessResult verify = Run({"verify", "--json", "--fs", "iso", S(plan)});
        EXPECT_EQ(0, verify.status) << verify.out << verify.err;
        EXPECT_EQ(reserve, JsonNumber(verify.out, "catalog_room_bytes")) << verify.out;
        struct Row {
            const char* format;
            std::vector<std::string> options;
            bool catalog;
        };
        const Row rows[] = {
            {"iso", {}, true},
            {"iso", {"--no-catalog"}, false},
            {"tar", {"--catalog"}, true},
            {"tar", {}, false},
        };
        for (const Row& row : rows) {
            const std::string to = plan + "-" + row.format + (row.options.empty() ? "" : row.options[0]);
            SCOPED_TRACE(to);
            std::vector<std::string> args{"pack", "--quiet", "--format", row.format, "--to", S(to), S(plan)};
            args.insert(args.end(), row.options.begin(), row.options.end());
            const qvtest::ProcessResult pack = Run(args);
            ASSERT_EQ(0, pack.status) << pack.err;
            EXPECT_TRUE(pack.err.empty()) << pack.err;
            std::map<std::string, std::string> listed;  // path -> "medium\tbytes" from every medium's list
            Contents all;
            const std::vector<std::string> files = FilesIn(to);
            ASSERT_GE(files.size(), 3u);  // two media at least, and the record of the pack
            for (const std::string& file : files) {
                if (file[0] == '.') continue;
                SCOPED_TRACE(file);
                EXPECT_LE(fs::file_size(P(to + "/" + file)), MB);
                Contents medium = ReadMedium(P(to + "/" + file));
                const std::string number = file.substr(5, file.find('.') - 5);
                ASSERT_EQ(row.catalog ? 1u : 0u, medium.count("QVSPLIT-CATALOG.txt.gz")) << Listing(medium);
                // Every medium carries its checksum list and its notes, counted in the room when
                // room is kept.
                const std::string sums = medium["QVSPLIT-SHA256SUMS"] + medium["QVSPLIT-MEDIUM.txt"];
                EXPECT_NE(std::string::npos, sums.find("  QVSPLIT-MEDIUM.txt\n")) << Listing(medium);
                medium.erase("QVSPLIT-SHA256SUMS");
                medium.erase("QVSPLIT-MEDIUM.txt");
                if (!row.catalog) {
                    all.insert(medium.begin(), medium.end());
                    continue;
                }
                const std::string page = medium["QVSPLIT-CATALOG.html"], packed = medium["QVSPLIT-CATALOG.txt.gz"];
                const std::string text = Gunzip(packed);
                // Room for what the list and the page's data take compressed, not much more: whole
                // sectors, their entries and the margin. The checksums of the medium's own files
                // are counted with their entries.
                const long long taken = static_cast<long long>(page.size() + packed.size() + sums.size());
                EXPECT_LE(reserve, taken + taken / 16 + 32768);
                EXPECT_NE(std::string::npos, page.find("id=\"qvsplit-here\">" + number + "<")) << page.substr(0, 600);
                EXPECT_NE(std::string::npos, page.find("id=\"qvsplit-data-gz\">H4sI")) << page.substr(0, 600);
                EXPECT_EQ(std::string::npos, page.find("<script>alert"));
                // The set's label, by default QV and the plan's date and time, names the set.
                const std::string head = text.substr(0, text.find('\n') + 1);
                EXPECT_EQ(0u, head.find("# QvSplit catalogue: medium<TAB>bytes<TAB>written<TAB>path; set QV2")) << head;
                EXPECT_NE(std::string::npos, head.find("; this is medium " + number + ", the SHA-256 of its files follow the list\n"))
                    << head;
                std::istringstream lines(text.substr(text.find('\n') + 1));
                size_t withChecksum = 0;
                std::map<std::string, std::string> numberOf;  // path -> its medium's number
                for (std::string line; std::getline(lines, line);) {
                    if (line[0] == '#') continue;
                    const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1), tab3 = line.find('\t', tab2 + 1);
                    // The files of this medium have their checksums after the list, the ones its
                    // checksum list gives them.
                    if (line.compare(0, 7, "sha256\t") == 0) {
                        ASSERT_EQ(std::string::npos, tab3) << line;
                        const std::string hex = line.substr(tab1 + 1, tab2 - tab1 - 1), path = line.substr(tab2 + 1);
                        ++withChecksum;
                        EXPECT_EQ(number, numberOf[path]) << line;
                        const std::string inside = "set/" + fs::u8path(path).lexically_relative(P("set")).generic_u8string();
                        EXPECT_NE(std::string::npos, sums.find(hex + "  " + inside + "\n")) << line;
                        EXPECT_NE(std::string::npos, page.find("\"" + hex + "\"")) << line;
                        continue;
                    }
                    ASSERT_NE(std::string::npos, tab3) << line;
                    const std::string path = line.substr(tab3 + 1);
                    numberOf[path] = line.substr(0, tab1);
                    const std::string seen = line.substr(0, tab2);
                    // A file of the media files has its write time; one below a folder kept whole has none.
                    const std::string written = line.substr(tab2 + 1, tab3 - tab2 - 1);
                    EXPECT_TRUE(written.size() == 14 || (written == "-" && std::string(method) == "dirs")) << line;
                    // Every medium lists the same set.
                    if (listed.count(path)) {
                        EXPECT_EQ(listed[path], seen) << path;
                    }
                    listed[path] = seen;
                }
                EXPECT_GT(withChecksum, 0u);
                medium.erase("QVSPLIT-CATALOG.html");
                medium.erase("QVSPLIT-CATALOG.txt.gz");
                // Each file it lists under this medium's number is on it, with the size listed.
                for (const auto& kv : listed)
                    if (kv.second.substr(0, kv.second.find('\t')) == number) {
                        const std::string inside = "set/" + fs::u8path(kv.first).lexically_relative(P("set")).generic_u8string();
                        ASSERT_TRUE(medium.count(inside)) << inside << Listing(medium);
                        EXPECT_EQ(kv.second.substr(kv.second.find('\t') + 1), std::to_string(medium[inside].size()));
                    }
                all.insert(medium.begin(), medium.end());
            }
            EXPECT_EQ(disk.size(), WithoutFolders(all).size()) << Listing(WithoutFolders(all));
            if (row.catalog) {
                EXPECT_EQ(disk.size(), listed.size());
                for (const auto& kv : disk) EXPECT_TRUE(listed.count(S(kv.first))) << kv.first;
                // A disc's catalogue is a set a later split can follow: nothing changed since the
                // file by file plan; the plan of folders kept whole has no write times to follow.
                Write(to + ".txt.gz", ReadMedium(P(to + "/Media1." + row.format))["QVSPLIT-CATALOG.txt.gz"]);
                const qvtest::ProcessResult since =
                    Run({"split", "--size", "1", "--since", S(to + ".txt.gz"), "--out", S(to + "-since"), S("set")});
                if (std::string(method) == "files") {
                    EXPECT_EQ(0, since.status) << since.err;
                    EXPECT_NE(std::string::npos, since.out.find("nothing changed since")) << since.out;
                } else {
                    EXPECT_EQ(1, since.status) << since.out;
                    EXPECT_NE(std::string::npos, since.err.find("folders kept whole")) << since.err;
                }
            }
        }
    }
}

// The text catalogue is read with grep and cat: each name in it is shown visibly, one line a
// file, and a split that follows the catalogue reads every name back to the file it names,
// bytes that are not UTF-8 included. check and restore show the names they speak of the same way.
TEST_F(QvCliPackTest, CatalogueShowsEveryNameVisiblyAndASplitFollowsItBackToTheName) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows allows no control character in a name";
#endif
    const std::vector<qvtest::ShownName>& names = qvtest::ShownNames();
    for (const qvtest::ShownName& n : names) Write("tree/" + n.name, "x");
    const qvtest::ProcessResult split =
        Run({"split", "--quiet", "--fs", "tar", "--catalog", "--size", "10", "--out", S("plan"), S("tree")});
    ASSERT_EQ(0, split.status) << split.err;
    const qvtest::ProcessResult pack = Run({"pack", "--format", "tar", "--catalog", "--to", S("media"), S("plan")});
    ASSERT_EQ(0, pack.status) << pack.err;
    const std::string text = Gunzip(ReadMedium(P("media/Media1.tar"))["QVSPLIT-CATALOG.txt.gz"]);
    EXPECT_EQ("", qvtest::FirstHiddenCharacter(text));
    // The header, a line a file, and after the list a line with each file's checksum.
    EXPECT_EQ(2 * names.size() + 2, static_cast<size_t>(std::count(text.begin(), text.end(), '\n'))) << text;
    for (const qvtest::ShownName& n : names) {
        SCOPED_TRACE(n.label);
        const std::string line = "\t" + S("tree") + "/" + n.shown + "\n";
        const size_t row = text.find(line), sum = text.find(line, row + 1);
        EXPECT_NE(std::string::npos, row) << text;
        EXPECT_NE(std::string::npos, sum) << text;
        // The second is the file's checksum line: "sha256", a tab and 64 hex digits before it.
        ASSERT_GE(sum, 71u);
        EXPECT_EQ(0, text.compare(sum - 71, 7, "sha256\t")) << text;
    }

    // Followed from the disc alone: every name is the file it was, and a file changed since is
    // found changed under its name, not new.
    Write("catalogue.txt", text);
    const qvtest::ProcessResult same = Run({"split", "--size", "10", "--since", S("catalogue.txt"), "--out", S("after"), S("tree")});
    EXPECT_EQ(0, same.status) << same.err;
    EXPECT_NE(std::string::npos, same.out.find("nothing changed since")) << same.out;
    const qvtest::ShownName& rlo = names[9];
    Write("tree/" + rlo.name, "changed");
    const qvtest::ProcessResult changed =
        Run({"split", "--json", "--size", "10", "--since", S("catalogue.txt"), "--out", S("after2"), S("tree")});
    EXPECT_EQ(0, changed.status) << changed.err;
    EXPECT_NE(std::string::npos, changed.out.find("\"new\": 0, \"changed\": 1, \"unchanged\": " + std::to_string(names.size() - 1)))
        << changed.out;

    // A set that follows the plan records a hostile name deleted: its notes show it, and restoring
    // the chain in order reads it back to the file to remove.
    const qvtest::ShownName& ctl = names[0];
    fs::remove(P("tree") / fs::u8path(ctl.name));
    const qvtest::ProcessResult week =
        Run({"split", "--quiet", "--fs", "tar", "--catalog", "--size", "10", "--since", S("plan"), "--out", S("week"), S("tree")});
    ASSERT_EQ(0, week.status) << week.err;
    ASSERT_EQ(0, Run({"pack", "--quiet", "--format", "tar", "--catalog", "--to", S("week-media"), S("week")}).status);
    Contents weekMedium = ReadMedium(P("week-media/Media1.tar"));
    EXPECT_NE(std::string::npos, weekMedium["QVSPLIT-MEDIUM.txt"].find("\\deleted tree/" + ctl.shown + "\n"))
        << weekMedium["QVSPLIT-MEDIUM.txt"];
    const std::string weekText = Gunzip(weekMedium["QVSPLIT-CATALOG.txt.gz"]);
    EXPECT_NE(std::string::npos, weekText.find("deleted\t-\t-\t" + S("tree") + "/" + ctl.shown + "\n")) << weekText;
    EXPECT_EQ("", qvtest::FirstHiddenCharacter(weekMedium["QVSPLIT-MEDIUM.txt"]));
    ASSERT_EQ(0, Run({"restore", "--quiet", "--to", S("chain"), S("media/Media1.tar")}).status);
    ASSERT_TRUE(fs::exists(P("chain/tree") / fs::u8path(ctl.name)));
    const qvtest::ProcessResult later = Run({"restore", "--to", S("chain"), S("week-media/Media1.tar")});
    EXPECT_EQ(0, later.status) << later.out << later.err;
    EXPECT_FALSE(fs::exists(P("chain/tree") / fs::u8path(ctl.name)));
    EXPECT_EQ("changed", ReadText(P("chain/tree") / fs::u8path(rlo.name)));

    // restore over a different file of a hostile name names it as shown, and check is clean.
    Write("back/tree/" + rlo.name, "mine");
    const qvtest::ProcessResult restore = Run({"restore", "--quiet", "--to", S("back"), S("media/Media1.tar")});
    EXPECT_EQ(1, restore.status);
    EXPECT_NE(std::string::npos, restore.out.find("differs      tree/" + rlo.shown + " (")) << restore.out;
    for (const qvtest::ShownName& n : names)
        if (&n != &rlo) {
            EXPECT_EQ("x", ReadText(P("back/tree") / fs::u8path(n.name))) << n.label;
        }
    const qvtest::ProcessResult check = Run({"check", S("media/Media1.tar")});
    EXPECT_EQ(0, check.status) << check.out;
    for (const qvtest::ProcessResult* r : {&split, &pack, &same, &changed, &later, &restore, &check}) {
        EXPECT_EQ("", qvtest::FirstHiddenCharacter(r->out, false));
        EXPECT_EQ("", qvtest::FirstHiddenCharacter(r->err, false));
    }
}

// A character shown wider than its bytes (a C1 control or one that reorders text, six bytes for
// two or three) is counted so in the room kept for the catalogue and with each file's entry: a
// plan of many such names still holds its catalogue, within the archive the plan predicted.
TEST_F(QvCliPackTest, RoomForTheCatalogueCountsNamesAtTheWidthTheyAreShown) {
#if defined(_WIN32)
    GTEST_SKIP() << "names of C1 controls are POSIX names";
#endif
    struct Row {
        const char* label;
        std::string character;
    };
    const Row rows[] = {
        {"right-to-left override", "\xE2\x80\xAE"},
        {"C1 control", "\xC2\x9B"},
        {"Arabic letter mark", "\xD8\x9C"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string tree = std::string("tree-") + row.label, plan = std::string("plan-") + row.label;
        std::string wide;
        while (wide.size() + row.character.size() <= 240) wide += row.character;
        for (int i = 0; i < 400; ++i) Write(tree + "/" + std::to_string(i) + wide, "x");
        const qvtest::ProcessResult split =
            Run({"split", "--quiet", "--fs", "tar", "--catalog", "--size", "10", "--out", S(plan), S(tree)});
        ASSERT_EQ(0, split.status) << split.err;
        const std::string record = ReadText(P(plan + "/qvsplit-plan.xml"));
        const size_t at = record.find("CatalogReserve=\"");
        ASSERT_NE(std::string::npos, at);
        const long long reserve = std::atoll(record.c_str() + at + 16);
        const qvtest::ProcessResult pack = Run({"pack", "--quiet", "--format", "tar", "--catalog", "--to", S(plan + "-media"), S(plan)});
        ASSERT_EQ(0, pack.status) << pack.err;
        Contents medium = ReadMedium(P(plan + "-media/Media1.tar"));
        EXPECT_EQ(1u, medium.count("QVSPLIT-CATALOG.txt.gz"));
        EXPECT_GT(reserve, 0);
        const std::string xml = ReadText(P(plan + "/Media1.xml"));
        const size_t predicted = xml.find("Image_Size=\"");
        ASSERT_NE(std::string::npos, predicted);
        EXPECT_LE(static_cast<long long>(fs::file_size(P(plan + "-media/Media1.tar"))), std::atoll(xml.c_str() + predicted + 12));
    }
}

// A plan made without room for the catalogue: by default an image that cannot take it is made
// without it, said so; asked for with --catalog, it is refused with what to do instead.
TEST_F(QvCliPackSmallTest, PlanWithoutRoomForTheCatalogueSaysWhatToDo) {
    PlanSmall();
    const long long exact = MeasuredBytes("iso");
    ASSERT_GT(exact, 0);
    const std::string capacity = std::to_string(exact);
    const qvtest::ProcessResult fits = Run({"pack", "--quiet", "--format", "iso", "--capacity-bytes", capacity, "--to", S("default"), S("plan")});
    ASSERT_EQ(0, fits.status) << fits.err;
    EXPECT_NE(std::string::npos, fits.err.find("Media1.xml: no room for the catalogue files")) << fits.err;
    EXPECT_EQ(0u, ReadMedium(P("default/Media1.iso")).count("QVSPLIT-CATALOG.txt.gz"));
    const qvtest::ProcessResult asked = Run({"pack", "--catalog", "--format", "iso", "--capacity-bytes", capacity, "--to", S("asked"), S("plan")});
    EXPECT_EQ(1, asked.status);
    EXPECT_NE(std::string::npos, asked.err.find("the plan kept no room: pack with --no-catalog, or split again with --catalog")) << asked.err;
    EXPECT_FALSE(fs::exists(P("asked/Media1.iso")));
    // With room to spare the catalogue goes on without a word.
    const qvtest::ProcessResult roomy = Run({"pack", "--quiet", "--format", "iso", "--to", S("roomy"), S("plan")});
    ASSERT_EQ(0, roomy.status);
    EXPECT_TRUE(roomy.err.empty()) << roomy.err;
    EXPECT_EQ(1u, ReadMedium(P("roomy/Media1.iso")).count("QVSPLIT-CATALOG.txt.gz"));
}

// The room kept for the catalogue files never costs a file that fits without it: kept by default,
// it gives way to the plan without it, said so; asked for, it stays and the user is told.
TEST_F(QvCliPackSmallTest, RoomForTheCatalogueNeverCostsAFileThatFitsWithoutIt) {
    // The file grown to leave 20,000 bytes of its medium free: less than the catalogue takes.
    const auto nearlyFull = [&](const std::string& tree, const std::string& file, size_t start) {
        Write(tree + "/" + file, std::string(start, 'x'));
        const qvtest::ProcessResult probe = Run({"split", "--quiet", "--json", "--no-catalog", "--fs", "iso", "--size", "1",
                                                 "--out", S("probe-" + tree), S(tree)});
        const long long image = JsonNumber(probe.out, "image_size");
        ASSERT_GT(image, 0) << probe.out << probe.err;
        const long long grow = (1048576 - 20000 - image) / 2048 * 2048;
        ASSERT_GT(grow, 0);
        Write(tree + "/" + file, std::string(start + static_cast<size_t>(grow), 'x'));
    };
    Write("one/small.txt", "s");
    nearlyFull("one", "big.bin", 300000);
    Write("two/c.txt", "c");
    Write("two/first/a.bin", std::string(300000, 'a'));
    nearlyFull("two", "first/b.bin", 100000);
    struct Row {
        const char* name;
        std::vector<std::string> options;
        const char* tree;
        int status;
        bool room;             // the plan kept room for the catalogue
        bool leftOut;          // big.bin is left out
        const char* said;      // on standard error ("" for nothing)
    };
    const Row rows[] = {
        {"default", {}, "one", 0, false, false, "with it 1 more entry would be left out"},
        {"asked", {"--catalog"}, "one", 0, true, true, "1 more entry left out than without it (--no-catalog)"},
        {"none", {"--no-catalog"}, "one", 0, false, false, ""},
        // Kept whole, the folder no longer fits beside the room and gives way to its files.
        {"default, dirs", {"--method", "dirs"}, "one", 0, false, false, "with it 1 more entry would be left out"},
        {"asked, dirs", {"--catalog", "--method", "dirs"}, "one", 0, true, true, "1 more entry left out than without it"},
        {"first, default", {"--first", "FIRST"}, "two", 0, false, false, "with it the selection would not fit its media"},
        {"first, asked", {"--catalog", "--first", "FIRST"}, "two", 1, false, false, "--no-catalog keeps none"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = std::string("plan ") + row.name;
        std::vector<std::string> args{"split", "--quiet", "--fs", "iso", "--size", "1", "--out", S(out)};
        for (const std::string& option : row.options) args.push_back(option == "FIRST" ? S("two/first") : option);
        args.push_back(S(row.tree));
        const qvtest::ProcessResult split = Run(args);
        EXPECT_EQ(row.status, split.status) << split.err;
        if (*row.said) {
            EXPECT_NE(std::string::npos, split.err.find(row.said)) << split.err;
        } else {
            EXPECT_TRUE(split.err.empty()) << split.err;
        }
        if (row.status) continue;
        EXPECT_EQ(row.room, ReadText(P(out + "/qvsplit-plan.xml")).find("CatalogReserve=\"0\"") == std::string::npos);
        EXPECT_EQ(row.leftOut, split.out.find("LEFT OUT") != std::string::npos) << split.out;
        const qvtest::ProcessResult verify = Run({"verify", "--fs", "iso", S(out)});
        EXPECT_EQ(0, verify.status) << verify.out << verify.err;
    }
}

// A file gone or changed since the plan stops the medium, named: the medium made would not
// be the one planned (a grown file could overfill it, a folder in its place hold anything).
TEST_F(QvCliPackSmallTest, MissingOrChangedFileFailsNamingItAndLeavesNoOutput) {
    const struct {
        const char* label;
        const char* why;
    } rows[] = {{"missing", "missing"}, {"grown", "changed since the plan"}, {"folder", "now a folder"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        PlanSmall();
        const std::string label = row.label;
        if (label == "missing") {
            fs::remove(P("small/f3.txt"));
        } else if (label == "grown") {
            std::ofstream(P("small/f3.txt"), std::ios::app) << "more";
        } else {
            fs::remove(P("small/f3.txt"));
            fs::create_directory(P("small/f3.txt"));
        }
        for (const char* format : {"iso", "tar", "list"}) {
            SCOPED_TRACE(format);
            const std::string to = std::string("out-") + row.label + "-" + format;
            const qvtest::ProcessResult pack = Run({"pack", "--quiet", "--format", format, "--to", S(to), S("plan")});
            EXPECT_EQ(1, pack.status) << pack.err;
            EXPECT_NE(std::string::npos, pack.err.find(S("small/f3.txt"))) << pack.err;
            EXPECT_NE(std::string::npos, pack.err.find(row.why)) << pack.err;
            EXPECT_TRUE(FilesIn(to).empty());
        }
    }
}

TEST_F(QvCliPackSmallTest, FileThatCannotBeReadFailsNamingIt) {
    PlanSmall();
    if (geteuid() == 0) {
        // Root reads every file: the program runs as nobody, for whom only f2.txt is closed.
        m_runAs = 65534;
        fs::permissions(m_root, fs::perms::all);
        for (const char* dir : {"scratch", "tmp", "small", "plan"}) fs::permissions(P(dir), fs::perms::all);
        for (const std::string& name : FilesIn("small")) fs::permissions(P("small/" + name), fs::perms::all);
    }
    fs::permissions(P("small/f2.txt"), fs::perms::none);
    for (const char* format : {"iso", "tar", "list"}) {
        SCOPED_TRACE(format);
        const qvtest::ProcessResult pack = Run({"pack", "--quiet", "--format", format, "--to", S("out"), S("plan")});
        EXPECT_EQ(1, pack.status) << pack.err;
        EXPECT_NE(std::string::npos, pack.err.find(S("small/f2.txt") + ": cannot be read")) << pack.err;
        EXPECT_TRUE(FilesIn("out").empty());
    }
    fs::permissions(P("small/f2.txt"), fs::perms::owner_all);
}

// A mounted disc as a folder: every entry of an image or archive written out.
void WriteMedium(const Contents& contents, const fs::path& folder) {
    for (const auto& kv : contents) {
        const fs::path path = folder / fs::u8path(kv.first);
        fs::create_directories(kv.second == "/" ? path : path.parent_path());
        if (kv.second == "/") continue;
        if (kv.second.compare(0, 3, "-> ") == 0) {
            fs::create_symlink(kv.second.substr(3), path);
            continue;
        }
        std::ofstream(path, std::ios::binary) << kv.second;
    }
}

// What check finds on a disc, read as a mounted folder, after one thing was done to it.
TEST_F(QvCliPackSmallTest, CheckNamesEachFileThatIsNotAsItsListSays) {
    PlanSmall();
    ASSERT_EQ(0, Run({"pack", "--quiet", "--format", "tar", "--to", S("out"), S("plan")}).status);
    const Contents medium = ReadMedium(P("out/Media1.tar"));
    const bool root = geteuid() == 0;
    struct Row {
        const char* label;
        std::function<void(const fs::path&)> change;
        const char* found;  // the JSON finding (empty: every file good)
    };
    const Row rows[] = {
        {"as made", [](const fs::path&) {}, ""},
        {"a byte more", [](const fs::path& d) { std::ofstream(d / "small/f1.txt", std::ios::app) << "x"; },
         "{\"state\": \"changed\", \"path\": \"small/f1.txt\"}"},
        {"a file gone", [](const fs::path& d) { fs::remove(d / "small/f2.txt"); },
         "{\"state\": \"missing\", \"path\": \"small/f2.txt\"}"},
        {"a file added", [](const fs::path& d) { std::ofstream(d / "small/new.txt") << "new"; },
         "{\"state\": \"unexpected\", \"path\": \"small/new.txt\"}"},
        {"a file that cannot be read", [](const fs::path& d) { fs::permissions(d / "small/f3.txt", fs::perms::none); },
         "{\"state\": \"unreadable\", \"path\": \"small/f3.txt\", \"detail\": \"at byte 0: cannot be opened"},
        {"a list spoilt", [](const fs::path& d) { std::ofstream(d / "QVSPLIT-SHA256SUMS", std::ios::app) << "not a line\n"; },
         "\"error\": \"QVSPLIT-SHA256SUMS: line 7 is not a checksum line\""},
        {"no list", [](const fs::path& d) { fs::remove(d / "QVSPLIT-SHA256SUMS"); }, "\"error\": \"no checksum list"},
    };
    if (root) {
        // Root reads every file: the program runs as nobody.
        m_runAs = 65534;
        fs::permissions(m_root, fs::perms::all);
        for (const char* dir : {"scratch", "tmp"}) fs::permissions(P(dir), fs::perms::all);
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const fs::path disc = P(std::string("disc-") + row.label);
        WriteMedium(medium, disc);
        if (root)
            for (const auto& e : fs::recursive_directory_iterator(disc)) fs::permissions(e.path(), fs::perms::all);
        fs::permissions(disc, fs::perms::all);
        row.change(disc);
        const qvtest::ProcessResult check = Run({"check", "--json", "--quiet", disc.string()});
        const bool good = std::string(row.found).empty();
        EXPECT_EQ(good ? 0 : 1, check.status) << check.out << check.err;
        const std::string expected = good ? "\"good\": 6, \"error\": null, \"findings\": []" : row.found;
        EXPECT_NE(std::string::npos, check.out.find(expected)) << check.out;
    }
}

// What restore does with what is in the destination already: the same file is kept, a
// different one left as it is unless --overwrite, and a link on the way is never written through.
TEST_F(QvCliPackSmallTest, RestoreKeepsWhatIsThereUnlessToldAndNeverWritesThroughALink) {
    PlanSmall();
    ASSERT_EQ(0, Run({"pack", "--quiet", "--format", "iso", "--to", S("out"), S("plan")}).status);
    const std::string original = Pattern(100000);
    struct Row {
        const char* label;
        std::function<void(const std::string&)> before;  // given the destination
        std::vector<std::string> options;
        int status;
        const char* said;
        std::string f0;  // small/f0.txt afterwards ("" when not a file)
    };
    const Row rows[] = {
        {"empty", [](const std::string&) {}, {}, 0, "restored 5 entries", original},
        {"the same file there", [&](const std::string& to) { Write(to + "/small/f0.txt", original); }, {}, 0,
         "(1 already there)", original},
        {"a different file there", [&](const std::string& to) { Write(to + "/small/f0.txt", "mine"); }, {}, 1,
         "differs      small/f0.txt", "mine"},
        {"a different file, --overwrite", [&](const std::string& to) { Write(to + "/small/f0.txt", "mine"); },
         {"--overwrite"}, 0, "restored 5 entries", original},
        {"a link on the way", [&](const std::string& to) {
             fs::create_directories(P(to));
             fs::create_directories(P("elsewhere"));
             fs::create_symlink(P("elsewhere"), P(to + "/small"));
         },
         {"--overwrite"}, 1, "is a link: nothing is written through it", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string rel = std::string("to-") + row.label;
        const fs::path to = P(rel);
        row.before(rel);
        std::vector<std::string> args{"restore", "--quiet", "--to", to.string()};
        args.insert(args.end(), row.options.begin(), row.options.end());
        args.push_back(S("out/Media1.iso"));
        const qvtest::ProcessResult restore = Run(args);
        EXPECT_EQ(row.status, restore.status) << restore.out << restore.err;
        EXPECT_NE(std::string::npos, restore.out.find(row.said)) << restore.out;
        if (!row.f0.empty()) {
            EXPECT_EQ(row.f0, ReadText(to / "small/f0.txt"));
        }
        EXPECT_FALSE(fs::exists(to / ".qvsplit-restore"));
    }
    EXPECT_TRUE(FilesIn("elsewhere").empty());
}

// Every name of a hard-linked file is planned, whether the names fit one medium together (an
// image holds the data once) or not: counted shared, a set that fit one medium only by sharing
// lost the names the medium's fit tests then refused.
TEST_F(QvCliPackTest, EveryNameOfAHardLinkedFileIsPlanned) {
    Write("tree/linked", Pattern(400000));
    fs::create_hard_link(P("tree/linked"), P("tree/linked2"));
    fs::create_hard_link(P("tree/linked"), P("tree/linked3"));
    Write("tree/a.txt", "a");
    for (const char* size : {"1", "2", "700"}) {
        SCOPED_TRACE(size);
        const std::string plan = std::string("plan-") + size;
        const qvtest::ProcessResult split =
            Run({"split", "--quiet", "--json", "--size", size, "--fs", "iso", "--no-catalog", "--out", S(plan), S("tree")});
        ASSERT_EQ(0, split.status) << split.err;
        std::string media;
        for (const std::string& name : FilesIn(plan))
            if (name.compare(0, 5, "Media") == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0)
                media += ReadText(P(plan + "/" + name));
        for (const char* name : {"linked]]>", "linked2]]>", "linked3]]>", "a.txt]]>"})
            EXPECT_NE(std::string::npos, media.find(std::string("<Name><![CDATA[") + name)) << name;
        EXPECT_EQ(std::string::npos, split.out.find("left_out\": [{")) << split.out;
        // The size of a medium holding two names of the file counts its data once, as its image.
        if (std::string(size) == "700") {
            EXPECT_EQ(400001, JsonNumber(split.out, "data_size")) << split.out;
            EXPECT_EQ(1200001, JsonNumber(split.out, "size")) << split.out;
        }
    }
}

// The Image_Size the plan predicts for a medium (-1 when it has none).
long long PredictedBytes(const fs::path& medium) {
    const std::string xml = ReadText(medium);
    const size_t at = xml.find("Image_Size=\"");
    return at == std::string::npos ? -1 : std::atoll(xml.c_str() + at + 12);
}

// Tar keeps every name a plan holds, byte for byte: each tree is planned with --fs tar on 1 MB
// media (files and folders kept whole), packed, and unpacked with GNU tar, which must give the
// tree back; no archive is larger than its medium or its prediction.
TEST_F(QvCliPackTest, TarArchivesGiveEveryNameBackThroughGnuTar) {
    const char* gnuTar = fs::exists("/usr/bin/tar") ? "/usr/bin/tar" : "/bin/tar";
    if (!fs::exists(gnuTar)) GTEST_SKIP() << "GNU tar is not installed";
    std::string deep = "tree/deep";
    for (int i = 0; i < 30; ++i) deep += "/abcdefghi";  // a path of over 300 bytes
    const struct {
        const char* label;
        std::vector<std::pair<std::string, std::string>> files;  // path, content ("-> t" a link to t)
    } rows[] = {
        {"control characters", {{"tree/ctl\x01\x1f\x7fname.txt", "c"}, {"tree/tab\tname", "t"}}},
        {"255-byte names", {{"tree/" + std::string(251, 'n') + ".txt", "n"}, {"tree/" + std::string(255, 'd') + "/f", "d"}}},
        {"paths past the header's name and prefix", {{"tree/" + std::string(60, 'p') + "/" + std::string(60, 'q'), "100"},
                                                     {deep + "/f.txt", "260"}}},
        {"names that are not UTF-8", {{"tree/latin1-\xe9.txt", "l"}, {"tree/dir-\xff/a", "x"}}},
        {"links", {{"tree/a.txt", "a"}, {"tree/short", "-> a.txt"}, {"tree/long", "-> " + std::string(150, 't')},
                   {"tree/utf8", "-> h\xc3\xa9llo"}}},
        {"an empty folder", {{"tree/a.txt", "a"}, {"tree/empty/", ""}}},
    };
    int n = 0;
    for (const auto& row : rows) {
        for (const char* method : {"files", "dirs"}) {
            SCOPED_TRACE(std::string(row.label) + ", " + method);
            const std::string top = "case" + std::to_string(n++);
            for (const auto& file : row.files) {
                const fs::path path = P(top + "/" + file.first);
                if (file.first.back() == '/') {
                    fs::create_directories(path);
                } else if (file.second.compare(0, 3, "-> ") == 0) {
                    fs::create_directories(path.parent_path());
                    fs::create_symlink(file.second.substr(3), path);
                } else {
                    Write(top + "/" + file.first, file.second);
                }
            }
            const qvtest::ProcessResult split = Run({"split", "--quiet", "--yes", "--method", method, "--fs", "tar", "--size",
                                                     "1", "--out", S(top + "/plan"), S(top + "/tree")});
            ASSERT_EQ(0, split.status) << split.err;
            const qvtest::ProcessResult pack =
                Run({"pack", "--quiet", "--format", "tar", "--to", S(top + "/out"), S(top + "/plan")});
            ASSERT_EQ(0, pack.status) << pack.err;
            fs::create_directories(P(top + "/back"));
            for (const auto& e : fs::directory_iterator(P(top + "/out"))) {
                if (e.path().extension() != ".tar") continue;
                const long long predicted = PredictedBytes(P(top + "/plan") / e.path().filename().replace_extension(".xml"));
                EXPECT_LE(static_cast<long long>(fs::file_size(e.path())), predicted) << e.path();
                EXPECT_LE(fs::file_size(e.path()), MB) << e.path();
                const qvtest::ProcessResult untar = qvtest::ChildProcess(gnuTar, {"-xf", qvtest::PathText(e.path()), "-C", S(top + "/back")},
                                                                         qvtest::ProcessSetup{m_root / "scratch", {}, {}, -1})
                                                        .Wait(std::chrono::seconds(60));
                EXPECT_EQ(0, untar.status) << untar.err;
            }
            // Files restore only the folders above them; a folder kept whole is restored even when empty.
            const Contents disk = ReadTree(P(top + "/tree"));
            const Contents back = ReadTree(P(top + "/back/tree"));
            if (std::string(method) == "dirs")
                EXPECT_TRUE(disk == back) << "on the disk:" << Listing(disk) << "\nfrom the archives:" << Listing(back);
            else
                EXPECT_TRUE(WithoutFolders(disk) == WithoutFolders(back)) << "on the disk:" << Listing(disk)
                                                                           << "\nfrom the archives:" << Listing(back);
        }
    }
}

// A file of 8 GiB or more does not fit the header's size field: its size goes into an extended
// header, which the plan counts. Measured without writing the archive (the file is a hole).
TEST_F(QvCliPackTest, TarPlanCountsTheExtendedHeaderOfAFileOfEightGibibytes) {
    std::vector<long long> plannedOverhead, archiveOverhead;  // bytes beside the file's own
    for (const long long size : {7LL << 30, 9LL << 30}) {
        SCOPED_TRACE(size);
        const std::string top = "big" + std::to_string(size >> 30);
        Write(top + "/tree/huge.bin", "");
        fs::resize_file(P(top + "/tree/huge.bin"), static_cast<uintmax_t>(size));
        const qvtest::ProcessResult split = Run({"split", "--quiet", "--yes", "--no-catalog", "--fs", "tar", "--size",
                                                 "10000", "--out", S(top + "/plan"), S(top + "/tree")});
        ASSERT_EQ(0, split.status) << split.err;
        const qvtest::ProcessResult verify = Run({"verify", "--json", "--fs", "tar", S(top + "/plan")});
        ASSERT_EQ(0, verify.status) << verify.out << verify.err;
        const long long measured = JsonNumber(verify.out, "bytes");
        const long long predicted = PredictedBytes(P(top + "/plan/Media1.xml"));
        // Header, data and end blocks at least; the prediction never below, and at most a block
        // or two above.
        EXPECT_GE(measured, size + 1536);
        EXPECT_LE(measured, predicted);
        EXPECT_LE(predicted - measured, 1024);
        plannedOverhead.push_back(predicted - size);
        archiveOverhead.push_back(measured - size);
    }
    // What the larger file adds to the archive, the plan adds too.
    ASSERT_EQ(2u, archiveOverhead.size());
    EXPECT_GT(archiveOverhead[1], archiveOverhead[0]);
    EXPECT_GE(plannedOverhead[1] - plannedOverhead[0], archiveOverhead[1] - archiveOverhead[0]);
}

// Entries that a medium cannot hold side by side, as a plan of two files of one name, or of a
// file and a folder of that name, makes them: the image is refused, naming the path.
TEST_F(QvCliPackTest, EntriesMeetingAtOnePathOfTheMediumAreRefused) {
    Write("one/x", "one");
    Write("two/x", "two");
    Write("three/x/inner.txt", "inner");
    const struct {
        const char* label;
        const char* method;
        std::vector<std::string> paths;
        const char* message;
    } rows[] = {
        {"two files", "files", {"one/x", "two/x"}, "x: two entries of the plan at the same path"},
        {"a file where a folder goes", "dirs", {"one/x", "three/x"}, "x: a file and a folder of the same path"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string plan = std::string("plan-") + row.method;
        std::vector<std::string> split{"split", "--quiet", "--fs", "none", "--method", row.method, "--size", "10", "--out", S(plan)};
        for (const std::string& path : row.paths) split.push_back(S(path));
        const qvtest::ProcessResult planned = Run(split);
        ASSERT_EQ(0, planned.status) << planned.err;
        const std::string to = std::string("out-") + row.method;
        const qvtest::ProcessResult pack = Run({"pack", "--quiet", "--format", "iso", "--to", S(to), S(plan)});
        EXPECT_EQ(1, pack.status) << pack.err;
        EXPECT_NE(std::string::npos, pack.err.find(row.message)) << pack.err;
        EXPECT_TRUE(FilesIn(to).empty());
    }
}

#endif  // QVSPLIT_TEST_PACK

// What pack, verify and report cannot take is refused with what is wrong, and nothing is
// written.
TEST_F(QvCliPackTest, SetsThatCannotBePackedAreRefused) {
    Write("empty/readme.txt", "no media here");
    Write("stopped/Media1.xml", "<Factory/>");
    Write("stopped/qvsplit-incomplete", "");
    Write("plan/Media1.xml", "<Factory><Media><Info Split_Size=\"10\"/></Media></Factory>");
    Write("stale/Media2.tar", "of a set of two");
    Write("stale/Media3.list", "of a set of three");
    Write("stale/notes.txt", "mine");
    struct Row {
        const char* label;
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Row rows[] = {
        {"no --format", {"pack", "--to", S("out"), S("plan")}, 2, "--format is required"},
        {"unknown format", {"pack", "--format", "zip", "--to", S("out"), S("plan")}, 2, "--format takes one of iso, tar, list"},
        {"no --to", {"pack", "--format", "list", S("plan")}, 2, "--to is required"},
        {"no folder", {"pack", "--format", "list", "--to", S("out")}, 2, "one media folder"},
        {"bad capacity", {"pack", "--format", "list", "--capacity-bytes", "0", "--to", S("out"), S("plan")}, 2, "--capacity-bytes"},
        {"bad --fs", {"verify", "--fs", "ext4", S("plan")}, 2, "--fs takes iso, iso-udf, tar or none"},
        {"no media files", {"pack", "--format", "list", "--to", S("out"), S("empty")}, 1, "no media files found"},
        {"incomplete set", {"pack", "--format", "list", "--to", S("out"), S("stopped")}, 1, "incomplete"},
        {"no such medium", {"pack", "--format", "list", "--medium", "4", "--to", S("out"), S("plan")}, 1, "no medium 4"},
        {"catalogue in a path list", {"pack", "--format", "list", "--catalog", "--to", S("out"), S("plan")}, 2, "--catalog goes with --format iso or tar"},
        {"media files of another set", {"pack", "--format", "list", "--to", S("stale"), S("plan")}, 1,
         "holds media files of another set (Media2.tar, Media3.list); nothing was written"},
        {"report of a missing folder", {"report", S("nowhere")}, 1, "no such folder"},
        {"report of a folder without media files", {"report", S("empty")}, 1, "no media files"},
        {"report of a split that did not finish", {"report", S("stopped")}, 1, "incomplete"},
        {"report --out naming a folder", {"report", "--out", S("empty"), S("plan")}, 2, "is a folder"},
        {"report --out in a missing folder", {"report", "--out", S("gone/page.html"), S("plan")}, 1, "cannot be written"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const qvtest::ProcessResult r = Run(row.args);
        EXPECT_EQ(row.status, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(row.message)) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_FALSE(fs::exists(P("out")));
    for (const char* folder : {"empty", "stopped", "plan"}) EXPECT_FALSE(fs::exists(P(std::string(folder) + "/qvsplit-report.html"))) << folder;
    EXPECT_FALSE(fs::exists(P("gone")));
    EXPECT_FALSE(fs::exists(P("stale/Media1.list")));
    // Told to, pack removes them (and only them) and writes its own.
    const qvtest::ProcessResult forced = Run({"pack", "--quiet", "--format", "list", "--force", "--to", S("stale"), S("plan")});
    EXPECT_EQ(0, forced.status) << forced.err;
    EXPECT_TRUE(fs::exists(P("stale/Media1.list")));
    EXPECT_FALSE(fs::exists(P("stale/Media2.tar")));
    EXPECT_FALSE(fs::exists(P("stale/Media3.list")));
    EXPECT_TRUE(fs::exists(P("stale/notes.txt")));
    // The help of both commands tells of the options that decide what fits.
    for (const char* command : {"pack", "verify"}) {
        SCOPED_TRACE(command);
        const qvtest::ProcessResult help = Run({command, "--help"});
        EXPECT_EQ(0, help.status);
        EXPECT_NE(std::string::npos, help.out.find("--capacity-bytes N")) << help.out;
    }
}

// Packed medium by medium, a set's files stay its own; a file left from another set, even one
// numbered within this set, is refused by name when this pack would not replace it.
TEST_F(QvCliPackTest, FilesOfAnotherSetAreRefusedThoughNumberedWithinThisOne) {
    for (const char* set : {"a", "b"})
        for (int i = 0; i < 2; ++i) Write(std::string("tree-") + set + "/f" + std::to_string(i), Pattern(700000 + i));
    for (const char* set : {"a", "b"}) {
        const qvtest::ProcessResult split = Run({"split", "--quiet", "--size", "1", "--out", S(std::string("plan-") + set),
                                                 S(std::string("tree-") + set)});
        ASSERT_EQ(0, split.status) << split.err;
    }
    struct Step {
        const char* plan;
        const char* medium;  // "" for all
        int status;
        const char* refused;  // the files named, or "" when it packs
    };
    const Step steps[] = {
        {"plan-a", "1", 0, ""},
        {"plan-a", "2", 0, ""},            // medium 1 was packed for this set
        {"plan-b", "1", 1, "(Media2.list)"},  // Media2.list is of set a
        {"plan-b", "", 0, ""},             // both replaced
        {"plan-b", "2", 0, ""},
        {"plan-a", "2", 1, "(Media1.list)"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.plan) + " medium " + step.medium);
        std::vector<std::string> args = {"pack", "--quiet", "--format", "list", "--to", S("out"), S(step.plan)};
        if (*step.medium) args.insert(args.begin() + 1, {"--medium", step.medium});
        const qvtest::ProcessResult pack = Run(args);
        EXPECT_EQ(step.status, pack.status) << pack.err;
        if (*step.refused) {
            EXPECT_NE(std::string::npos, pack.err.find(std::string("holds media files of another set ") + step.refused)) << pack.err;
        }
        // Every list in the folder names the files of the set packed last.
        const std::string listed = ReadText(P("out/Media1.list")) + ReadText(P("out/Media2.list"));
        if (step.status == 0) {
            EXPECT_EQ(std::string::npos, listed.find(step.plan[5] == 'a' ? "tree-b" : "tree-a")) << listed;
        }
    }
}

#if !defined(QVSPLIT_TEST_PACK)
TEST_F(QvCliPackTest, MediaAreReadBackWhereTheBuildMakesThem) {
    GTEST_SKIP() << "this build has no libisofs and libarchive: it makes no ISO images or tar archives to read back";
}

// A build without libisofs and libarchive (the Windows one) says so instead of making media.
TEST_F(QvCliPackTest, BuildWithoutTheLibrariesSaysItCannotMakeMedia) {
    Write("plan/Media1.xml", "<Factory><Media><Info Split_Size=\"10\"/></Media></Factory>");
    for (const char* format : {"iso", "tar"}) {
        SCOPED_TRACE(format);
        const qvtest::ProcessResult r = Run({"pack", "--format", format, "--to", S("out"), S("plan")});
        EXPECT_EQ(1, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("this build of qvsplit cannot make")) << r.err;
    }
    EXPECT_FALSE(fs::exists(P("out")));
}
#endif

}  // namespace
