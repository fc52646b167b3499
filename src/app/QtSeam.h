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
    // A modal QMessageBox; closed without a button, it answers as the headless seam would.
    UserInteraction::Answer MessageBox(const UserInteraction::MessageRequest& request) override;
    // A QInputDialog line; Cancel answers false with sAnswer empty.
    bool InputBox(const std::string& sPrompt, const std::string& sTitle, const std::string& sDefault,
                  std::string& sAnswer) override;
    // Runs the pending Qt events; a fatal report made in one of them unwinds from here (as from
    // the two dialogs above).
    void DoEvents() override;
    // Started detached through /bin/sh -c.
    bool StartProgram(const std::string& sCommandLine) override;
    // A local path or a URL, opened by the desktop's program for it.
    bool OpenDocument(const std::string& sPathOrUrl) override;
    // The help page (installed, or the built-in copy in the user's cache) at sAnchor.
    void ShowHelp(const std::string& sAnchor) override;
    // An information box.
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
