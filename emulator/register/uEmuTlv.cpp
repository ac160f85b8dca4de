#include "emulator/register/uEmuTlv.h"

#include <stdexcept>

namespace {

std::string LittleEndian(uint64_t value, size_t minBytes) {
  std::string out;
  while (value != 0 || out.size() < minBytes) {
    out.push_back(static_cast<char>(value & 0xFF));
    value >>= 8;
  }
  return out;
}

}  // namespace

TEmuTlv& TEmuTlv::Raw(uint16_t tag, std::string_view value) {
  // Every caller bounds its values far below this; reaching it is a bug here.
  if (value.size() > 0xFFFF) throw std::length_error("TLV value too long");
  FBytes.push_back(static_cast<char>(tag & 0xFF));
  FBytes.push_back(static_cast<char>(tag >> 8));
  FBytes.push_back(static_cast<char>(value.size() & 0xFF));
  FBytes.push_back(static_cast<char>(value.size() >> 8));
  FBytes.append(value);
  return *this;
}

TEmuTlv& TEmuTlv::Str(uint16_t tag, std::string_view bytes) {
  return Raw(tag, bytes);
}

TEmuTlv& TEmuTlv::Byte(uint16_t tag, uint8_t value) {
  return Raw(tag, std::string(1, static_cast<char>(value)));
}

TEmuTlv& TEmuTlv::U32(uint16_t tag, uint32_t value) {
  return Raw(tag, LittleEndian(value, 4));
}

TEmuTlv& TEmuTlv::Time(uint16_t tag, int64_t seconds) {
  return Raw(tag, LittleEndian(static_cast<uint32_t>(seconds), 4));
}

TEmuTlv& TEmuTlv::Vln(uint16_t tag, uint64_t kopecks) {
  return Raw(tag, LittleEndian(kopecks, 1));
}

TEmuTlv& TEmuTlv::Fvln(uint16_t tag, uint64_t digits, uint8_t decimals) {
  return Raw(tag, std::string(1, static_cast<char>(decimals)) + LittleEndian(digits, 1));
}

TEmuTlv& TEmuTlv::Append(std::string_view records) {
  FBytes.append(records);
  return *this;
}

bool SplitTlv(std::string_view bytes, std::vector<TEmuTlvRecord>& records) {
  records.clear();
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 4) return false;
    const auto b = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(bytes[i])); };
    const uint16_t tag = static_cast<uint16_t>(b(at) | b(at + 1) << 8);
    const size_t len = b(at + 2) | b(at + 3) << 8;
    if (bytes.size() - at - 4 < len) return false;
    records.push_back({tag, bytes.substr(at + 4, len), bytes.substr(at, len + 4)});
    at += 4 + len;
  }
  return true;
}
