// Writes the seed corpora of the fuzz targets:
//
//   make_seeds OUT_DIR TESTDATA_DIR SOURCE_DIR PICO_CASCADE
//
// OUT_DIR/<target>/ receives small, valid inputs from which the fuzzers
// mutate: shrunken test photographs in several encodings, option documents,
// the shipped pico cascade and small ones made here, option calls, small
// landmark models, small and shipped OpenCV cascades, and the YuNet model.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <dlib/image_processing/shape_predictor.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/cascade/haar_cascade.h"
#include "engine/cascade/lbp_cascade.h"
#include "morvik/morvik.h"
#include "morvik/morvik_c.h"

namespace {

int g_written = 0;

void writeFile(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(static_cast<const char*>(data), std::streamsize(size));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  ++g_written;
}

void writeSeed(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  writeFile(dir + "/" + name, bytes.data(), bytes.size());
}

void writeText(const std::string& dir, const std::string& name, const std::string& text) {
  writeFile(dir + "/" + name, text.data(), text.size());
}

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Photographs shrunk to at most 128 pixels a side, so that each input
// decodes and searches in milliseconds; the first also in PNG and BMP. Few
// of them: every seed with a face costs a pass of the descriptor network.
void imageSeeds(const std::string& dir, const std::string& testdata) {
  const char* photos[] = {"faces/two_people.jpg", "faces/bald_guys.jpg", "misc/32bit.png",
                          "misc/obama_partial_face.jpg"};
  int n = 0;
  for (const char* p : photos) {
    cv::Mat image = cv::imread(testdata + "/" + p, cv::IMREAD_UNCHANGED);
    if (image.empty()) {
      std::fprintf(stderr, "cannot read %s/%s\n", testdata.c_str(), p);
      std::exit(1);
    }
    const double scale = 128.0 / std::max(image.rows, image.cols);
    if (scale < 1) cv::resize(image, image, cv::Size(), scale, scale, cv::INTER_AREA);
    std::vector<std::string> formats = {image.channels() == 4 ? ".png" : ".jpg"};
    if (n == 0) formats = {".jpg", ".png", ".bmp"};
    for (const std::string& f : formats) {
      std::vector<uint8_t> bytes;
      cv::imencode(f, image, bytes);
      writeSeed(dir, "photo" + std::to_string(n) + f, bytes);
    }
    ++n;
  }
  // Odd shapes and pixel types: one pixel, grey, 16 bits.
  std::vector<uint8_t> bytes;
  cv::imencode(".png", cv::Mat(1, 1, CV_8UC3, cv::Scalar(1, 2, 3)), bytes);
  writeSeed(dir, "one_pixel.png", bytes);
  cv::imencode(".png", cv::Mat(24, 32, CV_8UC1, cv::Scalar(128)), bytes);
  writeSeed(dir, "grey.png", bytes);
  cv::imencode(".png", cv::Mat(24, 32, CV_16UC3, cv::Scalar(1000, 20000, 60000)), bytes);
  writeSeed(dir, "deep.png", bytes);
}

void configSeeds(const std::string& dir, const std::string& source) {
  const std::vector<uint8_t> shipped = readAll(source + "/data/config.json");
  if (shipped.empty()) {
    std::fprintf(stderr, "cannot read %s/data/config.json\n", source.c_str());
    std::exit(1);
  }
  writeSeed(dir, "shipped.json", shipped);
  writeText(dir, "empty.json", "{}");
  writeText(dir, "nested.json", R"({"image":{"rescale_max":640,"format":".jpg"},"pico":{"angle":0.5}})");
  writeText(dir, "flat.json", R"({"image.rescale_min":"12","dlib.chip_padding":-1e39,"pico.path":""})");
  writeText(dir, "types.json", R"({"image":{"rescale_max":"big","format":[1,2]},"align":{"desired_eyes":{"width":1e400}}})");
  writeText(dir, "deep.json", R"({"a":{"b":{"c":{"d":[{"e":null},true,false,"\u00e9\n"]}}}})");
  writeText(dir, "broken.json", R"({"image":{"rescale_max":800,)");
}

template <typename T>
void put(std::vector<uint8_t>& out, T value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof value);
}

