/* A caller of the C interface written in C (built as C99 with -pedantic): splits a small tree
 * with rules in memory and reads back every kind of result; then a refusal, a cancel, an
 * item-list split, the presets and the argument checks; rules of each kind, cutting and
 * recovery, and two handles side by side, all with paths of the host (POSIX paths on POSIX).
 * Prints each failed check and exits nonzero when any failed.
 * Usage: capi_test [BASE_DIR]   (a folder is made below BASE_DIR, default ".", and removed) */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif

#include "QvSplitC.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#if defined(_WIN32)
#include <direct.h>
#include <process.h>
#define MAKE_DIR(p) _mkdir(p)
#define REMOVE_DIR(p) _rmdir(p)
#define PROCESS_ID() _getpid()
#define SEP "\\"
#else
#include <sys/stat.h>
#include <unistd.h>
#define MAKE_DIR(p) mkdir(p, 0755)
#define REMOVE_DIR(p) rmdir(p)
#define PROCESS_ID() getpid()
#define SEP "/"
#endif

#define MB 1048576L

/* The file larger than a medium. On POSIX its name is not UTF-8: the path the library reports
 * must still be its bytes. */
#if defined(_WIN32)
#define BIG "big.bin"
#else
#define BIG "big\xff.bin"
#endif

static int failures = 0;

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            fprintf(stderr, "capi_test:%d: failed: %s\n", __LINE__, #cond); \
            ++failures;                                               \
        }                                                             \
    } while (0)

#define PATH_SIZE 1200
static char work[512];

/* The path of rel inside the work folder, in buf (PATH_SIZE bytes). */
static const char* at(const char* rel, char* buf) {
    snprintf(buf, PATH_SIZE, "%s%s%s", work, SEP, rel);
    return buf;
}

static void write_file(const char* rel, long bytes) {
    char path[PATH_SIZE];
    FILE* f = fopen(at(rel, path), "wb");
    long i;
    if (!f) {
        fprintf(stderr, "capi_test: cannot write %s\n", path);
        exit(2);
    }
    for (i = 0; i < bytes; ++i) fputc('x', f);
    fclose(f);
}

static int exists(const char* rel) {
    char path[PATH_SIZE];
    FILE* f = fopen(at(rel, path), "rb");
    if (!f) return 0;
    fclose(f);
    return 1;
}

/* The size of a file in the work folder, -1 when it cannot be opened. */
static long file_size(const char* rel) {
    char path[PATH_SIZE];
    long n = 0;
    FILE* f = fopen(at(rel, path), "rb");
    if (!f) return -1;
    while (fgetc(f) != EOF) ++n;
    fclose(f);
    return n;
}

/* Whether a file of the work folder holds text. */
static int file_contains(const char* rel, const char* text) {
    static char content[65536];
    char path[PATH_SIZE];
    size_t n;
    FILE* f = fopen(at(rel, path), "rb");
    if (!f) return 0;
    n = fread(content, 1, sizeof content - 1, f);
    fclose(f);
    content[n] = 0;
    return strstr(content, text) != NULL;
}

/* Whether one of the handle's errors holds text. */
static int error_holds(const qvs_split* s, const char* text) {
    uint32_t count = 0, i;
    const char* e = NULL;
    if (qvs_error_count(s, &count) != QVS_OK) return 0;
    for (i = 0; i < count; ++i)
        if (qvs_get_error(s, i, &e) == QVS_OK && strstr(e, text) != NULL) return 1;
    return 0;
}

static int ends_with(const char* text, const char* end) {
    const size_t n = strlen(text), k = strlen(end);
    return n >= k && strcmp(text + n - k, end) == 0;
}

static const char* const files[] = {"data" SEP "a.bin", "data" SEP "sub" SEP "b.bin", "data" SEP BIG,
                                    "rules" SEP "keep" SEP "a.bin", "rules" SEP "keep" SEP "skip" SEP "b.bin",
                                    "rules" SEP "mail" SEP "x.pst", "rules" SEP "mail" SEP "y.txt",
                                    "cut" SEP "big.bin", "cut" SEP "small.bin", "other" SEP "big2.bin",
                                    "other" SEP "small.bin", "parts.ini"};
static const long sizes[] = {300000, 600000, 3 * MB, 1000, 2000, 4000, 8000, 3 * MB + 1000, 1000, 3 * MB, 1000, -1};
static const char* const dirs[] = {"data", "data" SEP "sub", "rules", "rules" SEP "keep", "rules" SEP "keep" SEP "skip",
                                   "rules" SEP "mail", "cut", "other", "out", "refused", "items", "cancel", "wide",
                                   "rulesout", "cutout", "otherout", "since1", "since2", "since3"};
