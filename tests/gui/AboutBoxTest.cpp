// The about box: version texts, links and buttons.

#include "common/ModalScript.h"
#include "common/TempAppFolder.h"
#include "engine/libZip.h"
#include "support/libLog.h"
#include "ui/frmAbout.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class AboutBoxTest : public TempAppFolder {};

TEST_F(AboutBoxTest, ShowsProgramAndZipEngineVersions) {
    frmAbout about;
    EXPECT_EQ(about.windowTitle(), "About Stowline");
    std::string sExpected = "Stowline " + std::to_string(STOWLINE_VERSION_MAJOR) + "." +
                            std::to_string(STOWLINE_VERSION_MINOR) + " (Bld " + std::to_string(STOWLINE_VERSION_PATCH) +
                            ")";
    EXPECT_EQ(about.lblTitle->text().toStdString(), sExpected);
    EXPECT_EQ(about.lblFor->text(), "Zip Backup Job Scheduling Agent");
    std::string sZip = about.lblZipVer->text().toStdString();
    EXPECT_EQ(sZip, "ZIP dll version: " + libZip::ZipVersionText());
    EXPECT_NE(sZip.find("libzip"), std::string::npos);
    EXPECT_EQ(about.cmdErrorLog->text(), "Error &Log");
    EXPECT_EQ(about.cmdErrorLog->toolTip(), "Display Error Log File");
    EXPECT_EQ(about.cmdTechSupport->text(), "&Download Source");
    EXPECT_EQ(about.cmdThankYou->text(), "Thank You");
}

TEST_F(AboutBoxTest, ButtonsLinksAndHelpKey) {
    frmAbout about;
    about.cmdThankYou->click();
    about.cmdErrorLog->click(); // no error file yet
    about.cmdTechSupport->click();
    about.lblWebsite_Click();
    about.lblMailTo_Click();
    QKeyEvent f1(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(&about, &f1);

    auto messages = Seam->Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].Title, "Thank You");
    EXPECT_EQ(messages[0].IconKind, UserInteraction::Icon::None);
    EXPECT_NE(messages[0].Text.find("Info-ZIP"), std::string::npos);
    EXPECT_EQ(messages[1].Text, "Error log file does not exist");

    std::vector<std::string> opened;
    bool bHelp = false;
    for (auto& c : Seam->Calls) {
        if (c.Kind == "OpenDocument" || c.Kind == "StartProgram") opened.push_back(c.Request.Text);
        if (c.Kind == "ShowHelp") bHelp = true;
    }
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_NE(opened[0].find(frmAbout::SourceDownloadUrl), std::string::npos);
    EXPECT_NE(opened[1].find(frmAbout::HomePageUrl), std::string::npos);
    EXPECT_NE(opened[2].find(frmAbout::SupportMailUrl), std::string::npos);
    EXPECT_TRUE(bHelp);
}

} // namespace
