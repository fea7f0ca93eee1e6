#include "records/photo_record.h"

#include <algorithm>
#include <cmath>

#include "records/json_text.h"

namespace morvik {
namespace {

void appendRect(std::string& out, const MvRectangle& r) {
  out += "{\"x\":";
  appendNumber(out, int64_t{r.x});
  out += ",\"y\":";
  appendNumber(out, int64_t{r.y});
  out += ",\"w\":";
  appendNumber(out, int64_t{r.w});
  out += ",\"h\":";
  appendNumber(out, int64_t{r.h});
  out += '}';
}

void appendPoint(std::string& out, const MvPoint& p) {
  out += "{\"x\":";
  appendNumber(out, int64_t{p.x});
  out += ",\"y\":";
  appendNumber(out, int64_t{p.y});
  out += '}';
}

void appendFinderDetails(std::string& out, const MvFoundFace& found) {
  if (std::isnan(found.score) && found.point_count <= 0) return;
  out += ",\"score\":";
  appendNumber(out, found.score);  // NaN, the finder's "none", is written as null
  out += ",\"points\":[";
  const int count = std::min<int>(found.point_count, sizeof found.points / sizeof found.points[0]);
  for (int i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    appendPoint(out, found.points[i]);
  }
  out += ']';
}

void appendFace(std::string& out, const MvFoundFace& found, const MvFaceData* data) {
  const MvFace& face = found.face;
  out += "{\"rect\":";
  appendRect(out, data ? data->rect : face.rect);
  out += ",\"left_eye\":";
  appendPoint(out, data ? data->left_eye : face.left_eye);
  out += ",\"right_eye\":";
  appendPoint(out, data ? data->right_eye : face.right_eye);
  out += face.from_shape ? ",\"from_shape\":true" : ",\"from_shape\":false";
  out += ",\"angle\":";
  appendNumber(out, face.angle);
  appendFinderDetails(out, found);
  if (data) {
    out += ",\"descriptor\":[";
    for (size_t i = 0; i < sizeof data->vector / sizeof data->vector[0]; ++i) {
      if (i > 0) out += ',';
      appendNumber(out, data->vector[i]);
    }
    out += ']';
  }
  out += '}';
}

}  // namespace

std::string photoRecord(std::string_view photo, const MvFoundFace* faces, size_t face_count,
                        const MvFaceData* data, size_t data_count, const RecordSource& source) {
  std::string out = "{\"photo\":";
  appendQuoted(out, photo);
  if (source.finder >= 0 && source.align_mode >= 0) {
    out += ",\"finder\":";
    appendNumber(out, source.finder);
    out += ",\"align_mode\":";
    appendNumber(out, source.align_mode);
  }
  out += ",\"faces\":[";
  for (size_t i = 0; i < face_count; ++i) {
    if (i > 0) out += ',';
    appendFace(out, faces[i], i < data_count ? &data[i] : nullptr);
  }
  out += "]}";
  return out;
}

std::string errorRecord(std::string_view photo, int code, std::string_view detail) {
  std::string out = "{\"photo\":";
  appendQuoted(out, photo);
  out += ",\"error\":{\"code\":";
  appendNumber(out, int64_t{code});
  out += ",\"message\":";
  appendQuoted(out, GetResult(code));
  out += ",\"detail\":";
  appendQuoted(out, detail);
  out += "}}";
  return out;
}

}  // namespace morvik
