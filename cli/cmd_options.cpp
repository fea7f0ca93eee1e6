// morvik options [KEY [VALUE]] and morvik version.
#include <cstdio>
#include <iostream>
#include <string>

#include "args.h"
#include "commands.h"
#include "morvik/morvik.h"
#include "option_values.h"

namespace cli {

int runOptions(int argc, char** argv, int first) {
  ArgGrammar grammar{{}, {}, 0, 2};
  Args args;
  Status status = parseArgs(argc, argv, first, grammar, args);
  if (!status.ok()) {
    report("options", status);
    return exitStatus(status.code);
  }
  if (args.positional.empty()) {
    for (const OptionInfo& option : listOptions()) {
      std::string text;
      status = readOption(option, text);
      if (!status.ok()) {
        report(option.key, status);
        return exitStatus(status.code);
      }
      std::cout << option.key << " = " << text << "  (" << typeName(option.type) << ")\n";
    }
    return 0;
  }
  OptionInfo option;
  std::string text;
  status = findOption(args.positional[0], option);
  if (status.ok() && args.positional.size() == 2) status = writeOption(option, args.positional[1]);
  if (status.ok()) status = readOption(option, text);
  if (!status.ok()) {
    report("options", status);
    return exitStatus(status.code);
  }
  std::cout << (args.positional.size() == 2 ? option.key + " = " + text : text) << "\n";
  return 0;
}

int runVersion(int argc, char** argv, int first) {
  ArgGrammar grammar{{}, {}, 0, 0};
  Args args;
  Status status = parseArgs(argc, argv, first, grammar, args);
  uint16_t major = 0, minor = 0;
  uint32_t build = 0;
  if (status.ok() && GetVersion(&major, &minor, &build) != MV_OK) status = failure(MV_INVALID_ARGS, "");
  if (!status.ok()) {
    report("version", status);
    return exitStatus(status.code);
  }
  std::printf("morvik %u.%u (build %08X)\n", major, minor, build);
  return 0;
}

}  // namespace cli
