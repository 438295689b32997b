/*
 * las_types FILE...
 *
 * Prints the LAS type code of every file named on the command line, one line per file:
 * the code, the name and what the code means. The library explains a refused file in its own
 * message before that line. Exit status: 0 when every file is a LAS file of a handled type, 1
 * when one is not, 2 without arguments.
 *
 *   cc las_types.c $(pkg-config --cflags --libs korvane_lidar) -o las_types
 */
#include <Korvane_LiDAR.h>
#include <stdio.h>

/* What each LAS type code stands for: codes 1 to 8, then 0. */
static const char* describe(int16_t code) {
    static const char* const handled[] = {
        "LAS 1.0, point format 0", "LAS 1.0, point format 1", "LAS 1.1, point format 0",
        "LAS 1.1, point format 1", "LAS 1.2, point format 0", "LAS 1.2, point format 1",
        "LAS 1.2, point format 2", "LAS 1.2, point format 3",
    };
    if (code >= 1 && code <= 8) return handled[code - 1];
    if (code == 0) return "LAS 1.0 or 1.1 with point format 2 or 3, not handled";
    return "not a LAS file of a handled type";
}

int main(int argc, char** argv) {
    int status = 0;
    if (argc < 2) {
        fprintf(stderr, "usage: las_types FILE...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const int16_t code = check_las(argv[i]);
        printf("%d\t%s\t%s\n", code, argv[i], describe(code));
        if (code <= 0) status = 1;
    }
    return status;
}
