#include "common/ScriptedSeam.h"

namespace UserInteraction {

Answer ScriptedSeam::MessageBox(const MessageRequest& request) {
    Calls.push_back({"MessageBox", request});
    if (!Answers.empty()) {
        Answer a = Answers.front();
        Answers.pop_front();
        return a;
    }
    return (request.ButtonSet == Buttons::YesNo || request.ButtonSet == Buttons::YesNoCancel) ? Answer::Yes
                                                                                              : Answer::OK;
}

bool ScriptedSeam::InputBox(const std::string& sPrompt, const std::string& sTitle, const std::string& sDefault,
                            std::string& sAnswer) {
    Calls.push_back({"InputBox", {sTitle, sPrompt, Buttons::OKCancel, Icon::None, 0}});
    (void)sDefault;
    if (Inputs.empty()) {
        sAnswer.clear();
        return false;
    }
    sAnswer = Inputs.front();
    Inputs.pop_front();
    return true;
}

void ScriptedSeam::DoEvents() { ++EventsRun; }

bool ScriptedSeam::StartProgram(const std::string& sCommandLine) {
    Calls.push_back({"StartProgram", {"", sCommandLine, Buttons::OK, Icon::None, 0}});
    return StartSucceeds;
}

bool ScriptedSeam::OpenDocument(const std::string& sPathOrUrl) {
    Calls.push_back({"OpenDocument", {"", sPathOrUrl, Buttons::OK, Icon::None, 0}});
    return StartSucceeds;
}

void ScriptedSeam::ShowHelp(const std::string& sAnchor) {
    Calls.push_back({"ShowHelp", {"", sAnchor, Buttons::OK, Icon::None, 0}});
}

void ScriptedSeam::ShowCommandLineHelp(const std::string& sTitle, const std::string& sText) {
    Calls.push_back({"CommandLineHelp", {sTitle, sText, Buttons::OK, Icon::None, 0}});
}

std::vector<MessageRequest> ScriptedSeam::Messages() const {
    std::vector<MessageRequest> out;
    for (auto& c : Calls)
        if (c.Kind == "MessageBox") out.push_back(c.Request);
    return out;
}

} // namespace UserInteraction
