#pragma once
// A window standing in for the main window in the run and copy tests: records what a run shows.

#include "engine/BackupRunOwner.h"

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
