/* The C interface of the QvSplit library, for callers of any compiler or language.
 *
 * Plain C (C89 with <stdint.h>, C99, C++), exported from the same library as the C++
 * interface of QvSplit.h. A caller makes a split handle, sets it up from a rules file or from
 * rules in memory, runs the split and reads what it made through the handle.
 *
 * Strings are UTF-8 (on POSIX any bytes of a file name are passed through as they are). Each
 * function that takes or gives a path or text has a twin named with a W suffix that takes and
 * gives the library's wide strings (wchar_t: UTF-16 on Windows, UTF-32 elsewhere), as Windows
 * APIs do. A narrow text carries a name's raw bytes; the media files write a byte that is not
 * UTF-8 as the character U+F000 plus the byte, as the wide texts carry it.
 *
 * Paths are taken as the program qvsplit takes them, with the same plan:
 * - On Windows, a Windows path; a relative one is made absolute.
 * - On POSIX, a path of the host ("/home/me/data", or relative to the working folder), made
 *   absolute and handed to the library on drive C (whose root is "/"; when QVSPLIT_DRIVE_C names
 *   another folder, the first letter after C without one). A path that begins with a drive
 *   letter and a colon or with a backslash, or a relative one holding a backslash, is a Windows
 *   path and goes as it is (QVSPLIT_DRIVE_X gives the folder of drive X, "/" when unset).
 * A source path may end in a wildcard name (the last name "*.pst"): when no entry has that
 * name, '*' and '?' match. Paths given back are full paths of the same host: on Windows joined
 * with backslashes, on POSIX with '/' ("/home/me/data/photos/a.jpg").
 *
 * Every function but the few that return a text or a number returns a status: QVS_OK or one of
 * QVS_E_*, whose text qvs_status_text gives. Texts that a function hands out belong to the
 * handle: they stay valid until the next operation on it, and the caller frees nothing.
 *
 * One handle is not for two threads at once; operations of different handles may be called
 * from different threads and run one after the other.
 *
 * Structs that may grow carry their size in their first member (struct_size), set by the
 * caller to sizeof; an array of rules is passed with the size of one element.
 *
 * On 32-bit Windows every function uses the __cdecl calling convention (QVS_CALL), and so does
 * the progress function the caller passes.
 */
#ifndef QVSPLITC_H
#define QVSPLITC_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#if defined(_WIN32)
#define QVS_CALL __cdecl
#if defined(QVSPLIT_BUILDING)
#define QVS_API __declspec(dllexport)
#elif defined(QVSPLIT_STATIC)
#define QVS_API
#else
#define QVS_API __declspec(dllimport)
#endif
#else
#define QVS_CALL
#define QVS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header; qvs_version gives the library's. A library of the same major
 * version serves a caller built with an older minor version. */
#define QVS_VERSION_MAJOR 1
#define QVS_VERSION_MINOR 0
#define QVS_VERSION_PATCH 0
/* (major << 16) | (minor << 8) | patch of the library. */
QVS_API uint32_t QVS_CALL qvs_version(void);

/* Status codes. */
#define QVS_OK 0
#define QVS_E_ARGUMENT 1  /* a null handle or pointer, a struct_size too small, an unknown name */
#define QVS_E_MEMORY 2    /* out of memory */
#define QVS_E_STATE 3     /* a split run before a setup succeeded */
#define QVS_E_SETUP 4     /* the setup failed (rules file missing or unreadable, no rules):
                           * qvs_get_error gives why */
#define QVS_E_REFUSED 5   /* the split was refused: qvs_get_refusal says why */
#define QVS_E_FAILED 6    /* the split failed (reading or writing): qvs_get_error gives why */
#define QVS_E_CANCELLED 7 /* the progress function asked to stop */
#define QVS_E_RANGE 8     /* an index past the end, or nothing to report */
/* A short English text for a status; never null. */
QVS_API const char* QVS_CALL qvs_status_text(int status);

/* A split handle. */
typedef struct qvs_split qvs_split;
QVS_API int QVS_CALL qvs_create(qvs_split** split);
/* Frees the handle and every text it handed out; null is allowed. */
QVS_API void QVS_CALL qvs_free(qvs_split* split);

