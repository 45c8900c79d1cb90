/* A caller of the C interface written in C (built as C99 with -pedantic): splits a small tree
 * with rules in memory and reads back every kind of result; then a refusal, a cancel, an
 * item-list split, the presets and the argument checks. Prints each failed check and exits
 * nonzero when any failed.
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

static int ends_with(const char* text, const char* end) {
    const size_t n = strlen(text), k = strlen(end);
    return n >= k && strcmp(text + n - k, end) == 0;
}

static const char* const files[] = {"data" SEP "a.bin", "data" SEP "sub" SEP "b.bin", "data" SEP BIG};
static const char* const dirs[] = {"data", "data" SEP "sub", "out", "refused", "items", "cancel", "wide"};

static void make_tree(void) {
    char path[PATH_SIZE];
    size_t i;
    if (MAKE_DIR(work) != 0) {
        fprintf(stderr, "capi_test: cannot make %s\n", work);
        exit(2);
    }
    for (i = 0; i < sizeof dirs / sizeof dirs[0]; ++i) MAKE_DIR(at(dirs[i], path));
    write_file(files[0], 300000);
    write_file(files[1], 600000);
    write_file(files[2], 3 * MB);
}

/* Removes the tree: the files it made, what the splits wrote, then the folders. */
static void remove_tree(void) {
    static const char* const written[] = {"Media1.xml", "Media2.xml", "Media3.xml", "Rules.xml",
                                          "media1.xml", "media2.xml", "Last.xml"};
    char path[PATH_SIZE], rel[200];
    size_t i, k;
    for (i = 0; i < sizeof files / sizeof files[0]; ++i) remove(at(files[i], path));
    for (k = 2; k < sizeof dirs / sizeof dirs[0]; ++k)
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
    /* The library's own path: a backslash behind the folder the rule named, the name's bytes. */
    CHECK(left.path != NULL && ends_with(left.path, "data\\" BIG));
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

    /* Presets. */
    CHECK(qvs_disc_size("cd", &mb, &capacity) == QVS_OK && mb == 703 && capacity == 737280000u);
    CHECK(qvs_disc_size("floppy", &mb, NULL) == QVS_E_ARGUMENT);
    memset(&model, 0, sizeof model);
    model.struct_size = sizeof model;
    CHECK(qvs_get_model_preset("iso", &model) == QVS_OK && model.block == 2048);
    CHECK(qvs_get_model_preset("ntfs", &model) == QVS_E_ARGUMENT);
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

int main(int argc, char** argv) {
    const char* base = argc > 1 ? argv[1] : ".";
    snprintf(work, sizeof work, "%s%scapi-work-%d", base, SEP, (int)PROCESS_ID());
    make_tree();
    split_with_rules();
    refusal_and_cancel();
    items_presets_and_arguments();
    wide_strings();
    remove_tree();
    if (failures) {
        fprintf(stderr, "capi_test: %d checks failed\n", failures);
        return 1;
    }
    printf("capi_test: every check passed\n");
    return 0;
}
