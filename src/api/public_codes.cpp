// The result codes and finder bits have one definition, morvik_c.h's; the
// C++ names of morvik.h and morvik/types.h must say the same, and a build
// where they drift apart stops here.
#include "morvik/morvik.h"
// After morvik.h, so that the shared entry points keep their C++ declarations.
#include "morvik/morvik_c.h"

static_assert(MV_OK == MV_C_OK, "MV_OK");
static_assert(MV_NO_EYE == MV_C_NO_EYE, "MV_NO_EYE");
static_assert(MV_ONE_EYE == MV_C_ONE_EYE, "MV_ONE_EYE");
static_assert(MV_INVALID_ARGS == MV_C_INVALID_ARGS, "MV_INVALID_ARGS");
static_assert(MV_PARSE_IMAGE == MV_C_PARSE_IMAGE, "MV_PARSE_IMAGE");
static_assert(MV_LOAD_CASCADE == MV_C_LOAD_CASCADE, "MV_LOAD_CASCADE");
static_assert(MV_NO_FACE == MV_C_NO_FACE, "MV_NO_FACE");
static_assert(MV_ENCODE_IMAGE == MV_C_ENCODE_IMAGE, "MV_ENCODE_IMAGE");
static_assert(MV_CREATE_VECTOR == MV_C_CREATE_VECTOR, "MV_CREATE_VECTOR");
static_assert(MV_EXCEPTION == MV_C_EXCEPTION, "MV_EXCEPTION");
static_assert(MV_NO_IMAGE == MV_C_NO_IMAGE, "MV_NO_IMAGE");
static_assert(MV_BUFFER_SIZE == MV_C_BUFFER_SIZE, "MV_BUFFER_SIZE");
static_assert(MV_PROPERTY_NAME == MV_C_PROPERTY_NAME, "MV_PROPERTY_NAME");
static_assert(MV_NOT_SUPPORTED == MV_C_NOT_SUPPORTED, "MV_NOT_SUPPORTED");

static_assert(mv::FindNone == MV_FIND_NONE, "FindNone");
static_assert(mv::FindLBP == MV_FIND_LBP, "FindLBP");
static_assert(mv::FindHaar == MV_FIND_HAAR, "FindHaar");
static_assert(mv::FindDlib == MV_FIND_DLIB, "FindDlib");
static_assert(mv::FindCNN == MV_FIND_CNN, "FindCNN");
static_assert(mv::FindPico == MV_FIND_PICO, "FindPico");
static_assert(mv::FindConfirm == MV_FIND_CONFIRM, "FindConfirm");
