#include "ui/lib/MarkdownRenderer.h"

#include <md4c-html.h>

#include <stdexcept>

#include "common/uCommonUtils.h"

namespace {

void Append(const MD_CHAR* AText, MD_SIZE ASize, void* AOut) {
  static_cast<std::string*>(AOut)->append(AText, ASize);
}

}  // namespace

std::string RenderMarkdownPage(std::string_view AMarkdown, std::string_view ATitle,
                               std::string_view AStyleSheet) {
  std::string body;
  if (md_html(AMarkdown.data(), static_cast<MD_SIZE>(AMarkdown.size()), Append, &body,
              MD_DIALECT_GITHUB | MD_FLAG_NOHTML, MD_HTML_FLAG_SKIP_UTF8_BOM) != 0)
    throw std::runtime_error("Markdown could not be rendered");
  // A style sheet cannot close its own element early.
  std::string style(AStyleSheet);
  for (size_t at = style.find("</"); at != std::string::npos; at = style.find("</", at))
    style.replace(at, 2, "<\\/");
  return "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
         EscapeMarkup(ATitle) + "</title>\n<style>\n" + style + "</style>\n</head>\n<body>\n" +
         body + "</body>\n</html>\n";
}