/* Progress. code: QVS_PROGRESS_BEGIN when writing begins, QVS_PROGRESS_STEP at each point
 * where the work may stop, QVS_PROGRESS_DONE at the end; value: the media saved so far, those
 * whose media files are in place under their names (it may lag behind the writing).
 * Returning nonzero asks the split to stop (it then returns QVS_E_CANCELLED). The function may
 * read the handle's results but must not start an operation of any handle nor free one. */
#define QVS_PROGRESS_BEGIN 0
#define QVS_PROGRESS_STEP 1
#define QVS_PROGRESS_DONE 2
typedef int(QVS_CALL* qvs_progress_fn)(uint32_t code, uint32_t value, void* user);
/* Sets the progress function of the handle's later setups (null: none). */
QVS_API int QVS_CALL qvs_set_progress(qvs_split* split, qvs_progress_fn progress, void* user);

/* Where a rule's entries must land. */
#define QVS_FIRST 1     /* only on the first medium */
#define QVS_LAST 2      /* only on the last medium */
#define QVS_ALL 3       /* on every medium */
#define QVS_ANY 4       /* on any one medium */
#define QVS_NOT_FIRST 5 /* on any medium but the first */
#define QVS_NOT_LAST 6  /* on any medium but the last */

/* One rule. source_path is a path as above ("C:\\Data\\Projects", "/home/me/projects"); it may
 * end in a wildcard name. target_path is the folder of the media its entries are restored under,
 * a Windows path from the media's root ("\\Setup"; null or empty: where they are). A setup
 * refuses a location other than QVS_FIRST ... QVS_NOT_LAST with QVS_E_ARGUMENT and an error
 * naming the rule and the value. */
typedef struct qvs_rule {
    const char* source_path;
    const char* target_path;
    int32_t location;     /* QVS_FIRST ... QVS_NOT_LAST */
    int32_t include;      /* nonzero: include; 0: exclude */
    int32_t all_together; /* nonzero: the entries stay on one medium (location QVS_ANY) */
    int32_t rule_id;      /* the rule's number, as the log and the report name it */
} qvs_rule;
typedef struct qvs_ruleW {
    const wchar_t* source_path;
    const wchar_t* target_path;
    int32_t location;
    int32_t include;
    int32_t all_together;
    int32_t rule_id;
} qvs_ruleW;

/* How a split is made. */
#define QVS_METHOD_FILES 0   /* every file on its own */
#define QVS_METHOD_FOLDERS 1 /* each folder kept whole where it fits */
typedef struct qvs_options {
    uint32_t struct_size;   /* sizeof(qvs_options) */
    uint32_t split_size_mb; /* megabytes per medium (qvs_disc_size gives those of discs) */
    uint32_t first_free_mb; /* megabytes kept free on the first medium */
    uint32_t method;        /* QVS_METHOD_FILES or QVS_METHOD_FOLDERS (another: QVS_E_ARGUMENT) */
    uint32_t type;          /* a number the media files carry as Type: "0x0000000" followed by
                             * its decimal digits (7 gives "0x00000007", 12 "0x000000012") */
    const char* volume_id;  /* the volume, named in the log; the media files do not carry it */
    const char* label;      /* the display label the media files carry (as DispFlag); null: none */
    const char* output_dir; /* where the media files are written; null: the library's default */
} qvs_options;
typedef struct qvs_optionsW {
    uint32_t struct_size; /* sizeof(qvs_optionsW) */
    uint32_t split_size_mb;
    uint32_t first_free_mb;
    uint32_t method;
    uint32_t type;
    const wchar_t* volume_id;
    const wchar_t* label;
    const wchar_t* output_dir;
} qvs_optionsW;

/* Sets a split up from a rules file (XML). */
QVS_API int QVS_CALL qvs_setup_file(qvs_split* split, const char* rules_file, const qvs_options* options);
QVS_API int QVS_CALL qvs_setup_fileW(qvs_split* split, const wchar_t* rules_file, const qvs_optionsW* options);
/* Sets a split up from rules in memory (written to "Rules.xml" in the output folder first).
 * rule_size: sizeof(qvs_rule) as the caller knows it. */
QVS_API int QVS_CALL qvs_setup_rules(qvs_split* split, const qvs_rule* rules, size_t count, size_t rule_size,
                                     const qvs_options* options);
