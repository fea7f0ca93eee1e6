// The option store: loading (log lines, nested and flat keys, failures) and
// keyed reads and writes, including the string exchange record.

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include "morvik/config.h"
#include "morvik/morvik.h"
#include "morvik/morvik_c.h"
#include "support/test_support.h"

using testing_support::scratchPath;
using testing_support::StreamCapture;

namespace {

// Each test works on the process-wide store; put it back afterwards.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = snapshot(); }
  void TearDown() override {
    StreamCapture quiet(std::clog);
    g_config.load(saved_, true);
  }

  // The whole store as a flat JSON document.
  static std::string snapshot() {
    std::string json = "{";
    for (const auto& p : g_config.properties()) {
      if (json.size() > 1) json += ",";
      json += "\"" + std::string(p.name) + "\":";
      if (p.size == 32) {
        json += "\"" + *static_cast<std::string*>(p.value) + "\"";
      } else if (p.size == 8) {
        json += std::to_string(*static_cast<double*>(p.value));
      } else if (isFloatKey(p.name)) {
        json += std::to_string(*static_cast<float*>(p.value));
      } else {
        json += std::to_string(*static_cast<int*>(p.value));
      }
    }
    return json + "}";
  }

  static bool isFloatKey(const char* name) {
    static const char* floats[] = {"haar.face.scale_factor", "haar.eye.scale_factor", "dlib.chip_padding",
                                   "dlib.cnn.confidence",    "pico.angle",            "pico.scalefactor",
                                   "pico.stridefactor",      "pico.qthreshold"};
    for (const char* f : floats)
      if (std::strcmp(f, name) == 0) return true;
    return false;
  }

  static std::string loadLog(const std::string& source, bool quiet = false) {
    StreamCapture log(std::clog);
    g_config.load(source, quiet);
    return log.text();
  }

  std::string saved_;
};

int readInt(const char* name) {
  int value = 0;
  EXPECT_EQ(GetOption(name, &value, sizeof(value)), 0) << name;
  return value;
}

std::string readString(const char* name) {
  mv::OptionString s{};
  EXPECT_EQ(GetOption(name, &s, sizeof(s)), 0) << name;
  return std::string(s.text, s.length);
}

int writeString(const char* name, const char* text, uint64_t length) {
  mv::OptionString s{};
  s.text = text;
  s.length = length;
  return SetOption(name, &s, sizeof(s));
}

}  // namespace

TEST_F(ConfigTest, TableHoldsEveryKeyOnceInTableOrder) {
  g_config.load("{}", true);
  const auto& props = g_config.properties();
  ASSERT_EQ(props.size(), 55u);
  EXPECT_STREQ(props[0].name, "image.rescale_max");
  EXPECT_STREQ(props[29].name, "dlib.cnnface.rescale_max");
  EXPECT_STREQ(props[30].name, "dlib.cnnface.rescale_min");
  EXPECT_STREQ(props[42].name, "confirmer.dlib");
  EXPECT_STREQ(props[48].name, "yunet.path");
  for (size_t i = 0; i < props.size(); ++i)
    for (size_t j = i + 1; j < props.size(); ++j) EXPECT_STRNE(props[i].name, props[j].name);
  // The max of the pair is listed first but stored second.
  EXPECT_EQ(readInt("dlib.cnnface.rescale_max"), 300);
  EXPECT_EQ(readInt("dlib.cnnface.rescale_min"), 200);
}

TEST_F(ConfigTest, EmptySourceLoadsEmptyDocumentWithLogLines) {
  EXPECT_EQ(loadLog("", true), "Loading config from data\nLoaded config from data\n");
  EXPECT_EQ(g_config.properties().size(), 55u);
}

