// The help window without a desktop: the manual built into the library, or a
// site's own in md.zip beside it, is rendered to a page, and the failure names
// the page so it can be opened by hand; the archive reader and the renderer on
// files they must not trust.
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

const std::string kNoDisplay =
    "Нет графического сеанса для показа справки. Страница справки сохранена в файле ";
const std::string kHelpSources = std::string(QUARNEL_SOURCE_DIR) + "/resources/help";

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

  // DoAdditionalAction("ShowHelp") through AHost that must fail; its message.
  static std::string ShowHelpFailure(TTestHost& AHost) {
    {
      TCallResult r = AHost.Call("DoAdditionalAction", {"ShowHelp"});
      EXPECT_FALSE(r.Bool());
    }
    return AHost.Call("GetLastError", {THostArg::Empty()}).ParamText(0);
  }
  std::string ShowHelpFailure() { return ShowHelpFailure(Host); }

  // A copy of the library in folder AFolder of the test's own, made once.
  std::string LibraryIn(const std::string& AFolder) {
    const fs::path library = FTmp / AFolder / "libquarnel.so";
    if (!fs::exists(library)) {
      fs::create_directories(library.parent_path());
      fs::copy_file(DefaultAddInPath(), library);
    }
    return library.string();
  }

  // The page written by a ShowHelp whose failure names it.
  static std::string PageOf(const std::string& AMessage) {
    EXPECT_EQ(AMessage.rfind(kNoDisplay, 0), 0u) << AMessage;
    return AMessage.rfind(kNoDisplay, 0) == 0 ? ReadFile(AMessage.substr(kNoDisplay.size())) : "";
  }

  fs::path FTmp;
  TTempDataDir DataDir;
  TTestHost Host;
  TScopedEnv FNoX{"DISPLAY", nullptr}, FNoWayland{"WAYLAND_DISPLAY", nullptr};
  TScopedEnv FTmpDir{"TMPDIR", FTmp.c_str()};
};

TEST_F(HelpViewerTest, WithoutADesktopTheBuiltInManualIsRenderedAndItsPageNamed) {
  TTestHost alone(LibraryIn("alone"));  // as the platform unpacks it: nothing beside it
  const std::string message = ShowHelpFailure(alone);
  ASSERT_EQ(message.rfind(kNoDisplay, 0), 0u) << message;
  const std::string page = message.substr(kNoDisplay.size());
  EXPECT_EQ(fs::path(page).parent_path().parent_path(), FTmp) << "a private folder under TMPDIR";
  EXPECT_EQ(fs::status(fs::path(page).parent_path()).permissions() & fs::perms::all,
            fs::perms::owner_all);
  const std::string html = ReadFile(page);
  EXPECT_NE(html.find("<title>Справка</title>"), std::string::npos);
  EXPECT_NE(html.find("<style>\n" + ReadFile(kHelpSources + "/help.css")), std::string::npos)
      << "the built-in style sheet";
  EXPECT_NE(html.find("<h1>Драйвер ККТ онлайн Велмор для 1С:Предприятия</h1>"), std::string::npos);
  for (const char* section : {"Установка", "Подключение кассы", "Параметры подключения",
                              "Лог обмена", "Устранение неполадок", "Эмулятор кассы"})
    EXPECT_NE(html.find(std::string("<h2>") + section + "</h2>"), std::string::npos) << section;
  EXPECT_NE(html.find("<td><code>PortNumber</code></td>"), std::string::npos) << "tables render";

  // A desktop without xdg-open: the shell that starts it reports so.
  TScopedEnv display("DISPLAY", ":0"), path("PATH", "/nonexistent");
  EXPECT_EQ(
      ShowHelpFailure(alone),
      "Не найдена программа xdg-open для показа справки. Страница справки сохранена в файле " +
          page)
      << "the same page is written again";
}