// A cascade of `trees` trees of depth `depth` whose nodes compare pixels
// spread over the window.
std::vector<uint8_t> cascade(int32_t depth, int32_t trees) {
  std::vector<uint8_t> out;
  put<int32_t>(out, 0);
  put<int32_t>(out, 0);
  put<int32_t>(out, depth);
  put<int32_t>(out, trees);
  for (int t = 0; t < trees; ++t) {
    for (int n = 0; n < (1 << depth) - 1; ++n) {
      put<int8_t>(out, int8_t(-100 + 37 * n));
      put<int8_t>(out, int8_t(90 - 23 * t));
      put<int8_t>(out, int8_t(50 - 41 * n));
      put<int8_t>(out, int8_t(-120 + 29 * t));
    }
    for (int l = 0; l < (1 << depth); ++l) put<float>(out, l % 2 ? 1.0f : -0.5f);
    put<float>(out, -1.0f * t);
  }
  return out;
}

void picoSeeds(const std::string& dir, const std::string& shipped_path) {
  const std::vector<uint8_t> shipped = readAll(shipped_path);
  if (shipped.empty()) {
    std::fprintf(stderr, "cannot read %s\n", shipped_path.c_str());
    std::exit(1);
  }
  writeSeed(dir, "facefinder.dat", shipped);
  writeSeed(dir, "depth0.dat", cascade(0, 3));
  writeSeed(dir, "depth1.dat", cascade(1, 2));
  writeSeed(dir, "depth3.dat", cascade(3, 4));
  writeSeed(dir, "no_trees.dat", cascade(2, 0));
  std::vector<uint8_t> truncated = cascade(2, 3);
  truncated.resize(truncated.size() - 5);
  writeSeed(dir, "truncated.dat", truncated);
}