TEST_F(ConfigTest, ChangedValuesAreLoggedWithPreviousValue) {
  const std::string log = loadLog(R"({"image": {"rescale_max": 1024, "format": ".jpg"},
                                      "haar.face.scale_factor": 1.2, "align.desired_eyes.width": 0.3})");
  EXPECT_EQ(log,
            "Loading config from data\n"
            "Loaded image.rescale_max = 1024 ( default = 800 )\n"
            "Loaded image.format = .jpg ( default = .png )\n"
            "Loaded align.desired_eyes.width = 0.3 ( default = 0.25 )\n"
            "Loaded haar.face.scale_factor = 1.2 ( default = 1.1 )\n"
            "Loaded config from data\n");
  EXPECT_EQ(g_config.image_rescale_max, 1024);
  EXPECT_EQ(g_config.haar_face_scale_factor, 1.2f);
  // A later load starts from the values held now.
  EXPECT_EQ(loadLog(R"({"image.rescale_max": 640})"),
            "Loading config from data\nLoaded image.rescale_max = 640 ( default = 1024 )\nLoaded config from data\n");
}

TEST_F(ConfigTest, UnchangedValueAndQuietLoadLogNothingForTheKey) {
  EXPECT_EQ(loadLog(R"({"image": {"rescale_max": 800}})"), "Loading config from data\nLoaded config from data\n");
  EXPECT_EQ(loadLog(R"({"image": {"rescale_max": 900}})", true), "");
  EXPECT_EQ(g_config.image_rescale_max, 900);
}

TEST_F(ConfigTest, NestedAndFlatKeysBothWorkAndNestedWins) {
  g_config.load(R"({"image": {"rescale_max": 1024}})", true);
  EXPECT_EQ(readInt("image.rescale_max"), 1024);
  g_config.load(R"({"image.rescale_min": 512})", true);
  EXPECT_EQ(readInt("image.rescale_min"), 512);
  g_config.load(R"({"image.rescale_max": 111, "image": {"rescale_max": 222}})", true);
  EXPECT_EQ(readInt("image.rescale_max"), 222);
  g_config.load(R"({"haar": {"face": {"min_face": {"width": 24}}}})", true);
  EXPECT_EQ(g_config.haar_face_min_face.width, 24);
}

TEST_F(ConfigTest, ValuesThatDoNotConvertAreIgnored) {
  g_config.load(R"({"image": {"rescale_max": 800.5, "rescale_min": true},
                    "pico": {"minsize": " 96 ", "maxsize": "12x"}, "unknown": {"key": 1}})",
                true);
  EXPECT_EQ(g_config.image_rescale_max, 800);
  EXPECT_EQ(g_config.image_rescale_min, 800);
  EXPECT_EQ(g_config.pico_minsize, 96);  // surrounding white space is allowed
  EXPECT_EQ(g_config.pico_maxsize, 800);
}

TEST_F(ConfigTest, LongTextWithoutBraceIsParsedAsJsonNotOpened) {
  const std::string source(300, 'x');
  StreamCapture log(std::clog);
  try {
    g_config.load(source, false);
    FAIL() << "not JSON";
  } catch (const boost::property_tree::file_parser_error& e) {
    EXPECT_EQ(e.filename(), "");
  }
  EXPECT_EQ(log.text(), "Loading config from data\n");
}

TEST_F(ConfigTest, FileSourceIsReadAndLoggedByName) {
  const std::string path = scratchPath("config.json");
  std::ofstream(path) << R"({"confirmer": {"pico": 90}})";
  EXPECT_EQ(loadLog(path),
            "Loading config " + path + "\nLoaded confirmer.pico = 90 ( default = 95 )\nLoaded config " + path + "\n");
  std::remove(path.c_str());
}

TEST_F(ConfigTest, FailedExplicitLoadThrowsAndChangesNothing) {
  g_config.load(R"({"image": {"rescale_max": 700}})", true);
  EXPECT_THROW(g_config.load(R"({"image": {"rescale_max": 900)", true), boost::property_tree::json_parser_error);
  EXPECT_THROW(g_config.load("/nonexistent/config.json", true), boost::property_tree::json_parser_error);
  EXPECT_EQ(g_config.image_rescale_max, 700);
  EXPECT_EQ(g_config.properties().size(), 55u);
}

