// The subcommands. Each takes the arguments after its name and returns the
// process exit status (see exitStatus).
#ifndef MORVIK_TOOLS_COMMANDS_H_
#define MORVIK_TOOLS_COMMANDS_H_

namespace cli {

int runFaces(int argc, char** argv, int first);
int runDescribe(int argc, char** argv, int first);
int runCompare(int argc, char** argv, int first);
int runAnnotate(int argc, char** argv, int first);
int runIndex(int argc, char** argv, int first);
int runSearch(int argc, char** argv, int first);
int runCluster(int argc, char** argv, int first);
int runOptions(int argc, char** argv, int first);
int runVersion(int argc, char** argv, int first);

}  // namespace cli

#endif  // MORVIK_TOOLS_COMMANDS_H_
