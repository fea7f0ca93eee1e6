// Configuration: the process-wide option store g_config (declared for hosts
// in morvik/config.h), with its built-in defaults, the JSON loader that
// fills it from config.json when the library is loaded, and keyed reads and
// writes for GetOption and SetOption. The store's key table, in
// configure.cpp, is the one list of option keys: their names, the kind of
// value each holds and where it lives in the store. The option catalogue
// that hosts and tools list keys from reads that same table.
#ifndef MORVIK_CONFIG_OPTION_TABLE_H_
#define MORVIK_CONFIG_OPTION_TABLE_H_

#include <cstdint>

namespace morvik {

// The kind of value an option key holds.
enum class OptionKind { kInt, kFloat, kDouble, kString };

// The kind of the option `name`; false, leaving `kind` alone, when the store
// has no such key.
bool optionKind(const char* name, OptionKind& kind);

// The whole numbers the int option `name` takes; false for another key.
bool optionRange(const char* name, int64_t& min, int64_t& max);

}  // namespace morvik

#endif  // MORVIK_CONFIG_OPTION_TABLE_H_
