/* The C interface as a C11 host sees it: records, options, pixel entry
 * points over every pixel layout, the byte-based entry points and their
 * refusals of bad input. Usage: c_api_test TESTDATA_DIR */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "morvik/collection.h"
#include "morvik/morvik_c.h"

static int failures = 0;

#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

#define CHECK_CODE(expr, expected)                                                        \
  do {                                                                                    \
    int code_ = (expr);                                                                   \
    if (code_ != (expected)) {                                                            \
      fprintf(stderr, "%s:%d: %s gave %d (%s), expected %d\n", __FILE__, __LINE__, #expr, \
              code_, GetResult(code_), (expected));                                       \
      ++failures;                                                                         \
    }                                                                                     \
  } while (0)

static unsigned char* read_file(const char* path, size_t* length) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return NULL;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  unsigned char* bytes = malloc((size_t)size);
  if (bytes != NULL && fread(bytes, 1, (size_t)size, f) != (size_t)size) {
    free(bytes);
    bytes = NULL;
  }
  fclose(f);
  *length = (size_t)size;
  return bytes;
}

static int same_faces(const MvFace* a, const MvFace* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (memcmp(&a[i].rect, &b[i].rect, sizeof(MvRectangle)) != 0) return 0;
    if (a[i].left_eye.x != b[i].left_eye.x || a[i].right_eye.x != b[i].right_eye.x) return 0;
  }
  return 1;
}

static void test_version_and_results(void) {
  uint16_t major = 0, minor = 0;
  uint32_t build = 0;
  CHECK_CODE(GetVersion(&major, &minor, &build), MV_C_OK);
  CHECK(major == 3 && minor == 7 && build == 0x89287A2Au);
  CHECK(strcmp(GetResult(MV_C_NO_FACE), "Can't find any face") == 0);
  CHECK(strcmp(GetResult(-6), "Unknown error") == 0);
}

static void test_options(void) {
  size_t count = MvOptionCount();
  CHECK(count == 55);
  size_t per_type[5] = {0};
  for (size_t i = 0; i < count; ++i) {
    const char* name = NULL;
    int type = 0;
    CHECK_CODE(MvGetOptionInfo(i, &name, &type), MV_C_OK);
    CHECK(type >= MV_OPTION_INT && type <= MV_OPTION_STRING);
    if (type < MV_OPTION_INT || type > MV_OPTION_STRING) continue;
    ++per_type[type];
    unsigned char buffer[32];
    size_t size = type == MV_OPTION_STRING ? 32 : type == MV_OPTION_DOUBLE ? 8 : 4;
    CHECK_CODE(GetOption(name, buffer, size), MV_C_OK);
    CHECK_CODE(GetOption(name, buffer, size - 1), MV_C_BUFFER_SIZE);
    if (strcmp(name, "pico.qthreshold") == 0) CHECK(type == MV_OPTION_FLOAT);
    if (strcmp(name, "pico.maxdetections") == 0) CHECK(type == MV_OPTION_INT);
  }
  CHECK(per_type[MV_OPTION_INT] == 35 && per_type[MV_OPTION_FLOAT] == 9);
  CHECK(per_type[MV_OPTION_DOUBLE] == 2 && per_type[MV_OPTION_STRING] == 9);
  const char* name = NULL;
  int type = 0;
  CHECK_CODE(MvGetOptionInfo(count, &name, &type), MV_C_PROPERTY_NAME);
  CHECK_CODE(MvGetOptionInfo(0, NULL, &type), MV_C_INVALID_ARGS);

  MvOptionString format = {".jpg", 4, {0}};
  CHECK_CODE(SetOption("image.format", &format, sizeof(format)), MV_C_OK);
  MvOptionString read = {0};
  CHECK_CODE(GetOption("image.format", &read, sizeof(read)), MV_C_OK);
  CHECK(read.length == 4 && memcmp(read.text, ".jpg", 4) == 0);
  MvOptionString with_nul = {"a\0b", 3, {0}};
  CHECK_CODE(SetOption("image.format", &with_nul, sizeof(with_nul)), MV_C_INVALID_ARGS);
  MvOptionString png = {".png", 4, {0}};
  CHECK_CODE(SetOption("image.format", &png, sizeof(png)), MV_C_OK);
  float scale = 0;
  CHECK_CODE(GetOption("haar.face.scale_factor", &scale, sizeof(scale)), MV_C_OK);
  CHECK(fabsf(scale - 1.1f) < 1e-6f);
}