#define FIRST_OUTPUT_DIR 8 /* dirs from this one on receive what splits write */

static void make_tree(void) {
    char path[PATH_SIZE];
    size_t i;
    if (MAKE_DIR(work) != 0) {
        fprintf(stderr, "capi_test: cannot make %s\n", work);
        exit(2);
    }
    for (i = 0; i < sizeof dirs / sizeof dirs[0]; ++i) MAKE_DIR(at(dirs[i], path));
    for (i = 0; i < sizeof files / sizeof files[0]; ++i)
        if (sizes[i] >= 0) write_file(files[i], sizes[i]);
}

/* Removes the tree: the files it made, what the splits wrote, then the folders. */
static void remove_tree(void) {
    static const char* const written[] = {"Media1.xml", "Media2.xml", "Media3.xml", "Rules.xml",
                                          "media1.xml", "media2.xml", "Last.xml", "Deleted.xml"};
    char path[PATH_SIZE], rel[200];
    size_t i, k;
    for (i = 0; i < sizeof files / sizeof files[0]; ++i) remove(at(files[i], path));
    for (k = FIRST_OUTPUT_DIR; k < sizeof dirs / sizeof dirs[0]; ++k)
        for (i = 0; i < sizeof written / sizeof written[0]; ++i) {
            snprintf(rel, sizeof rel, "%s%s%s", dirs[k], SEP, written[i]);
            remove(at(rel, path));
        }
    for (k = sizeof dirs / sizeof dirs[0]; k-- > 0;) REMOVE_DIR(at(dirs[k], path));
    REMOVE_DIR(work);
}

static qvs_options options(const char* out_rel, uint32_t size_mb, char* buf) {
    qvs_options o;
    memset(&o, 0, sizeof o);
    o.struct_size = sizeof o;
    o.split_size_mb = size_mb;
    o.method = QVS_METHOD_FILES;
    o.volume_id = "VOL1";
    o.label = "Backup";
    o.output_dir = at(out_rel, buf);
    return o;
}

static qvs_rule rule(const char* path, const char* target, int32_t location, int32_t id) {
    qvs_rule r;
    memset(&r, 0, sizeof r);
    r.source_path = path;
    r.target_path = target;
    r.location = location;
    r.include = 1;
    r.rule_id = id;
    return r;
}

static int QVS_CALL count_progress(uint32_t code, uint32_t value, void* user) {
    (void)code;
    (void)value;
    ++*(uint32_t*)user;
    return 0;
}

static int QVS_CALL stop_at_once(uint32_t code, uint32_t value, void* user) {
    (void)code;
    (void)value;
    (void)user;
    return 1;
}

static void split_with_rules(void) {
    qvs_split* s = NULL;
    char out[PATH_SIZE], data[PATH_SIZE], missing[PATH_SIZE];
    qvs_rule rules[2];
    qvs_options o = options("out", 1, out);
    uint32_t media = 0, count = 0, i, calls = 0;
    int64_t planned = 0, sum = 0;
    qvs_medium m;
    qvs_left_out left;
    qvs_dropped_rule dropped;
    qvs_refusal refusal;

    rules[0] = rule(at("data", data), "\\data", QVS_ANY, 1);
    rules[1] = rule(at("missing", missing), NULL, QVS_ANY, 2);
    CHECK(qvs_create(&s) == QVS_OK && s != NULL);
    CHECK(qvs_set_progress(s, count_progress, &calls) == QVS_OK);
    CHECK(qvs_run(s, &media) == QVS_E_STATE); /* nothing set up yet */
    CHECK(qvs_setup_rules(s, rules, 2, sizeof(qvs_rule), &o) == QVS_OK);
    CHECK(qvs_dropped_rule_count(s, &count) == QVS_OK && count == 1);
    memset(&dropped, 0, sizeof dropped);
    dropped.struct_size = sizeof dropped;
    CHECK(qvs_get_dropped_rule(s, 0, &dropped) == QVS_OK);
    CHECK(dropped.rule_id == 2 && dropped.reason == QVS_RULE_NOT_FOUND);
    CHECK(dropped.path != NULL && strcmp(dropped.path, missing) == 0);
    CHECK(qvs_get_dropped_rule(s, 1, &dropped) == QVS_E_RANGE);

    CHECK(qvs_run(s, &media) == QVS_OK);
    CHECK(media == 1);
    CHECK(calls > 0);
    CHECK(qvs_media_count(s, &count) == QVS_OK && count == media);
    for (i = 0; i < count; ++i) {
        char rel[100];
        memset(&m, 0, sizeof m);
        m.struct_size = sizeof m;
        CHECK(qvs_get_medium(s, i, &m) == QVS_OK);
        CHECK(m.number == i + 1 && m.entries == 2 && m.files == 2 && m.image_bytes == -1);
        CHECK(m.file_bytes <= MB);
        sum += m.file_bytes;
        snprintf(rel, sizeof rel, "out%s%s", SEP, m.file_name);
        CHECK(exists(rel));
    }
    CHECK(qvs_get_medium(s, count, &m) == QVS_E_RANGE);
    CHECK(qvs_planned_bytes(s, &planned) == QVS_OK && planned == 900000 && sum == 900000);
    /* The big file is left out, with its size and reason. */
    CHECK(qvs_left_out_count(s, &count) == QVS_OK && count == 1);
    memset(&left, 0, sizeof left);
    left.struct_size = sizeof left;
    CHECK(qvs_get_left_out(s, 0, &left) == QVS_OK);
    CHECK(left.reason == QVS_LEFT_OUT_TOO_BIG && left.size == 3 * MB);
    /* A path of the host, as the rule named the folder, with the name's bytes. */
    CHECK(left.path != NULL && ends_with(left.path, "data" SEP BIG));
    CHECK(left.reason_text != NULL && strcmp(left.reason_text, "larger than a medium") == 0);
    memset(&refusal, 0, sizeof refusal);
    refusal.struct_size = sizeof refusal;
    CHECK(qvs_get_refusal(s, &refusal) == QVS_E_RANGE);
    /* A split empties the rules: the next one needs its own setup. */
    CHECK(qvs_run(s, &media) == QVS_E_STATE);
    qvs_free(s);
}

