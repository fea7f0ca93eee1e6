// The option store: built-in defaults, the JSON loader and keyed access.

#include "morvik/config.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <locale>
#include <sstream>

#include <boost/optional.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "config/log_switch.h"
#include "config/option_table.h"
#include "morvik/morvik.h"

namespace {

using boost::property_tree::ptree;

static_assert(sizeof(std::string) == 32, "string options are registered with the string's size");
static_assert(sizeof(mv::OptionString) == sizeof(std::string), "string exchange record");

const char kDefaultSource[] = "/usr/share/morvik/config.json";

// Longest text a string option takes; a longer length is taken for garbage
// rather than read from the caller's memory.
constexpr uint64_t kMaxOptionText = 64 * 1024;

using Kind = morvik::OptionKind;

struct Key {
  const char* name;
  Kind kind;
  size_t offset;
  // Integers outside [min, max] are refused, by the loader and by writes.
  int64_t min = INT32_MIN;
  int64_t max = INT32_MAX;
};

#define MV_FIELD(member) offsetof(GCONFIG_MORVIK, member)

// Table order: storage order, except that "dlib.cnnface.rescale_max" comes
// before "dlib.cnnface.rescale_min".
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
const Key kKeys[] = {
    {"image.rescale_max", Kind::kInt, MV_FIELD(image_rescale_max)},
    {"image.rescale_min", Kind::kInt, MV_FIELD(image_rescale_min)},
    {"image.format", Kind::kString, MV_FIELD(image_format)},
    {"align.desired_size.width", Kind::kInt, MV_FIELD(align_desired_size) + offsetof(cv::Size, width)},
    {"align.desired_size.height", Kind::kInt, MV_FIELD(align_desired_size) + offsetof(cv::Size, height)},
    {"align.desired_eyes.width", Kind::kDouble,
     MV_FIELD(align_desired_eyes) + offsetof(cv::Size_<double>, width)},
    {"align.desired_eyes.height", Kind::kDouble,
     MV_FIELD(align_desired_eyes) + offsetof(cv::Size_<double>, height)},
    {"haar.face.scale_factor", Kind::kFloat, MV_FIELD(haar_face_scale_factor)},
    {"haar.face.min_neighbours", Kind::kInt, MV_FIELD(haar_face_min_neighbours)},
    {"haar.face.min_face.width", Kind::kInt, MV_FIELD(haar_face_min_face) + offsetof(cv::Size, width)},
    {"haar.face.min_face.height", Kind::kInt, MV_FIELD(haar_face_min_face) + offsetof(cv::Size, height)},
    {"haar.face.path_default", Kind::kString, MV_FIELD(haar_face_path_default)},
    {"haar.face.path_default_alt", Kind::kString, MV_FIELD(haar_face_path_default_alt)},
    {"haar.eye.rescale_min", Kind::kInt, MV_FIELD(haar_eye_rescale_min)},
    {"haar.eye.rescale_max", Kind::kInt, MV_FIELD(haar_eye_rescale_max)},
    {"haar.eye.scale_factor", Kind::kFloat, MV_FIELD(haar_eye_scale_factor)},
    {"haar.eye.min_neighbours", Kind::kInt, MV_FIELD(haar_eye_min_neighbours)},
    {"haar.eye.path_default", Kind::kString, MV_FIELD(haar_eye_path_default)},
    {"haar.eye.equal_treshold", Kind::kInt, MV_FIELD(haar_eye_equal_treshold)},
    {"haar.eye.skip", Kind::kInt, MV_FIELD(haar_eye_skip)},
    {"haar.eye.skip_y_min", Kind::kInt, MV_FIELD(haar_eye_skip_y_min)},
    {"haar.eye.skip_y_max", Kind::kInt, MV_FIELD(haar_eye_skip_y_max)},
    {"dlib.chip_padding", Kind::kFloat, MV_FIELD(dlib_chip_padding)},
    {"dlib.shape", Kind::kString, MV_FIELD(dlib_shape)},
    {"dlib.anet", Kind::kString, MV_FIELD(dlib_anet)},
    {"dlib.dnet", Kind::kString, MV_FIELD(dlib_dnet)},
    {"dlib.cnn.rescale_max", Kind::kInt, MV_FIELD(dlib_cnn_rescale_max)},
    {"dlib.cnn.rescale_min", Kind::kInt, MV_FIELD(dlib_cnn_rescale_min)},
    {"dlib.cnn.confidence", Kind::kFloat, MV_FIELD(dlib_cnn_confidence)},
    {"dlib.cnnface.rescale_max", Kind::kInt, MV_FIELD(dlib_cnnface_rescale_max)},
    {"dlib.cnnface.rescale_min", Kind::kInt, MV_FIELD(dlib_cnnface_rescale_min)},
    {"pico.path", Kind::kString, MV_FIELD(pico_path)},
    {"pico.angle", Kind::kFloat, MV_FIELD(pico_angle)},
    {"pico.maxdetections", Kind::kInt, MV_FIELD(pico_maxdetections)},
    {"pico.scalefactor", Kind::kFloat, MV_FIELD(pico_scalefactor)},
    {"pico.stridefactor", Kind::kFloat, MV_FIELD(pico_stridefactor)},
    {"pico.minsize", Kind::kInt, MV_FIELD(pico_minsize)},
    {"pico.maxsize", Kind::kInt, MV_FIELD(pico_maxsize)},
    {"pico.qthreshold", Kind::kFloat, MV_FIELD(pico_qthreshold)},
    {"confirmer.pico", Kind::kInt, MV_FIELD(confirmer_pico)},
    {"confirmer.lbp", Kind::kInt, MV_FIELD(confirmer_lbp)},
    {"confirmer.haar", Kind::kInt, MV_FIELD(confirmer_haar)},
    {"confirmer.dlib", Kind::kInt, MV_FIELD(confirmer_dlib)},
    {"image.max_working_pixels", Kind::kInt, MV_FIELD(image_max_working_pixels), 65536, 67108864},
    {"image.max_working_side", Kind::kInt, MV_FIELD(image_max_working_side), 256, 16384},
    {"image.max_decoded_pixels", Kind::kInt, MV_FIELD(image_max_decoded_pixels), 1, 1073741824},
    {"find.eye_check", Kind::kInt, MV_FIELD(find_eye_check), 0, 1},
    {"find.all_members", Kind::kInt, MV_FIELD(find_all_members), 0, 1},
    {"yunet.path", Kind::kString, MV_FIELD(yunet_path)},
    {"align.mode", Kind::kInt, MV_FIELD(align_mode), 0, 3},
    {"describe.jitters", Kind::kInt, MV_FIELD(describe_jitters), 0, 64},
    {"yunet.score", Kind::kFloat, MV_FIELD(yunet_score)},
    {"yunet.rescale_min", Kind::kInt, MV_FIELD(yunet_rescale_min), 0, 65536},
    {"yunet.rescale_max", Kind::kInt, MV_FIELD(yunet_rescale_max), 0, 65536},
    {"find.yunet", Kind::kInt, MV_FIELD(find_yunet), 0, 1},
};
#pragma GCC diagnostic pop
#undef MV_FIELD

static_assert(sizeof(kKeys) / sizeof(kKeys[0]) == 55, "the store holds 55 options");

size_t kindSize(Kind kind) {
  switch (kind) {
    case Kind::kInt: return sizeof(int);
    case Kind::kFloat: return sizeof(float);
    case Kind::kDouble: return sizeof(double);
    case Kind::kString: return sizeof(std::string);
  }
  return 0;
}

// Looks a key up as a nested path ("image" -> "rescale_max") and, failing
// that, as one flat member named by the whole key. A value counts only when
// its text converts completely to T.
template <typename T>
boost::optional<T> lookup(const ptree& doc, const char* key) {
  boost::optional<T> value = doc.get_optional<T>(ptree::path_type(key, '.'));
  if (!value) value = doc.get_optional<T>(ptree::path_type(key, '~'));
  return value;
}

bool inRange(const Key& key, int value) { return key.min <= value && value <= key.max; }
template <typename T>
bool inRange(const Key&, const T&) {
  return true;
}

// Stores a found value; logs it unless quiet or unchanged. Floats are logged
// widened to double with the stream's default six significant digits. A
// value outside the key's range is reported and not stored.
template <typename T, typename Logged = T>
void apply(const ptree& doc, const Key& key, T* field, bool quiet) {
  boost::optional<T> value = lookup<T>(doc, key.name);
  if (!value) return;
  if (!inRange(key, *value)) {
    std::clog << "Ignored " << key.name << " = " << static_cast<Logged>(*value) << " ( allowed " << key.min
              << " to " << key.max << " )" << std::endl;
    return;
  }
  const T previous = *field;
  *field = *value;
  if (!quiet && !(previous == *value)) {
    std::clog << "Loaded " << key.name << " = " << static_cast<Logged>(*value)
              << " ( default = " << static_cast<Logged>(previous) << " )" << std::endl;
  }
}

std::string startupSource() {
  const char* env = std::getenv("MORVIK_CONFIG");
  return (env != nullptr && *env != '\0') ? env : kDefaultSource;
}

}  // namespace

