#include "dask_index.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "morvik/morvik.h"
#include "option_values.h"
#include "status.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// The interpreter: MORVIK_PYTHON, else the one the build found (Debian's,
// which has python3-dask and python3-distributed).
std::string interpreter() {
  const char* named = std::getenv("MORVIK_PYTHON");
  return named && *named ? named : MORVIK_CLI_PYTHON;
}

// The folder holding the morvik package that belongs to this tool: beside an
// installed tool under its prefix (lib/python3*/dist-packages), else the
// source tree's for a tool run from its build tree.
std::string packageFolder() {
  std::error_code ec;
  const fs::path prefix = fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path();
  if (!ec) {
    for (const fs::directory_entry& lib : fs::directory_iterator(prefix / "lib", ec)) {
      const fs::path site = lib.path() / "dist-packages";
      if (lib.path().filename().string().rfind("python3", 0) == 0 &&
          fs::exists(site / "morvik" / "dask.py", ec)) {
        return site.string();
      }
    }
  }
  return MORVIK_CLI_SOURCE_PYTHON;
}

// The library file this process runs, so that the workers run the same one.
std::string libraryFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&GetVersion), &info) == 0 || info.dli_fname == nullptr) return "";
  std::error_code ec;
  const fs::path path = fs::canonical(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : path.string();
}

std::vector<std::string> commandLine(const DaskIndexRequest& request) {
  std::vector<std::string> command = {interpreter(), "-m", "morvik.dask", "--paths-from", "-",
                                      "--out", request.out_path,
                                      "--algo", std::to_string(request.algo),
                                      "--max", std::to_string(request.max_faces)};
  if (request.scheduler.empty()) {
    command.insert(command.end(), {"--workers", std::to_string(request.workers)});
  } else {
    command.insert(command.end(), {"--scheduler", request.scheduler});
  }
  for (const std::string& assignment : assignedOptions()) command.insert(command.end(), {"-o", assignment});
  return command;
}

void prepareEnvironment() {
  const std::string library = libraryFile();
  if (!library.empty()) setenv("MORVIK_LIBRARY", library.c_str(), 1);
  std::string path = packageFolder();
  const char* existing = std::getenv("PYTHONPATH");
  if (existing && *existing) path += std::string(":") + existing;
  setenv("PYTHONPATH", path.c_str(), 1);
}

// The photo paths, each ended by a NUL byte (paths may hold newlines).
bool writePaths(int fd, const std::vector<std::string>& photos) {
  for (const std::string& photo : photos) {
    const std::string item = photo + '\0';
    for (size_t done = 0; done < item.size();) {
      const ssize_t n = write(fd, item.data() + done, item.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
  }
  return true;
}

}  // namespace

int runDaskIndex(const std::vector<std::string>& photos, const DaskIndexRequest& request) {
  const std::vector<std::string> command = commandLine(request);
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  prepareEnvironment();

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    report("index", failure(MV_EXCEPTION, std::string("cannot start the indexer: ") + std::strerror(errno)));
    return exitStatus(MV_EXCEPTION);
  }
  std::signal(SIGPIPE, SIG_IGN);  // an indexer that stops early says why itself
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipe_fds[0], STDIN_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "morvik: index: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(exitStatus(MV_EXCEPTION));
  }
  close(pipe_fds[0]);
  if (child < 0) {
    close(pipe_fds[1]);
    report("index", failure(MV_EXCEPTION, std::string("cannot start the indexer: ") + std::strerror(errno)));
    return exitStatus(MV_EXCEPTION);
  }
  writePaths(pipe_fds[1], photos);
  close(pipe_fds[1]);
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  report("index", failure(MV_EXCEPTION, "the indexer ended by signal " + std::to_string(WTERMSIG(wait_status))));
  return exitStatus(MV_EXCEPTION);
}

}  // namespace cli
