// The library's built-in data: the parameters description shown to the host,
// the string table of messages and the help manual (all UTF-8, compiled in
// from the files beside this header).
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// The parameters description document exactly as shipped (Parameters.xml).
std::string_view ParametersResource();

// The file `name` of the built-in help manual (help/: "help.md", the manual,
// and "help.css", its style sheet); nothing for a file the manual lacks.
std::optional<std::string_view> HelpResource(std::string_view name);

// The message stored under `key` in Messages.ru.txt. An unknown key is a
// programming error and raises std::out_of_range naming the key.
const std::string& ResString(std::string_view key);

// The message under `key` with each "%s", in order, replaced by the next
// argument. Arguments are inserted as they are: a "%s" inside an argument
// is not expanded again. Missing arguments leave the remaining "%s" as they are.
std::string ResFormat(std::string_view key, std::initializer_list<std::string_view> args);

// The same substitution for any pattern.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);
