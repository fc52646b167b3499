// The about box: links and buttons; and a translation installed beside the program.

#include "app/appSetup.h"
#include "common/ModalScript.h"
#include "common/TempAppFolder.h"
#include "ui/frmAbout.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {

class AboutBoxTest : public TempAppFolder {};

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
