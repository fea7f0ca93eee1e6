// Options as text: listing the keys with their types, reading a value as
// text and writing one from text, through GetOption/SetOption.
#ifndef MORVIK_TOOLS_OPTION_VALUES_H_
#define MORVIK_TOOLS_OPTION_VALUES_H_

#include <string>
#include <vector>

#include "status.h"

namespace cli {

struct OptionInfo {
  std::string key;
  int type = 0;  // an MvOptionType
};

std::vector<OptionInfo> listOptions();
// "int", "float", "double" or "string".
const char* typeName(int type);

// -11 for a key that the library does not hold.
Status findOption(const std::string& key, OptionInfo& option);
Status readOption(const OptionInfo& option, std::string& text);
// -1 when the text is not a value of the option's type.
Status writeOption(const OptionInfo& option, const std::string& text);
// "KEY=VALUE", as given to -o/--option.
Status applyAssignment(const std::string& assignment);
// Whether applyAssignment set `key` in this run.
bool assigned(const std::string& key);
// "KEY=VALUE" for every option applyAssignment set in this run, the value as
// the store now holds it: what another process needs to run the same way.
std::vector<std::string> assignedOptions();

}  // namespace cli

#endif  // MORVIK_TOOLS_OPTION_VALUES_H_
