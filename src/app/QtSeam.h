#pragma once
// The user-interaction seam on a desktop: message boxes, input boxes, events,
// detached programs, documents and the help page through Qt.

#include "support/UserInteraction.h"

#include <QMessageBox>
#include <QString>
#include <vector>

namespace appSetup {

class QtSeam : public UserInteraction::Seam {
public:
    UserInteraction::Answer MessageBox(const UserInteraction::MessageRequest& request) override;
    bool InputBox(const std::string& sPrompt, const std::string& sTitle, const std::string& sDefault,
                  std::string& sAnswer) override;
    void DoEvents() override;
    bool StartProgram(const std::string& sCommandLine) override;
    bool OpenDocument(const std::string& sPathOrUrl) override;
    void ShowHelp(const std::string& sAnchor) override;
    void ShowCommandLineHelp(const std::string& sTitle, const std::string& sText) override;

    // The Qt buttons of a button set, in the set's order (the default index counts in it).
    static std::vector<QMessageBox::StandardButton> ButtonsOf(UserInteraction::Buttons buttons);
    static UserInteraction::Answer AnswerOf(QMessageBox::StandardButton button);
    static QMessageBox::Icon IconOf(UserInteraction::Icon icon);
    // Text for a widget: local bytes, CR LF (or a lone CR) as a line break.
    static QString ToQt(const std::string& sText);
    // The help page on disk: the installed copy, else one written from the built-in resource
    // into the cache folder. "" when neither can be had.
    static QString HelpPagePath();
};

} // namespace appSetup
