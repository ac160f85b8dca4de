// The frame layer alone: request splitting, answer layout, and how the parser
// copes with broken streams.
#include <gtest/gtest.h>

#include <cctype>

#include "emulator/wire/EmuTestPeer.h"
#include "wire/uEmuFrame.h"

using namespace emu_test;

namespace {
std::vector<TEmuInput> FeedAll(TEmuFrameParser& parser, const std::string& bytes) {
  std::vector<TEmuInput> events;
  for (char c : bytes) {
    TEmuInput in = parser.Feed(c);
    if (in.Kind != TEmuInputKind::None) events.push_back(std::move(in));
  }
  return events;
}
}  // namespace

TEST(EmuFrame, RequestArgumentsSplitAtEverySeparator) {
  auto args = [](const std::string& tail) { return EmuSplitRequest("KVNT!02" + tail).Args; };
  EXPECT_TRUE(args("").empty()) << "no argument bytes means no arguments";
  EXPECT_EQ(args("1\x1C"
                 "2"),
            (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(args("A\x1C\x1C"
                 "B"),
            (std::vector<std::string>{"A", "", "B"}))
      << "two adjacent separators carry an empty argument";
  EXPECT_EQ(args("A\x1C"), (std::vector<std::string>{"A", ""})) << "an empty last argument";
  TEmuRequest r = EmuSplitRequest("KVNT!42x");
  EXPECT_EQ(r.Password, "KVNT");
  EXPECT_EQ(r.PacketId, 0x21);
  EXPECT_EQ(r.Command, "42");
}

TEST(EmuFrame, AnswerFrameEndsEveryFieldAndSumsFromThePacketId) {
  std::string frame = EmuBuildAnswerFrame(0x21, "02", TEmuAnswer{0x4A, {"A", "", "B"}});
  std::string body = std::string(
      "\x21"
      "024A"
      "A\x1C\x1C"
      "B\x1C\x03");
  EXPECT_EQ(frame, "\x02" + body + Hex2(Xor(body)));

  std::string empty = EmuBuildAnswerFrame(0x21, "00", TEmuAnswer{});
  EXPECT_EQ(empty.size(), 9u) << "STX, id, command, error, ETX and checksum; no data";
  EXPECT_TRUE(ParseAnswer(empty).ChecksumOk);
  EXPECT_EQ(EmuChecksumText(std::string("\x0A")), "0A") << "upper case with a leading zero";
}

TEST(EmuFrame, ParserAcceptsGoodFramesAndTellsChecksumAndShortFramesApart) {
  TEmuFrameParser parser(100);
  auto events = FeedAll(parser, Request(0x21, "00") + Request(0x22, "02", {"1", "2"}));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Kind, TEmuInputKind::Request);
  EXPECT_EQ(events[1].Body, std::string("KVNT\x22"
                                        "021\x1C"
                                        "2"));

  std::string bad = Request(0x21, "00");
  bad[bad.size() - 1] = bad[bad.size() - 1] == '0' ? '1' : '0';
  std::string nonHex = Request(0x21, "00");
  nonHex[nonHex.size() - 1] = 'G';
  std::string shortBody = std::string("\x02KV\x03") + Hex2(Xor("KV\x03"));
  events = FeedAll(parser, bad + nonHex + shortBody);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Kind, TEmuInputKind::BadChecksum);
  EXPECT_EQ(events[1].Kind, TEmuInputKind::BadChecksum);
  EXPECT_EQ(events[2].Kind, TEmuInputKind::Malformed);

  std::string body =
      "KVNT\x28"
      "00\x03";  // its XOR, 2C, has a letter
  std::string lowerSum = Hex2(Xor(body));
  for (char& c : lowerSum) c = static_cast<char>(std::tolower(c));
  events = FeedAll(parser, "\x02" + body + lowerSum);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Kind, TEmuInputKind::Request) << "checksum digits in either case";
}

TEST(EmuFrame, ParserResynchronisesOnStxAndEnq) {
  TEmuFrameParser parser(100);
  // A frame cut short by a new STX is dropped; the new one counts.
  std::string cut = Request(0x21, "00").substr(0, 5);
  auto events = FeedAll(parser, "noise" + cut + Request(0x22, "01"));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Kind, TEmuInputKind::Request);
  EXPECT_EQ(static_cast<uint8_t>(events[0].Body[4]), 0x22);
  EXPECT_EQ(parser.TakeIgnoredBytes(), 5u);
  EXPECT_EQ(parser.TakeAbandonedFrames(), 1u);

  // ENQ inside a frame or its checksum is a probe, and the frame is gone.
  std::string frame = Request(0x23, "00");
  events = FeedAll(parser, frame.substr(0, frame.size() - 1) + "\x05" + frame);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Kind, TEmuInputKind::Probe);
  EXPECT_EQ(events[1].Kind, TEmuInputKind::Request);
}

TEST(EmuFrame, OverlongFrameKeepsOnlyItsHeaderAndTheStreamRecovers) {
  TEmuFrameParser parser(64);
  std::string huge = Request(0x21, "4C", {std::string(1 << 20, 'x')});
  auto events = FeedAll(parser, huge + Request(0x22, "00"));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Kind, TEmuInputKind::Overlong);
  EXPECT_EQ(events[0].Body,
            "KVNT\x21"
            "4C")
      << "the header, enough to answer, and nothing more";
  EXPECT_EQ(events[1].Kind, TEmuInputKind::Request);

  // A body of exactly the limit is still a request.
  TEmuFrameParser exact(10);
  events = FeedAll(exact, Request(0x21, "00", {"abc"}));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Kind, TEmuInputKind::Request);
}
