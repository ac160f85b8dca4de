#include "ui/ufmLog.h"

#include <stdexcept>

#include "resources/uResources.h"
#include "ui/uDesktop.h"

void ShowLogViewer(const std::string& AFolder) {
  switch (OpenOnDesktop(AFolder)) {
    case TDesktopOpen::Opened:
      return;
    case TDesktopOpen::NoDisplay:
      throw std::runtime_error(ResFormat("ViewLogNoDisplay", {AFolder}));
    case TDesktopOpen::NoOpener:
      throw std::runtime_error(ResFormat("ViewLogNoXdgOpen", {AFolder}));
    case TDesktopOpen::Failed:
      break;
  }
  throw std::runtime_error(ResFormat("ViewLogFailed", {AFolder}));
}
