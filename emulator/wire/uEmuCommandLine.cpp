#include "wire/uEmuCommandLine.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "common/uCommonUtils.h"
#include "wire/uEmuCodePage.h"

namespace {
[[noreturn]] void Fail(const std::string& flag, const std::string& why) {
  throw std::invalid_argument(flag + ": " + why);
}

int64_t Number(const std::string& flag, const std::string& text, int64_t min, int64_t max) {
  int64_t v = 0;
  if (!TryStrToInt64(text, v) || v < min || v > max)
    Fail(flag, "expected a number from " + std::to_string(min) + " to " + std::to_string(max) +
                   ", got \"" + text + "\"");
  return v;
}

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) return parts;
    start = colon + 1;
  }
}

int Nth(const std::string& flag, const std::string& text) {
  return static_cast<int>(Number(flag, text, 1, 1000000000));
}
}  // namespace

TEmuCommandLine ParseEmuCommandLine(const std::vector<std::string>& args) {
  TEmuCommandLine cl;
  bool portGiven = false;
  using TValueFlag = std::function<void(const std::string& flag, const std::string& value)>;
  auto answerFault = [&cl](TEmuAnswerFaultKind kind) {
    return [&cl, kind](const std::string& flag, const std::string& value) {
      cl.Faults.AnswerFaults.push_back({kind, Nth(flag, value), {}});
    };
  };
  const std::map<std::string, TValueFlag> valueFlags = {
      {"--port",
       [&](const std::string& f, const std::string& v) {
         cl.Server.Port = static_cast<uint16_t>(Number(f, v, 0, 65535));
         portGiven = true;
       }},
      {"--bind", [&](const std::string&, const std::string& v) { cl.Server.BindAddress = v; }},
      {"--idle-limit",
       [&](const std::string& f, const std::string& v) {
         cl.Server.IdleLimit = std::chrono::seconds(Number(f, v, 0, 86400));
       }},
      {"--link",
       [&](const std::string& f, const std::string& v) {
         if (v.empty()) Fail(f, "a path is needed");
         cl.Server.PtyLink = v;
         cl.Server.Pty = true;
       }},
      {"--ffd",
       [&](const std::string& f, const std::string& v) {
         if (v != "1.05" && v != "1.1" && v != "1.2") Fail(f, "expected 1.05, 1.1 or 1.2");
         cl.Ffd = v;
       }},
      {"--state", [&](const std::string&, const std::string& v) { cl.StateFile = v; }},
      {"--tape", [&](const std::string&, const std::string& v) { cl.TapeFile = v; }},
      {"--password",
       [&](const std::string& f, const std::string& v) {
         // The driver sends its password in the ANSI code page.
         std::string bytes = EmuUtf8ToAnsi(v);
         if (bytes.size() != 4) Fail(f, "the password is exactly 4 characters");
         cl.Server.Wire.Password = bytes;
       }},
      {"--nak-probe",
       [&](const std::string& f, const std::string& v) {
         cl.Faults.NakProbes = v == "all" ? -1 : static_cast<int>(Number(f, v, 1, 1000000000));
       }},
      {"--drop-answer", answerFault(TEmuAnswerFaultKind::Drop)},
      {"--corrupt-checksum", answerFault(TEmuAnswerFaultKind::CorruptChecksum)},
      {"--wrong-packet-id", answerFault(TEmuAnswerFaultKind::WrongPacketId)},
      {"--close-mid-answer", answerFault(TEmuAnswerFaultKind::CloseMidAnswer)},
      {"--nak-answer", answerFault(TEmuAnswerFaultKind::NakAfterExecute)},
      {"--delay-answer",
       [&](const std::string& f, const std::string& v) {
         std::vector<std::string> p = SplitColons(v);
         if (p.size() != 2) Fail(f, "expected N:MS");
         cl.Faults.AnswerFaults.push_back({TEmuAnswerFaultKind::Delay, Nth(f, p[0]),
                                           std::chrono::milliseconds(Number(f, p[1], 0, 600000))});
       }},
      {"--fail-command",
       [&](const std::string& f, const std::string& v) {
         std::vector<std::string> p = SplitColons(v);
         if (p.size() < 2 || p.size() > 3 || p[0].size() != 2 || p[1].size() != 2)
           Fail(f, "expected CMD:ERR[:EXT] (two-character command, error byte as two hex digits)");
         std::string errorByte;
         try {
           errorByte = HexToBytes(p[1]);
         } catch (const EConvertError&) {
           Fail(f, "the error byte is two hex digits, got \"" + p[1] + "\"");
         }
         TEmuCommandFault fault;
         fault.Command = UpperCase(p[0]);
         fault.Error = static_cast<uint8_t>(errorByte[0]);
         if (p.size() == 3) fault.ExtendedCode = Number(f, p[2], 0, 1000000);
         cl.Faults.CommandFaults.push_back(fault);
       }},
  };

  for (size_t i = 0; i < args.size(); ++i) {
    std::string flag = args[i];
    std::optional<std::string> inlineValue;
    if (size_t eq = flag.find('='); flag.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = flag.substr(eq + 1);
      flag.resize(eq);
    }
    bool switchFlag =
        flag == "--help" || flag == "-h" || flag == "--pty" || flag == "--verbose" || flag == "-v";
    if (switchFlag && inlineValue) Fail(flag, "takes no value");
    if (flag == "--help" || flag == "-h") {
      cl.Help = true;
    } else if (flag == "--pty") {
      cl.Server.Pty = true;
    } else if (flag == "--verbose" || flag == "-v") {
      cl.Server.Wire.Verbose = true;
    } else if (auto it = valueFlags.find(flag); it != valueFlags.end()) {
      std::string value;
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        Fail(flag, "a value is needed");
      }
      it->second(flag, value);
    } else {
      Fail(flag, "unknown option (see --help)");
    }
  }
  // A pty alone is what a serial-port user wants; TCP stays on when asked for.
  cl.Server.Tcp = !cl.Server.Pty || portGiven;
  return cl;
}

