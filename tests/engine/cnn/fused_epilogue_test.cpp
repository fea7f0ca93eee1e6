// Affine and relu layers folded into the convolution below them: the same
// bits as dlib's layers, the same model files, and copies that still work.
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

#include <dlib/dnn.h>
#include <gtest/gtest.h>

#include "engine/cnn/fused_epilogue.h"
#include "engine/cnn/tiled_conv.h"

namespace {

using morvik::banded_con;
using morvik::fusable_affine;
using morvik::fusable_relu;

// Three convolutions: a 5x5 one the detector's kernel serves, a 3x3 one
// the filter-lane kernel serves, and at the bottom an affine layer with no
// relu above it, whose work alone goes to the convolution below it.
template <template <typename> class Norm, template <typename> class Relu>
using Net = Relu<Norm<banded_con<6, 5, 5, 2, 2,
            Relu<Norm<banded_con<5, 3, 3, 1, 1,
            Norm<banded_con<4, 5, 5, 1, 1, dlib::input<dlib::matrix<float>>>>>>>>>>;

using TrainedNet = Net<dlib::bn_con, dlib::relu>;
using LayeredNet = Net<dlib::affine, dlib::relu>;
using FoldedNet = Net<fusable_affine, fusable_relu>;

dlib::matrix<float> testImage() {
  dlib::matrix<float> image(37, 53);
  dlib::rand rnd(7);
  for (long r = 0; r < image.nr(); ++r)
    for (long c = 0; c < image.nc(); ++c) image(r, c) = static_cast<float>(rnd.get_random_gaussian());
  return image;
}

// A trained network's bytes: random filters and batch normalisation
// parameters, read back as affine layers.
std::string modelBytes() {
  TrainedNet net;
  net(testImage());  // sizes the parameters
  dlib::rand rnd(11);
  dlib::visit_computational_layers(net, [&rnd](auto& layer) {
    for (float& v : layer.get_layer_params()) v = static_cast<float>(rnd.get_random_gaussian());
  });
  std::ostringstream out;
  serialize(net, out);  // the network's own, found by argument lookup
  return out.str();
}

template <typename T>
void load(const std::string& bytes, T& net) {
  std::istringstream in(bytes);
  deserialize(net, in);  // likewise
}

bool sameBits(const dlib::tensor& a, const dlib::tensor& b) {
  return a.size() == b.size() && a.size() > 0 && std::memcmp(a.host(), b.host(), a.size() * sizeof(float)) == 0;
}

std::string bytesOf(const FoldedNet& net) {
  std::ostringstream out;
  serialize(net, out);  // the network's own, found by argument lookup
  return out.str();
}

class FoldedEpilogue : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bytes = modelBytes();
    load(bytes, layered);
    load(bytes, folded);
    morvik::fuseConvEpilogues(folded);
    const dlib::tensor& out = layered(testImage());
    expected.copy_size(out);
    memcpy(expected, out);  // dlib's tensor copy
  }

  LayeredNet layered;
  FoldedNet folded;
  dlib::resizable_tensor expected;
};

TEST_F(FoldedEpilogue, FoldsEveryAffineLayerAboveAConvolution) {
  EXPECT_TRUE(dlib::layer<0>(folded).layer_details().handedOver());
  EXPECT_TRUE(dlib::layer<1>(folded).layer_details().handedOver());
  EXPECT_TRUE(dlib::layer<2>(folded).layer_details().hasEpilogue());
  EXPECT_TRUE(dlib::layer<3>(folded).layer_details().handedOver());
  EXPECT_TRUE(dlib::layer<4>(folded).layer_details().handedOver());
  EXPECT_TRUE(dlib::layer<5>(folded).layer_details().hasEpilogue());
  // No relu above it: the bottom affine layer's work alone is handed over,
  // and the convolution's output goes up unclipped.
  EXPECT_TRUE(dlib::layer<6>(folded).layer_details().handedOver());
  EXPECT_TRUE(dlib::layer<7>(folded).layer_details().hasEpilogue());
}

TEST_F(FoldedEpilogue, OutputIsTheLayeredNetworksBitForBit) {
  EXPECT_TRUE(sameBits(expected, folded(testImage())));
  // A second pass reuses the layers' tensors.
  EXPECT_TRUE(sameBits(expected, folded(testImage())));
}

TEST(FoldedEpilogueFiles, WritesTheModelBytesDlibWrites) {
  // Before any pass: a network's file also holds its last outputs.
  const std::string bytes = modelBytes();
  LayeredNet layered;
  FoldedNet folded;
  load(bytes, layered);
  load(bytes, folded);
  morvik::fuseConvEpilogues(folded);
  std::ostringstream out;
  serialize(layered, out);
  EXPECT_EQ(out.str(), bytesOf(folded));
}

