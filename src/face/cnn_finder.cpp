// Placeholder until the CNN finders land.
#include "morvik/findface.h"
FindFaceAlgo* newCnnFinder(bool) { return nullptr; }
