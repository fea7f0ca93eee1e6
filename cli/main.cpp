// morvik: the face library from the command line.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "morvik/morvik.h"
#include "option_values.h"
#include "status.h"

namespace {

const char kUsage[] =
    "usage: morvik [-o KEY=VALUE]... COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  faces PHOTO... [--algo A] [--max N] [--json]\n"
    "      the faces of each photo: rectangle, eye centres, whether the eyes came\n"
    "      from the landmark shape, the finder's score and five points (YuNet)\n"
    "  describe PHOTO... [--algo A] [--max N] [--json]\n"
    "      the same with each face's 128-value descriptor\n"
    "  compare PHOTO_A PHOTO_B [--threshold T] [--best]\n"
    "      distance between the largest faces, and whether it is under T (0.6);\n"
    "      --best compares with the closest of B's faces instead\n"
    "  annotate PHOTO OUT.png [--algo A] [--max N]\n"
    "      the photo with face rectangles, eye centres and five points drawn\n"
    "  index DIR --out FILE.jsonl [--algo A] [--max N] [--exact]\n"
    "        [--workers N | --scheduler ADDR]\n"
    "      describes every photo under DIR, one JSON record per photo, and\n"
    "      builds the search index FILE.jsonl.mvx beside it (exact up to 20000\n"
    "      faces, approximate above; --exact: always exact); over Dask with\n"
    "      --workers (local processes) or --scheduler (a running cluster),\n"
    "      resuming an earlier run into the same FILE\n"
    "  search FILE.jsonl PHOTO [--top K] [--threshold T] [--exact]\n"
    "      the K (5) indexed faces closest to the photo's largest face (only\n"
    "      those closer than T); --exact compares with every face\n"
    "  cluster FILE.jsonl --out DIR [--threshold 0.5]\n"
    "      groups the indexed faces by person: DIR/clusters.json, largest\n"
    "      group first, and a contact sheet DIR/cluster_NNNN.png of each\n"
    "  options [KEY [VALUE]]\n"
    "      lists the options, reads one, or sets one for this run\n"
    "  version\n"
    "\n"
    "  -o, --option KEY=VALUE  sets an option for this run (repeatable)\n"
    "  --algo A                finders, a number or names joined by '+': yunet, pico,\n"
    "                          lbp, haar, hog, cnn, confirm (default yunet: one CNN\n"
    "                          pass giving each face a score and five points)\n"
    "  --thorough              YuNet on an enlarged working image (yunet.rescale_min=\n"
    "                          1600, yunet.rescale_max=4096); several finders run at\n"
    "                          each of their scales and merged, the cascades without\n"
    "                          the eye check (find.all_members=1, find.eye_check=0)\n"
    "\n"
    "Exit status: 0 on success, else the magnitude of the library's result code\n"
    "(1 invalid arguments, 2 unreadable image, 4 no face, 5 image not written, ...).\n";

struct Command {
  const char* name;
  int (*run)(int, char**, int);
};

const Command kCommands[] = {
    {"faces", cli::runFaces},       {"describe", cli::runDescribe}, {"compare", cli::runCompare},
    {"annotate", cli::runAnnotate}, {"index", cli::runIndex},       {"search", cli::runSearch},
    {"cluster", cli::runCluster},
    {"options", cli::runOptions},   {"version", cli::runVersion},
};

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
  if (!status.ok()) {
    cli::report("", status);
    return cli::exitStatus(status.code);
  }
  const int count = static_cast<int>(rest.size());
  if (count < 2) {
    std::cerr << kUsage;
    return cli::exitStatus(MV_INVALID_ARGS);
  }
  const std::string name = rest[1];
  if (name == "help" || name == "--help" || name == "-h") {
    std::cout << kUsage;
    return 0;
  }
  for (const Command& command : kCommands) {
    if (name == command.name) return command.run(count, rest.data(), 2);
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
