#include "ui/ufmDocView.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
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

// One private folder (mode 0700) per process for the rendered pages; made
// again when something removed it. The browser reads a page after the call
// has returned, so pages stay until the system clears its temporary files.
std::string PageFolder() {
  static std::string folder;
  std::error_code ec;
  if (!folder.empty() && fs::is_directory(folder, ec)) return folder;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (tmp != nullptr && *tmp != '\0' ? std::string(tmp) : std::string("/tmp")) +
                        "/quarnel-help-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error(ResFormat("HelpWriteFailed", {pattern}));
  folder = pattern;
  return folder;
}

}  // namespace

std::string HelpArchivePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&HelpArchivePath), &info) == 0 || info.dli_fname == nullptr)
    return "md.zip";
  std::error_code ec;
  const fs::path library = fs::absolute(info.dli_fname, ec);
  return (library.parent_path() / "md.zip").string();
}

std::string ShowHelpDocument(std::string_view ADocument, std::string_view ATitle) {
  const std::string archive = HelpArchivePath();
  const std::string name(ADocument);
  std::string markdown, style;
  if (!ReadArchiveEntry(archive, name + ".md", markdown))
    throw std::runtime_error(ResFormat("HelpDocumentMissing", {archive, name}));
  ReadArchiveEntry(archive, kStyleSheet, style);  // unstyled without one

  const std::string page = PageFolder() + "/" + name + ".html";
  {
    std::ofstream out(page, std::ios::binary | std::ios::trunc);
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