TEST_F(FoldedEpilogue, CopiesCarryTheirEpilogue) {
  FoldedNet copy(folded);
  FoldedNet assigned;
  assigned = folded;
  folded.clean();
  EXPECT_TRUE(sameBits(expected, copy(testImage())));
  EXPECT_TRUE(sameBits(expected, assigned(testImage())));
}

// A residual block: the relu above the shortcut sum goes to the sum, the
// affine layer below the sum to its convolution.
template <template <typename> class Relu, template <typename> class AddPrev, template <typename> class Norm>
using Residual = Relu<AddPrev<Norm<banded_con<4, 3, 3, 1, 1,
                 Relu<Norm<banded_con<4, 3, 3, 1, 1, dlib::tag1<
                 banded_con<4, 3, 3, 1, 1, dlib::input<dlib::matrix<float>>>>>>>>>>>;
using TrainedResidual = Residual<dlib::relu, dlib::add_prev1, dlib::bn_con>;
using LayeredResidual = Residual<dlib::relu, dlib::add_prev1, dlib::affine>;
using FoldedResidual = Residual<fusable_relu, morvik::fusable_add_prev1, fusable_affine>;

TEST(FoldedShortcut, SumTakesTheReluAboveIt) {
  TrainedResidual trained;
  trained(testImage());
  dlib::rand rnd(13);
  dlib::visit_computational_layers(trained, [&rnd](auto& layer) {
    for (float& v : layer.get_layer_params()) v = static_cast<float>(rnd.get_random_gaussian());
  });
  std::ostringstream out;
  serialize(trained, out);
  LayeredResidual layered;
  FoldedResidual folded;
  load(out.str(), layered);
  load(out.str(), folded);
  morvik::fuseConvEpilogues(folded);
  EXPECT_TRUE(dlib::layer<0>(folded).layer_details().handedOver());
  EXPECT_TRUE(dlib::layer<1>(folded).layer_details().hasRelu());
  EXPECT_TRUE(dlib::layer<2>(folded).layer_details().handedOver());
  EXPECT_TRUE(dlib::layer<3>(folded).layer_details().hasEpilogue());

  const dlib::tensor& want = layered(testImage());
  // Many sums are negative: the relu's zeros matter.
  size_t zeros = 0;
  for (float v : want) zeros += v == 0.0f;
  EXPECT_GT(zeros, want.size() / 8);
  EXPECT_TRUE(sameBits(want, folded(testImage())));
}

// dlib's add, then its relu, over tensors of the same shape and over a
// downsampling block's shortcut, which has half the channels: dlib adds 0
// for the missing ones (turning -0 into 0). Zeros of both signs and NaN.
TEST(FoldedShortcut, SumIsDlibsAddAndRelu) {
  for (long shortcut_channels : {6L, 3L}) {
    dlib::resizable_tensor branch(2, 6, 5, 7), shortcut(2, shortcut_channels, 5, 7);
    dlib::rand rnd(17);
    for (dlib::tensor* t : {static_cast<dlib::tensor*>(&branch), static_cast<dlib::tensor*>(&shortcut)}) {
      float* v = t->host();
      for (size_t i = 0; i < t->size(); ++i)
        v[i] = i % 7 == 0 ? -0.0f : i % 11 == 0 ? NAN : static_cast<float>(rnd.get_random_gaussian());
    }
    for (bool relu : {false, true}) {
      dlib::resizable_tensor want(2, 6, 5, 7), got;
      dlib::tt::add(want, branch, shortcut);
      if (relu) dlib::tt::relu(want, want);
      ASSERT_TRUE(morvik::addAndRelu(branch, shortcut, relu, got));
      EXPECT_TRUE(sameBits(want, got)) << shortcut_channels << " channels, relu " << relu;
      ASSERT_TRUE(morvik::addAndRelu(shortcut, branch, relu, got));
      EXPECT_TRUE(sameBits(want, got)) << "operands swapped";
    }
  }
  dlib::resizable_tensor a(1, 2, 3, 3), b(1, 2, 4, 3), out;
  EXPECT_FALSE(morvik::addAndRelu(a, b, true, out)) << "rows differ: dlib's own path";
}

TEST_F(FoldedEpilogue, UnfoldedLayersActAsDlibs) {
  FoldedNet unfolded;
  load(bytesOf(folded), unfolded);
  EXPECT_FALSE(dlib::layer<0>(unfolded).layer_details().handedOver());
  EXPECT_TRUE(sameBits(expected, unfolded(testImage())));
}

}  // namespace