QVS_API int QVS_CALL qvs_setup_rulesW(qvs_split* split, const qvs_ruleW* rules, size_t count, size_t rule_size,
                                      const qvs_optionsW* options);
/* Makes the split the handle set up last: writes one media file per medium. The library holds
 * the rules of one setup at a time: QVS_E_STATE when the handle's setup failed, was used by a
 * split already, or was replaced by another handle's setup since (the handle's results are then
 * that error alone). media_count may be null. */
QVS_API int QVS_CALL qvs_run(qvs_split* split, uint32_t* media_count);
/* The item-list split: spreads whole items (files or folders, location QVS_ANY or QVS_ALL) over
 * numbered item-list media files, written when save_media is nonzero. Only split_size_mb,
 * type, volume_id, label and output_dir of the options are used. */
QVS_API int QVS_CALL qvs_split_items(qvs_split* split, const qvs_rule* items, size_t count, size_t rule_size,
                                     const qvs_options* options, int save_media, uint32_t* media_count);
QVS_API int QVS_CALL qvs_split_itemsW(qvs_split* split, const qvs_ruleW* items, size_t count, size_t rule_size,
                                      const qvs_optionsW* options, int save_media, uint32_t* media_count);
/* Bytes placed by the handle's last item-list split. */
QVS_API int QVS_CALL qvs_items_total(qvs_split* split, int64_t* bytes);

/* Cutting of files larger than a medium, into parts of part_size_mb megabytes less 20,
 * recorded in the part list (an INI file, started empty): on for this handle's splits that
 * follow, until switched off; other handles are not affected. The list gains an entry for each
 * file cut and keeps it when cutting is switched off. QVS_E_FAILED when the part list still
 * records a cut file whose parts are on disk (join them first: the list is left as it is) or
 * the size is 20 MB or less. */
QVS_API int QVS_CALL qvs_set_cutting(qvs_split* split, int on, uint32_t part_size_mb, const char* part_list);
QVS_API int QVS_CALL qvs_set_cuttingW(qvs_split* split, int on, uint32_t part_size_mb, const wchar_t* part_list);
/* Joins every file of a part list again, deleting its parts. The list keeps no drive letter:
 * drive names the drive the files are rebuilt on. Files cut from paths of a POSIX host lie on
 * drive C as above (any letter whose QVSPLIT_DRIVE_ variable is unset rebuilds them where they
 * were). QVS_E_FAILED when a listed file was not joined (its parts missing or damaged, or joined
 * already): the errors name each, and its parts and any file of its name stay as they were. */
QVS_API int QVS_CALL qvs_recover(qvs_split* split, char drive, const char* part_list);
QVS_API int QVS_CALL qvs_recoverW(qvs_split* split, wchar_t drive, const wchar_t* part_list);

/* What a medium's file system takes beyond the files' bytes (see QvAllocationModel in
 * QvSplit.h for each term); the handle's splits count it when set. */
typedef struct qvs_model {
    uint32_t struct_size; /* sizeof(qvs_model) */
    uint32_t block;
    uint32_t per_entry;
    uint32_t per_name_byte;
    uint32_t per_name_unit;
    uint32_t name_units_max;
    uint32_t per_folder;
    uint64_t per_medium;
    uint32_t per_folder_name_byte;
    uint32_t per_folder_name_unit;
    uint32_t per_link_target_byte;
    uint32_t link_target_max;
    uint32_t header_name;
    uint32_t header_prefix;
    uint32_t per_ext_header;
    uint32_t per_ext_header_byte;
    uint32_t ext_header_records;
    uint32_t record_name_bytes;
    uint32_t flags; /* QVS_MODEL_LINKED_DATA_ONCE */
    uint32_t per_short_name_byte;
    uint32_t short_name_max;
} qvs_model;
#define QVS_MODEL_LINKED_DATA_ONCE 1u
/* Sets the handle's model; null: file bytes only (the default). */
QVS_API int QVS_CALL qvs_set_model(qvs_split* split, const qvs_model* model);
/* Sets one of the library's models by name: "none" (file bytes only), "iso" (ISO 9660 with Rock
 * Ridge and Joliet), "iso-udf" (the same with UDF) or "tar". */