/* Copies BGR pixels into another layout, with `pad` spare bytes per row. */
static unsigned char* convert(const MvImage* bgr, int format, size_t pad, MvImage* out) {
  int channels = format == MV_PIXELS_GRAY ? 1 : (format == MV_PIXELS_BGR || format == MV_PIXELS_RGB) ? 3 : 4;
  size_t stride = (size_t)bgr->width * (size_t)channels + pad;
  unsigned char* pixels = calloc(stride * (size_t)bgr->height, 1);
  for (int y = 0; y < bgr->height; ++y) {
    const unsigned char* src = (const unsigned char*)bgr->pixels + (size_t)y * bgr->stride;
    unsigned char* dst = pixels + (size_t)y * stride;
    for (int x = 0; x < bgr->width; ++x, src += 3, dst += channels) {
      unsigned char b = src[0], g = src[1], r = src[2];
      switch (format) {
        case MV_PIXELS_GRAY: dst[0] = (unsigned char)((b * 114 + g * 587 + r * 299) / 1000); break;
        case MV_PIXELS_RGB: case MV_PIXELS_RGBA: dst[0] = r; dst[1] = g; dst[2] = b; break;
        default: dst[0] = b; dst[1] = g; dst[2] = r; break;
      }
      if (channels == 4) dst[3] = 255;
    }
  }
  MvImage view = {pixels, bgr->width, bgr->height, stride, format};
  *out = view;
  return pixels;
}

static void test_pixels(const char* testdata) {
  char path[1024];
  snprintf(path, sizeof(path), "%s/faces/two_people.jpg", testdata);
  size_t length = 0;
  unsigned char* bytes = read_file(path, &length);
  CHECK(bytes != NULL);
  if (bytes == NULL) return;
  MvImage bgr = {0};
  CHECK_CODE(MvDecodeImage(bytes, length, &bgr), MV_C_OK);
  CHECK(bgr.width == 1126 && bgr.height == 661 && bgr.format == MV_PIXELS_BGR);

  MvFace faces[4];
  size_t n = 4;
  CHECK_CODE(MvExtractFacesPixels(&bgr, faces, &n, MV_FIND_DLIB), MV_C_OK);
  CHECK(n == 2);
  if (n == 2) {
    CHECK(faces[0].rect.w * faces[0].rect.h >= faces[1].rect.w * faces[1].rect.h);
    CHECK(faces[0].left_eye.x < faces[0].right_eye.x);
  }

  /* The same pixels in another byte order or with padded rows give the same faces. */
  const int formats[] = {MV_PIXELS_RGB, MV_PIXELS_BGRA, MV_PIXELS_RGBA, MV_PIXELS_BGR};
  for (size_t f = 0; f < sizeof(formats) / sizeof(formats[0]); ++f) {
    MvImage other;
    unsigned char* pixels = convert(&bgr, formats[f], 13, &other);
    MvFace again[4];
    size_t m = 4;
    CHECK_CODE(MvExtractFacesPixels(&other, again, &m, MV_FIND_DLIB), MV_C_OK);
    CHECK(m == n && same_faces(faces, again, n));
    free(pixels);
  }
  MvImage grey;
  unsigned char* grey_pixels = convert(&bgr, MV_PIXELS_GRAY, 0, &grey);
  size_t m = 4;
  MvFace grey_faces[4];
  CHECK_CODE(MvExtractFacesPixels(&grey, grey_faces, &m, MV_FIND_DLIB), MV_C_OK);
  CHECK(m == 2);
  free(grey_pixels);

  /* Descriptors: two people, and one face described two ways alike. */
  MvFaceData data[2];
  size_t described = 2;
  CHECK_CODE(MvExtractInfoPixels(&bgr, faces, n, data, &described), MV_C_OK);
  CHECK(described == 2);
  float vector[128];
  CHECK_CODE(MvExtractVectorPixels(&bgr, &faces[0], vector), MV_C_OK);
  CHECK(memcmp(vector, data[0].vector, sizeof(vector)) == 0);
  double distance = 0.0;
  CHECK_CODE(CompareVectors(data[0].vector, 512, data[1].vector, 512, &distance), MV_C_OK);
  CHECK(distance > 0.6);
  size_t one = 1;
  CHECK_CODE(MvExtractInfoPixels(&bgr, faces, 2, data, &one), MV_C_OK);
  CHECK(one == 1);

  /* Refusals. */
  size_t zero = 0;
  CHECK_CODE(MvExtractFacesPixels(&bgr, faces, &zero, MV_FIND_DLIB), MV_C_INVALID_ARGS);
  CHECK_CODE(MvExtractFacesPixels(NULL, faces, &n, MV_FIND_DLIB), MV_C_INVALID_ARGS);
  MvImage bad = bgr;
  bad.stride = (size_t)bgr.width * 3 - 1;
  n = 4;
  CHECK_CODE(MvExtractFacesPixels(&bad, faces, &n, MV_FIND_DLIB), MV_C_INVALID_ARGS);
  bad = bgr;
  bad.format = 9;
  CHECK_CODE(MvExtractFacesPixels(&bad, faces, &n, MV_FIND_DLIB), MV_C_INVALID_ARGS);
  bad = bgr;
  bad.height = 0;
  CHECK_CODE(MvExtractVectorPixels(&bad, &faces[0], vector), MV_C_INVALID_ARGS);
  CHECK_CODE(MvExtractInfoPixels(&bgr, faces, 0, data, &described), MV_C_NO_FACE);
  MvFace flat = faces[0];
  flat.rect.w = 0;
  CHECK_CODE(MvExtractVectorPixels(&bgr, &flat, vector), MV_C_INVALID_ARGS);

  unsigned char blank_pixels[64 * 64];
  memset(blank_pixels, 128, sizeof(blank_pixels));
  MvImage blank = {blank_pixels, 64, 64, 0, MV_PIXELS_GRAY};
  n = 4;
  CHECK_CODE(MvExtractFacesPixels(&blank, faces, &n, MV_FIND_DLIB), MV_C_NO_FACE);
  CHECK(n == 4);

  MvReleaseImage(&bgr);
  CHECK(bgr.pixels == NULL && bgr.width == 0);
  MvReleaseImage(NULL);
  free(bytes);
}