GCONFIG_MORVIK g_config(startupSource());

GCONFIG_MORVIK::GCONFIG_MORVIK(const std::string& source) {
  // A broken start-up file must not take the host down while the library is
  // being loaded: report it, keep the defaults and make the options usable.
  try {
    load(source, !morvik::loggingEnabled());
  } catch (const boost::property_tree::file_parser_error& e) {
    std::clog << "Can't load config " << source << ": " << e.message() << std::endl;
    load("{}", true);
  } catch (const std::exception& e) {
    std::clog << "Can't load config " << source << ": " << e.what() << std::endl;
    load("{}", true);
  }
}

GCONFIG_MORVIK::~GCONFIG_MORVIK() = default;

void GCONFIG_MORVIK::load(const std::string& source, bool quiet) {
  if (source.empty()) {
    load("{}", false);
    return;
  }
  const bool is_file = source.find('{') == std::string::npos && source.size() <= 254;
  ptree doc;
  if (is_file) {
    if (!quiet) std::clog << "Loading config " << source << std::endl;
    boost::property_tree::read_json(source, doc, std::locale());
  } else {
    if (!quiet) std::clog << "Loading config from data" << std::endl;
    std::istringstream text(source);
    boost::property_tree::read_json(text, doc);
  }

  props_.clear();
  props_.reserve(sizeof(kKeys) / sizeof(kKeys[0]));
  char* base = reinterpret_cast<char*>(this);
  for (const Key& key : kKeys) {
    void* field = base + key.offset;
    switch (key.kind) {
      case Kind::kInt: apply(doc, key, static_cast<int*>(field), quiet); break;
      case Kind::kFloat: apply<float, double>(doc, key, static_cast<float*>(field), quiet); break;
      case Kind::kDouble: apply(doc, key, static_cast<double*>(field), quiet); break;
      case Kind::kString: apply(doc, key, static_cast<std::string*>(field), quiet); break;
    }
    props_.push_back(PropInfo{key.name, field, kindSize(key.kind)});
  }

  if (!quiet) {
    if (is_file) {
      std::clog << "Loaded config " << source << std::endl;
    } else {
      std::clog << "Loaded config from data" << std::endl;
    }
  }
}