static void refusal_and_cancel(void) {
    qvs_split* s = NULL;
    char out[PATH_SIZE], big[PATH_SIZE], data[PATH_SIZE];
    qvs_rule r = rule(at("data" SEP BIG, big), "", QVS_FIRST, 7);
    qvs_options o = options("refused", 1, out);
    qvs_refusal refusal;
    uint32_t media = 99, count = 0;
    const char* text = NULL;

    CHECK(qvs_create(&s) == QVS_OK);
    CHECK(qvs_setup_rules(s, &r, 1, sizeof r, &o) == QVS_OK);
    CHECK(qvs_run(s, &media) == QVS_E_REFUSED && media == 0);
    memset(&refusal, 0, sizeof refusal);
    refusal.struct_size = sizeof refusal;
    CHECK(qvs_get_refusal(s, &refusal) == QVS_OK);
    CHECK(refusal.code == QVS_REFUSED_ALL_LEFT_OUT);
    CHECK(refusal.message != NULL && strstr(refusal.message, "left out") != NULL);
    CHECK(qvs_error_count(s, &count) == QVS_OK && count >= 1);
    CHECK(qvs_get_error(s, 0, &text) == QVS_OK && text != NULL);

    /* The progress function stops the split. */
    o = options("cancel", 1, out);
    r = rule(at("data", data), "", QVS_ANY, 1);
    CHECK(qvs_set_progress(s, stop_at_once, NULL) == QVS_OK);
    CHECK(qvs_setup_rules(s, &r, 1, sizeof r, &o) == QVS_OK);
    CHECK(qvs_run(s, &media) == QVS_E_CANCELLED);
    CHECK(!exists("cancel" SEP "Media1.xml"));
    qvs_free(s);
}

