#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/qt/XdgLoginItemService.h"
#include "support/TempHome.h"

namespace quillory::platform::qt {
namespace {

using testing::TempHome;

TEST(XdgLoginItemService, StatusFollowsTheFileAndItsSwitches) {
  TempHome home;
  XdgLoginItemService service(home / "autostart", "/usr/bin/quillory-helper");
  const std::pair<const char*, LoginItemStatus> cases[] = {
      {"[Desktop Entry]\nType=Application\nExec=quillory-helper\n", LoginItemStatus::enabled},
      {"[Desktop Entry]\nHidden = true \n", LoginItemStatus::notRegistered},
      {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", LoginItemStatus::notRegistered},
      // A switch in another group switches nothing off.
      {"[Desktop Entry]\nExec=x\n[Desktop Action quit]\nHidden=true\n", LoginItemStatus::enabled},
  };
  for (const auto& [text, status] : cases) {
    home.writeFile(std::filesystem::path("autostart") / kAutostartFileName, text);
    EXPECT_EQ(service.status(), status) << text;
  }
}

TEST(XdgLoginItemService, RegistersUnregistersAndReportsFailures) {
  TempHome home;
  XdgLoginItemService service(home / "config/autostart", "/opt/Quillory Helper/bin/quillory-helper");
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
  // Nothing to remove is no failure.
  EXPECT_EQ(service.unregisterItem(), std::nullopt);

  ASSERT_EQ(service.registerItem(), std::nullopt);  // creates the folders
  EXPECT_EQ(service.status(), LoginItemStatus::enabled);
  const std::optional<std::string> text = files::readFile(service.file());
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("\nExec=\"/opt/Quillory Helper/bin/quillory-helper\"\n"), std::string::npos);

  // A switched-off entry is replaced by a fresh one.
  home.writeFile("config/autostart/test.quillory.helper.desktop", "[Desktop Entry]\nHidden=true\n");
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
  ASSERT_EQ(service.registerItem(), std::nullopt);
  EXPECT_EQ(service.status(), LoginItemStatus::enabled);

  ASSERT_EQ(service.unregisterItem(), std::nullopt);
  EXPECT_FALSE(files::exists(service.file()));
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);

  // A folder where the entry should be: not registered, and both calls fail
  // with a text instead of claiming success.
  home.makeFolder("config/autostart/test.quillory.helper.desktop/inside");
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
  const std::optional<std::string> error = service.registerItem();
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("test.quillory.helper.desktop"), std::string::npos);
  EXPECT_TRUE(service.unregisterItem());
}

TEST(XdgLoginItemService, ExecValueQuotesAndEscapesThePath) {
  EXPECT_EQ(execValueFor("/usr/bin/quillory-helper"), "/usr/bin/quillory-helper");
  EXPECT_EQ(execValueFor("/home/a b/helper"), "\"/home/a b/helper\"");
  EXPECT_EQ(execValueFor("/x/\"q\"/$HOME/`x`"), "\"/x/\\\\\"q\\\\\"/\\\\$HOME/\\\\`x\\\\`\"");
  EXPECT_EQ(execValueFor("/x/a\\b"), "\"/x/a\\\\\\\\b\"");
  EXPECT_EQ(execValueFor("/x/100%/helper"), "/x/100%%/helper");
}

TEST(XdgLoginItemService, AutostartFolderFollowsXdgConfigHome) {
  EXPECT_EQ(autostartFolder("/home/u", std::nullopt), "/home/u/.config/autostart");
  EXPECT_EQ(autostartFolder("/home/u", ""), "/home/u/.config/autostart");
  EXPECT_EQ(autostartFolder("/home/u", "relative/cfg"), "/home/u/.config/autostart");
  EXPECT_EQ(autostartFolder("/home/u", "/etc/xdg-u"), "/etc/xdg-u/autostart");
}

}  // namespace
}  // namespace quillory::platform::qt
