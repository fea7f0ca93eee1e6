// Lets hosts discover the option keys and their types, so that tools and
// bindings need no copy of the key list.
#include <cstddef>

#include "morvik/config.h"
#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"

namespace {

// Sizes alone cannot tell an int from a float, so the float fields are named.
bool isFloatField(const void* field) {
  const void* floats[] = {&g_config.haar_face_scale_factor, &g_config.haar_eye_scale_factor,
                          &g_config.dlib_chip_padding,      &g_config.dlib_cnn_confidence,
                          &g_config.pico_angle,             &g_config.pico_scalefactor,
                          &g_config.pico_stridefactor,      &g_config.pico_qthreshold};
  for (const void* f : floats) {
    if (f == field) return true;
  }
  return false;
}

int typeOf(const GCONFIG_MORVIK::PropInfo& prop) {
  switch (prop.size) {
    case sizeof(int): return isFloatField(prop.value) ? MV_OPTION_FLOAT : MV_OPTION_INT;
    case sizeof(double): return MV_OPTION_DOUBLE;
    default: return MV_OPTION_STRING;
  }
}

}  // namespace

extern "C" {

MORVIK_API size_t MvOptionCount(void) { return g_config.properties().size(); }

MORVIK_API int MvGetOptionInfo(size_t index, const char** name, int* type) {
  if (name == nullptr || type == nullptr) return MV_INVALID_ARGS;
  const auto& props = g_config.properties();
  if (index >= props.size()) return MV_PROPERTY_NAME;
  *name = props[index].name;
  *type = typeOf(props[index]);
  return MV_OK;
}

}  // extern "C"