TEST_F(ConfigTest, ReadAndWriteSizesAndCodes) {
  char buffer[8];
  std::memset(buffer, 0x7f, sizeof(buffer));
  EXPECT_EQ(GetOption("image.rescale_max", buffer, 8), 0);
  int value;
  std::memcpy(&value, buffer, 4);
  EXPECT_EQ(value, 800);
  EXPECT_EQ(buffer[4], 0x7f) << "only the option's 4 bytes are written";
  EXPECT_EQ(GetOption("image.rescale_max", buffer, 3), -10);
  EXPECT_EQ(SetOption("image.rescale_max", buffer, 8), -10);
  EXPECT_EQ(GetOption("Image.rescale_max", buffer, 8), -11);
  EXPECT_EQ(SetOption("no.such.key", buffer, 4), -11);
  // Argument checks come before the lookup.
  EXPECT_EQ(GetOption(nullptr, buffer, 8), -1);
  EXPECT_EQ(GetOption("", buffer, 8), -1);
  EXPECT_EQ(GetOption("no.such.key", nullptr, 8), -1);
  EXPECT_EQ(SetOption("no.such.key", buffer, 0), -1);

  double eyes = 0.5;
  EXPECT_EQ(SetOption("align.desired_eyes.height", &eyes, sizeof(eyes)), 0);
  EXPECT_EQ(g_config.align_desired_eyes.height, 0.5);
  float factor = 1.25f;
  EXPECT_EQ(SetOption("pico.scalefactor", &factor, sizeof(factor)), 0);
  EXPECT_EQ(g_config.pico_scalefactor, 1.25f);
}

TEST_F(ConfigTest, StringOptionsRoundTripThroughTheExchangeRecord) {
  EXPECT_EQ(readString("image.format"), ".png");
  EXPECT_EQ(writeString("image.format", ".jpg", 4), 0);
  EXPECT_EQ(g_config.image_format, ".jpg");
  EXPECT_EQ(readString("image.format"), ".jpg");

  // The text is copied: the caller's buffer may go away.
  {
    std::string path = "/tmp/some/cascade.xml";
    EXPECT_EQ(writeString("haar.eye.path_default", path.data(), path.size()), 0);
    path.assign(path.size(), '#');
  }
  EXPECT_EQ(readString("haar.eye.path_default"), "/tmp/some/cascade.xml");

  EXPECT_EQ(writeString("image.format", nullptr, 0), 0);
  EXPECT_EQ(readString("image.format"), "");
  EXPECT_EQ(writeString("image.format", nullptr, 3), -1);
  EXPECT_EQ(writeString("image.format", "a\0b", 3), -1);
  EXPECT_EQ(writeString("image.format", ".png", uint64_t(1) << 62), -1);
  mv::OptionString s{};
  EXPECT_EQ(GetOption("image.format", &s, 16), -10);
  EXPECT_EQ(SetOption("image.format", &s, 33), -10);
  // Reserved bytes come back as zeros.
  std::memset(&s, 0xff, sizeof(s));
  ASSERT_EQ(GetOption("dlib.shape", &s, sizeof(s)), 0);
  for (uint8_t b : s.reserved) EXPECT_EQ(b, 0);
}

TEST(ResultCodes, MessagesAndVersion) {
  EXPECT_STREQ(GetResult(0), "Ok");
  EXPECT_STREQ(GetResult(2), "Found only one eye");
  EXPECT_STREQ(GetResult(-4), "Can't find any face");
  EXPECT_STREQ(GetResult(-5), "Error encode image");
  EXPECT_STREQ(GetResult(-12), "Not supported");
  EXPECT_STREQ(GetResult(-6), "Unknown error");
  EXPECT_STREQ(GetResult(3), "Unknown error");
  EXPECT_STREQ(GetResult(-13), "Unknown error");

  uint16_t major = 0, minor = 0;
  uint32_t build = 0;
  EXPECT_EQ(GetVersion(&major, &minor, &build), 0);
  EXPECT_EQ(build, 0x89287A2Au);
  major = minor = 0;
  EXPECT_EQ(GetVersion(&major, &minor, nullptr), 0);
  EXPECT_EQ(major, 3);
  EXPECT_EQ(minor, 7);
  major = 0;
  EXPECT_EQ(GetVersion(&major, nullptr, &build), -1);
  EXPECT_EQ(major, 0);
}

