// morvik options [KEY] and morvik version.
#include <cstdio>
#include <iostream>
#include <string>

#include "args.h"
#include "commands.h"
#include "morvik/morvik.h"
#include "option_values.h"

namespace cli {

int runOptions(int argc, char** argv, int first) {
  ArgGrammar grammar{{}, {}, 0, 1};
  Args args;
  Status status = parseArgs(argc, argv, first, grammar, args);
  // A value set here would last for this run only, which ends at once.
  if (!status.ok() && args.positional.size() == 2) {
    status = failure(MV_INVALID_ARGS, "options are read here, not set: set " + args.positional[0] +
                                          " for one run with -o " + args.positional[0] + "=" + args.positional[1] +
                                          ", for every run in the configuration file that MORVIK_CONFIG names "
                                          "(default /usr/share/morvik/config.json)");
  }
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
  if (status.ok()) status = readOption(option, text);
  if (!status.ok()) {
    report("options", status);
    return exitStatus(status.code);
  }
  std::cout << text << "\n";
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
