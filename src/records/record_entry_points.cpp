// The record writer's entry points (morvik/collection.h). The text is
// handed over in a malloc buffer: its length is known only once written.
#include <cstdlib>
#include <cstring>
#include <string>

#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"
#include "morvik/collection.h"
#include "records/photo_record.h"

namespace {

// A text of `length` bytes may be null only when empty.
bool validText(const char* text, size_t length) { return text != nullptr || length == 0; }

template <typename Format>
int handOver(Format format, char** record, size_t* record_length) noexcept {
  try {
    const std::string text = format();
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) return MV_EXCEPTION;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *record = copy;
    *record_length = text.size();
    return MV_OK;
  } catch (...) {
    return MV_EXCEPTION;
  }
}

}  // namespace

extern "C" {

MORVIK_API int MvFormatPhotoRecord(const char* photo, size_t photo_length, const MvFoundFace* faces,
                                   size_t face_count, const MvFaceData* data, size_t data_count,
                                   int64_t finder, int64_t align_mode, char** record,
                                   size_t* record_length) {
  if (!validText(photo, photo_length) || (faces == nullptr && face_count > 0) ||
      (data == nullptr && data_count > 0) || record == nullptr || record_length == nullptr) {
    return MV_INVALID_ARGS;
  }
  return handOver(
      [&] {
        morvik::RecordSource source;
        source.finder = finder;
        source.align_mode = align_mode;
        return morvik::photoRecord(std::string_view(photo, photo_length), faces, face_count, data,
                                   data_count, source);
      },
      record, record_length);
}

MORVIK_API int MvFormatErrorRecord(const char* photo, size_t photo_length, int code, const char* detail,
                                   size_t detail_length, char** record, size_t* record_length) {
  if (!validText(photo, photo_length) || !validText(detail, detail_length) || record == nullptr ||
      record_length == nullptr) {
    return MV_INVALID_ARGS;
  }
  return handOver(
      [&] {
        return morvik::errorRecord(std::string_view(photo, photo_length), code,
                                   std::string_view(detail, detail_length));
      },
      record, record_length);
}

}  // extern "C"
