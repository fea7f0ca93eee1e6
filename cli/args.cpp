#include "args.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "finding.h"
#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"
#include "option_values.h"

namespace cli {

std::string Args::value(const std::string& flag, const std::string& fallback) const {
  auto it = values_.find(flag);
  return it == values_.end() ? fallback : it->second.back();
}

std::vector<std::string> Args::all(const std::string& flag) const {
  auto it = values_.find(flag);
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

Status parseArgs(int argc, char** argv, int first, const ArgGrammar& grammar, Args& args) {
  bool flags_done = false;
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    if (flags_done || arg.size() < 2 || arg[0] != '-') {
      args.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      flags_done = true;
      continue;
    }
    if (arg == "-o") arg = "--option";
    std::string flag = arg;
    std::string value;
    bool has_value = false;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      flag = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    if (grammar.bool_flags.count(flag)) {
      if (has_value) return failure(MV_INVALID_ARGS, flag + " takes no value");
      args.add(flag, "");
    } else if (grammar.value_flags.count(flag)) {
      if (!has_value) {
        if (i + 1 >= argc) return failure(MV_INVALID_ARGS, flag + " needs a value");
        value = argv[++i];
      }
      args.add(flag, value);
    } else {
      return failure(MV_INVALID_ARGS, "unknown option " + flag);
    }
  }
  if (args.positional.size() < grammar.min_positional) {
    return failure(MV_INVALID_ARGS, "missing arguments");
  }
  if (args.positional.size() > grammar.max_positional) {
    return failure(MV_INVALID_ARGS, "unexpected argument '" + args.positional[grammar.max_positional] + "'");
  }
  return okStatus();
}

Status parseInteger(const std::string& text, const std::string& what, long long min, long long max,
                    long long& value) {
  errno = 0;
  char* end = nullptr;
  const bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
  const long long parsed = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || parsed < min || parsed > max) {
    return failure(MV_INVALID_ARGS, what + " expects a whole number from " + std::to_string(min) +
                                        " to " + std::to_string(max) + ", not '" + text + "'");
  }
  value = parsed;
  return okStatus();
}

Status parseReal(const std::string& text, const std::string& what, double& value) {
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(parsed)) {
    return failure(MV_INVALID_ARGS, what + " expects a number, not '" + text + "'");
  }
  value = parsed;
  return okStatus();
}

namespace {

// The library's table of finder names, which the Python package reads too.
bool finderBits(const std::string& name, int& bits) {
  const char* known = nullptr;
  for (size_t i = 0; MvFinderName(i, &known, &bits) == MV_OK; ++i) {
    if (name == known) return true;
  }
  return false;
}

}  // namespace

std::string finderNames() {
  std::string names;
  const char* name = nullptr;
  int bits = 0;
  for (size_t i = 0; MvFinderName(i, &name, &bits) == MV_OK; ++i) names += (i ? ", " : "") + std::string(name);
  return names;
}

Status parseAlgo(const std::string& text, uint32_t& algo) {
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
    long long number = 0;
    Status status = parseInteger(text, "--algo", 1, 0xFF | mv::FindYunetAlways, number);
    if (status.ok()) algo = static_cast<uint32_t>(number);
    return status;
  }
  uint32_t bits = 0;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find_first_of("+,", start);
    const std::string name = text.substr(start, end == std::string::npos ? end : end - start);
    int finder = 0;
    if (!finderBits(name, finder)) {
      return failure(MV_INVALID_ARGS, "--algo: unknown finder '" + name + "' (use a number or " +
                                          finderNames() + ")");
    }
    bits |= static_cast<uint32_t>(finder);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  algo = bits;
  return okStatus();
}

Status parseFinding(const Args& args, uint32_t& algo, size_t& max_faces) {
  algo = kDefaultAlgo;
  max_faces = kDefaultMaxFaces;
  if (args.has("--algo")) {
    Status status = parseAlgo(args.value("--algo"), algo);
    if (!status.ok()) return status;
  }
  if (args.has("--max")) {
    long long max = 0;
    Status status = parseInteger(args.value("--max"), "--max", 1, kLargestMaxFaces, max);
    if (!status.ok()) return status;
    max_faces = static_cast<size_t>(max);
  }
  // Set as -o would set them, so that worker processes run the same way.
  if (!assigned("align.mode")) {
    Status status = applyAssignment("align.mode=" + std::to_string(kDefaultAlignMode));
    if (!status.ok()) return status;
  }
  // YuNet on an enlarged working image (small photos grow to 1600 pixels,
  // large ones keep up to 4096), and several selected finders merged, the
  // cascades without the eye check.
  if (args.has("--thorough")) {
    for (const char* assignment : {"find.all_members=1", "find.eye_check=0", "yunet.rescale_min=1600",
                                   "yunet.rescale_max=4096"}) {
      Status status = applyAssignment(assignment);
      if (!status.ok()) return status;
    }
  }
  return okStatus();
}

Status parseFindingCommand(int argc, char** argv, int first, const ArgGrammar& grammar, Args& args,
                           uint32_t& algo, size_t& max_faces) {
  // Every command that finds faces takes --thorough.
  ArgGrammar with_thorough = grammar;
  with_thorough.bool_flags.insert("--thorough");
  Status status = parseArgs(argc, argv, first, with_thorough, args);
  if (status.ok()) status = parseFinding(args, algo, max_faces);
  return status;
}

}  // namespace cli
