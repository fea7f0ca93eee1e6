/* Tier: stable interface (the C/C++ entry points and records hosts build on). */
/* The library's interface for C hosts: the records with their fixed layouts,
 * the entry points that take no OpenCV types, and entry points that take raw
 * pixel buffers.
 *
 * Conventions (shared with morvik.h):
 *  - every pointer is checked first; a failed check returns -1 and writes
 *    nothing;
 *  - a size_t* marked in/out carries the capacity of the caller's array in
 *    and the number of records written out, and is written only on success;
 *  - results are the codes that GetResult turns into text (0 is success).
 *
 * The byte-based entry points are the same symbols that morvik.h declares
 * with C++ types. A C++ file that needs both headers includes morvik.h first;
 * this header then leaves those declarations to it. */
#ifndef MORVIK_MORVIK_C_H_
#define MORVIK_MORVIK_C_H_

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "morvik/export.h"

#ifdef __cplusplus
#define MV_C_STATIC_ASSERT(expr, text) static_assert(expr, text)
extern "C" {
#else
#define MV_C_STATIC_ASSERT(expr, text) _Static_assert(expr, text)
#endif

/* Result codes (MV_C_ names, so that this header can sit beside morvik.h and
 * its MV_ enumeration). These values and the finder bits below are the
 * definition: morvik.h and morvik/types.h name the same values (checked when
 * the library is built) and the Python package reads them from this header. */
#define MV_C_OK 0
#define MV_C_NO_EYE 1
#define MV_C_ONE_EYE 2
#define MV_C_INVALID_ARGS (-1)
#define MV_C_PARSE_IMAGE (-2)
#define MV_C_LOAD_CASCADE (-3)
#define MV_C_NO_FACE (-4)
#define MV_C_ENCODE_IMAGE (-5)
#define MV_C_CREATE_VECTOR (-7)
#define MV_C_EXCEPTION (-8)
#define MV_C_NO_IMAGE (-9)
#define MV_C_BUFFER_SIZE (-10)
#define MV_C_PROPERTY_NAME (-11)
#define MV_C_NOT_SUPPORTED (-12)

/* Face finder selection, a bit set passed as one byte. */
typedef uint8_t MvFindFaceAlgoType;
#define MV_FIND_NONE 0x00
#define MV_FIND_LBP 0x02
#define MV_FIND_HAAR 0x04
#define MV_FIND_DLIB 0x08
#define MV_FIND_CNN 0x10
#define MV_FIND_PICO 0x20
#define MV_FIND_CONFIRM 0x40
/* The YuNet finder, first in the chain, when the option "find.yunet" is 1;
 * at its default 0 the bit selects nothing. */
#define MV_FIND_YUNET 0x80
/* For the 32-bit selection of MvFindFaces: the YuNet finder whatever
 * "find.yunet" says. */
#define MV_FIND_YUNET_ALWAYS 0x100u

/* A pixel position. For eye fields (0, 0) means "no eye position known". */
typedef struct MvPoint {
  int32_t x;
  int32_t y;
} MvPoint;

typedef struct MvRectangle {
  int32_t x;
  int32_t y;
  int32_t w;
  int32_t h;
} MvRectangle;

/* One face with its eye centres. "left" and "right" name the sides of the
 * image as stored, not the person's. */
typedef struct MvFace {
  bool from_shape; /* eyes and rectangle fitted from the landmark shape */
  double angle;    /* in-plane rotation in degrees */
  MvRectangle rect;
  MvPoint right_eye;
  MvPoint left_eye;
} MvFace;

/* A face with what its finder knew of it beyond the box (MvFindFaces).
 * `score` is the finder's own value: the YuNet finder's score from 0 to 1;
 * the HOG finder's detection value (dlib's: the margin over the detector's
 * threshold, 0 or more); the CNN detector's detection confidence (dlib's
 * MMOD value, at least "dlib.cnn.confidence"); a NaN (test with isnan) for
 * the finders that give none (the cascades, pico, the light CNN alone).
 * With a confirmer the score stays the member's. `points` are set
 * when `point_count` is 5 (YuNet faces; 0 otherwise): the eye on the
 * image's left, the eye on its right, the nose tip, the mouth corner on the
 * left and the one on the right, in pixels of the image, not clipped to it.
 * `face` is the record MvExtractFacesPixels gives, ready for the descriptor
 * entry points. */
typedef struct MvFoundFace {
  MvFace face;
  float score;
  int32_t point_count;
  MvPoint points[5];
} MvFoundFace;

typedef struct MvFaceData {
  MvRectangle rect;
  MvPoint right_eye;
  MvPoint left_eye;
  float vector[128];
} MvFaceData;

/* A byte buffer from malloc; the host releases it with free(). */
typedef struct MvData {
  unsigned char* data;
  size_t size;
} MvData;

/* An MvFaceData followed by the aligned face image, encoded. */
typedef struct MvFaceDataEx {
  MvFaceData face;
  MvData image_data;
} MvFaceDataEx;

typedef struct MvFaceDataAngle {
  MvFaceData data;
  double angle;
} MvFaceDataAngle;

/* The 32 bytes exchanged by GetOption/SetOption for string options. GetOption
 * points `text` at the store's own text (valid until the option is next
 * written); SetOption copies `length` bytes and refuses a NUL byte. */
typedef struct MvOptionString {
  const char* text;
  uint64_t length;
  uint8_t reserved[16];
} MvOptionString;

/* Pixel layouts accepted by the pixel entry points (8 bits per channel). */
typedef enum MvPixelFormat {
  MV_PIXELS_GRAY = 1,
  MV_PIXELS_BGR = 2,
  MV_PIXELS_BGRA = 3,
  MV_PIXELS_RGB = 4,
  MV_PIXELS_RGBA = 5
} MvPixelFormat;

/* A view of the caller's pixels; the library never keeps or writes them.
 * `stride` is the distance in bytes between the starts of two rows; 0 means
 * rows follow one another without padding. */
typedef struct MvImage {
  const void* pixels;
  int32_t width;
  int32_t height;
  size_t stride;
  int32_t format; /* an MvPixelFormat */
} MvImage;

/* Types reported by MvGetOptionInfo. */
typedef enum MvOptionType {
  MV_OPTION_INT = 1,    /* int32_t, 4 bytes */
  MV_OPTION_FLOAT = 2,  /* float, 4 bytes */
  MV_OPTION_DOUBLE = 3, /* double, 8 bytes */
  MV_OPTION_STRING = 4  /* MvOptionString, 32 bytes */
} MvOptionType;

MV_C_STATIC_ASSERT(sizeof(MvPoint) == 8, "MvPoint is 8 bytes");
MV_C_STATIC_ASSERT(sizeof(MvRectangle) == 16, "MvRectangle is 16 bytes");
MV_C_STATIC_ASSERT(sizeof(bool) == 1, "bool is one byte");
MV_C_STATIC_ASSERT(sizeof(MvFace) == 48, "MvFace is 48 bytes");
MV_C_STATIC_ASSERT(offsetof(MvFace, angle) == 8, "MvFace.angle at 8");
MV_C_STATIC_ASSERT(offsetof(MvFace, rect) == 16, "MvFace.rect at 16");
MV_C_STATIC_ASSERT(offsetof(MvFace, right_eye) == 32, "MvFace.right_eye at 32");
MV_C_STATIC_ASSERT(offsetof(MvFace, left_eye) == 40, "MvFace.left_eye at 40");
MV_C_STATIC_ASSERT(sizeof(MvFoundFace) == 96, "MvFoundFace is 96 bytes");
MV_C_STATIC_ASSERT(offsetof(MvFoundFace, score) == 48, "MvFoundFace.score at 48");
MV_C_STATIC_ASSERT(offsetof(MvFoundFace, points) == 56, "MvFoundFace.points at 56");
MV_C_STATIC_ASSERT(sizeof(MvFaceData) == 544, "MvFaceData is 544 bytes");
MV_C_STATIC_ASSERT(offsetof(MvFaceData, right_eye) == 16, "MvFaceData.right_eye at 16");
MV_C_STATIC_ASSERT(offsetof(MvFaceData, left_eye) == 24, "MvFaceData.left_eye at 24");
MV_C_STATIC_ASSERT(offsetof(MvFaceData, vector) == 32, "MvFaceData.vector at 32");
MV_C_STATIC_ASSERT(sizeof(MvData) == 16, "MvData is 16 bytes");
MV_C_STATIC_ASSERT(sizeof(MvFaceDataEx) == 560, "MvFaceDataEx is 560 bytes");
MV_C_STATIC_ASSERT(offsetof(MvFaceDataEx, image_data) == 544, "MvFaceDataEx.image_data at 544");
MV_C_STATIC_ASSERT(sizeof(MvFaceDataAngle) == 552, "MvFaceDataAngle is 552 bytes");
MV_C_STATIC_ASSERT(offsetof(MvFaceDataAngle, angle) == 544, "MvFaceDataAngle.angle at 544");
MV_C_STATIC_ASSERT(sizeof(MvOptionString) == 32, "MvOptionString is 32 bytes");
MV_C_STATIC_ASSERT(sizeof(MvImage) == 32, "MvImage is 32 bytes");

#ifndef MORVIK_MORVIK_H_
/* The fixed English message of a result code; never null. */
MORVIK_API const char* GetResult(int code);
MORVIK_API int GetVersion(uint16_t* major, uint16_t* minor, uint32_t* build);
/* Numbers are exchanged as their C type, strings as an MvOptionString. */
MORVIK_API int GetOption(const char* name, void* buffer, size_t size);
MORVIK_API int SetOption(const char* name, void* value, size_t size);
/* Releases the models cached on the calling thread. */
MORVIK_API void GlobalFree(void);
/* Euclidean distance of two descriptors; sizes are in bytes (512 for one). */
MORVIK_API int CompareVectors(const float* first, size_t first_size, const float* second,
                              size_t second_size, double* distance);
/* Finding and describing in one call, on the bytes of an encoded image.
 * *data_size: capacity in, number of faces out. */
MORVIK_API int ExtractFacesInfo(const void* bytes, size_t length, MvFaceData* data,
                                size_t* data_size, MvFindFaceAlgoType algo);
/* The image buffers received belong to the host (free()); records passed in
 * hold an empty image_data or a malloc buffer. */
MORVIK_API int ExtractFacesInfoEx(const void* bytes, size_t length, MvFaceDataEx* data,
                                  size_t* data_size, MvFindFaceAlgoType algo);
/* `data` points to an array of *data_size MvFaceDataAngle records. */
MORVIK_API int ExtractFacesInfoAngle(const void* bytes, size_t length, void* data,
                                     size_t* data_size, MvFindFaceAlgoType algo);
#endif /* MORVIK_MORVIK_H_ */

/* The faces of an image, largest first, with their eye centres. *faces_size
 * is the capacity of `faces` in and the number found out; unlike ExtractFaces
 * a capacity of 0 is refused (-1), since the caller cannot know the count. */
MORVIK_API int MvExtractFacesPixels(const MvImage* image, MvFace* faces, size_t* faces_size,
                                    MvFindFaceAlgoType algo);
/* The faces of an image as MvExtractFacesPixels finds them (largest first,
 * eyes located, capacity in and count out, 0 refused), each with its
 * finder's score and points. `finders` is a 32-bit selection: the bits of
 * MvFindFaceAlgoType, and MV_FIND_YUNET_ALWAYS for the YuNet finder without
 * any option; any other bit is refused (-1). The eyes of a YuNet face are its points 0 and 1 (no eye
 * search; from_shape false). Never lets an exception escape: -8 instead. */
MORVIK_API int MvFindFaces(const MvImage* image, MvFoundFace* faces, size_t* faces_size, uint32_t finders);
/* Descriptors of faces the caller already knows: processes and writes
 * n = min(count, *data_size) records. A face whose eyes are both (0, 0) has
 * its eyes located first. `faces` is never written. */
MORVIK_API int MvExtractInfoPixels(const MvImage* image, const MvFace* faces, size_t count,
                                   MvFaceData* data, size_t* data_size);
/* The descriptor of one face; `descriptor` has room for 128 floats. */
MORVIK_API int MvExtractVectorPixels(const MvImage* image, const MvFace* face, float* descriptor);

/* Decodes an encoded image file into 8-bit BGR pixels (format MV_PIXELS_BGR)
 * in a malloc buffer that MvReleaseImage releases. -2 for bytes that do not
 * decode. */
MORVIK_API int MvDecodeImage(const void* bytes, size_t length, MvImage* image);
/* Releases the pixels of MvDecodeImage and empties the record. */
MORVIK_API void MvReleaseImage(MvImage* image);

/* The key and type of option number `index` (0 to MvOptionCount() - 1); the
 * key text is a constant of the library. -11 past the last option. */
MORVIK_API int MvGetOptionInfo(size_t index, const char** name, int* type);
MORVIK_API size_t MvOptionCount(void);
/* The whole numbers an int option takes, from `min` to `max`. -11 for an
 * unknown key, -12 for an option that does not hold a whole number. */
MORVIK_API int MvGetOptionRange(const char* name, int64_t* min, int64_t* max);

/* The finders by name: finder number `index` (0, 1, ... until -1) is the name
 * `name` (a constant of the library, e.g. "hog") for the bits `bits` of
 * MvFindFaceAlgoType. Tools join names with '+' ("hog+cnn"). */
MORVIK_API int MvFinderName(size_t index, const char** name, int* bits);

/* The dimensions an encoded image declares in its header, read without
 * decoding it (for saying why a decode was refused, e.g. over
 * "image.max_decoded_pixels"). -2 when the header is not one the library
 * reads. */
MORVIK_API int MvPeekImageSize(const void* bytes, size_t length, uint64_t* width, uint64_t* height);

/* The library's log lines ("Loading config ..." and the other lines of the
 * configuration loader, the eye search's "All points are filtered for
 * image") are written by default. MORVIK_LOG=0 in the environment when the
 * library is loaded silences them from the start, including the start-up
 * load of the configuration; MvSetLogging switches them at any later time.
 * Failures to read the configuration file are reported either way. */
MORVIK_API void MvSetLogging(int enabled);
/* 1 when the log lines are written, else 0. */
MORVIK_API int MvGetLogging(void);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* MORVIK_MORVIK_C_H_ */
