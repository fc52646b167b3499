#pragma once
// The one seam through which core code reaches the user: message boxes, input
// boxes, letting pending events run, starting a program without waiting, and
// opening help. Core code never shows a window itself; the program installs the
// Qt implementation when a display is present, the headless one otherwise; tests
// install their own.

#include <memory>
#include <string>
#include <vector>

namespace UserInteraction {

// Button sets and answers, with the classic numeric values.
enum class Buttons { OK = 0, OKCancel = 1, AbortRetryIgnore = 2, YesNoCancel = 3, YesNo = 4, RetryCancel = 5 };
enum class Icon { None = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };
enum class Answer { OK = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageRequest {
    std::string Title;
    std::string Text;
    Buttons ButtonSet = Buttons::OK;
    Icon IconKind = Icon::None;
    // Zero-based index of the default button within the set.
    int DefaultButton = 0;
};

class Seam {
public:
    virtual ~Seam() = default;
    virtual Answer MessageBox(const MessageRequest& request) = 0;
    // Returns false when the user gave no answer (cancelled); sAnswer is then "".
    virtual bool InputBox(const std::string& sPrompt, const std::string& sTitle, const std::string& sDefault,
                          std::string& sAnswer) = 0;
    // Let pending window (or core) events run once.
    virtual void DoEvents() = 0;
    // Start a program without waiting. The command is split by /bin/sh rules.
    // Returns false when it could not be started.
    virtual bool StartProgram(const std::string& sCommandLine) = 0;
    // Open a file or URL with the desktop's default application (xdg-open).
    virtual bool OpenDocument(const std::string& sPathOrUrl) = 0;
    // Show the program's help page at an anchor ("" for the contents).
    virtual void ShowHelp(const std::string& sAnchor) = 0;
    // The command-line help box: headless it goes to standard output.
    virtual void ShowCommandLineHelp(const std::string& sTitle, const std::string& sText) = 0;
};

// The installed implementation (headless until another is installed).
Seam& Ui();
// Install an implementation; the seam takes ownership. Returns the previous one.
std::unique_ptr<Seam> Install(std::unique_ptr<Seam> seam);

// Shorthand used throughout the program.
Answer MsgBox(const std::string& sText, Buttons buttons = Buttons::OK, Icon icon = Icon::None,
              const std::string& sTitle = "Stowline", int iDefaultButton = 0);
void DoEvents();

// Headless: writes "Title: text" to standard error and never waits.
class HeadlessSeam : public Seam {
public:
    Answer MessageBox(const MessageRequest& request) override;
    bool InputBox(const std::string& sPrompt, const std::string& sTitle, const std::string& sDefault,
                  std::string& sAnswer) override;
    void DoEvents() override;
    bool StartProgram(const std::string& sCommandLine) override;
    bool OpenDocument(const std::string& sPathOrUrl) override;
    void ShowHelp(const std::string& sAnchor) override;
    void ShowCommandLineHelp(const std::string& sTitle, const std::string& sText) override;
};

// The answer a headless message box gives: Cancel if offered, else No, else OK.
Answer HeadlessAnswer(Buttons buttons);

// A hook that core code runs as pending "core events" (the headless agent uses it).
void SetCoreEventHook(void (*hook)());

} // namespace UserInteraction
