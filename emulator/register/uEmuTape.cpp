#include "emulator/register/uEmuTape.h"

namespace {

// The first `chars` code points of a UTF-8 text.
std::string_view HeadChars(std::string_view text, size_t chars) {
  size_t at = 0, n = 0;
  while (at < text.size() && n < chars) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    ++n;
  }
  return text.substr(0, at);
}

}  // namespace

size_t TEmuTape::Width(std::string_view text) {
  size_t n = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

void TEmuTape::Line(std::string_view text) {
  if (FOut == nullptr) return;
  *FOut << text << '\n';
  FOut->flush();
}

void TEmuTape::Lines(const std::vector<std::string>& lines) {
  for (const auto& l : lines) Line(l);
}

void TEmuTape::Cut() {
  Line("- - - - - - - - - - - - ✂ - - - - - - - - - - - -");
}

void TEmuTape::Separator(char c) {
  Line(std::string(kWidth, c));
}

std::string TEmuTape::Center(std::string_view text) {
  const size_t w = Width(text);
  if (w >= static_cast<size_t>(kWidth)) return std::string(text);
  return std::string((kWidth - w) / 2, ' ') + std::string(text);
}

std::string TEmuTape::TwoColumns(std::string_view left, std::string_view right) {
  const size_t rw = Width(right);
  if (rw + 1 >= static_cast<size_t>(kWidth)) return std::string(left) + " " + std::string(right);
  const std::string_view l = HeadChars(left, kWidth - rw - 1);
  return std::string(l) + std::string(kWidth - rw - Width(l), ' ') + std::string(right);
}

std::string TEmuTape::BarcodeLine(std::string_view kind, std::string_view data) {
  return "[" + std::string(kind) + " ||| " + std::string(data) + " |||]";
}
