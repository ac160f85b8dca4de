#include "transport/uPortMap.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "common/uCommonUtils.h"
#include "resources/uResources.h"

namespace fs = std::filesystem;

namespace {

// A map is a few lines; anything far larger is not one, and is not read whole.
constexpr size_t cMaxMapBytes = 64 * 1024;

// The lines of a text, without their line ends ("\n" or "\r\n").
std::vector<std::string_view> SplitLines(std::string_view AText) {
  std::vector<std::string_view> lines;
  while (!AText.empty()) {
    const size_t end = AText.find('\n');
    std::string_view line = AText.substr(0, end);
    AText = end == std::string_view::npos ? std::string_view{} : AText.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

bool IsBlankOrComment(std::string_view ALine) {
  const std::string trimmed = Trim(ALine);
  return trimmed.empty() || trimmed.front() == '#';
}

// The port a line of a map assigns, whatever the line's other faults; nullopt
// for a comment and for a line without a port key.
std::optional<int> LinePort(std::string_view ALine) {
  if (IsBlankOrComment(ALine)) return std::nullopt;
  const size_t eq = ALine.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return ParseComPortKey(Trim(ALine.substr(0, eq)));
}

}  // namespace

std::string TPortMapProblem::Text() const {
  if (Line == 0) return ResFormat("PortMapUnreadable", {File, Reason});
  return ResFormat("PortMapProblem", {File, std::to_string(Line), Reason});
}

std::optional<int> ParseComPortKey(std::string_view AKey) {
  if (AKey.size() < 4 || !SameText(AKey.substr(0, 3), "COM")) return std::nullopt;
  const std::string_view digits = AKey.substr(3);
  if (digits.front() == '0') return std::nullopt;  // "COM03" is no name the page shows
  int port = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (port < cFirstComPort || port > cLastComPort) return std::nullopt;
  return port;
}

TPortMap TPortMap::Parse(std::string_view AText, const std::string& APath) {
  TPortMap map;
  map.FPath = APath;
  const std::vector<std::string_view> lines = SplitLines(AText);
  for (size_t i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    const std::string_view line = lines[i];
    if (IsBlankOrComment(line)) continue;
    auto problem = [&](std::string AReason) {
      map.FProblems.push_back({APath, number, std::move(AReason)});
    };
    // The key ends at the first "=": stable device names may hold "=" and "#".
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      problem(ResString("PortMapNoEquals"));
      continue;
    }
    const std::string key = Trim(line.substr(0, eq));
    const std::string device = Trim(line.substr(eq + 1));
    const std::optional<int> port = ParseComPortKey(key);
    if (!port) {
      problem(ResFormat("PortMapBadPort", {key}));
    } else if (device.empty()) {
      problem(ResString("PortMapNoDevice"));
    } else if (device.front() != '/') {
      // A relative name would depend on the folder the platform happens to run in.
      problem(ResFormat("PortMapRelativeDevice", {device}));
    } else if (const TEntry* earlier = map.Find(*port)) {
      problem(
          ResFormat("PortMapDuplicate", {std::to_string(*port), std::to_string(earlier->Line)}));
    } else {
      map.FEntries.push_back({*port, device, number});
    }
  }
  return map;
}

TPortMap TPortMap::Read(const std::string& APath) {
  TPortMap map;
  map.FPath = APath;
  auto unreadable = [&](std::string AReason) {
    map.FProblems.push_back({APath, 0, std::move(AReason)});
    return map;
  };
  std::error_code error;
  const fs::file_status status = fs::status(APath, error);
  if (status.type() == fs::file_type::not_found) return map;
  if (error) return unreadable(error.message());
  // Only a regular file is opened: a FIFO in the map's place would hang the connect.
  if (status.type() != fs::file_type::regular) return unreadable(ResString("PortMapNotAFile"));
  const uintmax_t size = fs::file_size(APath, error);
  if (!error && size > cMaxMapBytes)
    return unreadable(ResFormat("PortMapTooLarge", {std::to_string(cMaxMapBytes)}));
  errno = 0;
  std::ifstream in(APath, std::ios::binary);
  if (!in) return unreadable(std::generic_category().message(errno != 0 ? errno : EIO));
  std::string text(cMaxMapBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (in.bad()) return unreadable(std::generic_category().message(EIO));
  return Parse(text, APath);
}

const TPortMap::TEntry* TPortMap::Find(int APort) const {
  for (const TEntry& entry : FEntries)
    if (entry.Port == APort) return &entry;
  return nullptr;
}

bool FitsPortMapLine(std::string_view ADevice) {
  for (const char c : ADevice)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return Trim(ADevice) == ADevice;
}

std::string TPortMap::Assign(std::string_view AText, int APort, const std::string& ADevice) {
  if (!FitsPortMapLine(ADevice))
    throw std::invalid_argument("a device name with a control character or an outer blank");
  const std::string line = "COM" + std::to_string(APort) + "=" + ADevice;
  std::string result;
  bool written = false;
  for (std::string_view old : SplitLines(AText)) {
    if (LinePort(old) == APort) {
      if (written) continue;
      result += line;
      written = true;
    } else {
      result += old;
    }
    result += '\n';
  }
  if (!written) result += line + '\n';
  return result;
}

std::string TPortLookup::OriginText() const {
  if (Port == 0) return ResString("PortOriginByName");
  const std::string port = "COM" + std::to_string(Port);
  switch (Origin) {
    case TPortOrigin::poEnvironment:
      return ResFormat("PortOriginEnvironment", {port, ComPortVariable(Port)});
    case TPortOrigin::poUserMap:
    case TPortOrigin::poMachineMap:
      return ResFormat("PortOriginMap", {port, OriginFile, std::to_string(OriginLine)});
    case TPortOrigin::poDefault:
      break;
  }
  return port;
}

std::string PortMapNotes(const TPortLookup& ALookup) {
  std::string notes;
  for (const TPortMapProblem& problem : ALookup.Problems) {
    if (!notes.empty()) notes += ". ";
    notes += problem.Text();
  }
  return notes;
}
