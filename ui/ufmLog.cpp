#include "ui/ufmLog.h"

#include <stdexcept>

#include "resources/uResources.h"
#include "ui/uDesktop.h"

void TfmLog::Show() const {
  switch (OpenOnDesktop(FFolder)) {
    case TDesktopOpen::Opened:
      return;
    case TDesktopOpen::NoDisplay:
      throw std::runtime_error(ResFormat("ViewLogNoDisplay", {FFolder}));
    case TDesktopOpen::NoOpener:
      throw std::runtime_error(ResFormat("ViewLogNoXdgOpen", {FFolder}));
    case TDesktopOpen::Failed:
      break;
  }
  throw std::runtime_error(ResFormat("ViewLogFailed", {FFolder}));
}
