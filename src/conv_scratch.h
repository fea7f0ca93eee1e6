// The per-thread scratch memory of the networks' convolutions.
#ifndef MORVIK_CONV_SCRATCH_H_
#define MORVIK_CONV_SCRATCH_H_

namespace morvik {

// Releases the calling thread's convolution scratch buffer; the next
// network call on the thread allocates it again.
void releaseConvScratch();

}  // namespace morvik

#endif  // MORVIK_CONV_SCRATCH_H_
