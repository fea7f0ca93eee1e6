// Lets hosts discover the option keys and their types, so that tools and
// bindings need no copy of the key list.
#include <cstddef>

#include "config/option_table.h"
#include "morvik/config.h"
#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"

namespace {

int typeOf(const GCONFIG_MORVIK::PropInfo& prop) {
  morvik::OptionKind kind = morvik::OptionKind::kString;
  morvik::optionKind(prop.name, kind);
  switch (kind) {
    case morvik::OptionKind::kInt: return MV_OPTION_INT;
    case morvik::OptionKind::kFloat: return MV_OPTION_FLOAT;
    case morvik::OptionKind::kDouble: return MV_OPTION_DOUBLE;
    case morvik::OptionKind::kString: break;
  }
  return MV_OPTION_STRING;
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

MORVIK_API int MvGetOptionRange(const char* name, int64_t* min, int64_t* max) {
  if (name == nullptr || min == nullptr || max == nullptr) return MV_INVALID_ARGS;
  morvik::OptionKind kind = morvik::OptionKind::kString;
  if (!morvik::optionKind(name, kind)) return MV_PROPERTY_NAME;
  int64_t low = 0, high = 0;
  if (!morvik::optionRange(name, low, high)) return MV_NOT_SUPPORTED;
  *min = low;
  *max = high;
  return MV_OK;
}

}  // extern "C"
