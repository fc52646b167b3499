// The about box: links and buttons; and a translation installed beside the program.

#include "app/appSetup.h"
#include "common/ModalScript.h"
#include "common/TempAppFolder.h"
#include "support/libLog.h"
#include "ui/frmAbout.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class AboutBoxTest : public TempAppFolder {};

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

// A German translation compiled with lrelease into translations/ beside the "program": the
// about box and a message it shows speak German, and without it the English texts come back.
TEST_F(AboutBoxTest, TranslationBesideTheProgramChangesTheTexts) {
    const QString sLrelease = QLibraryInfo::path(QLibraryInfo::BinariesPath) + "/lrelease";
    if (!QFile::exists(sLrelease)) GTEST_SKIP() << "lrelease is not installed";
    std::filesystem::create_directories(Root + "translations");
    const std::string sTs = Root + "translations/stowline_de.ts";
    std::ofstream(sTs) << R"(<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS><TS version="2.1" language="de">
<context><name>frmAbout</name>
<message><source>About Stowline</source><translation>Über Stowline</translation></message>
<message><source>Thank You</source><translation>Danke</translation></message>
</context></TS>
)";
    ASSERT_EQ(QProcess::execute(sLrelease, {"-silent", QString::fromStdString(sTs)}), 0);

    ASSERT_TRUE(appSetup::InstallTranslation(Root, "de_DE")); // falls back from de_DE to de
    {
        frmAbout about;
        EXPECT_EQ(about.windowTitle(), QString::fromUtf8("Über Stowline"));
        about.cmdThankYou->click();
        ASSERT_EQ(Seam->Messages().size(), 1u);
        EXPECT_EQ(Seam->Messages()[0].Title, "Danke");
    }
    EXPECT_FALSE(appSetup::InstallTranslation(Root + "nothing", "de_DE"));
    frmAbout english;
    EXPECT_EQ(english.windowTitle(), "About Stowline");
}

} // namespace
