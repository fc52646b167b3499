#pragma once
// The seam tests install: records every call (title, text, buttons, icon) and answers message
// boxes and input boxes from queues, so no test ever waits for a user.

#include "support/UserInteraction.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace UserInteraction {

class ScriptedSeam : public Seam {
public:
    struct Call {
        std::string Kind; // "MessageBox", "InputBox", "StartProgram", "OpenDocument", "ShowHelp", "CommandLineHelp"
        MessageRequest Request; // Title and Text are filled for every kind
    };
    std::vector<Call> Calls;
    std::deque<Answer> Answers;     // message-box answers; when empty: OK (or Yes for Yes/No sets)
    std::deque<std::string> Inputs; // input-box answers; when empty: cancelled
    bool StartSucceeds = true;
    int EventsRun = 0;
    // Called with EventsRun each time events are let run: the user acting, or a timer firing,
    // while a backup or a restore goes on.
    std::function<void(int)> OnEvents;

    Answer MessageBox(const MessageRequest& request) override;
    bool InputBox(const std::string& sPrompt, const std::string& sTitle, const std::string& sDefault,
                  std::string& sAnswer) override;
    void DoEvents() override;
    bool StartProgram(const std::string& sCommandLine) override;
    bool OpenDocument(const std::string& sPathOrUrl) override;
    void ShowHelp(const std::string& sAnchor) override;
    void ShowCommandLineHelp(const std::string& sTitle, const std::string& sText) override;

    // Message-box calls only.
    std::vector<MessageRequest> Messages() const;
    // The texts of the calls of one kind, in order.
    std::vector<std::string> TextsOf(const std::string& sKind) const;
    void Clear() { Calls.clear(); }

private:
    void Record(const char* sKind, const std::string& sTitle, const std::string& sText);
};

} // namespace UserInteraction
