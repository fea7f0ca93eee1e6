// The records of an index of photos, one JSON line each (without its
// newline):
//   {"photo":...,"faces":[{"rect":{...},"left_eye":{...},"right_eye":{...},
//     "from_shape":...,"angle":...,"descriptor":[...128 values]},...]}
//   {"photo":...,"error":{"code":...,"message":...,"detail":...}}
// Index files written by earlier versions hold exactly these bytes, so the
// order of the keys and the form of every number are fixed.
#ifndef MORVIK_RECORDS_PHOTO_RECORD_H_
#define MORVIK_RECORDS_PHOTO_RECORD_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "morvik/morvik_c.h"

namespace morvik {

// A face with a descriptor (the first `data_count` faces) takes its
// rectangle and eyes from the description, which may have refined them.
std::string photoRecord(std::string_view photo, const MvFace* faces, size_t face_count,
                        const MvFaceData* data, size_t data_count);
// The message is GetResult's for `code`.
std::string errorRecord(std::string_view photo, int code, std::string_view detail);

}  // namespace morvik

#endif  // MORVIK_RECORDS_PHOTO_RECORD_H_