static void items_presets_and_arguments(void) {
    qvs_split* s = NULL;
    char out[PATH_SIZE], a[PATH_SIZE], b[PATH_SIZE];
    qvs_rule items[2];
    qvs_options o = options("items", 1, out);
    qvs_options small;
    qvs_medium m;
    qvs_model model;
    uint32_t media = 0, mb = 0;
    uint64_t capacity = 0;
    int64_t total = 0;
    const char* text = NULL;
    qvs_split* other = NULL;
    qvs_rule none;
    char missing[PATH_SIZE];

    items[0] = rule(at("data" SEP "a.bin", a), "", QVS_ANY, 1);
    items[1] = rule(at("data" SEP "sub" SEP "b.bin", b), "", QVS_ANY, 2);
    CHECK(qvs_create(&s) == QVS_OK);
    CHECK(qvs_split_items(s, items, 2, sizeof(qvs_rule), &o, 1, &media) == QVS_OK && media == 1);
    CHECK(qvs_items_total(s, &total) == QVS_OK && total == 900000);
    memset(&m, 0, sizeof m);
    m.struct_size = sizeof m;
    CHECK(qvs_get_medium(s, 0, &m) == QVS_OK && strcmp(m.file_name, "media1.xml") == 0);
    CHECK(exists("items" SEP "media1.xml"));
    CHECK(qvs_entry_count(s, 0, &mb) == QVS_OK && mb == 2);

    /* Presets. */
    CHECK(qvs_disc_size("cd", &mb, &capacity) == QVS_OK && mb == 703 && capacity == 737280000u);
    CHECK(qvs_disc_size("floppy", &mb, NULL) == QVS_E_ARGUMENT);
    memset(&model, 0, sizeof model);
    model.struct_size = sizeof model;
    CHECK(qvs_get_model_preset("iso", &model) == QVS_OK && model.block == 2048);
    CHECK(qvs_get_model_preset("ntfs", &model) == QVS_E_ARGUMENT);
    /* "none" is a preset as qvs_set_model_preset takes it: file bytes only. */
    CHECK(qvs_get_model_preset("none", &model) == QVS_OK && model.block == 0 && model.per_entry == 0);
    CHECK(qvs_set_model_preset(s, "tar") == QVS_OK);
    CHECK(qvs_set_model_preset(s, "none") == QVS_OK);
    CHECK(qvs_set_model(s, &model) == QVS_OK);
    CHECK(qvs_set_model(s, NULL) == QVS_OK);

    /* Argument checks: nothing runs. */
    small = o;
    small.struct_size = sizeof small - 1;
    CHECK(qvs_setup_rules(s, items, 2, sizeof(qvs_rule), &small) == QVS_E_ARGUMENT);
    CHECK(qvs_setup_rules(s, items, 2, sizeof(qvs_rule) - 1, &o) == QVS_E_ARGUMENT);
    CHECK(qvs_setup_file(NULL, "rules.xml", &o) == QVS_E_ARGUMENT);
    m.struct_size = 4;
    CHECK(qvs_get_medium(s, 0, &m) == QVS_E_ARGUMENT);
    CHECK(qvs_set_cutting(s, 1, 0, NULL) == QVS_E_ARGUMENT);
    CHECK(qvs_recover(s, '1', "parts.ini") == QVS_E_ARGUMENT);
    /* Another handle's refused split leaves its errors in the library. This handle's recovery
     * reports its own error alone, and keeps what this handle's item-list split made. */
    CHECK(qvs_create(&other) == QVS_OK);
    none = rule(at("none", missing), "", QVS_ANY, 1);
    CHECK(qvs_setup_rules(other, &none, 1, sizeof none, &o) == QVS_OK);
    CHECK(qvs_run(other, &media) == QVS_E_REFUSED);
    qvs_free(other);
    CHECK(qvs_recover(s, 'C', at("no-parts.ini", out)) == QVS_E_FAILED);
    CHECK(qvs_get_error(s, 0, &text) == QVS_OK && strstr(text, "Split list not exist") != NULL);
    CHECK(qvs_get_error(s, 1, &text) == QVS_E_RANGE);
    CHECK(qvs_get_medium(s, 0, &m) == QVS_E_ARGUMENT); /* struct_size is still 4 */
    m.struct_size = sizeof m;
    CHECK(qvs_get_medium(s, 0, &m) == QVS_OK && strcmp(m.file_name, "media1.xml") == 0);
    CHECK(strcmp(qvs_status_text(QVS_E_REFUSED), "the split was refused") == 0);
    CHECK(strcmp(qvs_status_text(12345), "unknown status") == 0);
    CHECK((qvs_version() >> 16) == QVS_VERSION_MAJOR);
    qvs_free(s);
    qvs_free(NULL);
}

/* An ASCII text made wide, for the W functions. */
static const wchar_t* widen(const char* text, wchar_t* out) {
    size_t i;
    for (i = 0; text[i] && i + 1 < PATH_SIZE; ++i) out[i] = (wchar_t)(unsigned char)text[i];
    out[i] = 0;
    return out;
}

