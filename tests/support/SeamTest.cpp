#include "common/ScriptedSeam.h"

#include <gtest/gtest.h>

using namespace UserInteraction;

TEST(Seam, HeadlessAnswersWithoutWaiting) {
    EXPECT_EQ(HeadlessAnswer(Buttons::OKCancel), Answer::Cancel);
    EXPECT_EQ(HeadlessAnswer(Buttons::YesNoCancel), Answer::Cancel);
    EXPECT_EQ(HeadlessAnswer(Buttons::YesNo), Answer::No);
    EXPECT_EQ(HeadlessAnswer(Buttons::OK), Answer::OK);
}

TEST(Seam, ScriptedRecordsCallsAndAnswersFromQueue) {
    auto* scripted = new ScriptedSeam;
    auto previous = Install(std::unique_ptr<Seam>(scripted));
    scripted->Answers.push_back(Answer::Cancel);
    scripted->Inputs.push_back("hello");
    EXPECT_EQ(MsgBox("Drop log file?", Buttons::OKCancel, Icon::Question, "Stowline"), Answer::Cancel);
    EXPECT_EQ(MsgBox("again", Buttons::YesNo), Answer::Yes);
    std::string sAnswer;
    EXPECT_TRUE(Ui().InputBox("Prompt", "Title", "", sAnswer));
    EXPECT_EQ(sAnswer, "hello");
    EXPECT_FALSE(Ui().InputBox("Prompt", "Title", "", sAnswer));
    ASSERT_EQ(scripted->Messages().size(), 2u);
    EXPECT_EQ(scripted->Messages()[0].Text, "Drop log file?");
    EXPECT_EQ(scripted->Messages()[0].IconKind, Icon::Question);
    Install(std::move(previous));
}
