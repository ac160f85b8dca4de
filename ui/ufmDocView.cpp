#include "ui/ufmDocView.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "resources/uResources.h"
#include "ui/lib/HelpArchive.h"
#include "ui/lib/MarkdownRenderer.h"
#include "ui/uDesktop.h"

namespace fs = std::filesystem;

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

  const std::string page = HelpPageFolder() + "/" + name + ".html";
  {
    // The page's name is UTF-8 text; the path type takes it as such everywhere.
    std::ofstream out(fs::path(std::u8string(page.begin(), page.end())),
                      std::ios::binary | std::ios::trunc);
    out << RenderMarkdownPage(markdown, ATitle, style);
    if (!out.flush()) throw std::runtime_error(ResFormat("HelpWriteFailed", {page}));
  }
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
