// The records of an index of photos, one JSON line each (without its
// newline):
//   {"photo":...,["finder":...,"align_mode":...,]"faces":[{"rect":{...},
//     "left_eye":{...},"right_eye":{...},"from_shape":...,"angle":...,
//     ["score":...,"points":[...],]"descriptor":[...128 values]},...]}
//   {"photo":...,"error":{"code":...,"message":...,"detail":...}}
// Index files written by earlier versions hold exactly these bytes, so the
// order of the keys and the form of every number are fixed.
#ifndef MORVIK_RECORDS_PHOTO_RECORD_H_
#define MORVIK_RECORDS_PHOTO_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "morvik/morvik_c.h"

namespace morvik {

// How the descriptors of a record were made: the finder bits and the
// "align.mode"; a negative value leaves both out (records of earlier
// versions have neither).
struct RecordSource {
  int64_t finder = -1;
  int64_t align_mode = -1;
};

// A face with a descriptor (the first `data_count` faces) takes its
// rectangle and eyes from the description, which may have refined them. A
// face carries "score" (null when the finder gives none) and "points" when
// its finder gave a score or points; a face with neither is written as
// earlier versions wrote it.
std::string photoRecord(std::string_view photo, const MvFoundFace* faces, size_t face_count,
                        const MvFaceData* data, size_t data_count, const RecordSource& source);
// The message is GetResult's for `code`.
std::string errorRecord(std::string_view photo, int code, std::string_view detail);

}  // namespace morvik

#endif  // MORVIK_RECORDS_PHOTO_RECORD_H_