// Loads a fresh copy of the shared library whose start-up file is `path`,
// capturing what it logs meanwhile.
void* loadLibraryWithConfig(const std::string& path, std::string& log) {
  setenv("MORVIK_CONFIG", path.c_str(), 1);
  StreamCapture capture(std::clog);
  void* library = dlopen(MORVIK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  log = capture.text();
  unsetenv("MORVIK_CONFIG");
  return library;
}

// A copy of the library loaded with the built-in defaults finds its models
// and the same faces as this program's own copy, which runs with the
// installed configuration (all defaults). The copy runs on a thread of its
// own: the models it caches there go when the thread ends, and only then can
// the copy be unloaded again.
void expectFacesFoundWithDefaults(void* library) {
  using ExtractFacesFn = int (*)(const cv::Mat*, mv::Face*, size_t*, mv::FindFaceAlgoType);
  auto extract = reinterpret_cast<ExtractFacesFn>(dlsym(library, "ExtractFaces"));
  ASSERT_TRUE(extract);
  const cv::Mat image = testing_support::photo("faces/two_people.jpg");
  mv::Face faces[4], own[4];
  size_t n = 4, own_n = 4;
  int rc = 0;
  std::thread([&] { rc = extract(&image, faces, &n, mv::FindLBP); }).join();
  std::thread([&] { ExtractFaces(&image, own, &own_n, mv::FindLBP); }).join();
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(n, own_n);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(faces[i].rect.x, own[i].rect.x);
    EXPECT_EQ(faces[i].rect.w, own[i].rect.w);
  }
}

// The start-up load runs while the library is being loaded: a broken file
// must be reported, not thrown into the host.
TEST(StartupLoad, BrokenFileKeepsDefaultsAndOptionsWork) {
  const std::string path = scratchPath("broken.json");
  std::ofstream(path) << "{ \"image\": ";
  std::string log;
  void* library = loadLibraryWithConfig(path, log);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_EQ(log.rfind("Loading config " + path + "\nCan't load config " + path + ": ", 0), 0u) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  expectFacesFoundWithDefaults(library);

  using OptionFn = int (*)(const char*, void*, size_t);
  auto get = reinterpret_cast<OptionFn>(dlsym(library, "GetOption"));
  auto set = reinterpret_cast<OptionFn>(dlsym(library, "SetOption"));
  ASSERT_TRUE(get && set);
  int value = 0;
  EXPECT_EQ(get("image.rescale_max", &value, sizeof(value)), 0);
  EXPECT_EQ(value, 800);
  value = 640;
  EXPECT_EQ(set("image.rescale_max", &value, sizeof(value)), 0);
  value = 0;
  EXPECT_EQ(get("image.rescale_max", &value, sizeof(value)), 0);
  EXPECT_EQ(value, 640);
  dlclose(library);
  std::remove(path.c_str());
}

// MORVIK_LOG=0 when the library is loaded: the start-up load is silent
// (and still applied), and the switch stays off until the host turns it on.
TEST(StartupLoad, LogLinesOffWhenTheEnvironmentSaysSo) {
  const std::string path = scratchPath("quiet.json");
  std::ofstream(path) << R"({"image": {"rescale_max": 640}})";
  setenv("MORVIK_LOG", "0", 1);
  std::string log;
  void* library = loadLibraryWithConfig(path, log);
  unsetenv("MORVIK_LOG");
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_EQ(log, "");
  using OptionFn = int (*)(const char*, void*, size_t);
  auto get = reinterpret_cast<OptionFn>(dlsym(library, "GetOption"));
  auto logging = reinterpret_cast<int (*)(void)>(dlsym(library, "MvGetLogging"));
  auto set_logging = reinterpret_cast<void (*)(int)>(dlsym(library, "MvSetLogging"));
  ASSERT_TRUE(get && logging && set_logging);
  int value = 0;
  EXPECT_EQ(get("image.rescale_max", &value, sizeof(value)), 0);
  EXPECT_EQ(value, 640);
  EXPECT_EQ(logging(), 0);
  set_logging(1);
  EXPECT_EQ(logging(), 1);
  // This program's own copy was loaded without the variable: it logs.
  EXPECT_EQ(MvGetLogging(), 1);
  dlclose(library);
  std::remove(path.c_str());
}

