// The GUI test program: one QApplication on the offscreen platform for every test.
// Each test starts with a fresh scripted seam, so no message box can ever wait for a
// click; a test that wants to see the calls installs (or reads) its own. The application
// folder points into a temporary folder for the whole run, so no test touches the home folder.

#include "common/ScriptedSeam.h"
#include "support/appMisc.h"

#include <QApplication>
#include <QtGlobal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace {

class ScriptedSeamPerTest : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        UserInteraction::Install(std::make_unique<UserInteraction::ScriptedSeam>());
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        UserInteraction::Install(std::make_unique<UserInteraction::ScriptedSeam>());
    }
};

} // namespace

int main(int argc, char** argv) {
    // The resources live in the static GUI library: register them explicitly.
    Q_INIT_RESOURCE(stowline);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char tmpl[] = "/tmp/stowline-gui-XXXXXX";
    const char* sFolder = mkdtemp(tmpl);
    if (sFolder) appMisc::SetAppFolder(std::string(sFolder) + "/");

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ScriptedSeamPerTest);
    int iResult = RUN_ALL_TESTS();

    UserInteraction::Install(nullptr);
    appMisc::SetAppFolder("");
    if (sFolder) {
        std::error_code ec;
        std::filesystem::remove_all(sFolder, ec);
    }
    return iResult;
}
