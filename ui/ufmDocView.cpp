#include "ui/ufmDocView.h"

#include <stdexcept>

#include "resources/uResources.h"
#include "ui/lib/HelpArchive.h"
#include "ui/lib/MarkdownRenderer.h"
#include "ui/uDesktop.h"

namespace {
constexpr char kStyleSheet[] = "help.css";
}  // namespace

std::string ShowHelpDocument(std::string_view ADocument, std::string_view ATitle) {
  const std::string archive = HelpArchivePath();
  const std::string name(ADocument);
  std::string markdown, style;
  if (!ReadArchiveEntry(archive, name + ".md", markdown))
    throw std::runtime_error(ResFormat("HelpDocumentMissing", {archive, name}));
  ReadArchiveEntry(archive, kStyleSheet, style);  // unstyled without one

  const std::string page = WriteHelpPage(name, RenderMarkdownPage(markdown, ATitle, style));
  switch (OpenOnDesktop(page)) {
    case TDesktopOpen::Opened:
      return page;
    case TDesktopOpen::NoDisplay:
      throw std::runtime_error(ResFormat("ShowHelpNoDisplay", {page}));
    case TDesktopOpen::NoOpener:
      throw std::runtime_error(ResFormat("ShowHelpNoXdgOpen", {page}));
    case TDesktopOpen::Failed:
      break;
  }
  throw std::runtime_error(ResFormat("ShowHelpFailed", {page}));
}
