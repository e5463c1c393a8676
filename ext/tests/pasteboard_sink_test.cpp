#include "ext/pasteboard_sink.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

class PasteboardSink : public ::testing::Test {
 protected:
  void TearDown() override { ext::setPasteboardSink(nullptr); }

  void installRecorder(bool accept) {
    ext::setPasteboardSink([this, accept](std::string_view text) {
      copies_.emplace_back(text);
      return accept;
    });
  }

  std::vector<std::string> copies_;
};

TEST_F(PasteboardSink, WithoutSinkNothingHappensAndTheCallSaysSo) {
  EXPECT_EQ(ext::copyToPasteboard("hello"), ext::PasteboardCopy::noSink);
}

TEST_F(PasteboardSink, CopiesGoThroughTheInstalledSink) {
  installRecorder(true);
  EXPECT_EQ(ext::copyToPasteboard("hello \U0001F600"), ext::PasteboardCopy::copied);
  EXPECT_EQ(copies_, std::vector<std::string>{"hello \U0001F600"});
}

TEST_F(PasteboardSink, RefusalIsReported) {
  installRecorder(false);
  EXPECT_EQ(ext::copyToPasteboard("x"), ext::PasteboardCopy::refused);
}

TEST_F(PasteboardSink, UninstallingStopsCopies) {
  installRecorder(true);
  ext::setPasteboardSink(nullptr);
  EXPECT_EQ(ext::copyToPasteboard("x"), ext::PasteboardCopy::noSink);
  EXPECT_TRUE(copies_.empty());
}

}  // namespace