TEST(StartupLoad, MissingFileKeepsDefaultsAndFacesAreFound) {
  const std::string path = scratchPath("absent.json");
  std::string log;
  void* library = loadLibraryWithConfig(path, log);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_EQ(log.rfind("Loading config " + path + "\nCan't load config " + path + ": ", 0), 0u) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;

  using OptionFn = int (*)(const char*, void*, size_t);
  auto get = reinterpret_cast<OptionFn>(dlsym(library, "GetOption"));
  ASSERT_TRUE(get);
  int value = 0;
  EXPECT_EQ(get("pico.minsize", &value, sizeof(value)), 0);
  EXPECT_EQ(value, 80);
  expectFacesFoundWithDefaults(library);
  dlclose(library);
}

TEST(StartupLoad, EnvironmentNamesTheStartupFile) {
  const std::string path = scratchPath("startup.json");
  std::ofstream(path) << R"({"pico": {"minsize": 64}})";
  std::string log;
  void* library = loadLibraryWithConfig(path, log);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_EQ(log, "Loading config " + path + "\nLoaded pico.minsize = 64 ( default = 80 )\nLoaded config " + path + "\n");
  dlclose(library);
  std::remove(path.c_str());
}

// The installed config.json names every option at its default.
TEST(InstalledConfig, ShippedFileHoldsAllKeysAtDefaults) {
  GCONFIG_MORVIK defaults("{}");
  StreamCapture log(std::clog);
  defaults.load(std::string(MORVIK_SOURCE_DIR) + "/data/config.json", false);
  const std::string text = log.text();
  EXPECT_EQ(text.find("Loaded image"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;

  boost::property_tree::ptree doc;
  boost::property_tree::read_json(std::string(MORVIK_SOURCE_DIR) + "/data/config.json", doc);
  for (const auto& p : defaults.properties())
    EXPECT_TRUE(doc.get_child_optional(boost::property_tree::ptree::path_type(p.name, '.'))) << p.name;
}

// The bounds on working and decoded images only take values that keep the
// library safe: anything else is refused by writes and by the loader.
TEST_F(ConfigTest, ImageBoundsRefuseValuesOutsideTheirRange) {
  struct Range {
    const char* name;
    int def, low, high;
  };
  const Range ranges[] = {{"image.max_working_pixels", 16777216, 65536, 67108864},
                          {"image.max_working_side", 8192, 256, 16384},
                          {"image.max_decoded_pixels", 100000000, 1, 1073741824}};
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(readInt(r.name), r.def);
    for (int bad : {-1, 0, r.low - 1, r.high + 1, INT_MIN, INT_MAX}) {
      if (bad >= r.low && bad <= r.high) continue;
      int value = bad;
      EXPECT_EQ(SetOption(r.name, &value, sizeof value), MV_INVALID_ARGS) << bad;
      EXPECT_EQ(readInt(r.name), r.def);
    }
    for (int good : {r.low, r.high}) {
      int value = good;
      EXPECT_EQ(SetOption(r.name, &value, sizeof value), MV_OK);
      EXPECT_EQ(readInt(r.name), good);
    }
    int value = r.def;
    EXPECT_EQ(SetOption(r.name, &value, sizeof value), MV_OK);
  }
  // The loader reports a value out of range and keeps what it had.
  EXPECT_EQ(loadLog(R"({"image": {"max_working_side": 100000}})"),
            "Loading config from data\nIgnored image.max_working_side = 100000 ( allowed 256 to 16384 )\n"
            "Loaded config from data\n");
  EXPECT_EQ(readInt("image.max_working_side"), 8192);
}
