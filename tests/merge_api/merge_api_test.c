/*
 * The merge's C interface, used from C as a caller would: a table of requests, each checked for
 * its status, its message, its points, its progress calls, that no temporary file is left and
 * that an old output is kept after a failure; the outputs of good merges must be byte for byte
 * those of Quillet --extended on the same inputs. Then two merges run at once on two threads.
 *
 *   merge_api_test DATA_DIR QUILLET WORK_DIR
 *
 * Prints "N passed, M failed" and exits non-zero when a check failed.
 */
#define _POSIX_C_SOURCE 200809L
#include <Korvane_LiDAR.h>
#include <dirent.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static const char* data_dir;
static const char* quillet;
static const char* work_dir;
static int passed, failed;
static pthread_mutex_t counts_lock = PTHREAD_MUTEX_INITIALIZER; /* rows run on two threads too */

static void check(int ok, const char* row, const char* what) {
    pthread_mutex_lock(&counts_lock);
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAILED: %s: %s\n", row, what);
    }
    pthread_mutex_unlock(&counts_lock);
}

/* The whole of a file, or NULL; its size in *size. */
static char* read_file(const char* path, long* size) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) return NULL;
    fseek(f, 0, SEEK_END);
    *size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char* bytes = malloc((size_t)*size + 1);
    if (bytes != NULL && fread(bytes, 1, (size_t)*size, f) != (size_t)*size) {
        free(bytes);
        bytes = NULL;
    }
    fclose(f);
    return bytes;
}

static int same_files(const char* a, const char* b) {
    long na = 0, nb = 0;
    char* x = read_file(a, &na);
    char* y = read_file(b, &nb);
    const int same = x != NULL && y != NULL && na == nb && memcmp(x, y, (size_t)na) == 0;
    free(x);
    free(y);
    return same;
}

static void write_text(const char* path, const char* text) {
    FILE* f = fopen(path, "w");
    if (f == NULL) return;
    fputs(text, f);
    fclose(f);
}

/* Whether a directory holds a file whose name has ".tmp" in it. */
static int has_temporary(const char* dir) {
    DIR* d = opendir(dir);
    int found = 0;
    if (d == NULL) return 0;
    for (struct dirent* e = readdir(d); e != NULL; e = readdir(d))
        found |= strstr(e->d_name, ".tmp") != NULL;
    closedir(d);
    return found;
}

/* What the callbacks saw. */
typedef struct {
    long calls;
    uint64_t last_done, total;
    int went_down, total_changed;
    long cancel_at; /* the call (from 1) that returns 0; -1 never; 0 the one with done == total */
    int messages, told_files;
} Seen;

static int on_progress(uint64_t done, uint64_t total, void* user) {
    Seen* s = user;
    if (s->calls > 0 && done < s->last_done) s->went_down = 1;
    if (s->calls > 0 && total != s->total) s->total_changed = 1;
    ++s->calls;
    s->last_done = done;
    s->total = total;
    if (s->cancel_at == s->calls || (s->cancel_at == 0 && done == total)) return 0;
    return 1;
}

static void on_message(int level, const char* text, void* user) {
    Seen* s = user;
    ++s->messages;
    if (level == 2 && strstr(text, "files to be merged into") != NULL) s->told_files = 1;
}

typedef struct {
    const char* name;
    const char* inputs[3]; /* in DATA_DIR; "missing.las" is not there, "list.las" is text */
    const char* output;    /* in the row's directory */
    const char* options[2][2];
    long cancel_at;
    korvane_status expected;
    const char* error_has; /* a piece of the error's text, "" for none */
    uint64_t points;
    const char* quillet_options; /* compared with Quillet --extended and these; NULL: not */
} Row;

/* "moved:NAME" is a copy of NAME whose grid is moved by 1000 steps in X (its offset and box; the
 * raw values stay), made in the row's directory: the merge must rewrite or shift it;
 * "thirdmoved:NAME" one moved by a third of a step, which no grid of the merge holds unmoved. */
