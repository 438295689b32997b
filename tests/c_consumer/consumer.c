/*
 * A C program that uses the installed Korvane_LiDAR library the way an outside caller would:
 * it includes only <Korvane_LiDAR.h>, links the library, and calls one function of each
 * group. It writes a one-point LAS 1.2 file to the name given on its command line, then
 * checks and classifies it, recomputes its header, sorts a small array, checks two arguments
 * and prints the banner. Every result is printed; the exit status is 0 only when each one is
 * what it should be.
 *
 *   consumer SCRATCH.las
 */
#include <Korvane_LiDAR.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect(int ok, const char* what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++failures;
}

/* A fresh LAS 1.2 header followed by one point record of format 0. */
static int write_tile(const char* name) {
    LAS12Header h;
    LAS12fm0 point;
    FILE* f;
    int written;

    memset(&h, 0xFF, sizeof h);
    initialize_header12(&h);
    expect(memcmp(h.LASF, "LASF", 4) == 0, "initialize_header12 signs the header LASF");
    expect(h.VersionMajor == 1 && h.VersionMinor == 2, "initialize_header12 states version 1.2");
    expect(h.HeaderSize == 227 && h.OffsetToData == 227,
           "initialize_header12 declares a 227-byte header");
    expect(h.XScaleFactor == 1.0 && h.ZOffset == 0.0 && h.NumberOfPointReturns == 0,
           "initialize_header12 sets scale 1, offset 0 and no points");

    h.PointDataRecordLength = (uint16_t)sizeof point;
    memset(&point, 0, sizeof point);
    point.X = 5;
    point.Y = -7;
    point.Z = 11;
    point.bitfield = 1; /* return number 1 */

    f = fopen(name, "wb");
    if (f == NULL) return 0;
    written = fwrite(&h, sizeof h, 1, f) == 1 && fwrite(&point, sizeof point, 1, f) == 1;
    return fclose(f) == 0 && written;
}

static int read_header(const char* name, LAS12Header* h) {
    FILE* f = fopen(name, "rb");
    int ok;
    if (f == NULL) return 0;
    ok = fread(h, sizeof *h, 1, f) == 1;
    fclose(f);
    return ok;
}

int main(int argc, char** argv) {
    const char* tile;
    LAS12Header after;
    int32_t keys[5] = {42, -3, 7, 2147483647, -2147483647 - 1};
    int32_t index[5] = {0, 1, 2, 3, 4};
    static const int32_t sorted_keys[5] = {-2147483647 - 1, -3, 7, 42, 2147483647};
    static const int32_t sorted_index[5] = {4, 1, 2, 0, 3};

    if (argc != 2) {
        fprintf(stderr, "usage: consumer SCRATCH.las\n");
        return 2;
    }
    tile = argv[1];

    /* Header initialisation. */
    expect(write_tile(tile), "a fresh header and one point written");

    /* File checks and classification. */
    expect(check_file_extension(tile, "las") == 0, "check_file_extension accepts .las");
    expect(check_las(tile) == 5, "check_las classifies the file as LAS 1.2, format 0 (code 5)");

    /* Header statistics update. */
    update_header(tile);
    printf("\n");
    expect(read_header(tile, &after), "the updated header read back");
    expect(after.NumberOfPointReturns == 1 && after.NumberOfPointsByReturn[0] == 1,
           "update_header counts one point of return 1");
    expect(after.MaxX == 5.0 && after.MinX == 5.0 && after.MaxY == -7.0 && after.MinZ == 11.0,
           "update_header sets the bounding box to the point");

    /* Index-carrying quicksorts. */
    l_quicksort(keys, 5, index);
    expect(memcmp(keys, sorted_keys, sizeof keys) == 0, "l_quicksort sorts the keys");
    expect(memcmp(index, sorted_index, sizeof index) == 0, "l_quicksort carries the index along");

    /* Argument checks. */
    expect(check_YN("y") == 0, "check_YN accepts y");
    check_numeric_argument("-12.5"); /* ends the process with status 255 if it rejects it */
    printf("ok: check_numeric_argument returned for -12.5\n");

    /* Banner. */
    credits();
    printf("\n");

    if (failures != 0) {
        printf("consumer: %d check(s) failed\n", failures);
        return 1;
    }
    printf("consumer: every check passed\n");
    return 0;
}
