// The seam inside the virtual register: the wire side (frames, links, fault
// injection) decodes a request and hands the command to a handler that keeps
// the register's state; the handler's answer goes back in an answer frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One answer: the error byte (0 = success) and the data fields, as bytes in
// the register's code page (CP866 for text). The wire side writes the error
// byte as two upper-case hex digits and ends every field with FS.
struct TEmuAnswer {
  uint8_t Error = 0;
  std::vector<std::string> Fields;
};

class TEmuCommandHandler {
 public:
  virtual ~TEmuCommandHandler() = default;
  // `command` is the two-character code ("00", "42", ...); `args` are the
  // FS-separated request arguments as sent (bytes, CP866 for text).
  virtual TEmuAnswer Execute(const std::string& command, const std::vector<std::string>& args) = 0;
};