QVS_API int QVS_CALL qvs_set_model_preset(qvs_split* split, const char* name);
/* Fills model with a preset of the library, by the same names; its struct_size must be set.
 * "none" gives every term 0, and a model of no terms set with qvs_set_model is "none". */
QVS_API int QVS_CALL qvs_get_model_preset(const char* name, qvs_model* model);
/* The disc sizes: "cd", "dvd", "dvd-dl", "bd", "bd-dl". split_size_mb: the whole megabytes
 * to plan with (under a model); capacity_bytes: the disc's exact capacity. Either may be null. */
QVS_API int QVS_CALL qvs_disc_size(const char* name, uint32_t* split_size_mb, uint64_t* capacity_bytes);

/* What the handle's last setup, split or item-list split made and met, read after it returns;
 * each handle reports only what its own operations produced. Cutting on or off and a recovery
 * leave it as it is, but for the errors, which are their own. */

/* One medium. */
typedef struct qvs_medium {
    uint32_t struct_size;  /* sizeof(qvs_medium) */
    uint32_t number;       /* N of its file name */
    uint32_t entries;      /* entries its media file lists */
    uint32_t files;        /* files, those of folders kept whole included */
    int64_t file_bytes;    /* the entries' bytes (on the first medium with the space kept free) */
    int64_t image_bytes;   /* the predicted image under a model, else -1 */
    const char* file_name; /* "MediaN.xml", or "mediaN.xml" of an item-list split */
} qvs_medium;
typedef struct qvs_mediumW {
    uint32_t struct_size; /* sizeof(qvs_mediumW) */
    uint32_t number;
    uint32_t entries;
    uint32_t files;
    int64_t file_bytes;
    int64_t image_bytes;
    const wchar_t* file_name;
} qvs_mediumW;
QVS_API int QVS_CALL qvs_media_count(const qvs_split* split, uint32_t* count);
QVS_API int QVS_CALL qvs_get_medium(const qvs_split* split, uint32_t index, qvs_medium* medium);
QVS_API int QVS_CALL qvs_get_mediumW(const qvs_split* split, uint32_t index, qvs_mediumW* medium);
/* One entry of a medium: what its media file lists, for the application that copies the files. */
#define QVS_ENTRY_FILE 1   /* a file (or part N of a cut file, when part is nonzero) */
#define QVS_ENTRY_FOLDER 2 /* a folder kept whole: every file below it goes with it */
#define QVS_ENTRY_LINK 3   /* a symbolic link, stored as the link (to a folder when attributes
                            * hold 0x10) */
typedef struct qvs_entry {
    uint32_t struct_size;    /* sizeof(qvs_entry) */
    uint32_t kind;           /* QVS_ENTRY_... */
    uint32_t part;           /* N of part N of a cut file; 0 for anything whole */
    uint32_t attributes;     /* its Windows attributes (0x10 folder, 0x400 link, 0x01 read-only) */
    int64_t size;            /* bytes (a folder's: those of the files below it) */
    const char* source_path; /* the file or folder to copy: a full path, given as above */
    const char* target_path; /* the folder it is restored under, from the media's root ("\\Setup") */
    const char* name;        /* the name it is restored as (a part's own name: recovery joins it) */
    const char* write_time;  /* its last write, "YYYYMMDDhhmmss" as the media file has it */
    const char* cut_file;    /* for a part, the file it was cut from (a full path); else null */
} qvs_entry;
typedef struct qvs_entryW {
    uint32_t struct_size; /* sizeof(qvs_entryW) */
    uint32_t kind;
    uint32_t part;
    uint32_t attributes;
    int64_t size;
    const wchar_t* source_path;
    const wchar_t* target_path;
    const wchar_t* name;
    const wchar_t* write_time;
    const wchar_t* cut_file;
} qvs_entryW;
/* The entries of medium number medium_index (0 is the first), in the order its media file
 * lists them. They are read from the medium's media file the first time they are asked for
 * after a split: QVS_E_FAILED when it cannot be read (an item-list split that saved no media
 * files, or a file moved or changed since). */
