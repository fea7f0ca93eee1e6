// Tier: stable interface (the C/C++ entry points and records hosts build on).
// The process-wide option store. Defaults are built in; config.json, read
// when the library is loaded, overrides them; GetOption/SetOption read and
// write single values by key. Users read the fields directly when they need
// them, so a written value takes effect at its next use.
#ifndef MORVIK_CONFIG_H_
#define MORVIK_CONFIG_H_

#include <cstddef>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/export.h"

class MORVIK_API GCONFIG_MORVIK {
 public:
  struct PropInfo {
    const char* name;  // key text, a constant of the library
    void* value;       // the field that holds the key's value
    size_t size;       // 4 (int, float), 8 (double) or 32 (string)
  };

  // Sets the defaults, then loads `source` (not quiet). A start-up file that
  // is missing or broken is reported on the log and the defaults are kept.
  explicit GCONFIG_MORVIK(const std::string& source);
  ~GCONFIG_MORVIK();
  GCONFIG_MORVIK(const GCONFIG_MORVIK&) = delete;
  GCONFIG_MORVIK& operator=(const GCONFIG_MORVIK&) = delete;

  // Loads a file name or JSON text (see the configuration documentation).
  // Throws the JSON parser's error for a missing file or invalid JSON, and
  // then changes nothing.
  void load(const std::string& source, bool quiet);

  int read(const char* name, void* buffer, size_t size) const;
  int write(const char* name, const void* buffer, size_t size);

  const std::vector<PropInfo>& properties() const { return props_; }

  // Fields, in storage order.
  int image_rescale_max = 800;
  int image_rescale_min = 800;
  std::string image_format = ".png";
  cv::Size align_desired_size{300, 300};
  cv::Size_<double> align_desired_eyes{0.25, 0.2};
  float haar_face_scale_factor = 1.1f;
  int haar_face_min_neighbours = 3;
  cv::Size haar_face_min_face{40, 40};
  std::string haar_face_path_default = "/usr/share/morvik/lbpcascade_frontalface.xml";
  std::string haar_face_path_default_alt = "/usr/share/morvik/haarcascade_frontalface_alt.xml";
  int haar_eye_rescale_min = 110;
  int haar_eye_rescale_max = 110;
  float haar_eye_scale_factor = 1.1f;
  int haar_eye_min_neighbours = 3;
  std::string haar_eye_path_default = "/usr/share/morvik/haarcascade_eye.xml";
  int haar_eye_equal_treshold = 5;
  int haar_eye_skip = 1;
  int haar_eye_skip_y_min = 20;
  int haar_eye_skip_y_max = 60;
  float dlib_chip_padding = 0.25f;
  std::string dlib_shape = "/usr/share/morvik/shape_predictor_68_face_landmarks.dat";
  std::string dlib_anet = "/usr/share/morvik/dlib_face_recognition_resnet_model_v1.dat";
  std::string dlib_dnet = "/usr/share/morvik/mmod_human_face_detector.dat";
  int dlib_cnn_rescale_max = 1280;
  int dlib_cnn_rescale_min = 1280;
  float dlib_cnn_confidence = 0.5f;
  int dlib_cnnface_rescale_min = 200;
  int dlib_cnnface_rescale_max = 300;
  std::string pico_path = "/usr/share/morvik/facefinder.dat";
  float pico_angle = 0.0f;
  int pico_maxdetections = 2048;
  float pico_scalefactor = 1.1f;
  float pico_stridefactor = 0.1f;
  int pico_minsize = 80;
  int pico_maxsize = 800;
  float pico_qthreshold = 5.0f;
  int confirmer_pico = 95;
  int confirmer_lbp = 96;
  int confirmer_haar = 81;
  int confirmer_dlib = 82;
  // Bounds on the images the library works on, beyond the original set of
  // options (appended, so that the fields above keep their offsets): no
  // working image of any finder, the eye search or the confirmer has more
  // pixels or a longer side, and encoded images that decode to more pixels
  // are refused. Values outside the documented ranges are refused.
  int image_max_working_pixels = 16777216;  // 4096 x 4096; 65536 to 67108864
  int image_max_working_side = 8192;        // 256 to 16384
  int image_max_decoded_pixels = 100000000; // 1 to 1073741824
  // Finding more faces, off by default: 0 keeps the cascades' faces without
  // the eye check; 1 runs every member of the chain at each of its scales
  // and merges their faces instead of stopping at the first that finds one.
  int find_eye_check = 1;    // 0 or 1
  int find_all_members = 0;  // 0 or 1
  // The YuNet face network's model file.
  std::string yunet_path = "/usr/share/morvik/libfacedetection_yunet.bin";
  // Describing faces, opt-in. align.mode 0 turns the face upright by its
  // eyes and fits the landmarks on that crop; 1 fits them on the face box in
  // the loaded image and cuts the chip from there, as dlib's own face
  // recognition does, so that a face is described as plain dlib describes
  // it from that box; 2 does the same, then fits the landmarks again from
  // the box the landmark model itself would draw around the first fit, so
  // that a face is described alike whichever finder drew its box (boxes of
  // other sizes and margins than dlib's HOG finder's); 3 fits them from the
  // box dlib's HOG finder draws around the face, searched near the face's
  // box, as plain dlib would, and does as 2 where that finder sees no face.
  // describe.jitters above 1 averages the descriptors of that many randomly
  // shifted, scaled, turned and mirrored copies of the chip (a fixed seed
  // per face: the result is reproducible).
  int align_mode = 0;        // 0 to 3
  int describe_jitters = 0;  // 0 to 64; 0 and 1 describe the chip once
  // The YuNet finder: the lowest score of a face it keeps (0 to 1), its
  // working-size bounds (0: off), and whether bit 0x80 of a one-byte finder
  // selection runs it (0: the bit selects nothing, as it always did).
  float yunet_score = 0.6f;
  int yunet_rescale_min = 0;     // 0 to 65536
  int yunet_rescale_max = 2048;  // 0 to 65536
  int find_yunet = 0;            // 0 or 1

 private:
  bool isString(const void* field) const;

  std::vector<PropInfo> props_;
};

// The store, built while the library is loaded from the file that the
// environment variable MORVIK_CONFIG names, or /usr/share/morvik/config.json.
MORVIK_API extern GCONFIG_MORVIK g_config;

#endif  // MORVIK_CONFIG_H_