/* MvFindFaces: the YuNet finder by its wide bit, with scores and points;
 * the other finders as MvExtractFacesPixels finds them, HOG with its
 * detection values and no points. */
static void test_find_faces(const char* testdata) {
  char path[1024];
  snprintf(path, sizeof(path), "%s/faces/two_people.jpg", testdata);
  size_t length = 0;
  unsigned char* bytes = read_file(path, &length);
  CHECK(bytes != NULL);
  if (bytes == NULL) return;
  MvImage bgr = {0};
  CHECK_CODE(MvDecodeImage(bytes, length, &bgr), MV_C_OK);

  MvFoundFace found[4];
  size_t n = 4;
  CHECK_CODE(MvFindFaces(&bgr, found, &n, MV_FIND_YUNET_ALWAYS), MV_C_OK);
  CHECK(n == 2);
  for (size_t i = 0; i < n && i < 4; ++i) {
    CHECK(found[i].point_count == 5);
    CHECK(found[i].score > 0.5f && found[i].score <= 1.0f);
    CHECK(found[i].face.left_eye.x == found[i].points[0].x && found[i].face.left_eye.y == found[i].points[0].y);
    CHECK(found[i].face.right_eye.x == found[i].points[1].x && found[i].face.right_eye.y == found[i].points[1].y);
    CHECK(!found[i].face.from_shape);
  }
  /* The face records go straight to the descriptor entry points. */
  float vector[128];
  CHECK_CODE(MvExtractVectorPixels(&bgr, &found[0].face, vector), MV_C_OK);

  /* Bit 0x80 alone still selects nothing while "find.yunet" is 0. */
  n = 4;
  CHECK_CODE(MvFindFaces(&bgr, found, &n, MV_FIND_YUNET), MV_C_NO_FACE);
  CHECK(n == 4);

  MvFace faces[4];
  size_t m = 4;
  CHECK_CODE(MvExtractFacesPixels(&bgr, faces, &m, MV_FIND_DLIB), MV_C_OK);
  n = 4;
  CHECK_CODE(MvFindFaces(&bgr, found, &n, MV_FIND_DLIB), MV_C_OK);
  CHECK(n == m);
  for (size_t i = 0; i < n && i < m; ++i) {
    CHECK(found[i].score >= 0.0f && found[i].point_count == 0);
    CHECK(same_faces(&found[i].face, &faces[i], 1) && found[i].face.from_shape == faces[i].from_shape);
  }

  size_t zero = 0;
  CHECK_CODE(MvFindFaces(&bgr, found, &zero, MV_FIND_YUNET_ALWAYS), MV_C_INVALID_ARGS);
  CHECK_CODE(MvFindFaces(NULL, found, &n, MV_FIND_YUNET_ALWAYS), MV_C_INVALID_ARGS);
  CHECK_CODE(MvFindFaces(&bgr, NULL, &n, MV_FIND_YUNET_ALWAYS), MV_C_INVALID_ARGS);
  CHECK_CODE(MvFindFaces(&bgr, found, &n, 0x200u), MV_C_INVALID_ARGS);
  MvReleaseImage(&bgr);
  free(bytes);
}