QVS_API int QVS_CALL qvs_entry_count(const qvs_split* split, uint32_t medium_index, uint32_t* count);
QVS_API int QVS_CALL qvs_get_entry(const qvs_split* split, uint32_t medium_index, uint32_t index, qvs_entry* entry);
QVS_API int QVS_CALL qvs_get_entryW(const qvs_split* split, uint32_t medium_index, uint32_t index,
                                    qvs_entryW* entry);
/* Bytes of the entries planned, each path counted once however many media hold it. */
QVS_API int QVS_CALL qvs_planned_bytes(const qvs_split* split, int64_t* bytes);

/* A file or folder under a selected path that is on no medium, and why. */
#define QVS_LEFT_OUT_TOO_BIG 1     /* larger than a medium while cutting is off */
#define QVS_LEFT_OUT_UNREADABLE 2  /* a folder that cannot be listed */
#define QVS_LEFT_OUT_SPECIAL 3     /* a pipe, socket or device */
#define QVS_LEFT_OUT_NAME_TOO_LONG 4
#define QVS_LEFT_OUT_SYSTEM_FOLDER 5
#define QVS_LEFT_OUT_VANISHED 6    /* gone between its listing and its description */
#define QVS_LEFT_OUT_MEDIA_LIMIT 7 /* an item beyond the last medium an item-list split makes */
#define QVS_LEFT_OUT_LINK_TARGET 8 /* a link whose target the model's file system cannot store */
typedef struct qvs_left_out {
    uint32_t struct_size; /* sizeof(qvs_left_out) */
    uint32_t reason;      /* QVS_LEFT_OUT_... */
    int64_t size;         /* bytes; -1 when unknown */
    const char* path;
    const char* reason_text;
} qvs_left_out;
typedef struct qvs_left_outW {
    uint32_t struct_size; /* sizeof(qvs_left_outW) */
    uint32_t reason;
    int64_t size;
    const wchar_t* path;
    const wchar_t* reason_text;
} qvs_left_outW;
QVS_API int QVS_CALL qvs_left_out_count(const qvs_split* split, uint32_t* count);
QVS_API int QVS_CALL qvs_get_left_out(const qvs_split* split, uint32_t index, qvs_left_out* entry);
QVS_API int QVS_CALL qvs_get_left_outW(const qvs_split* split, uint32_t index, qvs_left_outW* entry);

/* A rule of the setup that selects nothing, and why. */
#define QVS_RULE_NOT_FOUND 1         /* no file or folder at its path */
#define QVS_RULE_EMPTY_PATH 2        /* no source path */
#define QVS_RULE_ALREADY_EVERYWHERE 3 /* already on every medium by a rule of the same path */
typedef struct qvs_dropped_rule {
    uint32_t struct_size; /* sizeof(qvs_dropped_rule) */
    int32_t rule_id;
    uint32_t reason;      /* QVS_RULE_... */
    const char* path;
    const char* reason_text;
} qvs_dropped_rule;
typedef struct qvs_dropped_ruleW {
    uint32_t struct_size; /* sizeof(qvs_dropped_ruleW) */
    int32_t rule_id;
    uint32_t reason;
    const wchar_t* path;
    const wchar_t* reason_text;
} qvs_dropped_ruleW;
QVS_API int QVS_CALL qvs_dropped_rule_count(const qvs_split* split, uint32_t* count);
QVS_API int QVS_CALL qvs_get_dropped_rule(const qvs_split* split, uint32_t index, qvs_dropped_rule* rule);
QVS_API int QVS_CALL qvs_get_dropped_ruleW(const qvs_split* split, uint32_t index, qvs_dropped_ruleW* rule);

/* Why the split planned nothing, when it refused (QVS_E_REFUSED). */
#define QVS_REFUSED_WIM_TOO_BIG 1
#define QVS_REFUSED_FILE_TOO_BIG 2
#define QVS_REFUSED_FIRST_SET 3
#define QVS_REFUSED_FIRST_WITH_ALL 4
#define QVS_REFUSED_BIG_WITH_ALL 5
#define QVS_REFUSED_FIRST_WITH_FREE 6
#define QVS_REFUSED_LAST_SET 7
#define QVS_REFUSED_LAST_WITH_ALL 8
#define QVS_REFUSED_GROUP 9
#define QVS_REFUSED_GROUP_WITH_ALL 10
#define QVS_REFUSED_ITEM_NO_ROOM 11
#define QVS_REFUSED_NOTHING_SELECTED 12
#define QVS_REFUSED_ALL_LEFT_OUT 13
#define QVS_REFUSED_NOTHING_CHANGED 14 /* following sets: nothing new or changed (qvs_run gives
                                        * QVS_OK with no media for it, this code all the same) */