/* The wide twins: the same split, its medium, what it left out and an error, as wide strings. */
static void wide_strings(void) {
    qvs_split* s = NULL;
    char narrow[PATH_SIZE];
    wchar_t data[PATH_SIZE], out[PATH_SIZE], none[PATH_SIZE];
    qvs_ruleW r;
    qvs_optionsW o;
    qvs_mediumW m;
    qvs_left_outW left;
    qvs_refusalW refusal;
    const wchar_t* text = NULL;
    uint32_t media = 0;

    memset(&r, 0, sizeof r);
    r.source_path = widen(at("data", narrow), data);
    r.target_path = L"\\data";
    r.location = QVS_ANY;
    r.include = 1;
    r.rule_id = 1;
    memset(&o, 0, sizeof o);
    o.struct_size = sizeof o;
    o.split_size_mb = 1;
    o.output_dir = widen(at("wide", narrow), out);
    CHECK(qvs_create(&s) == QVS_OK);
    CHECK(qvs_setup_rulesW(s, &r, 1, sizeof r, &o) == QVS_OK);
    CHECK(qvs_run(s, &media) == QVS_OK && media == 1);
    memset(&m, 0, sizeof m);
    m.struct_size = sizeof m;
    CHECK(qvs_get_mediumW(s, 0, &m) == QVS_OK && wcscmp(m.file_name, L"Media1.xml") == 0);
    CHECK(exists("wide" SEP "Media1.xml"));
    memset(&left, 0, sizeof left);
    left.struct_size = sizeof left;
    CHECK(qvs_get_left_outW(s, 0, &left) == QVS_OK && wcsstr(left.path, L".bin") != NULL);
    CHECK(wcscmp(left.reason_text, L"larger than a medium") == 0);

    /* A rule whose path is not there selects nothing: the split is refused. */
    r.source_path = widen(at("data" SEP "none.bin", narrow), none);
    CHECK(qvs_setup_rulesW(s, &r, 1, sizeof r, &o) == QVS_OK);
    CHECK(qvs_run(s, &media) == QVS_E_REFUSED);
    memset(&refusal, 0, sizeof refusal);
    refusal.struct_size = sizeof refusal;
    CHECK(qvs_get_refusalW(s, &refusal) == QVS_OK && refusal.code == QVS_REFUSED_NOTHING_SELECTED);
    CHECK(refusal.message != NULL && wcsstr(refusal.message, L"holds no file") != NULL);
    CHECK(qvs_get_errorW(s, 0, &text) == QVS_OK && text != NULL);
    qvs_free(s);
}

/* Rules of each kind with paths of the host: each row plans what the same rules plan with
 * Windows paths. */
static void rules_of_each_kind(void) {
    static const struct {
        const char* label;
        const char* include;  /* under the work folder */
        const char* exclude;  /* under the work folder, or null */
        const char* target;
        int64_t planned;
        const char* restored; /* what the first media file restores a file under, or null */
    } rows[] = {
        {"exclude of a subfolder", "rules", "rules" SEP "keep" SEP "skip", NULL, 1000 + 4000 + 8000, NULL},
        {"wildcard name", "rules" SEP "mail" SEP "*.pst", NULL, NULL, 4000, NULL},
        {"wildcard and exclude", "rules" SEP "mail" SEP "*", "rules" SEP "mail" SEP "y.txt", NULL, 4000, NULL},
        {"target folder", "rules" SEP "keep", NULL, "\\Setup", 1000 + 2000, "[\\Setup\\keep\\skip]"},
    };
    size_t i;
    for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        qvs_split* s = NULL;
        char out[PATH_SIZE], inc[PATH_SIZE], exc[PATH_SIZE];
        qvs_rule r[2];
        qvs_options o = options("rulesout", 1, out);
        uint32_t media = 0, dropped = 99;
        int64_t planned = 0;
        size_t n = 1;
        int ok = 1;
        r[0] = rule(at(rows[i].include, inc), rows[i].target, QVS_ANY, 1);
        if (rows[i].exclude) {
            r[1] = rule(at(rows[i].exclude, exc), NULL, QVS_ANY, 2);
            r[1].include = 0;
            n = 2;
        }
        ok &= qvs_create(&s) == QVS_OK;
        ok &= qvs_setup_rules(s, r, n, sizeof r[0], &o) == QVS_OK;
        ok &= qvs_dropped_rule_count(s, &dropped) == QVS_OK && dropped == 0;
        ok &= qvs_run(s, &media) == QVS_OK && media == 1;
        ok &= qvs_planned_bytes(s, &planned) == QVS_OK && planned == rows[i].planned;
        if (rows[i].restored) ok &= file_contains("rulesout" SEP "Media1.xml", rows[i].restored);
        if (!ok) {
            fprintf(stderr, "capi_test: rules row \"%s\": planned %lld bytes (want %lld), %u rules dropped\n",
                    rows[i].label, (long long)planned, (long long)rows[i].planned, dropped);
            ++failures;
        }
        qvs_free(s);
    }
}

/* The entries of a medium, read through the handle: files, a folder kept whole (the folders
 * below the rule's folder are kept whole). */
