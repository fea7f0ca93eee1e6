// Damaged model files: every model the library loads is made missing,
// empty, truncated and of the wrong kind in turn. Each call that needs it
// must answer with its documented code or exception, cache and register
// nothing, and work again, in the same process, once the file is back.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include <dlib/serialize.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "face/eye_cascade.h"
#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/global_cache.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;
using testing_support::scratchPath;
using testing_support::testdata;

enum class Fault { kMissing, kEmpty, kTruncated, kOtherModel, kPhoto, kDirectory, kFifo, kDevice };

const char* faultName(Fault f) {
  switch (f) {
    case Fault::kMissing: return "missing";
    case Fault::kEmpty: return "empty";
    case Fault::kTruncated: return "truncated";
    case Fault::kOtherModel: return "another model";
    case Fault::kPhoto: return "a JPEG";
    case Fault::kDirectory: return "a directory";
    case Fault::kFifo: return "a FIFO";
    case Fault::kDevice: return "a device";
  }
  return "?";
}

// A FIFO without a writer would block the open for ever, and /dev/zero
// would never end: both must be refused as unreadable at once.
constexpr Fault kFaults[] = {Fault::kMissing, Fault::kEmpty,     Fault::kTruncated, Fault::kOtherModel,
                             Fault::kPhoto,   Fault::kDirectory, Fault::kFifo,      Fault::kDevice};

// What a call ended with: its result code or the exception that left it.
std::string outcomeOf(const std::function<int()>& call) {
  try {
    return "rc " + std::to_string(call());
  } catch (const dlib::serialization_error&) {
    return "dlib::serialization_error";
  } catch (const std::runtime_error& e) {
    return std::string("std::runtime_error: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("unexpected ") + typeid(e).name() + ": " + e.what();
  }
}

size_t registrations() {
  GlobalLock lock;
  return g_releases.size();
}

void writeBytes(const std::string& path, const char* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
}

// The model under test lives at a scratch path that the option names. In the
// healthy state it is a link to the installed model, so the large models are
// never copied.
class ModelFile {
 public:
  ModelFile(std::string GCONFIG_MORVIK::*option, const std::string& other)
      : option_(option), real_(g_config.*option), other_(other),
        path_(scratchPath(real_.substr(real_.rfind('/') + 1))) {
    restore();
    g_config.*option_ = path_;
  }
  ~ModelFile() {
    g_config.*option_ = real_;
    std::remove(path_.c_str());
  }

  void restore() {
    std::remove(path_.c_str());
    EXPECT_EQ(symlink(real_.c_str(), path_.c_str()), 0) << path_;
  }

  void damage(Fault fault) {
    std::remove(path_.c_str());
    EXPECT_EQ(access(other_.c_str(), R_OK), 0) << other_;
    switch (fault) {
      case Fault::kMissing: break;
      case Fault::kEmpty: writeBytes(path_, "", 0); break;
      case Fault::kTruncated: {
        // A prefix keeps the header intact and cuts the body; a small one
        // keeps the large models cheap to rewrite.
        struct stat info {};
        EXPECT_EQ(stat(real_.c_str(), &info), 0);
        std::vector<char> prefix(std::min<size_t>(static_cast<size_t>(info.st_size) / 2, 64 * 1024));
        std::ifstream(real_, std::ios::binary).read(prefix.data(), static_cast<std::streamsize>(prefix.size()));
        writeBytes(path_, prefix.data(), prefix.size());
        break;
      }
      case Fault::kOtherModel: EXPECT_EQ(symlink(other_.c_str(), path_.c_str()), 0); break;
      case Fault::kPhoto: {
        const std::string jpeg = testdata("people/obama/obama.jpg");
        EXPECT_EQ(access(jpeg.c_str(), R_OK), 0) << jpeg;
        EXPECT_EQ(symlink(jpeg.c_str(), path_.c_str()), 0);
        break;
      }
      case Fault::kDirectory: EXPECT_EQ(mkdir(path_.c_str(), 0700), 0); break;
      case Fault::kFifo: EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0); break;
      case Fault::kDevice: EXPECT_EQ(symlink("/dev/zero", path_.c_str()), 0); break;
    }
  }

 private:
  std::string GCONFIG_MORVIK::*option_;
  std::string real_;
  std::string other_;
  std::string path_;
};

