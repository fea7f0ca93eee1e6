/* Tier: stable interface (the C/C++ entry points and records hosts build on). */
/* Collections of faces: a nearest-neighbour index of 128-value descriptors,
 * kept in a file of its own, and the grouping of faces by person.
 *
 * Conventions are those of morvik_c.h: every pointer is checked first (-1),
 * results are the codes GetResult turns into text (0 is success), outputs
 * are written only on success, and nothing thrown inside crosses the call
 * (-8). An index file that cannot be trusted (truncated, damaged, of another
 * version) is refused with -1 and never half read.
 *
 * An index is used from one thread at a time, or searched from several at
 * once while no thread changes it. Its own work uses at most two threads. */
#ifndef MORVIK_COLLECTION_H_
#define MORVIK_COLLECTION_H_

#include <stddef.h>
#include <stdint.h>

#include "morvik/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What an index is built as. AUTO is exact (every descriptor compared) up to
 * MV_INDEX_EXACT_LIMIT faces and approximate (an inverted file: only the
 * descriptors of the lists nearest the query are compared) above. */
#define MV_INDEX_AUTO 0
#define MV_INDEX_EXACT 1
#define MV_INDEX_APPROXIMATE 2
#define MV_INDEX_EXACT_LIMIT 20000

/* MvIndexSearch flag: compare every descriptor whatever the index holds. */
#define MV_SEARCH_EXACT 1u

typedef struct MvIndex MvIndex;
/* The records of faces, defined in morvik_c.h. */
struct MvFace;
struct MvFoundFace;
struct MvFaceData;

typedef struct MvNeighbor {
  uint64_t id;     /* the face's position in the order of MvIndexAdd */
  double distance; /* as CompareVectors gives it */
} MvNeighbor;

typedef struct MvIndexInfo {
  uint64_t count;      /* faces */
  int32_t policy;      /* MV_INDEX_AUTO, _EXACT or _APPROXIMATE, as created */
  int32_t structure;   /* MV_INDEX_EXACT or MV_INDEX_APPROXIMATE: as built now */
  uint64_t memory;     /* bytes held by the index */
} MvIndexInfo;

/* What the index was made from, stored in its file's header so that a host
 * can tell when its source changed: the source's size, its modification
 * time and a digest of its bytes (MvFileDigest), and how many of those
 * bytes the index covers. The library stores it and never interprets it. */
typedef struct MvIndexSource {
  uint64_t size;
  int64_t mtime_ns;
  uint64_t digest;
  uint64_t covered;
} MvIndexSource;

/* Progress of a long call: `done` of `total` steps. */
typedef void (*MvProgress)(void* context, uint64_t done, uint64_t total);

MORVIK_API int MvIndexCreate(int32_t policy, MvIndex** index);
/* Releases the index; null is allowed. */
MORVIK_API void MvIndexFree(MvIndex* index);
/* Appends `count` descriptors of 128 floats each (ids follow on). A value
 * that is not finite (NaN, infinity) refuses the whole call with -1. */
MORVIK_API int MvIndexAdd(MvIndex* index, const float* vectors, size_t count);
MORVIK_API int MvIndexGetInfo(const MvIndex* index, MvIndexInfo* info);
/* The `k` faces closest to `query` (128 floats), nearest first. *found is
 * the capacity of `results` in (at least k) and the number written out
 * (fewer when the index holds fewer faces). A query with a value that is
 * not finite: -1. */
MORVIK_API int MvIndexSearch(const MvIndex* index, const float* query, size_t k, uint32_t flags,
                             MvNeighbor* results, size_t* found);
/* Copies the descriptors of ids [first, first + count) into `out`. */
MORVIK_API int MvIndexGetVectors(const MvIndex* index, size_t first, size_t count, float* out);