// clang-format off
static const Row kRows[] = {
    {"las tiles encoded into laz", {"thin-1.las", "thin-2.las"}, "out.laz", {{0}}, -1,
     KORVANE_OK, "", 10653, ""},
    {"laz chunks copied", {"lone-star-split-1.laz", "lone-star-split-2.laz"}, "out.laz", {{0}}, -1,
     KORVANE_OK, "", 277454, ""},
    {"laz decoded into las on two threads", {"lone-star-split-1.laz", "lone-star-split-2.laz"},
     "out.las", {{"threads", "2"}}, -1, KORVANE_OK, "", 277454, "--threads 2"},
    {"laz re-encoded in fixed chunks", {"lone-star-split-3.laz", "lone-star-split-4.laz"},
     "out.laz", {{"fixed-chunks", "1"}}, -1, KORVANE_OK, "", 241408, "--fixed-chunks"},
    {"las on another grid rewritten", {"thin-1.las", "moved:thin-2.las"}, "out.las", {{0}}, -1,
     KORVANE_OK, "", 10653, ""},
    {"laz on another grid shifted", {"lone-star-split-1.laz", "moved:lone-star-split-2.laz"},
     "out.laz", {{0}}, -1, KORVANE_OK, "", 277454, ""},
    {"dry run", {"thin-1.las", "thin-2.las"}, "out.las", {{"dry-run", "1"}}, -1, KORVANE_OK, "",
     0, NULL},
    {"cloud optimised in the least memory", {"lone-star-split-1.laz", "lone-star-split-2.laz"},
     "out.copc.laz", {{"memory", "64M"}, {"threads", "2"}}, -1, KORVANE_OK, "", 277454,
     "--memory 64M"},
    {"missing input", {"thin-1.las", "missing.las"}, "out.las", {{0}}, -1, KORVANE_BAD_INPUT,
     "missing.las does NOT exist", 0, NULL},
    {"input not las", {"thin-1.las", "MANIFEST.tsv"}, "out.las", {{0}}, -1, KORVANE_BAD_INPUT,
     "is not a LAS or LAZ file", 0, NULL},
    {"inputs whose grids differ by a third of a step", {"thin-1.las", "thirdmoved:thin-2.las"},
     "out.las", {{0}}, -1, KORVANE_REFUSED, "its points would move", 0, NULL},
    {"one input converted into laz", {"thin-1.las"}, "out.laz", {{0}}, -1, KORVANE_OK, "", 5327,
     NULL},
    {"one input that is not las", {"MANIFEST.tsv"}, "out.las", {{0}}, -1, KORVANE_BAD_INPUT,
     "is not a LAS or LAZ file", 0, NULL},
    {"no inputs", {NULL}, "out.las", {{0}}, -1, KORVANE_INVALID_REQUEST, "No files to merge", 0,
     NULL},
    {"output in a missing directory", {"thin-1.las", "thin-2.las"}, "no/such/out.las", {{0}}, -1,
     KORVANE_IO_ERROR, "Cannot open binary file", 0, NULL},
    {"fixed chunks into las", {"thin-1.las", "thin-2.las"}, "out.las", {{"fixed-chunks", "1"}},
     -1, KORVANE_INVALID_REQUEST, "needs a .laz output", 0, NULL},
    {"cancelled at the first call", {"lone-star-split-1.laz", "lone-star-split-2.laz"}, "out.las",
     {{0}}, 1, KORVANE_CANCELLED, "cancelled", 0, NULL},
    {"cancelled at the last call", {"thin-1.las", "thin-2.las"}, "out.laz", {{0}}, 0,
     KORVANE_CANCELLED, "cancelled", 0, NULL},
};
// clang-format on