bool GCONFIG_MORVIK::isString(const void* field) const {
  const void* strings[] = {&image_format, &haar_face_path_default, &haar_face_path_default_alt,
                           &haar_eye_path_default, &dlib_shape, &dlib_anet, &dlib_dnet, &pico_path,
                           &yunet_path};
  for (const void* s : strings) {
    if (s == field) return true;
  }
  return false;
}

namespace {

const Key* findKey(const char* name) {
  for (const Key& key : kKeys) {
    if (std::strcmp(key.name, name) == 0) return &key;
  }
  return nullptr;
}

const GCONFIG_MORVIK::PropInfo* findProperty(const std::vector<GCONFIG_MORVIK::PropInfo>& props,
                                             const char* name) {
  for (const auto& p : props) {
    if (std::strcmp(p.name, name) == 0) return &p;
  }
  return nullptr;
}

}  // namespace

int GCONFIG_MORVIK::read(const char* name, void* buffer, size_t size) const {
  if (name == nullptr || *name == '\0' || buffer == nullptr || size == 0) return MV_INVALID_ARGS;
  const PropInfo* p = findProperty(props_, name);
  if (p == nullptr) return MV_PROPERTY_NAME;
  if (p->size > size) return MV_BUFFER_SIZE;
  if (isString(p->value)) {
    const auto* s = static_cast<const std::string*>(p->value);
    mv::OptionString out{};
    out.text = s->c_str();
    out.length = s->size();
    std::memcpy(buffer, &out, sizeof(out));
  } else {
    std::memcpy(buffer, p->value, p->size);
  }
  return MV_OK;
}

int GCONFIG_MORVIK::write(const char* name, const void* buffer, size_t size) {
  if (name == nullptr || *name == '\0' || buffer == nullptr || size == 0) return MV_INVALID_ARGS;
  const PropInfo* p = findProperty(props_, name);
  if (p == nullptr) return MV_PROPERTY_NAME;
  if (p->size != size) return MV_BUFFER_SIZE;
  if (isString(p->value)) {
    mv::OptionString in;
    std::memcpy(&in, buffer, sizeof(in));
    if (in.text == nullptr && in.length != 0) return MV_INVALID_ARGS;
    if (in.length > kMaxOptionText) return MV_INVALID_ARGS;
    if (in.length != 0 && std::memchr(in.text, '\0', in.length) != nullptr) return MV_INVALID_ARGS;
    static_cast<std::string*>(p->value)->assign(in.text == nullptr ? "" : in.text, in.length);
  } else {
    const Key* key = findKey(name);
    if (key != nullptr && key->kind == Kind::kInt) {
      int value;
      std::memcpy(&value, buffer, sizeof(value));
      if (!inRange(*key, value)) return MV_INVALID_ARGS;
    }
    std::memcpy(p->value, buffer, p->size);
  }
  return MV_OK;
}

namespace morvik {

bool optionKind(const char* name, OptionKind& kind) {
  const Key* key = name != nullptr ? findKey(name) : nullptr;
  if (key == nullptr) return false;
  kind = key->kind;
  return true;
}

bool optionRange(const char* name, int64_t& min, int64_t& max) {
  const Key* key = name != nullptr ? findKey(name) : nullptr;
  if (key == nullptr || key->kind != Kind::kInt) return false;
  min = key->min;
  max = key->max;
  return true;
}

}  // namespace morvik