// Landmark models of a few points, written by dlib, whole and cut short.
void landmarkSeeds(const std::string& dir) {
  for (long points : {1L, 3L}) {
    dlib::matrix<float, 0, 1> initial(2 * points);
    for (long i = 0; i < initial.size(); ++i) initial(i) = 0.25f * float(i) - 0.5f;
    std::vector<std::vector<dlib::impl::regression_tree>> forests(2);
    std::vector<std::vector<dlib::vector<float, 2>>> pixels(2);
    for (size_t c = 0; c < forests.size(); ++c) {
      for (int p = 0; p < 4; ++p) pixels[c].emplace_back(0.1f * float(p), -0.2f * float(c + p));
      forests[c].resize(2);
      for (dlib::impl::regression_tree& tree : forests[c]) {
        tree.splits.push_back({0, 3, 12.5f});
        tree.leaf_values.resize(2);
        for (dlib::matrix<float, 0, 1>& leaf : tree.leaf_values) {
          leaf.set_size(2 * points);
          for (long i = 0; i < leaf.size(); ++i) leaf(i) = 1e-3f * float(i + 1) * (c % 2 ? -1.0f : 3.0f);
        }
      }
    }
    std::ostringstream out;
    dlib::serialize(dlib::shape_predictor(initial, forests, pixels), out);
    const std::string bytes = out.str();
    const std::string name = "points" + std::to_string(points);
    writeSeed(dir, name + ".dat", std::vector<uint8_t>(bytes.begin(), bytes.end()));
    writeSeed(dir, name + "_cut.dat", std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  }
}

// New-format cascade files around `features` and `stages`, of a small window
// so that stumps see many windows of the fuzz image.
std::string cascadeText(const char* type, int side, const std::string& params, const std::string& stages,
                        const std::string& features) {
  return std::string("<?xml version=\"1.0\"?>\n<opencv_storage>\n<cascade type_id=\"opencv-cascade-classifier\">") +
         "<stageType>BOOST</stageType>\n  <featureType>" + type + "</featureType>\n  <height>" +
         std::to_string(side) + "</height>\n  <width>" + std::to_string(side) +
         "</width>\n  <stageParams>\n    <maxWeakCount>2</maxWeakCount></stageParams>\n  <featureParams>\n    " +
         params + "</featureParams>\n  <stageNum>2</stageNum>\n  <stages>\n" + stages + "  </stages>\n  <features>\n" +
         features + "  </features></cascade>\n</opencv_storage>\n";
}

std::string stump(const std::string& node, const char* leaves) {
  return "        <_>\n          <internalNodes>\n            " + node +
         "</internalNodes>\n          <leafValues>\n            " + leaves + "</leafValues></_>\n";
}

std::string stage(const char* threshold, const std::string& stumps) {
  return "    <_>\n      <maxWeakCount>2</maxWeakCount>\n      <stageThreshold>" + std::string(threshold) +
         "</stageThreshold>\n      <weakClassifiers>\n" + stumps + "      </weakClassifiers></_>\n";
}

// Small Haar and LBP cascades made here, one of each cut short, and the
// shipped eye and LBP face cascades.
void cascadeSeeds(const std::string& dir, const std::string& data_dir) {
  const std::string haar = cascadeText(
      "HAAR", 8, "<maxCatCount>0</maxCatCount>",
      stage("-0.5", stump("0 -1 0 0.01", "-0.4 0.6") + stump("0 -1 1 -0.02", "0.5 -0.3")) +
          stage("-1.0", stump("0 -1 2 0.0", "-0.2 0.7") + stump("0 -1 0 0.05", "0.3 -0.6")),
      "    <_>\n      <rects>\n        <_>\n          0 0 8 4 -1.</_>\n        <_>\n          0 4 8 4 1.</_></rects></_>\n"
      "    <_>\n      <rects>\n        <_>\n          1 1 6 6 -1.</_>\n        <_>\n          3 3 2 2 9.</_></rects></_>\n"
      "    <_>\n      <rects>\n        <_>\n          0 0 6 8 -1.</_>\n        <_>\n          2 0 2 8 2.</_>\n"
      "        <_>\n          4 0 2 8 1.</_></rects></_>\n");
  const std::string lbp = cascadeText(
      "LBP", 9, "<maxCatCount>256</maxCatCount>",
      stage("-0.6", stump("0 -1 0 -67130709 -21569 -1426120013 -1275125205 -21585 -16385 587145899 -24005",
                          "-0.65 0.89") +
                        stump("0 -1 1 -163512766 -769593758 -10027009 -262145 -514457854 -193593353 -524289 -1",
                              "-0.77 0.73")) +
          stage("-0.3", stump("0 -1 1 0 0 0 0 -1 -1 -1 -1", "0.5 -0.5")),
      "    <_>\n      <rect>\n        0 0 3 3</rect></_>\n    <_>\n      <rect>\n        2 1 2 2</rect></_>\n");
  writeText(dir, "haar_small.xml", haar);
  writeText(dir, "haar_cut.xml", haar.substr(0, haar.size() * 2 / 3));
  writeText(dir, "lbp_small.xml", lbp);
  // Seeds the readers refuse would leave the searches unfuzzed.
  morvik::HaarCascade haar_cascade;
  morvik::LbpCascade lbp_cascade;
  if (morvik::loadHaarCascade(dir + "/haar_small.xml", haar_cascade) != morvik::kHaarLoaded ||
      morvik::loadLbpCascade(dir + "/lbp_small.xml", lbp_cascade) != morvik::kLbpLoaded) {
    std::fprintf(stderr, "the small cascade seeds do not load\n");
    std::exit(1);
  }
  writeText(dir, "lbp_cut.xml", lbp.substr(0, lbp.size() / 2));
  for (const char* name : {"haarcascade_eye.xml", "lbpcascade_frontalface.xml"}) {
    const std::vector<uint8_t> shipped = readAll(data_dir + "/" + name);
    if (shipped.empty()) {
      std::fprintf(stderr, "cannot read %s/%s\n", data_dir.c_str(), name);
      std::exit(1);
    }
    writeSeed(dir, name, shipped);
  }
}

// Byte 0 picks the key, byte 1 the size and flags (see fuzz_options.cpp).
void optionSeeds(const std::string& dir) {
  for (size_t i = 0; i < MvOptionCount(); ++i) {
    const char* name = nullptr;
    int type = 0;
    if (MvGetOptionInfo(i, &name, &type) != MV_OK) std::exit(1);
    std::vector<uint8_t> set = {uint8_t(i), 0x87};  // declared size, then a search
    if (type == MV_OPTION_INT) put<int32_t>(set, 96);
    if (type == MV_OPTION_FLOAT) put<float>(set, 1.25f);
    if (type == MV_OPTION_DOUBLE) put<double>(set, 0.3);
    if (type == MV_OPTION_STRING) {
      const char text[] = ".png";
      set.insert(set.end(), text, text + 4);
    }
    writeSeed(dir, "set" + std::to_string(i), set);
    writeSeed(dir, "get" + std::to_string(i), {uint8_t(i), 0x17});
    // The key spelled out.
    std::vector<uint8_t> named = {0xC0, 0x17};
    named.insert(named.end(), name, name + std::strlen(name) + 1);
    writeSeed(dir, "named" + std::to_string(i), named);
  }
}

// Strips and bands of the odd shapes hosts send, in every pixel format,
// through the finders one by one and the whole chain (see
// fuzz_pixel_geometry.cpp for the layout).
void geometrySeeds(const std::string& dir) {
  const int shapes[][2] = {{800, 1},  {1, 800},   {800, 2},    {2000, 3},  {5000, 16}, {16, 5000},
                           {20000, 1}, {1, 20000}, {300, 12000}, {12000, 300}, {640, 480}, {1, 1}};
  const uint8_t finders[] = {0x02, 0x04, 0x08, 0x10, 0x1E, 0x20, 0x40, 0x5E};
  int n = 0;
  for (const auto& shape : shapes) {
    for (uint8_t algo : finders) {
      std::vector<uint8_t> seed;
      put<uint16_t>(seed, uint16_t(shape[0] - 1));
      put<uint16_t>(seed, uint16_t(shape[1] - 1));
      seed.push_back(uint8_t(1 + n % 5));  // every format
      seed.push_back(uint8_t(n % 3 == 0 ? 5 : 0));  // some padded rows
      seed.push_back(algo);
      seed.push_back(uint8_t(n % 3));
      for (int i = 0; i < 64; ++i) seed.push_back(uint8_t((i * 37 + n) & 0xFF));
      writeSeed(dir, "shape" + std::to_string(n++), seed);
    }
  }
}

}  // namespace

