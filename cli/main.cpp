// morvik: the face library from the command line.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"
#include "option_values.h"
#include "status.h"

namespace {

const char kHead[] = "usage: morvik [-o KEY=VALUE]... [--verbose] COMMAND [ARGS]   (COMMAND --help for one)\n";

const char kFacesUsage[] =
    "  faces PHOTO... [--algo A] [--max N] [--thorough] [--json]\n"
    "      the faces of each photo: rectangle, eye centres, whether the eyes came\n"
    "      from the landmark shape, the finder's score and five points (YuNet).\n"
    "      A photo without a face is an error in the\n"
    "      text output (exit 4); with --json it is the record {\"faces\": []}, as\n"
    "      in an index, and not an error\n";
const char kDescribeUsage[] =
    "  describe PHOTO... [--algo A] [--max N] [--thorough] [--json]\n"
    "      the same with each face's 128-value descriptor\n";
const char kCompareUsage[] =
    "  compare PHOTO_A PHOTO_B [--threshold T] [--best] [--algo A] [--json]\n"
    "      distance between the largest faces, and whether it is under T (0.6);\n"
    "      --best compares with the closest of B's faces instead\n";
const char kAnnotateUsage[] =
    "  annotate PHOTO OUT.png [--algo A] [--max N]\n"
    "      the photo with face rectangles, eye centres and five points drawn\n";
const char kIndexUsage[] =
    "  index DIR --out FILE.jsonl [--algo A] [--max N] [--exact]\n"
    "        [--workers N | --scheduler ADDR]\n"
    "      describes every photo under DIR, one JSON record per photo, and\n"
    "      builds the search index FILE.jsonl.mvx beside it (exact up to 20000\n"
    "      faces, approximate above; --exact: always exact); over Dask with\n"
    "      --workers (local processes) or --scheduler (a running cluster),\n"
    "      resuming an earlier run into the same FILE. Photos are recorded by\n"
    "      absolute path, so that search and cluster find them from any folder\n";
const char kSearchUsage[] =
    "  search FILE.jsonl PHOTO [--top K] [--threshold T] [--exact] [--json]\n"
    "      the K (5) indexed faces closest to the photo's largest face (only\n"
    "      those closer than T); --exact compares with every face. FILE.jsonl\n"
    "      must be an index written by `morvik index` (else exit 2, nothing\n"
    "      written); indexed photos that are gone are marked missing\n";
const char kClusterUsage[] =
    "  cluster FILE.jsonl --out DIR [--threshold 0.5]\n"
    "      groups the indexed faces by person: DIR/clusters.json, largest\n"
    "      group first, and a contact sheet DIR/cluster_NNNN.png of each;\n"
    "      FILE.jsonl must be an index (else exit 2, nothing written)\n";
const char kOptionsUsage[] =
    "  options [KEY]\n"
    "      lists the options with their values, or reads one. Options are set\n"
    "      for one run with -o KEY=VALUE, for every run in the configuration\n"
    "      file that MORVIK_CONFIG names (default /usr/share/morvik/config.json)\n";
const char kVersionUsage[] = "  version\n      the library's version\n";

const char kCommonUsage[] =
    "\n"
    "  -o, --option KEY=VALUE  sets an option for this run (repeatable)\n"
    "  --verbose               the library's log lines and progress on stderr\n"
    "                          (as MORVIK_LOG=1); quiet otherwise\n"
    "  --algo A                finders, a number or names joined by '+' (below; default\n"
    "                          yunet: one CNN pass giving each face a score and five points)\n"
    "  --thorough              YuNet on an enlarged working image (yunet.rescale_min=\n"
    "                          1600, yunet.rescale_max=4096); several finders run at\n"
    "                          each of their scales and merged, the cascades without\n"
    "                          the eye check (find.all_members=1, find.eye_check=0):\n"
    "                          more small faces, several times slower\n"
    "\n"
    "Exit status: 0 on success, else the magnitude of the library's result code\n"
    "(1 invalid arguments, 2 unreadable image or index, 4 no face, 5 image not\n"
    "written, ...).\n";

struct Command {
  const char* name;
  int (*run)(int, char**, int);
  const char* usage;
};

const Command kCommands[] = {
    {"faces", cli::runFaces, kFacesUsage},          {"describe", cli::runDescribe, kDescribeUsage},
    {"compare", cli::runCompare, kCompareUsage},    {"annotate", cli::runAnnotate, kAnnotateUsage},
    {"index", cli::runIndex, kIndexUsage},          {"search", cli::runSearch, kSearchUsage},
    {"cluster", cli::runCluster, kClusterUsage},    {"options", cli::runOptions, kOptionsUsage},
    {"version", cli::runVersion, kVersionUsage},
};

// The options every command shares, with the finders' names from the
// library's table.
std::string commonUsage() {
  return std::string(kCommonUsage) + "\nFinders: " + cli::finderNames() + ".\n";
}

std::string usage() {
  std::string text = std::string(kHead) + "\ncommands:\n";
  for (const Command& command : kCommands) text += command.usage;
  return text + commonUsage();
}

bool asksForHelp(int argc, char** argv, int first) {
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

bool isVerboseFlag(const char* arg) { return std::strcmp(arg, "--verbose") == 0; }

// The library writes its start-up log lines while it is being loaded, before
// main runs. An executable's pre-initialisers run before any shared
// library's initialisers (and before the C library's own: the environment is
// read from `envp`, not getenv), and the library's functions can be called
// by then: the tool turns the log lines off there unless they were asked for.
void quietLibraryLog(int argc, char** argv, char** envp) {
  for (char** env = envp; env != nullptr && *env != nullptr; ++env) {
    if (std::strncmp(*env, "MORVIK_LOG=", std::strlen("MORVIK_LOG=")) == 0) return;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (isVerboseFlag(argv[i])) return;
  }
  MvSetLogging(0);
}

__attribute__((section(".preinit_array"), used)) void (*quiet_library_log)(int, char**, char**) =
    &quietLibraryLog;

bool isOptionFlag(const std::string& arg) { return arg == "-o" || arg == "--option"; }

// Applies every -o KEY=VALUE and removes it, so that commands see only their
// own arguments.
cli::Status takeOptions(int argc, char** argv, std::vector<char*>& rest) {
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      rest.insert(rest.end(), argv + i, argv + argc);
      break;
    }
    std::string assignment;
    if (isVerboseFlag(argv[i])) {
      cli::setVerbose(true);
      continue;
    }
    if (isOptionFlag(arg)) {
      if (i + 1 >= argc) return cli::failure(MV_INVALID_ARGS, arg + " needs KEY=VALUE");
      assignment = argv[++i];
    } else if (arg.rfind("--option=", 0) == 0) {
      assignment = arg.substr(std::strlen("--option="));
    } else {
      rest.push_back(argv[i]);
      continue;
    }
    cli::Status status = cli::applyAssignment(assignment);
    if (!status.ok()) return status;
  }
  return cli::okStatus();
}