static void test_bytes(const char* testdata) {
  char path[1024];
  snprintf(path, sizeof(path), "%s/faces/two_people.jpg", testdata);
  size_t length = 0;
  unsigned char* bytes = read_file(path, &length);
  CHECK(bytes != NULL);
  if (bytes == NULL) return;

  MvFaceData data[3];
  size_t n = 3;
  CHECK_CODE(ExtractFacesInfo(bytes, length, data, &n, MV_FIND_DLIB), MV_C_OK);
  CHECK(n == 2);

  MvFaceDataEx ex[2];
  memset(ex, 0, sizeof(ex));
  n = 2;
  CHECK_CODE(ExtractFacesInfoEx(bytes, length, ex, &n, MV_FIND_DLIB), MV_C_OK);
  CHECK(n == 2);
  for (size_t i = 0; i < n; ++i) {
    CHECK(ex[i].image_data.data != NULL && ex[i].image_data.size > 8);
    CHECK(memcmp(ex[i].face.vector, data[i].vector, sizeof(data[i].vector)) == 0);
    free(ex[i].image_data.data);
  }

  MvFaceDataAngle angles[3];
  n = 3;
  CHECK_CODE(ExtractFacesInfoAngle(bytes, length, angles, &n, MV_FIND_DLIB), MV_C_OK);
  CHECK(n == 2 && angles[2].data.rect.w == 0 && angles[0].angle == 0.0);

  const char garbage[] = "certainly not an image";
  MvImage image;
  CHECK_CODE(MvDecodeImage(garbage, sizeof(garbage), &image), MV_C_PARSE_IMAGE);
  CHECK_CODE(MvDecodeImage(bytes, 0, &image), MV_C_INVALID_ARGS);
  n = 3;
  CHECK_CODE(ExtractFacesInfo(garbage, sizeof(garbage), data, &n, MV_FIND_DLIB), MV_C_PARSE_IMAGE);
  CHECK(n == 3);
  free(bytes);
}

/* The collection's index from C: add, search, save, load, cluster. */
static void test_collection(void) {
  enum { kFaces = 40 };
  static float faces[kFaces * 128];
  for (int i = 0; i < kFaces; ++i) {
    for (int j = 0; j < 128; ++j) faces[i * 128 + j] = (j == i % 8) ? 1.0f : 0.001f * (float)(i / 8);
  }
  MvIndex* index = NULL;
  CHECK_CODE(MvIndexCreate(MV_INDEX_AUTO, &index), MV_C_OK);
  CHECK_CODE(MvIndexAdd(index, faces, kFaces), MV_C_OK);
  MvNeighbor found[3];
  size_t count = 3;
  CHECK_CODE(MvIndexSearch(index, &faces[13 * 128], 3, 0, found, &count), MV_C_OK);
  CHECK(count == 3 && found[0].id == 13 && found[0].distance == 0.0);
  uint32_t labels[kFaces];
  size_t clusters = 0;
  CHECK_CODE(MvIndexCluster(index, 0.5, labels, kFaces, &clusters, NULL, NULL), MV_C_OK);
  CHECK(clusters == 8 && labels[0] == labels[8] && labels[0] != labels[1]);
  const char* path = "c_api_test_index.mvx";
  CHECK_CODE(MvIndexSave(index, path), MV_C_OK);
  MvIndexFree(index);
  index = NULL;
  CHECK_CODE(MvIndexLoad(path, &index), MV_C_OK);
  MvIndexInfo info;
  CHECK_CODE(MvIndexGetInfo(index, &info), MV_C_OK);
  CHECK(info.count == kFaces && info.structure == MV_INDEX_EXACT);
  MvIndexFree(index);
  remove(path);
  CHECK_CODE(MvIndexLoad(path, &index), MV_C_INVALID_ARGS);
  CHECK_CODE(MvIndexSearch(NULL, faces, 1, 0, found, &count), MV_C_INVALID_ARGS);
}

