#include "common/TempAppFolder.h"
#include "support/libFiles.h"

#include <unistd.h>

class Misc : public TempAppFolder {};

TEST_F(Misc, FoldersEndWithSlashAndAreCreated) {
    appMisc::SetAppFolder(Root + "new/place");
    EXPECT_EQ(appMisc::AppFolder(), Root + "new/place/");
    EXPECT_TRUE(libFiles::DirExists(Root + "new/place"));
    EXPECT_EQ(appMisc::JobFolder(), Root + "new/place/BackupJobs/");
    appMisc::SetAppFolder("");
    std::string sDefault = appMisc::AppFolder();
    EXPECT_EQ(sDefault.back(), '/');
    EXPECT_EQ(access(sDefault.c_str(), W_OK), 0); // beside the program, or the user's data folder
    appMisc::SetAppFolder(App);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(appMisc::ComputerName(), host);
}

TEST_F(Misc, AWebPageThatCannotBeOpenedIsNamed) {
    appMisc::OpenWebPage("https://example.org/");
    EXPECT_TRUE(Seam->Messages().empty());
    Seam->StartSucceeds = false;
    appMisc::OpenWebPage("https://example.org/x");
    ExpectOneBox(*Seam, "Error Opening Webpage", UserInteraction::Icon::Exclamation,
                 "Stowline was unable to open the following url on your system:\r\nhttps://example.org/x");
}

TEST_F(Misc, HeadlessMessageBoxesAnswerWithoutWaiting) {
    using namespace UserInteraction;
    EXPECT_EQ(HeadlessAnswer(Buttons::OKCancel), Answer::Cancel);
    EXPECT_EQ(HeadlessAnswer(Buttons::YesNoCancel), Answer::Cancel);
    EXPECT_EQ(HeadlessAnswer(Buttons::YesNo), Answer::No);
    EXPECT_EQ(HeadlessAnswer(Buttons::OK), Answer::OK);
}
