// The per-thread scratch memory of the networks' convolutions.
#ifndef MORVIK_CONV_SCRATCH_H_
#define MORVIK_CONV_SCRATCH_H_

namespace morvik {

// Release the calling thread's convolution scratch buffers; the next
// network call on the thread allocates them again.
void releaseConvScratch();
void releaseDirectConvScratch();
void releaseFilterLaneScratch();

}  // namespace morvik

#endif  // MORVIK_CONV_SCRATCH_H_
