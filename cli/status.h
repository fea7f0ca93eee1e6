// The outcome of one step of a command: a library result code with a short
// account of what was being done, and how it reaches the user.
#ifndef MORVIK_TOOLS_STATUS_H_
#define MORVIK_TOOLS_STATUS_H_

#include <string>

namespace cli {

struct Status {
  int code = 0;        // a library result code; 0 is success
  std::string detail;  // what failed, in the user's terms; may be empty

  bool ok() const { return code == 0; }
};

inline Status okStatus() { return Status{}; }
inline Status failure(int code, std::string detail) { return Status{code, std::move(detail)}; }

// "Error parse image (-2): no such file"
std::string describe(const Status& status);

// Writes "morvik: SUBJECT: <describe(status)>" to stderr.
void report(const std::string& subject, const Status& status);

// Whether the user asked for progress and the library's log lines
// (--verbose, or MORVIK_LOG=1 in the environment); the tool is quiet on
// stderr otherwise, but for failures.
bool verbose();
void setVerbose(bool on);

// The process exit status for a result code: 0 for success, otherwise the
// code's magnitude (1 for invalid arguments, 2 for an unreadable image, 4 for
// an image without faces, ...).
int exitStatus(int code);

}  // namespace cli

#endif  // MORVIK_TOOLS_STATUS_H_
