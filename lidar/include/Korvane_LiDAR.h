/*
 * Korvane_LiDAR: a small C-callable LiDAR utility library.
 *
 * Record layouts of the ASPRS LAS 1.0, 1.1 and 1.2 public header block and of point data
 * formats 0 to 3, and the library's functions: file and extension checks, classification of a
 * LAS file, recomputation of a header's statistics, fresh headers, index-carrying quicksorts and
 * argument checks. Every message of these is written to standard output. And the merge of LAS
 * and LAZ files as a library call (korvane_merge_...), which prints nothing: it hands its
 * messages and progress to the caller's callbacks and returns a status.
 *
 * This header compiles as C11 and as C++.
 */
#ifndef KORVANE_LIDAR_H
#define KORVANE_LIDAR_H

#include <stdint.h>

#if defined(__GNUC__)
#define KORVANE_API __attribute__((visibility("default")))
#else
#define KORVANE_API
#endif

#ifdef __cplusplus
#define KORVANE_STATIC_ASSERT(cond, what) static_assert(cond, what)
extern "C" {
#else
#define KORVANE_STATIC_ASSERT(cond, what) _Static_assert(cond, what)
#endif

/* All records are packed and little-endian: in memory they are the bytes of the file. */
#pragma pack(push, 1)

/* LAS 1.2 public header block, 227 bytes. The 1.1 and 1.0 blocks share its layout byte for
 * byte and differ only in the names of a few fields. */
typedef struct LAS12Header {
    char LASF[4]; /* "LASF", no terminator */
    uint16_t FileSourceID;
    uint16_t GlobalEncoding;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t GUIDData4[8];
    uint8_t VersionMajor;
    uint8_t VersionMinor;
    char SystemIdentifier[32];
    char GeneratingSoftware[32];
    uint16_t FileCreationDay;
    uint16_t FileCreationYear;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double XScaleFactor;
    double YScaleFactor;
    double ZScaleFactor;
    double XOffset;
    double YOffset;
    double ZOffset;
    double MaxX;
    double MinX;
    double MaxY;
    double MinY;
    double MaxZ;
    double MinZ;
} LAS12Header;

/* LAS 1.1: the two bytes at offset 6 are reserved. */
typedef struct LAS11Header {
    char LASF[4];
    uint16_t FileSourceID;
    uint16_t Reserved;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t GUIDData4[8];
    uint8_t VersionMajor;
    uint8_t VersionMinor;
    char SystemIdentifier[32];
    char GeneratingSoftware[32];
    uint16_t FileCreationDay;
    uint16_t FileCreationYear;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double XScaleFactor;
    double YScaleFactor;
    double ZScaleFactor;
    double XOffset;
    double YOffset;
    double ZOffset;
    double MaxX;
    double MinX;
    double MaxY;
    double MinY;
    double MaxZ;
    double MinZ;
} LAS11Header;

/* LAS 1.0: the four bytes at offset 4 are reserved, and the date is a flight date. */
typedef struct LAS10Header {
    char LASF[4];
    uint32_t Reserved;
    uint32_t GUIDData1;
    uint16_t GUIDData2;
    uint16_t GUIDData3;
    uint8_t GUIDData4[8];
    uint8_t VersionMajor;
    uint8_t VersionMinor;
    char SystemIdentifier[32];
    char GeneratingSoftware[32];
    uint16_t FlightDateJulian;
    uint16_t Year;
    uint16_t HeaderSize;
    uint32_t OffsetToData;
    uint32_t NumberOfVariableLengthRecords;
    uint8_t PointDataFormatID;
    uint16_t PointDataRecordLength;
    uint32_t NumberOfPointReturns;
    uint32_t NumberOfPointsByReturn[5];
    double XScaleFactor;
    double YScaleFactor;
    double ZScaleFactor;
    double XOffset;
    double YOffset;
    double ZOffset;
    double MaxX;
    double MinX;
    double MaxY;
    double MinY;
    double MaxZ;
    double MinZ;
} LAS10Header;

/* Point data format 0, 20 bytes. Bits 0 to 2 of bitfield hold the return number. */
typedef struct LAS12fm0 {
    int32_t X;
    int32_t Y;
    int32_t Z;
    uint16_t Intensity;
    int8_t bitfield;
    uint8_t Classification;
    uint8_t ScanAngleRank;
    uint8_t UserData;
    uint16_t PointSourceID;
} LAS12fm0;

/* Point data format 1, 28 bytes: format 0 and the GPS time. */
typedef struct LAS12fm1 {
    int32_t X;
    int32_t Y;
    int32_t Z;
    uint16_t Intensity;
    int8_t bitfield;
    uint8_t Classification;
    uint8_t ScanAngleRank;
    uint8_t UserData;
    uint16_t PointSourceID;
    double GPSTime;
} LAS12fm1;

/* Point data format 2, 26 bytes: format 0 and a colour. */
typedef struct LAS12fm2 {
    int32_t X;
    int32_t Y;
    int32_t Z;
    uint16_t Intensity;
    int8_t bitfield;
    uint8_t Classification;
    uint8_t ScanAngleRank;
    uint8_t UserData;
    uint16_t PointSourceID;
    uint16_t Red;
    uint16_t Green;
    uint16_t Blue;
} LAS12fm2;

/* Point data format 3, 34 bytes: format 0, the GPS time and a colour. */
typedef struct LAS12fm3 {
    int32_t X;
    int32_t Y;
    int32_t Z;
    uint16_t Intensity;
    int8_t bitfield;
    uint8_t Classification;
    uint8_t ScanAngleRank;
    uint8_t UserData;
    uint16_t PointSourceID;
    double GPSTime;
    uint16_t Red;
    uint16_t Green;
    uint16_t Blue;
} LAS12fm3;

#pragma pack(pop)

KORVANE_STATIC_ASSERT(sizeof(LAS12Header) == 227, "LAS12Header must be 227 bytes");
KORVANE_STATIC_ASSERT(sizeof(LAS11Header) == 227, "LAS11Header must be 227 bytes");
KORVANE_STATIC_ASSERT(sizeof(LAS10Header) == 227, "LAS10Header must be 227 bytes");
KORVANE_STATIC_ASSERT(sizeof(LAS12fm0) == 20, "LAS12fm0 must be 20 bytes");
KORVANE_STATIC_ASSERT(sizeof(LAS12fm1) == 28, "LAS12fm1 must be 28 bytes");
KORVANE_STATIC_ASSERT(sizeof(LAS12fm2) == 26, "LAS12fm2 must be 26 bytes");
KORVANE_STATIC_ASSERT(sizeof(LAS12fm3) == 34, "LAS12fm3 must be 34 bytes");

/* ---- File checks and LAS classification ------------------------------------------------- */

/* 0 if the file can be opened for reading; otherwise prints a message and returns -1. */
KORVANE_API int16_t file_access(const char* filename);

/* 0 if filename ends in "." followed by the three-letter extension (case-sensitive, given
 * without the dot); otherwise prints a message and returns -1. */
KORVANE_API int16_t check_file_extension(const char* filename, const char* extension);

/* Prints message 1 (file does not exist), 2 (file already exists) or 3 (same name given
 * twice) about text; any other number prints nothing. */
KORVANE_API void error_msg(int32_t i, const char* text);

/* The LAS type code of the file: 1 to 8 for LAS 1.0/0, 1.0/1, 1.1/0, 1.1/1, 1.2/0, 1.2/1,
 * 1.2/2 and 1.2/3; 0, silently, for LAS 1.0 or 1.1 with point format 2 or 3; -1, after a
 * message, when the file fails a check. */
KORVANE_API int16_t check_las(const char* filename);

/* ---- Header statistics update ----------------------------------------------------------- */

/* Recomputes the point count, the counts by return and the bounding box of a LAS file from
 * its point records and rewrites its header in place. Ends the process with status -1, after a
 * message, on any failure. */
KORVANE_API void update_header(const char* filename);

/* ---- Header initialisation -------------------------------------------------------------- */

/* Fill a caller's header with the values of a new, empty LAS 1.0, 1.1 or 1.2 file. */
KORVANE_API void initialize_header10(LAS10Header* ph);
KORVANE_API void initialize_header11(LAS11Header* ph);
KORVANE_API void initialize_header12(LAS12Header* ph);

/* ---- Index-carrying quicksorts ---------------------------------------------------------- */

/* Sort keys p ascending in place and apply every exchange to p_ind as well. The _qs workers
 * sort the inclusive range left..right; the _quicksort entries sort count elements. The
 * parallel variants hand their sub-ranges to the plain sort once their depth budget reaches
 * 0 and leave the arrays exactly as the plain sort does. */
KORVANE_API void l_qs(int32_t* p, int32_t left, int32_t right, int32_t* p_ind);
KORVANE_API void l_quicksort(int32_t* p, int32_t count, int32_t* p_ind);
KORVANE_API void d_qs(double* p, int32_t left, int32_t right, int32_t* p_ind);
KORVANE_API void d_quicksort(double* p, int32_t count, int32_t* p_ind);
KORVANE_API void l_parallel_qs(int32_t* p, int32_t left, int32_t right, int32_t* p_ind,
                               int32_t deep);
KORVANE_API void l_parallel_quicksort(int32_t* p, int32_t count, int32_t* p_ind);
KORVANE_API void d_parallel_qs(double* p, int32_t left, int32_t right, int32_t* p_ind,
                               int32_t deep);
KORVANE_API void d_parallel_quicksort(double* p, int32_t count, int32_t* p_ind);

/* ---- Argument checks -------------------------------------------------------------------- */

/* Returns if str is a plain decimal number (digits, at most one point, at most one dash);
 * otherwise prints a message and ends the process with status -1. */
KORVANE_API void check_numeric_argument(const char* str);

/* 0 for "Y", "N", "y" or "n"; otherwise prints a message and returns -1. */
KORVANE_API int16_t check_YN(const char* text);

/* Returns if str names a ".asc" DEM, or a ".flt" DEM whose ".hdr" file can be read; otherwise
 * prints a message and ends the process with status -1. */
KORVANE_API void check_DEM(const char* str);

/* ---- Banner ----------------------------------------------------------------------------- */

/* Prints the library's banner. */
KORVANE_API void credits(void);

/* ---- The merge as a library call -------------------------------------------------------- */

/* One merge request: inputs, an output and options, run by korvane_merge_run as
 * `Quillet --extended` runs it. Two requests may run at the same time on two threads; one
 * request is used by one thread at a time. */
typedef struct korvane_merge korvane_merge;

typedef enum korvane_status {
    KORVANE_OK = 0,
    KORVANE_INVALID_REQUEST = 1, /* no inputs, no output, unknown option or bad value */
    KORVANE_BAD_INPUT = 2,       /* an input is missing, unreadable, not LAS/LAZ, damaged */
    /* the inputs cannot be merged as asked (they differ, a point would move, ...) */
    KORVANE_REFUSED = 3,
    KORVANE_IO_ERROR = 4,  /* reading or writing failed (disk full, permissions, ...) */
    KORVANE_CANCELLED = 5, /* the progress callback asked to stop */
    KORVANE_OUT_OF_MEMORY = 6
} korvane_status;

/* Called as the merge writes: return 0 to cancel the merge, non-zero to go on. points_total is
 * the output's point count in every call; points_done never goes down, and the last call has
 * points_done == points_total, before the output replaces an old one. */
typedef int (*korvane_progress_fn)(uint64_t points_done, uint64_t points_total, void* user);

/* Called with each message, line ends included: level 0 for the plan's lines (what the merge
 * changes: the output's schema and grid, each input it converts), 1 for a warning, 2 for the
 * running account that `Quillet LIST OUT` prints (the total, the files-to-be-merged line, each
 * file as its points are written). */
typedef void (*korvane_message_fn)(int level, const char* text, void* user);

/* A new, empty request; NULL when there is no memory for one. */
KORVANE_API korvane_merge* korvane_merge_new(void);
/* Frees a request; NULL is allowed. */
KORVANE_API void korvane_merge_free(korvane_merge* m);
/* Adds an input, LAS or LAZ, after those already added. One input is enough (a conversion). */
KORVANE_API korvane_status korvane_merge_add_input(korvane_merge* m, const char* path);
/* Sets the output: written as LAS when it ends in .las, as LAZ when it ends in .laz. */
KORVANE_API korvane_status korvane_merge_set_output(korvane_merge* m, const char* path);
/* Sets an option: "threads" ("1" to "64"; by default all cores), "rescale", "fixed-chunks",
 * "dry-run" ("0" or "1"), "temp-dir" (where a .copc.laz output stages its points; "" for
 * $TMPDIR, else beside the output), "memory" (the bytes a .copc.laz output may hold its points
 * in: digits with at most one K, M or G suffix, powers of 1024; at least 64M; by default 1G). */
KORVANE_API korvane_status korvane_merge_set_option(korvane_merge* m, const char* name,
                                                    const char* value);
KORVANE_API void korvane_merge_set_progress(korvane_merge* m, korvane_progress_fn fn, void* user);
KORVANE_API void korvane_merge_set_messages(korvane_merge* m, korvane_message_fn fn, void* user);
/* Runs the merge. Never prints, never ends the process, installs no signal handler; after any
 * failure or cancellation no temporary file is left and an existing output is as it was. */
KORVANE_API korvane_status korvane_merge_run(korvane_merge* m);
/* The last failure's message, "" after a success; valid until the next call on m. */
KORVANE_API const char* korvane_merge_error(const korvane_merge* m);
/* The points written by the last run (0 after a failure or a dry run). */
KORVANE_API uint64_t korvane_merge_points(const korvane_merge* m);
/* The report of the last run, a dry run or a refusal, as one JSON document on one line: status,
 * message, dry_run, output (name, form, schema: version, point_format, record_length, scale,
 * offset, extra_bytes, points, box), inputs (name, points, action), plan, warnings, seconds.
 * "" before the first run; valid until the next call on m. */
KORVANE_API const char* korvane_merge_report(const korvane_merge* m);
/* "KORVANE_OK", "KORVANE_INVALID_REQUEST", ...; "KORVANE_UNKNOWN_STATUS" for other values. */
KORVANE_API const char* korvane_status_name(korvane_status s);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_LIDAR_H */
