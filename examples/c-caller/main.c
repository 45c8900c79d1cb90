/* Splits a folder onto media of 700 MB and prints what each medium holds. */
#include <QvSplitC.h>
#include <stdio.h>

int main(int argc, char** argv) {
    qvs_split* split = NULL;
    qvs_rule rule = {0};
    qvs_options options = {0};
    uint32_t media = 0, i, k, count;
    int status;
    if (argc < 3) {
        fprintf(stderr, "usage: %s FOLDER OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    rule.source_path = argv[1];   /* the folder to split: "/home/me/photos", "C:\\Photos" */
    rule.location = QVS_ANY;
    rule.include = 1;
    rule.rule_id = 1;
    options.struct_size = sizeof options;
    options.split_size_mb = 700;
    options.output_dir = argv[2]; /* an existing folder for the media files */
    if (qvs_create(&split) != QVS_OK) return 1;
    status = qvs_setup_rules(split, &rule, 1, sizeof rule, &options);
    if (status == QVS_OK) status = qvs_run(split, &media);
    if (status != QVS_OK) {
        const char* cause = NULL;
        qvs_get_error(split, 0, &cause);
        fprintf(stderr, "%s: %s\n", qvs_status_text(status), cause ? cause : "");
        qvs_free(split);
        return 1;
    }
    for (i = 0; i < media; ++i) {
        qvs_medium m = {0};
        m.struct_size = sizeof m;
        if (qvs_get_medium(split, i, &m) != QVS_OK) continue;
        printf("%s: %u files, %lld bytes\n", m.file_name, m.files, (long long)m.file_bytes);
        if (qvs_entry_count(split, i, &count) != QVS_OK) continue;
        for (k = 0; k < count; ++k) {
            qvs_entry e = {0};
            e.struct_size = sizeof e;
            if (qvs_get_entry(split, i, k, &e) == QVS_OK)
                printf("  %s -> %s\n", e.source_path, e.target_path);
        }
    }
    qvs_free(split);
    return 0;
}