// The shipped YuNet model, and its header and records alone.
void yunetSeeds(const std::string& dir, const std::string& model) {
  const std::vector<uint8_t> bytes = readAll(model);
  if (bytes.size() < 16) {
    std::fprintf(stderr, "cannot read %s\n", model.c_str());
    std::exit(1);
  }
  writeSeed(dir, "yunet.bin", bytes);
  uint32_t data_start = 0;
  std::memcpy(&data_start, bytes.data() + 12, sizeof(data_start));
  writeSeed(dir, "records.bin",
            std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::min<size_t>(data_start, bytes.size())));
}

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s OUT_DIR TESTDATA_DIR SOURCE_DIR PICO_CASCADE\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  imageSeeds(out + "/fuzz_extract_faces_info", argv[2]);
  configSeeds(out + "/fuzz_config_load", argv[3]);
  picoSeeds(out + "/fuzz_pico_cascade", argv[4]);
  optionSeeds(out + "/fuzz_options");
  landmarkSeeds(out + "/fuzz_landmark_model");
  geometrySeeds(out + "/fuzz_pixel_geometry");
  // The shipped cascades lie beside the pico cascade in the data directory.
  const std::string pico = argv[4];
  const size_t slash = pico.find_last_of('/');
  const std::string data_dir = slash == std::string::npos ? "." : pico.substr(0, slash);
  cascadeSeeds(out + "/fuzz_cascade_file", data_dir);
  yunetSeeds(out + "/fuzz_yunet_model", data_dir + "/libfacedetection_yunet.bin");
  std::printf("%d seeds written under %s\n", g_written, out.c_str());
  return 0;
}
