#pragma once
// A window standing in for the main window in the run and copy tests: records what a run shows.

#include "engine/BackupRunOwner.h"
#include "engine/RunState.h"

#include <functional>
#include <string>
#include <vector>

class RecordingOwner : public BackupRunOwner {
public:
    std::vector<std::string> Messages;
    std::string Current;
    bool Lights[4] = {true, false, false, true};
    std::vector<std::string> LightStates; // "idle"/"busy"/"mixed" after each repaint
    std::vector<bool> Pointer;

    void SetMessageText(const std::string& sText) override {
        Current = sText;
        Messages.push_back(sText);
    }
    std::string MessageText() const override { return Current; }
    void SetLight(int iIndex, bool bVisible) override { Lights[iIndex] = bVisible; }
    void Repaint() override {
        if (Lights[0] && !Lights[1] && !Lights[2] && Lights[3])
            LightStates.push_back("idle");
        else if (!Lights[0] && Lights[1] && Lights[2] && !Lights[3])
            LightStates.push_back("busy");
        else
            LightStates.push_back("mixed");
    }
    void SetBusyPointer(bool bBusy) override { Pointer.push_back(bBusy); }
};

// Asks for an abort when a shown text satisfies AbortOn, as a user's click processed between two
// files would.
class AbortingOwner : public RecordingOwner {
public:
    std::function<bool(const std::string&)> AbortOn;
    void SetMessageText(const std::string& sText) override {
        RecordingOwner::SetMessageText(sText);
        if (AbortOn && AbortOn(sText)) RunState::SetAbortRequested(true);
    }
};
