// A file of the image folder that reaches up to the analysis: what the
// dependency check must refuse.
#include "analysis/landmarks.h"
#include "image/image_size.h"
