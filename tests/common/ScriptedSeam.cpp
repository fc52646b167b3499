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

void ScriptedSeam::DoEvents() {
    ++EventsRun;
    if (OnEvents) OnEvents(EventsRun);
}

void ScriptedSeam::Record(const char* sKind, const std::string& sTitle, const std::string& sText) {
    Calls.push_back({sKind, {sTitle, sText, Buttons::OK, Icon::None, 0}});
}
bool ScriptedSeam::StartProgram(const std::string& sCommandLine) {
    Record("StartProgram", "", sCommandLine);
    return StartSucceeds;
}
bool ScriptedSeam::OpenDocument(const std::string& sPathOrUrl) {
    Record("OpenDocument", "", sPathOrUrl);
    return StartSucceeds;
}
void ScriptedSeam::ShowHelp(const std::string& sAnchor) { Record("ShowHelp", "", sAnchor); }
void ScriptedSeam::ShowCommandLineHelp(const std::string& sTitle, const std::string& sText) {
    Record("CommandLineHelp", sTitle, sText);
}

std::vector<std::string> ScriptedSeam::TextsOf(const std::string& sKind) const {
    std::vector<std::string> out;
    for (auto& c : Calls)
        if (c.Kind == sKind) out.push_back(c.Request.Text);
    return out;
}

std::vector<MessageRequest> ScriptedSeam::Messages() const {
    std::vector<MessageRequest> out;
    for (auto& c : Calls)
        if (c.Kind == "MessageBox") out.push_back(c.Request);
    return out;
}

} // namespace UserInteraction
