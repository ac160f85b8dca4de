// The help window without a desktop: the manual in md.zip beside the library
// is rendered to a page, and the failure names the page so it can be opened by
// hand; the archive reader and the renderer on files they must not trust.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "support/ErrorOf.h"
#include "support/TestHost.h"
#include "ui/lib/HelpArchive.h"
#include "ui/lib/MarkdownRenderer.h"

namespace fs = std::filesystem;

namespace {

// Sets (or, with nullptr, removes) an environment variable for a scope.
class TScopedEnv {
 public:
  TScopedEnv(const char* AName, const char* AValue) : FName(AName) {
    if (const char* old = std::getenv(AName)) FOld = old, FHad = true;
    AValue ? setenv(AName, AValue, 1) : unsetenv(AName);
  }
  ~TScopedEnv() { FHad ? setenv(FName, FOld.c_str(), 1) : unsetenv(FName); }

 private:
  const char* FName;
  std::string FOld;
  bool FHad = false;
};

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class HelpViewerTest : public ::testing::Test {
 protected:
  HelpViewerTest() : FTmp(fs::temp_directory_path() / ("quarnel-ui-" + std::to_string(getpid()))) {
    fs::create_directories(FTmp);
  }
  ~HelpViewerTest() override { fs::remove_all(FTmp); }

  // DoAdditionalAction("ShowHelp") that must fail; its message.
  std::string ShowHelpFailure() {
    {
      TCallResult r = Host.Call("DoAdditionalAction", {"ShowHelp"});
      EXPECT_FALSE(r.Bool());
    }
    return Host.Call("GetLastError", {THostArg::Empty()}).ParamText(0);
  }

  fs::path FTmp;
  TTempDataDir DataDir;
  TTestHost Host;
  TScopedEnv FNoX{"DISPLAY", nullptr}, FNoWayland{"WAYLAND_DISPLAY", nullptr};
  TScopedEnv FTmpDir{"TMPDIR", FTmp.c_str()};
};

TEST_F(HelpViewerTest, WithoutADesktopTheManualIsRenderedAndItsPageNamed) {
  const std::string prefix =
      "Нет графического сеанса для показа справки. Страница справки сохранена в файле ";
  const std::string message = ShowHelpFailure();
  ASSERT_EQ(message.rfind(prefix, 0), 0u) << message;
  const std::string page = message.substr(prefix.size());
  EXPECT_EQ(fs::path(page).parent_path().parent_path(), FTmp) << "a private folder under TMPDIR";
  EXPECT_EQ(fs::status(fs::path(page).parent_path()).permissions() & fs::perms::all,
            fs::perms::owner_all);
  const std::string html = ReadFile(page);
  EXPECT_NE(html.find("<title>Справка</title>"), std::string::npos);
  EXPECT_NE(html.find("<style>\nbody {"), std::string::npos) << "the archive's style sheet";
  EXPECT_NE(html.find("<h1>Драйвер ККТ онлайн Велмор для 1С:Предприятия</h1>"), std::string::npos);
  for (const char* section : {"Установка", "Подключение кассы", "Параметры подключения",
                              "Лог обмена", "Устранение неполадок", "Эмулятор кассы"})
    EXPECT_NE(html.find(std::string("<h2>") + section + "</h2>"), std::string::npos) << section;
  EXPECT_NE(html.find("<td><code>PortNumber</code></td>"), std::string::npos) << "tables render";

  // A desktop without xdg-open: the shell that starts it reports so.
  TScopedEnv display("DISPLAY", ":0"), path("PATH", "/nonexistent");
  EXPECT_EQ(
      ShowHelpFailure(),
      "Не найдена программа xdg-open для показа справки. Страница справки сохранена в файле " +
          page)
      << "the same page is written again";
}

// A tmp cleaner removed the pages' folder, and another user made one of the
// same name holding help.html as a link to a file of the victim's (or a link
// in the folder's place): the next page must not land in that file.
TEST_F(HelpViewerTest, APlantedFolderOrLinkNeverReceivesThePage) {
  const std::string prefix =
      "Нет графического сеанса для показа справки. Страница справки сохранена в файле ";
  auto showPage = [&] {
    const std::string message = ShowHelpFailure();
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    return fs::path(message.substr(prefix.size()));
  };
  const fs::path victim = FTmp / "bashrc";
  std::ofstream(victim) << "precious\n";
  fs::path page = showPage();
  struct TCase {
    const char* What;
    std::function<void(const fs::path&)> Plant;
    bool SameFolder;  // the planted folder passes for ours
  };
  const TCase cases[] = {
      {"a folder others may enter",
       [&](const fs::path& AFolder) {
         fs::create_directory(AFolder);
         fs::permissions(AFolder, fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
         fs::create_symlink(victim, AFolder / "help.html");
       },
       false},
      {"a private folder of ours",
       [&](const fs::path& AFolder) {
         fs::create_directory(AFolder);
         fs::permissions(AFolder, fs::perms::owner_all);
         fs::create_symlink(victim, AFolder / "help.html");
       },
       true},
      {"a link in the folder's place",
       [&](const fs::path& AFolder) {
         const fs::path other = FTmp / "other";
         fs::create_directory(other);
         fs::permissions(other, fs::perms::owner_all);
         fs::create_symlink(victim, other / "help.html");
         fs::create_directory_symlink(other, AFolder);
       },
       false},
  };
  for (const TCase& c : cases) {
    const fs::path folder = page.parent_path();
    fs::remove_all(folder);
    c.Plant(folder);
    page = showPage();
    const bool untouched = ReadFile(victim.string()) == "precious\n";
    EXPECT_TRUE(untouched) << "the page went into the planted link's file: " << c.What;
    EXPECT_EQ(page.parent_path() == folder, c.SameFolder) << c.What;
    EXPECT_FALSE(fs::is_symlink(page)) << c.What;
    EXPECT_NE(ReadFile(page.string()).find("<title>Справка</title>"), std::string::npos) << c.What;
    EXPECT_EQ(fs::status(page.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  }
}

TEST_F(HelpViewerTest, ArchivesAndDocumentsThatCannotBeTrusted) {
  std::string content;
  const std::string missing = (FTmp / "none.zip").string();
  EXPECT_EQ(ErrorOf([&] { ReadArchiveEntry(missing, "help.md", content); }),
            "Не найден архив справки " + missing);
  const std::string garbage = (FTmp / "garbage.zip").string();
  std::ofstream(garbage) << "PK\x03\x04 not really a zip archive";
  EXPECT_EQ(ErrorOf([&] {
              ReadArchiveEntry(garbage, "help.md", content);
            }).rfind("Архив справки " + garbage + " поврежден: ", 0),
            0u);
  const fs::path library(DefaultAddInPath());
  const std::string shipped = (library.parent_path() / "md.zip").string();
  EXPECT_FALSE(ReadArchiveEntry(shipped, "other.md", content));
  ASSERT_TRUE(ReadArchiveEntry(shipped, "help.md", content));
  EXPECT_EQ(content, ReadFile(std::string(QUARNEL_SOURCE_DIR) + "/resources/help/help.md"));

  const std::string page =
      RenderMarkdownPage("# A <b>\n\n<script>x</script>\n", "a & <b>", "p{}</style><script>");
  EXPECT_NE(page.find("<title>a &amp; &lt;b&gt;</title>"), std::string::npos);
  EXPECT_NE(page.find("<p>&lt;script&gt;x"), std::string::npos) << "raw HTML shows as text";
  EXPECT_EQ(page.find("</style><script>"), std::string::npos) << "the style cannot end early";
}

}  // namespace
