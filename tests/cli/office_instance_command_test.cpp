// `voktools office start|stop|status` in a row, as a user runs them.
#include "office_instance_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "platform/libreoffice_automation.h"
#include "support/scratch_dir.h"

namespace vok::cli {
namespace {

TEST(OfficeInstanceCommandTest, StartStatusStopInARow) {
  OfficeSettings settings = OfficeSettings::FromEnvironment();
  if (::access((settings.program_folder + "/libmergedlo.so").c_str(), R_OK) != 0) {
    GTEST_SKIP() << "LibreOffice is not installed (scripts/setup installs it)";
  }
  test::ScratchDir scratch;
  settings.runtime_folder = scratch.path();
  settings.runtime_folder.pop_back();
  LibreOfficeAutomation office(settings);
  const struct {
    const char* action;
    bool json;
    int status;
    const char* out;  // what the first line starts with
  } steps[] = {
      {"status", false, kOfficeNotRunning, "office instance not running"},
      {"stop", false, 0, "office instance not running"},
      {"start", false, 0, "office instance started: process "},
      {"start", true, 0, "{\"clients\":0,\"documents\":0,"},
      {"status", false, 0, "office instance running: process "},
      {"stop", false, 0, "office instance stopped"},
      {"status", true, kOfficeNotRunning, "{\"state\":\"not running\"}"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.action) + (step.json ? " --json" : ""));
    std::ostringstream out, err;
    EXPECT_EQ(RunOfficeInstance({step.action, step.json}, office, out, err), step.status);
    EXPECT_TRUE(out.str().starts_with(step.out)) << out.str();
    EXPECT_EQ(err.str(), "");
  }
  EXPECT_EQ(scratch.Entries().size(), 0u) << "the instance's folder is left";

  settings.program_folder = scratch / "nowhere";
  LibreOfficeAutomation missing(settings);
  std::ostringstream out, err;
  EXPECT_EQ(RunOfficeInstance({"start", false}, missing, out, err), 1);
  EXPECT_NE(err.str().find("apt-get install"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace vok::cli
