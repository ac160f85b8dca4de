// Markdown to HTML for the help window, with md4c.
#pragma once

#include <string>
#include <string_view>

// A whole HTML page (UTF-8): AMarkdown rendered in the GitHub dialect
// (tables, strikethrough, autolinks, task lists; raw HTML is shown as text),
// titled ATitle, with AStyleSheet as its style.
std::string RenderMarkdownPage(std::string_view AMarkdown, std::string_view ATitle,
                               std::string_view AStyleSheet);
