// Placeholder until the HOG finder lands.
#include "morvik/findface.h"
int DlibFindFaceAlgo::findFaces(size_t, cv::Mat& image, std::vector<cv::Rect>&) { return image.cols ? -4 : -1; }
