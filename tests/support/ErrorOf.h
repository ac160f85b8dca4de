// The message of the exception a call raises: tests compare failures by the
// exact text the host or the log would show.
#pragma once

#include <exception>
#include <functional>
#include <string>

// Empty when the call succeeded.
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}
