#include "ui/ufmDocView.h"

#include <optional>
#include <stdexcept>

#include "resources/uResources.h"
#include "ui/lib/HelpArchive.h"
#include "ui/lib/MarkdownRenderer.h"
#include "ui/uDesktop.h"

namespace {

constexpr char kStyleSheet[] = "help.css";

std::string BuiltInHelpFile(const std::string& AName) {
  const std::optional<std::string_view> file = HelpResource(AName);
  if (!file) throw std::out_of_range("No built-in help file " + AName);
  return std::string(*file);
}

}  // namespace

std::string TfmDocView::Show() const {
  const std::string& name = FDocument;
  std::string markdown, style;
  // A site's own manual in md.zip beside the library replaces the built-in
  // one; the built-in style sheet serves an archive without its own.
  const std::string archive = HelpArchivePath();
  if (HelpArchivePresent(archive)) {
    if (!ReadArchiveEntry(archive, name + ".md", markdown))
      throw std::runtime_error(ResFormat("HelpDocumentMissing", {archive, name}));
    if (!ReadArchiveEntry(archive, kStyleSheet, style)) style = BuiltInHelpFile(kStyleSheet);
  } else {
    markdown = BuiltInHelpFile(name + ".md");
    style = BuiltInHelpFile(kStyleSheet);
  }

  const std::string page = WriteHelpPage(name, RenderMarkdownPage(markdown, FTitle, style));
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
