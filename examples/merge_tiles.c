/*
 * merge_tiles OUTPUT INPUT...: merges LAS or LAZ tiles into OUTPUT (.las or .laz) with the
 * library's merge, printing its messages and a progress percentage on standard error.
 * Exits with 0 after a complete merge, 1 otherwise, after the status's name and its message.
 */
#include <Korvane_LiDAR.h>
#include <inttypes.h>
#include <stdio.h>

static void on_message(int level, const char* text, void* user) {
    (void)user;
    fprintf(stderr, "%s%s", level == 1 ? "warning:" : "", text);
}

static int on_progress(uint64_t done, uint64_t total, void* user) {
    int* last_percent = user;
    const int percent = total == 0 ? 100 : (int)(done * 100 / total);
    if (percent != *last_percent) fprintf(stderr, "\n%d%%", percent);
    *last_percent = percent;
    return 1; /* go on; 0 would cancel the merge */
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: merge_tiles OUTPUT INPUT...\n");
        return 2;
    }
    korvane_merge* m = korvane_merge_new();
    if (m == NULL) return 1;
    int last_percent = -1;
    korvane_merge_set_messages(m, on_message, NULL);
    korvane_merge_set_progress(m, on_progress, &last_percent);

    korvane_status status = korvane_merge_set_output(m, argv[1]);
    for (int i = 2; i < argc && status == KORVANE_OK; ++i)
        status = korvane_merge_add_input(m, argv[i]);
    if (status == KORVANE_OK) status = korvane_merge_run(m);

    if (status == KORVANE_OK)
        printf("%" PRIu64 " points merged into %s\n", korvane_merge_points(m), argv[1]);
    else
        printf("%s:%s", korvane_status_name(status), korvane_merge_error(m));
    korvane_merge_free(m);
    return status == KORVANE_OK ? 0 : 1;
}
