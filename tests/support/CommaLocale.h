// LC_NUMERIC with a decimal comma, as a Russian locale has it, for the
// lifetime of the object: the platform's process may run in one, and numbers
// read from the host's XML or sent to the register must not follow it. The
// locale is built with localedef into AFolder, so the test needs none of the
// machine's installed locales; Active() says whether it could be made.
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TCommaLocale {
 public:
  explicit TCommaLocale(const std::string& AFolder) : FSaved(std::setlocale(LC_NUMERIC, nullptr)) {
    std::filesystem::create_directories(AFolder);
    const std::string source = AFolder + "/comma.def";
    std::ofstream(source) << "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \"\"\n"
                             "grouping -1\nEND LC_NUMERIC\n";
    const std::string build = "localedef -c -i '" + source + "' -f ANSI_X3.4-1968 '" + AFolder +
                              "/xx_COMMA' >/dev/null 2>&1";
    (void)std::system(build.c_str());
    if (const char* old = std::getenv("LOCPATH")) FOldPath = old, FHadPath = true;
    setenv("LOCPATH", AFolder.c_str(), 1);
    FActive = std::setlocale(LC_NUMERIC, "xx_COMMA") != nullptr;
  }
  ~TCommaLocale() {
    std::setlocale(LC_NUMERIC, FSaved.c_str());
    if (FHadPath)
      setenv("LOCPATH", FOldPath.c_str(), 1);
    else
      unsetenv("LOCPATH");
  }
  TCommaLocale(const TCommaLocale&) = delete;
  TCommaLocale& operator=(const TCommaLocale&) = delete;

  bool Active() const { return FActive; }

 private:
  std::string FSaved;
  std::string FOldPath;
  bool FHadPath = false;
  bool FActive = false;
};
