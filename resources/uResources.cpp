#include "resources/uResources.h"

#include <cstddef>
#include <map>
#include <stdexcept>

extern const unsigned char QuarnelParametersXml[];
extern const std::size_t QuarnelParametersXmlSize;
extern const unsigned char QuarnelMessagesRu[];
extern const std::size_t QuarnelMessagesRuSize;
extern const unsigned char QuarnelHelpMd[];
extern const std::size_t QuarnelHelpMdSize;
extern const unsigned char QuarnelHelpCss[];
extern const std::size_t QuarnelHelpCssSize;

namespace {

std::string_view Embedded(const unsigned char* bytes, std::size_t size) {
  return {reinterpret_cast<const char*>(bytes), size};
}

using TStringTable = std::map<std::string, std::string, std::less<>>;

TStringTable ParseStringTable(std::string_view text) {
  TStringTable table;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    table.emplace(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
  }
  return table;
}

const TStringTable& StringTable() {
  static const TStringTable table =
      ParseStringTable(Embedded(QuarnelMessagesRu, QuarnelMessagesRuSize));
  return table;
}

}  // namespace

std::string_view ParametersResource() {
  return Embedded(QuarnelParametersXml, QuarnelParametersXmlSize);
}

std::optional<std::string_view> HelpResource(std::string_view name) {
  if (name == "help.md") return Embedded(QuarnelHelpMd, QuarnelHelpMdSize);
  if (name == "help.css") return Embedded(QuarnelHelpCss, QuarnelHelpCssSize);
  return std::nullopt;
}

const std::string& ResString(std::string_view key) {
  const TStringTable& table = StringTable();
  const auto it = table.find(key);
  if (it == table.end()) throw std::out_of_range("Resource string not found: " + std::string(key));
  return it->second;
}

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string result;
  result.reserve(pattern.size());
  auto arg = args.begin();
  std::size_t pos = 0;
  while (pos < pattern.size()) {
    const std::size_t mark = pattern.find("%s", pos);
    if (mark == std::string_view::npos || arg == args.end()) {
      result.append(pattern.substr(pos));
      break;
    }
    result.append(pattern.substr(pos, mark - pos));
    result.append(*arg++);
    pos = mark + 2;
  }
  return result;
}

std::string ResFormat(std::string_view key, std::initializer_list<std::string_view> args) {
  return FormatText(ResString(key), args);
}