static void entries_of_each_kind(void) {
    static const struct {
        const char* label;
        uint32_t method;
        uint32_t count;   /* entries of the medium */
        uint32_t index;   /* the entry checked */
        uint32_t kind;
        const char* source; /* under the work folder */
        const char* restored; /* the folder it is restored under */
        int64_t size;
    } rows[] = {
        {"files", QVS_METHOD_FILES, 2, 0, QVS_ENTRY_FILE, "rules" SEP "keep" SEP "a.bin", "\\Setup\\keep", 1000},
        {"files below", QVS_METHOD_FILES, 2, 1, QVS_ENTRY_FILE, "rules" SEP "keep" SEP "skip" SEP "b.bin",
         "\\Setup\\keep\\skip", 2000},
        {"folder kept whole", QVS_METHOD_FOLDERS, 2, 1, QVS_ENTRY_FOLDER, "rules" SEP "keep" SEP "skip",
         "\\Setup\\keep\\skip", 2000},
    };
    size_t i;
    for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        qvs_split* s = NULL;
        char out[PATH_SIZE], keep[PATH_SIZE], want[PATH_SIZE];
        qvs_rule r = rule(at("rules" SEP "keep", keep), "\\Setup", QVS_ANY, 1);
        qvs_options o = options("rulesout", 1, out);
        qvs_entry e;
        qvs_entryW w;
        uint32_t media = 0, count = 0;
        int ok = 1;
        o.method = rows[i].method;
        memset(&e, 0, sizeof e);
        e.struct_size = sizeof e;
        memset(&w, 0, sizeof w);
        w.struct_size = sizeof w;
        ok &= qvs_create(&s) == QVS_OK;
        ok &= qvs_setup_rules(s, &r, 1, sizeof r, &o) == QVS_OK && qvs_run(s, &media) == QVS_OK && media == 1;
        ok &= qvs_entry_count(s, 0, &count) == QVS_OK && count == rows[i].count;
        ok &= qvs_get_entry(s, 0, rows[i].index, &e) == QVS_OK && e.kind == rows[i].kind && e.part == 0 &&
              e.size == rows[i].size;
        ok &= e.source_path != NULL && strcmp(e.source_path, at(rows[i].source, want)) == 0;
        ok &= e.target_path != NULL && strcmp(e.target_path, rows[i].restored) == 0 && e.cut_file == NULL;
        ok &= e.write_time != NULL && strlen(e.write_time) == 14;
        ok &= qvs_get_entryW(s, 0, rows[i].index, &w) == QVS_OK && w.size == rows[i].size &&
              wcsstr(w.source_path, L"keep") != NULL;
        ok &= qvs_get_entry(s, 0, count, &e) == QVS_E_RANGE && qvs_entry_count(s, 1, &count) == QVS_E_RANGE;
        if (!ok) {
            fprintf(stderr, "capi_test: entries row \"%s\": first entry kind %u, %s under %s\n", rows[i].label,
                    e.kind, e.source_path ? e.source_path : "(null)", e.target_path ? e.target_path : "(null)");
            ++failures;
        }
        qvs_free(s);
    }
}

/* Unknown locations and methods are refused by the setup, with an error naming them. */
static void unknown_values(void) {
    static const struct {
        int32_t location;
        uint32_t method;
        const char* named; /* what the error names */
    } rows[] = {{0, QVS_METHOD_FILES, "location 0"},  {7, QVS_METHOD_FILES, "location 7"},
                {99, QVS_METHOD_FILES, "location 99"}, {-1, QVS_METHOD_FILES, "location -1"},
                {QVS_ANY, 7, "method 7"},              {QVS_ANY, 2, "method 2"}};
    qvs_split* s = NULL;
    char out[PATH_SIZE], data[PATH_SIZE];
    size_t i;
    uint32_t media = 0;
    CHECK(qvs_create(&s) == QVS_OK);
    for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        qvs_rule r = rule(at("data", data), NULL, rows[i].location, 1);
        qvs_options o = options("rulesout", 1, out);
        o.method = rows[i].method;
        if (qvs_setup_rules(s, &r, 1, sizeof r, &o) != QVS_E_ARGUMENT || !error_holds(s, rows[i].named)) {
            fprintf(stderr, "capi_test: setup with %s was not refused naming it\n", rows[i].named);
            ++failures;
        }
        if (rows[i].method == QVS_METHOD_FILES &&
            qvs_split_items(s, &r, 1, sizeof r, &o, 0, &media) != QVS_E_ARGUMENT) {
            fprintf(stderr, "capi_test: item-list split with %s was not refused\n", rows[i].named);
            ++failures;
        }
    }
    qvs_free(s);
}

/* Two handles: neither sees what the other's operations made, and cutting turned on through
 * one cuts that handle's files only. Cutting and recovery with paths of the host. */