/* The tables and switches that tools read instead of keeping copies. */
static void test_tool_entry_points(const char* testdata) {
  const char* name = NULL;
  int bits = 0, hog = 0, cnn = 0;
  size_t count = 0;
  for (; MvFinderName(count, &name, &bits) == MV_C_OK; ++count) {
    CHECK(name != NULL && bits > 0 && bits <= (0xFF | (int)MV_FIND_YUNET_ALWAYS));
    if (strcmp(name, "hog") == 0) hog = bits;
    if (strcmp(name, "cnn") == 0) cnn = bits;
  }
  CHECK(count >= 6);
  CHECK(hog == MV_FIND_DLIB && cnn == MV_FIND_CNN);
  CHECK_CODE(MvFinderName(count, &name, &bits), MV_C_INVALID_ARGS);
  CHECK_CODE(MvFinderName(0, NULL, &bits), MV_C_INVALID_ARGS);

  int64_t min = 0, max = 0;
  CHECK_CODE(MvGetOptionRange("image.max_working_side", &min, &max), MV_C_OK);
  CHECK(min == 256 && max == 16384);
  CHECK_CODE(MvGetOptionRange("image.rescale_max", &min, &max), MV_C_OK);
  CHECK(min == INT32_MIN && max == INT32_MAX);
  CHECK_CODE(MvGetOptionRange("dlib.shape", &min, &max), MV_C_NOT_SUPPORTED);
  CHECK_CODE(MvGetOptionRange("no.such.key", &min, &max), MV_C_PROPERTY_NAME);
  CHECK_CODE(MvGetOptionRange(NULL, &min, &max), MV_C_INVALID_ARGS);

  char path[1024];
  snprintf(path, sizeof path, "%s/faces/two_people.jpg", testdata);
  size_t length = 0;
  unsigned char* bytes = read_file(path, &length);
  CHECK(bytes != NULL);
  uint64_t width = 0, height = 0;
  if (bytes != NULL) {
    CHECK_CODE(MvPeekImageSize(bytes, length, &width, &height), MV_C_OK);
    CHECK(width == 1126 && height == 661);
    CHECK_CODE(MvPeekImageSize(bytes, 16, &width, &height), MV_C_PARSE_IMAGE);
    free(bytes);
  }
  CHECK_CODE(MvPeekImageSize("not an image", 12, &width, &height), MV_C_PARSE_IMAGE);
  CHECK_CODE(MvPeekImageSize(NULL, 12, &width, &height), MV_C_INVALID_ARGS);

  const int logging = MvGetLogging();
  MvSetLogging(0);
  CHECK(MvGetLogging() == 0);
  MvSetLogging(7);
  CHECK(MvGetLogging() == 1);
  MvSetLogging(logging);
}

int main(int argc, char** argv) {
  /* --load-only: the library loaded and nothing else, for the tests of its
   * start-up log lines. */
  if (argc == 2 && strcmp(argv[1], "--load-only") == 0) {
    printf("logging %d\n", MvGetLogging());
    return 0;
  }
  if (argc != 2) {
    fprintf(stderr, "usage: %s TESTDATA_DIR\n", argv[0]);
    return 2;
  }
  test_tool_entry_points(argv[1]);
  test_version_and_results();
  test_options();
  test_pixels(argv[1]);
  test_find_faces(argv[1]);
  test_bytes(argv[1]);
  test_collection();
  GlobalFree();
  if (failures > 0) fprintf(stderr, "%d checks failed\n", failures);
  return failures == 0 ? 0 : 1;
}