/* A copy of `from` at `to` with its grid moved by `steps` steps in X: offset and box. */
static void write_moved(const char* from, const char* to, double steps) {
    long size = 0;
    char* bytes = read_file(from, &size);
    if (bytes == NULL || size < 227) {
        free(bytes);
        return;
    }
    double scale = 0, value = 0;
    memcpy(&scale, bytes + 131, 8); /* X scale factor; the header is little-endian, as we are */
    for (int at = 155; at <= 187; at += at == 155 ? 24 : 8) { /* X offset, MaxX, MinX */
        memcpy(&value, bytes + at, 8);
        value += steps * scale;
        memcpy(bytes + at, &value, 8);
    }
    FILE* f = fopen(to, "wb");
    if (f != NULL) {
        fwrite(bytes, 1, (size_t)size, f);
        fclose(f);
    }
    free(bytes);
}

/* The path of a row's input: in DATA_DIR, or a moved copy in the row's directory. */
static void input_path(const char* name, const char* dir, char* path, size_t size) {
    const int third = strncmp(name, "thirdmoved:", 11) == 0;
    const char* moved = third ? name + 11 : strncmp(name, "moved:", 6) == 0 ? name + 6 : NULL;
    if (moved == NULL) {
        snprintf(path, size, "%s/%s", data_dir, name);
        return;
    }
    char from[2048];
    snprintf(from, sizeof from, "%s/%s", data_dir, moved);
    snprintf(path, size, "%s/moved-%s", dir, moved);
    write_moved(from, path, third ? 1.0 / 3 : 1000);
}

static void run_row(const Row* r, int index) {
    char dir[1024], output[2048];
    snprintf(dir, sizeof dir, "%s/row%d", work_dir, index);
    mkdir(dir, 0755);
    snprintf(output, sizeof output, "%s/%s", dir, r->output);
    write_text(output, "an old output");

    korvane_merge* m = korvane_merge_new();
    Seen seen = {0};
    seen.cancel_at = r->cancel_at;
    korvane_merge_set_progress(m, on_progress, &seen);
    korvane_merge_set_messages(m, on_message, &seen);
    korvane_status s = korvane_merge_set_output(m, output);
    char inputs[3][2048];
    int count = 0;
    for (; count < 3 && r->inputs[count] != NULL; ++count)
        input_path(r->inputs[count], dir, inputs[count], sizeof inputs[count]);
    for (int i = 0; i < count && s == KORVANE_OK; ++i) s = korvane_merge_add_input(m, inputs[i]);
    for (int i = 0; i < 2 && r->options[i][0] != NULL && s == KORVANE_OK; ++i)
        s = korvane_merge_set_option(m, r->options[i][0], r->options[i][1]);
    const int ran = s == KORVANE_OK;
    if (ran) s = korvane_merge_run(m);

    char what[512];
    snprintf(what, sizeof what, "status %s, expected %s: %s", korvane_status_name(s),
             korvane_status_name(r->expected), korvane_merge_error(m));
    check(s == r->expected, r->name, what);
    check(strstr(korvane_merge_error(m), r->error_has) != NULL &&
              (s != KORVANE_OK) == (korvane_merge_error(m)[0] != '\0'),
          r->name, "the error's text");
    check(korvane_merge_points(m) == r->points, r->name, "the points written");
    /* The report: one JSON object on one line that states the status (parsed in the CLI tests). */
    char status_key[64];
    snprintf(status_key, sizeof status_key, "{\"status\":\"%s\"", korvane_status_name(s));
    const char* report = korvane_merge_report(m);
    check(!ran || (strncmp(report, status_key, strlen(status_key)) == 0 &&
                   strchr(report, '\n') == report + strlen(report) - 1),
          r->name, "the report");
    check(!has_temporary(dir), r->name, "a temporary file is left");
    long size = 0;
    char* now = read_file(output, &size);
    const int old_kept = now != NULL && size == 13 && memcmp(now, "an old output", 13) == 0;
    free(now);
    const int written =
        s == KORVANE_OK && !(r->options[0][0] && !strcmp(r->options[0][0], "dry-run"));
    if (strstr(r->output, "no/") == NULL)
        check(written ? !old_kept : old_kept, r->name,
              written ? "the old output was not replaced" : "the old output was not kept");
    if (written) {
        /* A cloud optimised output counts its points twice: staged, then in the octree. */
        const uint64_t passes = strstr(r->output, ".copc.laz") != NULL ? 2 : 1;
        check(seen.calls > 0 && !seen.went_down && !seen.total_changed &&
                  seen.total == passes * r->points && seen.last_done == seen.total,
              r->name, "the progress calls");
    }
    if (r->expected == KORVANE_OK) check(seen.told_files, r->name, "the plan's messages");
    if (r->quillet_options != NULL && s == KORVANE_OK) {
        char list[2048], reference[2048], command[8192];
        snprintf(list, sizeof list, "%s/list.txt", dir);
        snprintf(reference, sizeof reference, "%s/quillet-%s", dir, r->output);
        FILE* f = fopen(list, "w");
        for (int i = 0; i < count; ++i) fprintf(f, "%s\n", inputs[i]);
        fclose(f);
        snprintf(command, sizeof command, "'%s' --extended %s '%s' '%s' >/dev/null", quillet,
                 r->quillet_options, list, reference);
        check(system(command) == 0, r->name, "Quillet --extended on the same inputs");
        check(same_files(output, reference), r->name, "bytes unlike those of Quillet --extended");
    }
    korvane_merge_free(m);
}

