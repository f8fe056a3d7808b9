#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FakeWindow.h"
#include "TestImages.h"
#include "commands/Core.h"
#include "image/CartHeader.h"
#include "image/Header.h"

namespace brevomat {
namespace {

using testing::FakeWindow;

constexpr std::uint32_t kHeaderBytes = 192;

// A header with a good logo, a title and code, and a correct fixed byte and complement, built the
// way a linker tool would, independently of FixHeader.
void WriteGoodHeader(TransferBuffer& b) {
  for (std::uint32_t i = 0; i < kChunkBytes; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::copy(HeaderLogo.begin(), HeaderLogo.end(), b.data() + 4);
  const char title[12] = {'B', 'R', 'E', 'V', 'O', 0, 0, 0, 0, 0, 0, 0};
  std::copy(title, title + 12, b.data() + 0xA0);
  std::copy_n("ABCD", 4, b.data() + 0xAC);
  b[0xB2] = 0x96;
  int sum = 0;
  for (int i = 0xA0; i <= 0xBC; ++i) sum += b[i];
  b[0xBD] = static_cast<std::uint8_t>(-(0x19 + sum));
}

struct HeaderTest : ::testing::Test {
  FakeWindow window;
  Core core{window};
  TransferBuffer& buf = core.frame.Buffer;
};

TEST_F(HeaderTest, RepairOfRealImagesRestoresTheirOwnHeader) {
  for (const char* name : {"hello.gba", "arm.gba", "thumb.gba"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> image = testing::ReadTestImage(name);
    ASSERT_GE(image.size(), kHeaderBytes);
    std::fill(buf.bytes.begin(), buf.bytes.end(), 0xFF);
    std::copy(image.begin(), image.end(), buf.data());
    ASSERT_TRUE(CheckCartHeader(core.frame));

    // Break the logo in several places, the fixed byte and the complement.
    buf[0x04] ^= 0xFF;
    buf[0x50] = 0;
    buf[0x9F] ^= 0x01;
    buf[0xB2] = 0x00;
    buf[0xBD] ^= 0x5A;
    FixHeader(buf);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), buf.data())) << "repair differs from the original";
    EXPECT_TRUE(
        std::all_of(buf.data() + image.size(), buf.data() + kChunkBytes, [](auto v) { return v == 0xFF; }));
  }
}

TEST_F(HeaderTest, RepairOfAllZeroHeaderGivesComplement0x51) {
  std::fill(buf.bytes.begin(), buf.bytes.end(), 0);
  buf[0x00] = 0x2E;  // start instruction and the reserved tail are not touched
  buf[0xBE] = 0x11;
  buf[0xC0] = 0x22;
  FixHeader(buf);
  EXPECT_TRUE(std::equal(HeaderLogo.begin(), HeaderLogo.end(), buf.data() + 4));
  EXPECT_EQ(buf[0xB2], 0x96);
  EXPECT_EQ(buf[0xBD], 0x51);
  EXPECT_EQ(buf[0x00], 0x2E);
  EXPECT_EQ(buf[0xBE], 0x11);
  EXPECT_EQ(buf[0xC0], 0x22);
  for (std::uint32_t i = 0xA0; i <= 0xBC; ++i) {
    if (i != 0xB2) {
      EXPECT_EQ(buf[i], 0) << i;
    }
  }
}

TEST_F(HeaderTest, GoodHeaderPassesWithoutQuestion) {
  WriteGoodHeader(buf);
  buf[0xB2] = 0x00;  // wrong fixed byte and complement are not judged
  buf[0xBD] ^= 0xFF;
  const TransferBuffer before = buf;
  EXPECT_EQ(ReviewImageHeader(core.frame, true), HeaderReview::Checked);
  EXPECT_EQ(window.log, (std::vector<std::string>{"Game Name = BREVO", "Game Code = ABCD"}));
  EXPECT_TRUE(window.questions.empty());
  EXPECT_EQ(buf.bytes, before.bytes);
}

TEST_F(HeaderTest, BrokenLogoAskedAndRepairedOnYes) {
  WriteGoodHeader(buf);
  TransferBuffer expected = buf;
  buf[0x9F] ^= 0x01;
  buf[0xB0] = 'Z';  // a changed maker code is kept and summed anew
  expected[0xB0] = 'Z';
  FixHeader(expected);
  window.answers = {true};
  EXPECT_EQ(ReviewImageHeader(core.frame, true), HeaderReview::Fixed);
  EXPECT_EQ(window.log, (std::vector<std::string>{"no AGB data present!", "Header fixed"}));
  ASSERT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(window.questions[0].text, "Do You want to fix header problem?");
  EXPECT_EQ(window.questions[0].caption, "Fix Header");
  EXPECT_EQ(buf.bytes, expected.bytes);
  // The repaired header now passes the check.
  EXPECT_TRUE(CheckCartHeader(core.frame));
}

TEST_F(HeaderTest, BrokenLogoDeclinedLeavesBufferAndFlags) {
  WriteGoodHeader(buf);
  buf[0x04] = 0;
  const TransferBuffer before = buf;
  window.answers = {false};
  EXPECT_EQ(ReviewImageHeader(core.frame, true), HeaderReview::Declined);
  EXPECT_EQ(window.log, (std::vector<std::string>{"no AGB data present!"}));
  EXPECT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(buf.bytes, before.bytes);
}

TEST_F(HeaderTest, ShortImageIsAskedAtOnceWhateverItHolds) {
  WriteGoodHeader(buf);
  const TransferBuffer good = buf;
  window.answers = {false, true};
  EXPECT_EQ(ReviewImageHeader(core.frame, false), HeaderReview::Declined);
  EXPECT_TRUE(window.log.empty());  // no check, so no game name either
  EXPECT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(buf.bytes, good.bytes);

  EXPECT_EQ(ReviewImageHeader(core.frame, false), HeaderReview::Fixed);
  EXPECT_EQ(window.log, (std::vector<std::string>{"Header fixed"}));
  EXPECT_EQ(window.questions.size(), 2u);
  EXPECT_EQ(window.questions[1].caption, "Fix Header");
  EXPECT_EQ(buf.bytes, good.bytes);  // a correct header repairs to itself
}

}  // namespace
}  // namespace brevomat
