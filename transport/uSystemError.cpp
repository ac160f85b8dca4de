#include "transport/uSystemError.h"

#include <system_error>

std::string SystemErrorText(int AError) {
  return std::generic_category().message(AError);
}
