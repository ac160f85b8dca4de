// Windows texts: the system's wide strings are UTF-16, like the host's, so
// they convert to and from our UTF-8 with the same functions; and the path
// of this DLL, which the log header and the help window need.
#pragma once

#include <string>
#include <string_view>

#include "common/uCommonUtils.h"

inline std::string WideToUtf8(std::wstring_view AText) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(AText.data()), AText.size()));
}

inline std::wstring Utf8ToWide(std::string_view AText) {
  const std::u16string text = Utf8ToUtf16(AText);
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

// The full path of the module (DLL) this code is linked into.
std::wstring OwnModulePath();
// The system's message for a Windows error code, without the trailing line end.
std::string WindowsErrorText(unsigned long AError);