MORVIK_API int MvIndexSetSource(MvIndex* index, const MvIndexSource* source);
MORVIK_API int MvIndexGetSource(const MvIndex* index, MvIndexSource* source);
/* Bytes of the host's own stored with the index (for example what each id
 * stands for). MvIndexGetAttachment's pointer is valid until the attachment
 * is set again or the index is freed. */
MORVIK_API int MvIndexSetAttachment(MvIndex* index, const void* data, size_t size);
MORVIK_API int MvIndexGetAttachment(const MvIndex* index, const void** data, size_t* size);

/* Writes the index to `path` through a temporary file in the same folder
 * that is renamed over `path` once complete: a crash leaves the old file or
 * the new one, never a part. */
MORVIK_API int MvIndexSave(const MvIndex* index, const char* path);
/* Reads an index written by MvIndexSave; every byte is checked against the
 * file's digests, and its structure against itself (sizes within the file,
 * every id below the count), before any is used. */
MORVIK_API int MvIndexLoad(const char* path, MvIndex** index);

/* The digest of the first `length` bytes of a file (UINT64_MAX: all of it);
 * -1 when the file cannot be read or is shorter. */
MORVIK_API int MvFileDigest(const char* path, uint64_t length, uint64_t* digest);

/* The records of an index of photos, one JSON line per photo as `morvik
 * index` writes it (without the newline); the Python package writes the same
 * through these calls. Numbers are written in their shortest round-trip form
 * (non-finite ones as null) and strings byte for byte, with quotes,
 * backslashes and control bytes escaped. The record is handed over in
 * *record, a malloc buffer of *record_length bytes and a NUL that the host
 * releases with free(). A text pointer may be null only with a length of 0.
 *
 * {"photo":...,"faces":[...]}: `faces` are the faces found (an MvFoundFace
 * array, morvik_c.h, as MvFindFaces gives them) and `data` the descriptions
 * of the first `data_count` of them; a described face is written with the
 * description's rectangle and eyes and its 128 values, and a face whose
 * finder gave a score or points with "score" (null for none) and "points".
 * `finder` (the finder bits) and `align_mode` (the "align.mode") say how the
 * descriptors were made: "finder":...,"align_mode":... before "faces"; both
 * left out when either is negative. Bytes that are not UTF-8 in `photo` are
 * written as the escapes \udc80 to \udcff (Python's "surrogateescape"), so
 * that every record is valid JSON and the name's bytes can be recovered. */
MORVIK_API int MvFormatPhotoRecord(const char* photo, size_t photo_length, const struct MvFoundFace* faces,
                                   size_t face_count, const struct MvFaceData* data, size_t data_count,
                                   int64_t finder, int64_t align_mode, char** record,
                                   size_t* record_length);
/* {"photo":...,"error":{"code":...,"message":...,"detail":...}}, the message
 * being GetResult's for `code`. */
MORVIK_API int MvFormatErrorRecord(const char* photo, size_t photo_length, int code, const char* detail,
                                   size_t detail_length, char** record, size_t* record_length);

/* Groups the faces of the index by person: dlib's chinese_whispers over the
 * graph joining each face to its nearest faces (32 at most) closer than
 * `threshold`, so that memory grows with the number of faces. labels[id] is the face's group,
 * 0 for the largest, then by size (ties: the group whose first face comes
 * first). `count` is the capacity of `labels` (at least the index's size);
 * *clusters is the number of groups. `progress` (may be null) is called as
 * the pairs are found. */
MORVIK_API int MvIndexCluster(const MvIndex* index, double threshold, uint32_t* labels, size_t count,
                              size_t* clusters, MvProgress progress, void* context);
/* The same for `count` descriptors of 128 floats each; a count whose bytes
 * overflow, or a value that is not finite: -1. */
MORVIK_API int MvCluster(const float* vectors, size_t count, double threshold, uint32_t* labels,
                         size_t* clusters, MvProgress progress, void* context);

#ifdef __cplusplus
}
#endif

#endif /* MORVIK_COLLECTION_H_ */
