// The desktop implementation of the user-interaction seam: what a message box or an input
// box shows, and which answer each button gives. The boxes are answered by a timer, as a
// user would, while they wait.

#include "app/QtSeam.h"

#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

using appSetup::QtSeam;
using UserInteraction::Answer;
using UserInteraction::Buttons;
using UserInteraction::Icon;

// Runs fn on the first modal dialog once it is up (polling, so a slow start is no problem).
template <class T> void WhenModal(std::function<void(T*)> fn, int iTries = 200) {
    QTimer::singleShot(10, [fn, iTries] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            fn(w);
        } else if (iTries > 0) {
            WhenModal<T>(fn, iTries - 1);
        }
    });
}

TEST(AppSeamTest, MessageAndInputBoxesShowTheirTextsAndGiveTheAnswer) {
    QtSeam seam;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButton def = QMessageBox::NoButton;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        def = box->standardButton(box->defaultButton());
        box->button(QMessageBox::Cancel)->click();
    });
    Answer a = seam.MessageBox({"Backup Error", "Line one\r\nLine two", Buttons::YesNoCancel, Icon::Exclamation, 1});
    EXPECT_EQ(a, Answer::Cancel);
    EXPECT_EQ(title, "Backup Error");
    EXPECT_EQ(text, "Line one\nLine two");
    EXPECT_EQ(QtSeam::ToQt("a\r\nb\rc\nd"), QString("a\nb\nc\nd")); // every line end of the core
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(def, QMessageBox::No); // the second button of the set

    // The command-line help is an information box of its own.
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    seam.ShowCommandLineHelp("Command-Line Help", "a\r\nb");
    EXPECT_EQ(title, "Command-Line Help");
    EXPECT_EQ(icon, QMessageBox::Information);

    // The input box gives the text, or no answer.
    QString label, initial;
    WhenModal<QInputDialog>([&](QInputDialog* dlg) {
        label = dlg->labelText();
        initial = dlg->textValue();
        dlg->setTextValue("nightly run");
        dlg->accept();
    });
    std::string sAnswer = "stale";
    EXPECT_TRUE(seam.InputBox("Please enter a comment", "Log comment", "before", sAnswer));
    EXPECT_EQ(sAnswer, "nightly run");
    EXPECT_EQ(label, "Please enter a comment");
    EXPECT_EQ(initial, "before");

    WhenModal<QInputDialog>([](QInputDialog* dlg) { dlg->reject(); });
    EXPECT_FALSE(seam.InputBox("p", "t", "d", sAnswer));
    EXPECT_EQ(sAnswer, "");
}

TEST(AppSeamTest, StartProgramRunsThroughTheShellWithoutWaiting) {
    QtSeam seam;
    QTemporaryDir dir;
    QString marker = dir.filePath("started");
    ASSERT_TRUE(seam.StartProgram(("sleep 0.2; echo ok > '" + marker + "'").toStdString()));
    EXPECT_FALSE(QFile::exists(marker)); // did not wait for it
    for (int i = 0; i < 100 && !QFile::exists(marker); ++i)
        QTest::qWait(50);
    EXPECT_TRUE(QFile::exists(marker));
}

} // namespace