static void two_handles_cut_and_recover(void) {
    qvs_split *a = NULL, *b = NULL;
    char out[PATH_SIZE], list[PATH_SIZE], cut[PATH_SIZE], other[PATH_SIZE], missing[PATH_SIZE];
    qvs_rule r;
    qvs_options o;
    qvs_refusal refusal;
    uint32_t media = 0, count = 99;
    const char* text = NULL;
    /* The part list keeps no drive letter; on POSIX a path of the host lies on drive C. */
    const char drive = work[1] == ':' ? work[0] : 'C';

    CHECK(qvs_create(&a) == QVS_OK && qvs_create(&b) == QVS_OK);
    /* b's refused split is not a's: a, never set up, reports its own state alone. */
    r = rule(at("missing", missing), NULL, QVS_ANY, 1);
    o = options("otherout", 2, out);
    CHECK(qvs_setup_rules(b, &r, 1, sizeof r, &o) == QVS_OK);
    CHECK(qvs_run(b, &media) == QVS_E_REFUSED);
    CHECK(qvs_run(a, &media) == QVS_E_STATE);
    memset(&refusal, 0, sizeof refusal);
    refusal.struct_size = sizeof refusal;
    CHECK(qvs_get_refusal(a, &refusal) == QVS_E_RANGE);
    CHECK(qvs_dropped_rule_count(a, &count) == QVS_OK && count == 0);
    CHECK(qvs_left_out_count(a, &count) == QVS_OK && count == 0);
    CHECK(qvs_error_count(a, &count) == QVS_OK && count == 1);
    CHECK(qvs_get_error(a, 0, &text) == QVS_OK && strstr(text, "set up") != NULL);
    CHECK(qvs_get_refusal(b, &refusal) == QVS_OK && refusal.code == QVS_REFUSED_NOTHING_SELECTED);

    /* a cuts its big file into parts of 1 MB. */
    CHECK(qvs_set_cutting(a, 1, 21, at("parts.ini", list)) == QVS_OK);
    r = rule(at("cut", cut), NULL, QVS_ANY, 1);
    o = options("cutout", 2, out);
    CHECK(qvs_setup_rules(a, &r, 1, sizeof r, &o) == QVS_OK);
    CHECK(qvs_run(a, &media) == QVS_OK);
    CHECK(qvs_cut_file_count(a, &count) == QVS_OK && count == 1);
    CHECK(qvs_get_cut_file(a, 0, &text) == QVS_OK && strcmp(text, at("cut" SEP "big.bin", cut)) == 0);
    CHECK(!exists("cut" SEP "big.bin"));
    /* Its media list the parts, each with the file it was cut from. */
    {
        uint32_t m, n, parts = 0;
        char bigPath[PATH_SIZE];
        at("cut" SEP "big.bin", bigPath);
        for (m = 0; m < media; ++m) {
            CHECK(qvs_entry_count(a, m, &count) == QVS_OK);
            for (n = 0; n < count; ++n) {
                qvs_entry e;
                memset(&e, 0, sizeof e);
                e.struct_size = sizeof e;
                CHECK(qvs_get_entry(a, m, n, &e) == QVS_OK && e.kind == QVS_ENTRY_FILE);
                if (e.part) {
                    char suffix[20];
                    snprintf(suffix, sizeof suffix, ".Part%u", (unsigned)e.part);
                    CHECK(e.cut_file != NULL && strcmp(e.cut_file, bigPath) == 0);
                    CHECK(ends_with(e.name, suffix) && ends_with(e.source_path, suffix));
                    CHECK(e.size == (e.part == 4 ? 1000 : MB));
                    parts |= 1u << e.part;
                } else {
                    CHECK(ends_with(e.source_path, SEP "small.bin") && e.cut_file == NULL);
                }
            }
        }
        CHECK(parts == 0x1Eu); /* the four parts, each once */
    }
    /* b never turned cutting on: its big file is left out, not cut. */
    r = rule(at("other", other), NULL, QVS_ANY, 1);
    o = options("otherout", 2, out);
    CHECK(qvs_setup_rules(b, &r, 1, sizeof r, &o) == QVS_OK);
    CHECK(qvs_run(b, &media) == QVS_OK);
    CHECK(qvs_cut_file_count(b, &count) == QVS_OK && count == 0);
    CHECK(qvs_left_out_count(b, &count) == QVS_OK && count == 1);
    CHECK(file_size("other" SEP "big2.bin") == 3 * MB);

    /* A part list that names parts on disk is never started over, by either handle. */
    CHECK(qvs_set_cutting(b, 1, 21, list) == QVS_E_FAILED);
    CHECK(error_holds(b, "join them first"));
    CHECK(qvs_set_cutting(a, 1, 21, list) == QVS_E_FAILED);
    CHECK(file_contains("parts.ini", "big.bin|"));
    CHECK(qvs_set_cutting(a, 0, 0, NULL) == QVS_OK);

    /* Recovery joins the file where it was; a second one finds no parts and says so. */
    CHECK(qvs_recover(b, drive, list) == QVS_OK);
    CHECK(file_size("cut" SEP "big.bin") == 3 * MB + 1000);
    CHECK(qvs_recover(b, drive, list) == QVS_E_FAILED);
    CHECK(error_holds(b, "big.bin"));
    CHECK(file_size("cut" SEP "big.bin") == 3 * MB + 1000);
    /* Its parts joined, the list may be started over. */
    CHECK(qvs_set_cutting(b, 1, 21, list) == QVS_OK);
    CHECK(qvs_set_cutting(b, 0, 0, NULL) == QVS_OK);
    qvs_free(a);
    qvs_free(b);
}

