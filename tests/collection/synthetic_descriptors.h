// Synthetic face descriptors for the collection's tests: unit-length
// random 128-vectors, and "people": random unit centres with each face a
// small step away, as one person's photographs lie close together.
#ifndef MORVIK_TESTS_COLLECTION_SYNTHETIC_DESCRIPTORS_H_
#define MORVIK_TESTS_COLLECTION_SYNTHETIC_DESCRIPTORS_H_

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace testing_support {

inline void normalise(float* v) {
  double norm = 0.0;
  for (size_t i = 0; i < 128; ++i) norm += double{v[i]} * v[i];
  const float scale = static_cast<float>(1.0 / std::sqrt(norm));
  for (size_t i = 0; i < 128; ++i) v[i] *= scale;
}

inline std::vector<float> randomDescriptors(size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  std::vector<float> out(count * 128);
  for (size_t i = 0; i < count; ++i) {
    for (size_t j = 0; j < 128; ++j) out[i * 128 + j] = gauss(rng);
    normalise(&out[i * 128]);
  }
  return out;
}

// `count` faces of `people` people (face i belongs to person i % people);
// faces of one person lie about `spread` from their centre. The people
// follow from `seed`, the faces from `photos_seed`: another value gives
// other photographs of the same people.
inline std::vector<float> clusteredDescriptors(size_t count, size_t people, float spread, unsigned seed,
                                               unsigned photos_seed = 0) {
  const std::vector<float> centres = randomDescriptors(people, seed);
  std::mt19937 rng(seed + 1 + photos_seed * 7919u);
  std::normal_distribution<float> gauss(0.0f, spread / std::sqrt(128.0f));
  std::vector<float> out(count * 128);
  for (size_t i = 0; i < count; ++i) {
    const float* centre = &centres[(i % people) * 128];
    for (size_t j = 0; j < 128; ++j) out[i * 128 + j] = centre[j] + gauss(rng);
    normalise(&out[i * 128]);
  }
  return out;
}

}  // namespace testing_support

#endif  // MORVIK_TESTS_COLLECTION_SYNTHETIC_DESCRIPTORS_H_