std::string EmuUsageText() {
  return R"(Usage: quarnel-emulator [options]
A virtual cash register speaking the register's frame protocol over TCP and/or
a pseudo-terminal: format 1.2, registered from the start with test numbers.
Once it is ready it prints "port N" and/or "pty PATH", each on its own line,
as the first lines of standard output; then it serves until SIGINT or SIGTERM.
Without --tape the paper tape follows those lines on standard output, so a
script reads the ready lines first and takes everything after them as tape.
Messages (and with -v the log) go to standard error.

Links:
  --port N             TCP port (default 50003; 0 picks a free one)
  --bind ADDR          IPv4 address to listen on (default 127.0.0.1)
                       One TCP client is served at a time; a client that
                       connects meanwhile is accepted and waits, with a line
                       on standard error, until the clients before it leave
  --idle-limit SECONDS close the served TCP client, with a line on standard
                       error, once it has sent nothing for SECONDS while
                       another client waits (default 30; 0: never)
  --pty                serve a pseudo-terminal; alone it turns TCP off,
                       with --port both are served
  --link PATH          make PATH a symlink to the pty (implies --pty), e.g.
                       for QUARNEL_COM1=PATH
  --password XXXX      connection password the frames must carry (default KVNT)

Register:
  --ffd 1.05|1.1|1.2   fiscal data format version (default 1.2, or the one
                       kept in the state file)
  --state FILE         keep the register's state in FILE across restarts
                       (default: in memory only); its folder must exist
  --tape FILE          append the paper tape to FILE (default: standard
                       output, after the ready lines)

Diagnostics:
  --verbose, -v        log every probe, frame and fault to standard error
  --help, -h           this text

Faults (N counts answer frames from the start, 1 = the first):
  --nak-probe N|all    answer NAK to the first N probes, or to all of them
  --drop-answer N      execute the Nth command but send no answer
  --delay-answer N:MS  send the Nth answer MS milliseconds late
  --corrupt-checksum N send the Nth answer with a wrong checksum
  --wrong-packet-id N  send the Nth answer under another packet id
  --close-mid-answer N send half of the Nth answer, then close the connection
                       (on the pty: fall silent)
  --nak-answer N       execute the Nth command, answer NAK; the resent frame
                       gets the stored answer without running again
  --fail-command CMD:ERR[:EXT]
                       refuse every command CMD with error byte ERR (two hex
                       digits); with EXT, command 06 then reports extended
                       code EXT
Fault flags may be repeated.
)";
}

std::string StateFileProblem(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path file(path);
  if (fs::is_directory(file, ec))
    return "the state file " + path + " is a folder; give a file in it, such as " +
           (file / "register.json").string();
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec))
    return "cannot keep the state in " + path + ": the folder " + folder.string() +
           " does not exist";
  // The file is written as a new file beside the old one and renamed over it.
  if (::access(folder.c_str(), W_OK) != 0)
    return "cannot keep the state in " + path + ": " + folder.string() + ": " +
           std::strerror(errno);
  if (fs::exists(file, ec) && !fs::is_regular_file(file, ec))
    return "the state file " + path + " is not a regular file";
  return {};
}