#define QVS_REFUSED_OTHER_SELECTION 15 /* following sets that record no file of the selection */
typedef struct qvs_refusal {
    uint32_t struct_size; /* sizeof(qvs_refusal) */
    uint32_t code;        /* QVS_REFUSED_... */
    int64_t bytes;        /* what did not fit; -1 when the refusal has no figure */
    int64_t limit;        /* what it had to fit in; -1 likewise */
    const char* message;  /* the log line that reports it */
} qvs_refusal;
typedef struct qvs_refusalW {
    uint32_t struct_size; /* sizeof(qvs_refusalW) */
    uint32_t code;
    int64_t bytes;
    int64_t limit;
    const wchar_t* message;
} qvs_refusalW;
/* QVS_E_RANGE when the last split refused nothing. */
QVS_API int QVS_CALL qvs_get_refusal(const qvs_split* split, qvs_refusal* refusal);
QVS_API int QVS_CALL qvs_get_refusalW(const qvs_split* split, qvs_refusalW* refusal);

/* The error messages of the last operation in the order they arose (the first is the cause). */
QVS_API int QVS_CALL qvs_error_count(const qvs_split* split, uint32_t* count);
QVS_API int QVS_CALL qvs_get_error(const qvs_split* split, uint32_t index, const char** text);
QVS_API int QVS_CALL qvs_get_errorW(const qvs_split* split, uint32_t index, const wchar_t** text);

/* Sets that follow sets: the handle's splits plan only the files that are new, or whose size or
 * write time differ from the latest record of their path in the sets it follows, and record the
 * recorded files gone from the selection as deleted ("Deleted.xml" beside the media files; see
 * QvAddSinceSet in QvSplit.h for the rules). Such splits plan file by file.
 * set: the folder of an earlier split's media files, added after those added before (oldest
 * first). QVS_E_ARGUMENT when it cannot be followed: qvs_get_error gives why. */
QVS_API int QVS_CALL qvs_add_since(qvs_split* split, const char* set);
QVS_API int QVS_CALL qvs_add_sinceW(qvs_split* split, const wchar_t* set);
/* Forgets the sets added: the handle's splits plan everything again. */
QVS_API int QVS_CALL qvs_clear_since(qvs_split* split);
/* What the last split found against the sets it followed (all 0 when it followed none). A split
 * that finds nothing new or changed returns QVS_OK with no media (its deletions, if any, are
 * written); one whose selection the sets do not record at all is refused. */
typedef struct qvs_changes {
    uint32_t struct_size; /* sizeof(qvs_changes) */
    uint32_t sets;        /* sets followed */
    int64_t new_files;    /* planned, with no record of their path */
    int64_t changed;      /* planned: recorded with another size or write time */
    int64_t unchanged;    /* not planned: recorded as they are */
    int64_t deleted;      /* recorded, and gone from the selection */
} qvs_changes;
QVS_API int QVS_CALL qvs_get_changes(const qvs_split* split, qvs_changes* changes);
/* The files the last split recorded as deleted, by the path their latest record gives. */
QVS_API int QVS_CALL qvs_deleted_count(const qvs_split* split, uint32_t* count);
QVS_API int QVS_CALL qvs_get_deleted(const qvs_split* split, uint32_t index, const char** path);
QVS_API int QVS_CALL qvs_get_deletedW(const qvs_split* split, uint32_t index, const wchar_t** path);

/* Files the last split cut into parts, by full path, in the order cut. */
QVS_API int QVS_CALL qvs_cut_file_count(const qvs_split* split, uint32_t* count);
QVS_API int QVS_CALL qvs_get_cut_file(const qvs_split* split, uint32_t index, const char** path);
QVS_API int QVS_CALL qvs_get_cut_fileW(const qvs_split* split, uint32_t index, const wchar_t** path);

#ifdef __cplusplus
}
#endif

#endif
