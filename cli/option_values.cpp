#include "option_values.h"

#include <cstdint>
#include <limits>

#include "args.h"
#include "json.h"
#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"

namespace cli {
namespace {

std::vector<OptionInfo>& assignedKeys() {
  static std::vector<OptionInfo> keys;
  return keys;
}

Status fromCode(int code, const std::string& key) {
  return code == MV_OK ? okStatus() : failure(code, key);
}

Status parseValue(const OptionInfo& option, const std::string& text, long long& integer, double& real) {
  switch (option.type) {
    case MV_OPTION_INT: {
      // The library's own range, so that a refusal says what is allowed.
      int64_t min = std::numeric_limits<int32_t>::min(), max = std::numeric_limits<int32_t>::max();
      MvGetOptionRange(option.key.c_str(), &min, &max);
      return parseInteger(text, option.key, min, max, integer);
    }
    case MV_OPTION_FLOAT: {
      Status status = parseReal(text, option.key, real);
      if (status.ok() && (real > std::numeric_limits<float>::max() || real < -std::numeric_limits<float>::max())) {
        return failure(MV_INVALID_ARGS, option.key + " expects a number within the range of a float");
      }
      return status;
    }
    case MV_OPTION_DOUBLE: return parseReal(text, option.key, real);
    default: return okStatus();
  }
}

}  // namespace

std::vector<OptionInfo> listOptions() {
  std::vector<OptionInfo> options;
  const size_t count = MvOptionCount();
  for (size_t i = 0; i < count; ++i) {
    const char* name = nullptr;
    int type = 0;
    if (MvGetOptionInfo(i, &name, &type) == MV_OK) options.push_back(OptionInfo{name, type});
  }
  return options;
}

const char* typeName(int type) {
  switch (type) {
    case MV_OPTION_INT: return "int";
    case MV_OPTION_FLOAT: return "float";
    case MV_OPTION_DOUBLE: return "double";
    case MV_OPTION_STRING: return "string";
    default: return "?";
  }
}

Status findOption(const std::string& key, OptionInfo& option) {
  for (const OptionInfo& candidate : listOptions()) {
    if (candidate.key == key) {
      option = candidate;
      return okStatus();
    }
  }
  return failure(MV_PROPERTY_NAME, "no option '" + key + "' (see morvik options)");
}

Status readOption(const OptionInfo& option, std::string& text) {
  const char* key = option.key.c_str();
  switch (option.type) {
    case MV_OPTION_INT: {
      int32_t value = 0;
      Status status = fromCode(GetOption(key, &value, sizeof(value)), option.key);
      if (status.ok()) text = std::to_string(value);
      return status;
    }
    case MV_OPTION_FLOAT: {
      float value = 0;
      Status status = fromCode(GetOption(key, &value, sizeof(value)), option.key);
      if (status.ok()) text = shortest(value);
      return status;
    }
    case MV_OPTION_DOUBLE: {
      double value = 0;
      Status status = fromCode(GetOption(key, &value, sizeof(value)), option.key);
      if (status.ok()) text = shortest(value);
      return status;
    }
    default: {
      mv::OptionString value{};
      Status status = fromCode(GetOption(key, &value, sizeof(value)), option.key);
      if (status.ok()) text.assign(value.text ? value.text : "", value.length);
      return status;
    }
  }
}

Status writeOption(const OptionInfo& option, const std::string& text) {
  long long integer = 0;
  double real = 0.0;
  Status status = parseValue(option, text, integer, real);
  if (!status.ok()) return status;
  const char* key = option.key.c_str();
  switch (option.type) {
    case MV_OPTION_INT: {
      int32_t value = static_cast<int32_t>(integer);
      const int rc = SetOption(key, &value, sizeof(value));
      int64_t min = 0, max = 0;
      if (rc == MV_INVALID_ARGS && MvGetOptionRange(key, &min, &max) == MV_OK) {
        return failure(rc, option.key + " takes a whole number from " + std::to_string(min) + " to " +
                               std::to_string(max) + ", not " + text);
      }
      return fromCode(rc, option.key);
    }
    case MV_OPTION_FLOAT: {
      float value = static_cast<float>(real);
      return fromCode(SetOption(key, &value, sizeof(value)), option.key);
    }
    case MV_OPTION_DOUBLE: return fromCode(SetOption(key, &real, sizeof(real)), option.key);
    default: {
      mv::OptionString value{text.data(), text.size(), {}};
      return fromCode(SetOption(key, &value, sizeof(value)), option.key);
    }
  }
}

Status applyAssignment(const std::string& assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) {
    return failure(MV_INVALID_ARGS, "--option expects KEY=VALUE, not '" + assignment + "'");
  }
  OptionInfo option;
  Status status = findOption(assignment.substr(0, eq), option);
  if (status.ok()) status = writeOption(option, assignment.substr(eq + 1));
  if (status.ok()) assignedKeys().push_back(option);
  return status;
}

bool assigned(const std::string& key) {
  for (const OptionInfo& option : assignedKeys()) {
    if (option.key == key) return true;
  }
  return false;
}

std::vector<std::string> assignedOptions() {
  std::vector<std::string> assignments;
  for (const OptionInfo& option : assignedKeys()) {
    std::string text;
    if (readOption(option, text).ok()) assignments.push_back(option.key + "=" + text);
  }
  return assignments;
}

}  // namespace cli
