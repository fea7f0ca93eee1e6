// Tier: stable interface (the C/C++ entry points and records hosts build on).
// The library's entry points with C linkage.
//
// Conventions shared by every entry point:
//  - every pointer is checked first; a failed check returns -1 and writes
//    nothing;
//  - a size_t* marked in/out carries the capacity of the caller's array in
//    and the number of records written out, and is written only on success;
//  - results are the codes that GetResult turns into text (0 is success).
#ifndef MORVIK_MORVIK_H_
#define MORVIK_MORVIK_H_

#include <cstddef>
#include <cstdint>

#include "morvik/export.h"
#include "morvik/types.h"

namespace mv {

// The 32 bytes exchanged by GetOption/SetOption for the string options
// ("image.format" and the model file names).
//  - GetOption fills `text` with a pointer to the store's own text and
//    `length` with its length in bytes. The pointer stays valid until that
//    option is next written or loaded; copy the text if you keep it.
//  - SetOption copies `length` bytes from `text`. A null `text` is allowed
//    only with a length of 0; a text containing a NUL byte is refused (-1).
//  - `reserved` is written as zeros by GetOption and ignored by SetOption.
struct OptionString {
  const char* text;
  uint64_t length;
  uint8_t reserved[16];
};
static_assert(sizeof(OptionString) == 32, "string options are exchanged as 32 bytes");

}  // namespace mv

extern "C" {

// Result codes: the values of morvik_c.h's MV_C_ codes, under C++ names.
enum {
  MV_OK = 0,
  MV_NO_EYE = 1,
  MV_ONE_EYE = 2,
  MV_INVALID_ARGS = -1,
  MV_PARSE_IMAGE = -2,
  MV_LOAD_CASCADE = -3,
  MV_NO_FACE = -4,
  MV_ENCODE_IMAGE = -5,
  MV_CREATE_VECTOR = -7,
  MV_EXCEPTION = -8,
  MV_NO_IMAGE = -9,
  MV_BUFFER_SIZE = -10,
  MV_PROPERTY_NAME = -11,
  MV_NOT_SUPPORTED = -12,
};

// Finds the faces of an image, largest first. *faces_size: capacity in
// (0 = no limit: the array must hold every face), number found out.
MORVIK_API int ExtractFaces(const cv::Mat* image, mv::Face* faces, size_t* faces_size,
                            mv::FindFaceAlgoType algo);

// Descriptors of faces the caller already knows. Processes
// n = min(count, *data_size) faces and writes n records.
MORVIK_API int ExtractInfo(const cv::Mat* image, mv::Face* faces, size_t count,
                           mv::FaceData* data, size_t* data_size);
// As ExtractInfo, adding the aligned face image encoded in "image.format".
// The caller owns the buffers it receives and releases them with free();
// the records it passes in must hold an empty image_data or a malloc buffer.
MORVIK_API int ExtractInfoEx(const cv::Mat* image, mv::Face* faces, size_t count,
                             mv::FaceDataEx* data, size_t* data_size);
// The descriptor of one face; `descriptor` has room for 128 floats.
MORVIK_API int ExtractVector(const cv::Mat* image, mv::Face* face, float* descriptor);
// Euclidean distance of two descriptors; sizes are in bytes (512 for one).
MORVIK_API int CompareVectors(const float* first, size_t first_size, const float* second,
                              size_t second_size, double* distance);

// The fixed English message of a result code; never null.
MORVIK_API const char* GetResult(int code);
MORVIK_API int GetVersion(uint16_t* major, uint16_t* minor, uint32_t* build);

// Read and write one option by its key (see config.json). Numbers are
// exchanged as their C type (int and float: 4 bytes, double: 8 bytes),
// strings as an mv::OptionString.
MORVIK_API int GetOption(const char* name, void* buffer, size_t size);
MORVIK_API int SetOption(const char* name, void* value, size_t size);

// Releases the models cached on the calling thread.
MORVIK_API void GlobalFree();

// Finding and describing in one call, on the bytes of an encoded image.
MORVIK_API int ExtractFacesInfo(const void* bytes, size_t length, mv::FaceData* data,
                                size_t* data_size, mv::FindFaceAlgoType algo);
MORVIK_API int ExtractFacesInfoEx(const void* bytes, size_t length, mv::FaceDataEx* data,
                                  size_t* data_size, mv::FindFaceAlgoType algo);
// `data` points to an array of *data_size mv::FaceDataAngle records.
MORVIK_API int ExtractFacesInfoAngle(const void* bytes, size_t length, void* data,
                                     size_t* data_size, mv::FindFaceAlgoType algo);

}  // extern "C"

#endif  // MORVIK_MORVIK_H_
