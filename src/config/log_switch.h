// Whether the library writes its log lines (the configuration loader's and
// the eye search's diagnostic). On unless the environment held MORVIK_LOG=0
// when the library was loaded, or a host switched it off with MvSetLogging:
// tools that own their output keep stderr for their own messages.
#ifndef MORVIK_CONFIG_LOG_SWITCH_H_
#define MORVIK_CONFIG_LOG_SWITCH_H_

namespace morvik {

bool loggingEnabled();
void setLogging(bool enabled);

}  // namespace morvik

#endif  // MORVIK_CONFIG_LOG_SWITCH_H_