// One call that needs the model, with what it answers while the file is
// damaged. Once the file is back it must answer "rc 0".
struct Probe {
  const char* name;
  std::function<int()> call;
  std::string broken;
};

class ModelFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    portrait_ = new cv::Mat(photo("people/obama/obama2.jpg"));
    ASSERT_FALSE(portrait_->empty());
    size_t n = 1;
    face_ = new mv::Face{};
    ASSERT_EQ(ExtractFaces(portrait_, face_, &n, mv::FindLBP), 0);
    ASSERT_FALSE(face_->from_shape);
    GlobalFree();
  }
  static void TearDownTestSuite() {
    delete portrait_;
    delete face_;
    GlobalFree();
  }

  // The network detectors make one pass per scale: a small working size
  // keeps the dozens of passes below cheap.
  void SetUp() override {
    saved_ = {g_config.image_rescale_min, g_config.image_rescale_max, g_config.dlib_cnn_rescale_min,
              g_config.dlib_cnn_rescale_max};
    g_config.image_rescale_min = g_config.image_rescale_max = kWorkingSize;
    g_config.dlib_cnn_rescale_min = g_config.dlib_cnn_rescale_max = kWorkingSize;
    GlobalFree();
  }
  void TearDown() override {
    g_config.image_rescale_min = saved_[0];
    g_config.image_rescale_max = saved_[1];
    g_config.dlib_cnn_rescale_min = saved_[2];
    g_config.dlib_cnn_rescale_max = saved_[3];
    GlobalFree();
  }
  static constexpr int kWorkingSize = 400;

  // Runs every probe against every fault of the model that `option` names.
  // The probes of one fault share the reload once the file is back, which
  // keeps the large models from being read more often than needed.
  void checkModel(std::string GCONFIG_MORVIK::*option, const std::string& other,
                  const std::vector<Probe>& probes) {
    ModelFile model(option, other);
    for (Fault fault : kFaults) {
      SCOPED_TRACE(std::string("model file ") + faultName(fault));
      GlobalFree();
      model.damage(fault);
      for (const Probe& probe : probes) {
        SCOPED_TRACE(probe.name);
        EXPECT_EQ(outcomeOf(probe.call), probe.broken);
        // The first call may have loaded the other models it needs; the
        // second must load and register nothing, so the damaged model was
        // not cached.
        const size_t before = registrations();
        EXPECT_EQ(outcomeOf(probe.call), probe.broken);
        EXPECT_EQ(registrations(), before);
      }
      const size_t broken = registrations();
      model.restore();
      for (const Probe& probe : probes) {
        SCOPED_TRACE(probe.name);
        EXPECT_EQ(outcomeOf(probe.call), "rc 0");
      }
      // The restored model was loaded and registered by the first probe.
      EXPECT_GT(registrations(), broken);
    }
  }

  static int extractFaces(mv::FindFaceAlgoType algo) {
    mv::Face faces[8];
    size_t n = 8;
    return ExtractFaces(portrait_, faces, &n, algo);
  }
  static int extractInfo(bool from_shape) {
    mv::Face face = *face_;
    face.from_shape = from_shape;
    mv::FaceData data;
    size_t n = 1;
    return ExtractInfo(portrait_, &face, 1, &data, &n);
  }
  static int cascadeFinder(bool lbp) {
    HaarFindFaceAlgo finder(lbp);
    std::vector<cv::Rect> found;
    return finder.findFaces(0, *portrait_, found);
  }
  static int eyeCascade() {
    cv::Mat face = (*portrait_)(cv::Rect(face_->rect.x, face_->rect.y, face_->rect.w, face_->rect.h)).clone();
    mv::Point left, right;
    // Any non-negative answer (two, one or no eyes) means the model ran.
    const int rc = HaarExtractEyesInfo(face, &left, &right);
    return rc > 0 ? 0 : rc;
  }

  static cv::Mat* portrait_;
  static mv::Face* face_;
  std::vector<int> saved_;
};

