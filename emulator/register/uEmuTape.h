// The paper tape: what the register's printer would print, as UTF-8 lines a
// person can read (the demo shows it), with barcodes and paper cuts marked.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class TEmuTape {
 public:
  static constexpr int kWidth = 48;

  explicit TEmuTape(std::ostream* out) : FOut(out) {}

  void Line(std::string_view text);
  void Lines(const std::vector<std::string>& lines);
  void Cut();
  void Separator(char c = '-');

  // Formatting helpers (they print nothing).
  static std::string Center(std::string_view text);
  static std::string TwoColumns(std::string_view left, std::string_view right);
  static std::string BarcodeLine(std::string_view kind, std::string_view data);
  // Characters (code points) of a UTF-8 text.
  static size_t Width(std::string_view text);

 private:
  std::ostream* FOut;
};
