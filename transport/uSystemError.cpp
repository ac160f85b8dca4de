#include "transport/uSystemError.h"

#include <cerrno>
#include <system_error>

const int kUnexplainedSystemError = EIO;

std::string SystemErrorText(int AError) {
  return std::generic_category().message(AError);
}
