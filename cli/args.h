// Command-line parsing: positional arguments and --flags, with the number
// and finder-selection parsers that the commands share.
#ifndef MORVIK_TOOLS_ARGS_H_
#define MORVIK_TOOLS_ARGS_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "status.h"

namespace cli {

// What a command accepts.
struct ArgGrammar {
  std::set<std::string> value_flags;  // e.g. "--max", followed by a value
  std::set<std::string> bool_flags;   // e.g. "--json"
  size_t min_positional = 0;
  size_t max_positional = SIZE_MAX;
};

class Args {
 public:
  std::vector<std::string> positional;

  bool has(const std::string& flag) const { return values_.count(flag) > 0; }
  // The last value given for `flag`, or `fallback`.
  std::string value(const std::string& flag, const std::string& fallback = "") const;
  // Every value given for a repeatable flag, in order.
  std::vector<std::string> all(const std::string& flag) const;

  void add(const std::string& flag, const std::string& value) { values_[flag].push_back(value); }

 private:
  std::map<std::string, std::vector<std::string>> values_;
};

// Parses argv[first..argc). Flags may come anywhere, as "--flag value" or
// "--flag=value"; "--" ends the flags. "-o" is accepted for "--option".
Status parseArgs(int argc, char** argv, int first, const ArgGrammar& grammar, Args& args);

// Whole-text conversions that name the offending flag in their failure.
Status parseInteger(const std::string& text, const std::string& what, long long min, long long max,
                    long long& value);
Status parseReal(const std::string& text, const std::string& what, double& value);

// A finder selection: a number (decimal or 0x hex, 1 to 511) or finder names
// joined by '+' or ',' (the library's table, MvFinderName).
Status parseAlgo(const std::string& text, uint32_t& algo);
// "lbp, haar, hog, ...": the names parseAlgo takes.
std::string finderNames();

// Reads the common --algo and --max flags, with their defaults.
Status parseFinding(const Args& args, uint32_t& algo, size_t& max_faces);
// parseArgs followed by parseFinding: the prologue of every command that
// finds faces.
Status parseFindingCommand(int argc, char** argv, int first, const ArgGrammar& grammar, Args& args,
                           uint32_t& algo, size_t& max_faces);

}  // namespace cli

#endif  // MORVIK_TOOLS_ARGS_H_
