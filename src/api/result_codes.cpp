// Result messages, the version query and the option entry points.

#include "morvik/config.h"
#include "morvik/morvik.h"

extern "C" {

const char* GetResult(int code) {
  switch (code) {
    case MV_OK: return "Ok";
    case MV_NO_EYE: return "Can't find any eye";
    case MV_ONE_EYE: return "Found only one eye";
    case MV_INVALID_ARGS: return "Invalid args";
    case MV_PARSE_IMAGE: return "Error parse image";
    case MV_LOAD_CASCADE: return "Error load cascade";
    case MV_NO_FACE: return "Can't find any face";
    case MV_ENCODE_IMAGE: return "Error encode image";
    case MV_CREATE_VECTOR: return "Error create vector";
    case MV_EXCEPTION: return "Catched exception";
    case MV_NO_IMAGE: return "No image";
    case MV_BUFFER_SIZE: return "Invalid buffer size";
    case MV_PROPERTY_NAME: return "Invalid property name";
    case MV_NOT_SUPPORTED: return "Not supported";
    default: return "Unknown error";
  }
}

int GetVersion(uint16_t* major, uint16_t* minor, uint32_t* build) {
  if (major == nullptr || minor == nullptr) return MV_INVALID_ARGS;
  *major = 3;
  *minor = 7;
  if (build != nullptr) *build = 0x89287A2Au;
  return MV_OK;
}

int GetOption(const char* name, void* buffer, size_t size) { return g_config.read(name, buffer, size); }

int SetOption(const char* name, void* value, size_t size) { return g_config.write(name, value, size); }

}  // extern "C"