int run(int argc, char** argv) {
  std::vector<char*> rest;
  cli::Status status = takeOptions(argc, argv, rest);
  // What the programs this one starts (the Dask indexer) inherit.
  if (!cli::verbose()) setenv("MORVIK_LOG", "0", 0);
  if (!status.ok()) {
    cli::report("", status);
    return cli::exitStatus(status.code);
  }
  const int count = static_cast<int>(rest.size());
  if (count < 2) {
    std::cerr << usage();
    return cli::exitStatus(MV_INVALID_ARGS);
  }
  const std::string name = rest[1];
  if (name == "help" || name == "--help" || name == "-h") {
    std::cout << usage();
    return 0;
  }
  for (const Command& command : kCommands) {
    if (name != command.name) continue;
    if (asksForHelp(count, rest.data(), 2)) {
      std::cout << kHead << "\n" << command.usage << commonUsage();
      return 0;
    }
    return command.run(count, rest.data(), 2);
  }
  cli::report("", cli::failure(MV_INVALID_ARGS, "unknown command '" + name + "' (see morvik help)"));
  return cli::exitStatus(MV_INVALID_ARGS);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const int status = run(argc, argv);
    GlobalFree();
    return status;
  } catch (const std::exception& e) {
    cli::report("", cli::failure(MV_EXCEPTION, e.what()));
  } catch (...) {
    cli::report("", cli::failure(MV_EXCEPTION, "unknown exception"));
  }
  return cli::exitStatus(MV_EXCEPTION);
}
