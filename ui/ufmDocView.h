// TfmDocView: the help window. A Markdown document of the manual built into
// the library, or of the help archive "md.zip" beside the library when there
// is one, is rendered to an HTML page and shown in the desktop's browser,
// which is the window; the class keeps nothing open.
#pragma once

#include <string>
#include <string_view>

// "md.zip" in the folder of the library this code runs in.
std::string HelpArchivePath();

class TfmDocView {
 public:
  // Document ADocument ("<ADocument>.md", styled by "help.css") as a page
  // titled ATitle.
  TfmDocView(std::string_view ADocument, std::string_view ATitle)
      : FDocument(ADocument), FTitle(ATitle) {}

  // Renders the page, writes it to a private temporary folder of this
  // process and opens it on the desktop. Returns the page's file. Raises
  // std::runtime_error when the archive is damaged or lacks the document,
  // and, naming the written page, when there is no graphical session or no
  // xdg-open to show it.
  std::string Show() const;

 private:
  std::string FDocument;
  std::string FTitle;
};