// A tmp cleaner removed the pages' folder, and another user made one of the
// same name holding help.html as a link to a file of the victim's (or a link
// in the folder's place): the next page must not land in that file.
TEST_F(HelpViewerTest, APlantedFolderOrLinkNeverReceivesThePage) {
  auto showPage = [&] {
    const std::string message = ShowHelpFailure();
    EXPECT_EQ(message.rfind(kNoDisplay, 0), 0u) << message;
    return fs::path(message.substr(kNoDisplay.size()));
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

// A site's md.zip beside the library replaces the built-in manual; the
// built-in style sheet serves an archive without one. An archive that is
// damaged or lacks the manual is named in the failure, not passed over.
TEST_F(HelpViewerTest, ASiteManualBesideTheLibraryTakesPrecedence) {
  const fs::path site = fs::path(LibraryIn("site")).parent_path();
  fs::create_directories(site / "files");
  const std::string archive = (site / "md.zip").string();
  auto pack = [&](const std::string& AFiles) {
    fs::remove(archive);
    const std::string command =
        "cd '" + (site / "files").string() + "' && zip -q -9 '" + archive + "' " + AFiles;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  };
  std::ofstream(site / "files" / "help.md") << "# Справка магазина\n\nЗвоните администратору.\n";
  std::ofstream(site / "files" / "help.css") << "h1 { color: teal; }\n";
  std::ofstream(site / "files" / "other.md") << "# Другое\n";
  TTestHost siteHost(LibraryIn("site"));

  pack("help.md");
  std::string html = PageOf(ShowHelpFailure(siteHost));
  EXPECT_NE(html.find("<h1>Справка магазина</h1>"), std::string::npos) << html;
  EXPECT_EQ(html.find("Драйвер ККТ онлайн Велмор"), std::string::npos) << "the built-in manual";
  EXPECT_NE(html.find("<style>\n" + ReadFile(kHelpSources + "/help.css")), std::string::npos)
      << "the built-in style sheet for an archive without one";

  pack("help.md help.css");
  html = PageOf(ShowHelpFailure(siteHost));
  EXPECT_NE(html.find("<style>\nh1 { color: teal; }\n</style>"), std::string::npos) << html;

  pack("other.md");
  EXPECT_EQ(ShowHelpFailure(siteHost), "В архиве справки " + archive + " нет документа help");
  std::ofstream(archive, std::ios::trunc) << "PK\x03\x04 not really a zip archive";
  EXPECT_EQ(ShowHelpFailure(siteHost).rfind("Архив справки " + archive + " поврежден: ", 0), 0u);
  EXPECT_EQ(siteHost.Memory.Live(), 0);
}

TEST_F(HelpViewerTest, ArchivesAndDocumentsThatCannotBeTrusted) {
  std::string content;
  const std::string missing = (FTmp / "none.zip").string();
  EXPECT_EQ(ErrorOf([&] { ReadArchiveEntry(missing, "help.md", content); }),
            "Не найден архив справки " + missing);
  EXPECT_FALSE(HelpArchivePresent(missing));
  const std::string garbage = (FTmp / "garbage.zip").string();
  std::ofstream(garbage) << "PK\x03\x04 not really a zip archive";
  EXPECT_TRUE(HelpArchivePresent(garbage));
  EXPECT_EQ(ErrorOf([&] {
              ReadArchiveEntry(garbage, "help.md", content);
            }).rfind("Архив справки " + garbage + " поврежден: ", 0),
            0u);
  EXPECT_EQ(ErrorOf([&] {
              ReadArchiveEntry(FTmp.string(), "help.md", content);
            }).rfind("Архив справки " + FTmp.string() + " поврежден: ", 0),
            0u)
      << "a folder where the archive should be";

  const std::string page =
      RenderMarkdownPage("# A <b>\n\n<script>x</script>\n", "a & <b>", "p{}</style><script>");
  EXPECT_NE(page.find("<title>a &amp; &lt;b&gt;</title>"), std::string::npos);
  EXPECT_NE(page.find("<p>&lt;script&gt;x"), std::string::npos) << "raw HTML shows as text";
  EXPECT_EQ(page.find("</style><script>"), std::string::npos) << "the style cannot end early";
}

}  // namespace