/* Splits that follow the set split_with_rules wrote into "out": nothing changed, then a file
 * added and one deleted, then the chain forgotten. */
static void sets_that_follow_sets(void) {
    qvs_split* s = NULL;
    char out[PATH_SIZE], data[PATH_SIZE], path[PATH_SIZE];
    qvs_rule rules[1];
    qvs_options o;
    qvs_changes changes;
    qvs_refusal refusal;
    uint32_t media = 9, count = 0;
    const char* deleted = NULL;

    rules[0] = rule(at("data", data), "\\data", QVS_ANY, 1);
    CHECK(qvs_create(&s) == QVS_OK);
    CHECK(qvs_add_since(s, at("items", path)) == QVS_E_ARGUMENT); /* no media files there */
    CHECK(error_holds(s, "no media files"));
    CHECK(qvs_add_since(s, at("out", path)) == QVS_OK);

    o = options("since1", 1, out);
    CHECK(qvs_setup_rules(s, rules, 1, sizeof(qvs_rule), &o) == QVS_OK);
    CHECK(qvs_run(s, &media) == QVS_OK && media == 0); /* nothing changed: no media, no failure */
    memset(&changes, 0, sizeof changes);
    changes.struct_size = sizeof changes;
    CHECK(qvs_get_changes(s, &changes) == QVS_OK);
    CHECK(changes.sets == 1 && changes.new_files == 0 && changes.changed == 0 && changes.unchanged == 2 &&
          changes.deleted == 0);
    memset(&refusal, 0, sizeof refusal);
    refusal.struct_size = sizeof refusal;
    CHECK(qvs_get_refusal(s, &refusal) == QVS_OK && refusal.code == QVS_REFUSED_NOTHING_CHANGED);
    CHECK(!exists("since1" SEP "Media1.xml"));

    write_file("data" SEP "c.bin", 1000);
    remove(at("data" SEP "sub" SEP "b.bin", path));
    o = options("since2", 1, out);
    CHECK(qvs_setup_rules(s, rules, 1, sizeof(qvs_rule), &o) == QVS_OK);
    CHECK(qvs_run(s, &media) == QVS_OK && media == 1);
    CHECK(qvs_get_changes(s, &changes) == QVS_OK);
    CHECK(changes.new_files == 1 && changes.unchanged == 1 && changes.deleted == 1);
    CHECK(file_contains("since2" SEP "Media1.xml", "c.bin") && !file_contains("since2" SEP "Media1.xml", "a.bin"));
    CHECK(qvs_deleted_count(s, &count) == QVS_OK && count == 1);
    CHECK(qvs_get_deleted(s, 0, &deleted) == QVS_OK && deleted != NULL && ends_with(deleted, "sub" SEP "b.bin"));
    CHECK(qvs_get_deleted(s, 1, &deleted) == QVS_E_RANGE);
    CHECK(file_contains("since2" SEP "Deleted.xml", "b.bin"));

    /* Without the chain the next split plans everything again. */
    CHECK(qvs_clear_since(s) == QVS_OK);
    o = options("since3", 1, out);
    CHECK(qvs_setup_rules(s, rules, 1, sizeof(qvs_rule), &o) == QVS_OK);
    CHECK(qvs_run(s, &media) == QVS_OK && media == 1);
    CHECK(qvs_get_changes(s, &changes) == QVS_OK && changes.sets == 0);
    CHECK(file_contains("since3" SEP "Media1.xml", "a.bin"));
    remove(at("data" SEP "c.bin", path));
    qvs_free(s);
}

int main(int argc, char** argv) {
    const char* base = argc > 1 ? argv[1] : ".";
    snprintf(work, sizeof work, "%s%scapi-work-%d", base, SEP, (int)PROCESS_ID());
    make_tree();
    split_with_rules();
    refusal_and_cancel();
    items_presets_and_arguments();
    wide_strings();
    rules_of_each_kind();
    entries_of_each_kind();
    unknown_values();
    two_handles_cut_and_recover();
    sets_that_follow_sets();
    remove_tree();
    if (failures) {
        fprintf(stderr, "capi_test: %d checks failed\n", failures);
        return 1;
    }
    printf("capi_test: every check passed\n");
    return 0;
}