/* Options refused with their status, and the error text cleared by the next success. */
static void check_options(void) {
    static const char* const kBad[][2] = {{"threads", "0"},   {"threads", "65"}, {"threads", "2x"},
                                          {"rescale", "yes"}, {"speed", "1"},    {"dry-run", ""},
                                          {"memory", "63M"},  {"memory", "1T"}};
    korvane_merge* m = korvane_merge_new();
    for (size_t i = 0; i < sizeof kBad / sizeof kBad[0]; ++i) {
        const korvane_status s = korvane_merge_set_option(m, kBad[i][0], kBad[i][1]);
        check(s == KORVANE_INVALID_REQUEST && korvane_merge_error(m)[0] != '\0', kBad[i][0],
              "a bad option value is an invalid request with a message");
    }
    check(korvane_merge_set_output(m, "out.txt") == KORVANE_INVALID_REQUEST, "set_output",
          "an output neither .las nor .laz is refused");
    check(korvane_merge_set_output(m, "") == KORVANE_INVALID_REQUEST &&
              korvane_merge_add_input(m, NULL) == KORVANE_INVALID_REQUEST &&
              strstr(korvane_merge_error(m), "An input needs a name") != NULL,
          "empty names", "an output or input without a name is refused");
    check(korvane_merge_set_option(m, "threads", "64") == KORVANE_OK &&
              korvane_merge_error(m)[0] == '\0',
          "threads 64", "a good value clears the error");
    check(korvane_merge_run(m) == KORVANE_INVALID_REQUEST &&
              strstr(korvane_merge_error(m), "No output") != NULL,
          "run", "a request without an output");
    check(strcmp(korvane_status_name(KORVANE_CANCELLED), "KORVANE_CANCELLED") == 0, "status name",
          "KORVANE_CANCELLED");
    korvane_merge_free(m);
}

/* Two merges at once, each on its own thread with its own request. */
static void* run_on_thread(void* arg) {
    run_row(&kRows[*(int*)arg], 100 + *(int*)arg);
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: merge_api_test DATA_DIR QUILLET WORK_DIR\n");
        return 2;
    }
    data_dir = argv[1];
    quillet = argv[2];
    work_dir = argv[3];
    mkdir(work_dir, 0755);
    for (size_t i = 0; i < sizeof kRows / sizeof kRows[0]; ++i) run_row(&kRows[i], (int)i);
    check_options();

    int rows[2] = {1, 2};
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i) pthread_create(&threads[i], NULL, run_on_thread, &rows[i]);
    for (int i = 0; i < 2; ++i) pthread_join(threads[i], NULL);

    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