cv::Mat* ModelFaults::portrait_ = nullptr;
mv::Face* ModelFaults::face_ = nullptr;

const std::string kModels = "/usr/share/morvik/";
const std::string kSerialization = "dlib::serialization_error";
const std::string kPicoError = "std::runtime_error: Can't open pico config";
constexpr auto kLbpConfirmed = static_cast<mv::FindFaceAlgoType>(mv::FindLBP | mv::FindConfirm);

}  // namespace

// A face cascade that does not load is -3 from its finder; the chain then
// finds nothing, which the entry point reports as -4.
TEST_F(ModelFaults, LbpFaceCascade) {
  checkModel(&GCONFIG_MORVIK::haar_face_path_default, kModels + "facefinder.dat",
             {{"LBP finder", [] { return cascadeFinder(true); }, "rc -3"},
              {"ExtractFaces LBP", [] { return extractFaces(mv::FindLBP); }, "rc -4"}});
}

TEST_F(ModelFaults, HaarFaceCascade) {
  checkModel(&GCONFIG_MORVIK::haar_face_path_default_alt, kModels + "mmod_human_face_detector.dat",
             {{"Haar finder", [] { return cascadeFinder(false); }, "rc -3"},
              {"ExtractFaces Haar", [] { return extractFaces(mv::FindHaar); }, "rc -4"}});
}

// Without the eye cascade no cascade candidate has two eyes.
TEST_F(ModelFaults, EyeCascade) {
  checkModel(&GCONFIG_MORVIK::haar_eye_path_default, kModels + "facefinder.dat",
             {{"HaarExtractEyesInfo", eyeCascade, "rc -3"},
              {"ExtractFaces LBP", [] { return extractFaces(mv::FindLBP); }, "rc -4"}});
}

// A face found by a cascade is refitted with the landmarks before it is cut,
// and that error leaves the entry point; a face whose rectangle came from
// the landmarks is cut as it is, and the descriptor step turns the landmark
// failure into -8.
TEST_F(ModelFaults, LandmarkModel) {
  checkModel(&GCONFIG_MORVIK::dlib_shape, kModels + "mmod_human_face_detector.dat",
             {{"ExtractInfo", [] { return extractInfo(false); }, kSerialization},
              {"ExtractInfo from_shape", [] { return extractInfo(true); }, "rc -8"}});
}

TEST_F(ModelFaults, DescriptorNetwork) {
  checkModel(&GCONFIG_MORVIK::dlib_anet, kModels + "mmod_human_face_detector.dat",
             {{"ExtractInfo", [] { return extractInfo(false); }, kSerialization}});
}

// Both network detectors and the confirmer read the same file.
TEST_F(ModelFaults, DetectorNetwork) {
  checkModel(&GCONFIG_MORVIK::dlib_dnet, kModels + "dlib_face_recognition_resnet_model_v1.dat",
             {{"ExtractFaces CNN", [] { return extractFaces(mv::FindCNN); }, kSerialization},
              {"ExtractFaces light CNN", [] { return extractFaces(mv::FindConfirm); }, kSerialization},
              {"ExtractFaces LBP confirmed", [] { return extractFaces(kLbpConfirmed); }, kSerialization}});
}

TEST_F(ModelFaults, PicoCascade) {
  checkModel(&GCONFIG_MORVIK::pico_path, kModels + "lbpcascade_frontalface.xml",
             {{"ExtractFaces pico", [] { return extractFaces(mv::FindPico); }, kPicoError}});
}
