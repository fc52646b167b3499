#pragma once
// Window placement: centring a window and saving/restoring its placement as the text
// stored in the preferences (FormSize). Lengths given in twips are 1/15 pixel.

#include <string>

class QWidget;

namespace libForms {

constexpr int TwipsPerPixel = 15;
inline int PixelsToTwips(int iPixels) { return iPixels * TwipsPerPixel; }
inline int TwipsToPixels(int iTwips) { return iTwips / TwipsPerPixel; }

// The placement record less its length: show state (1 normal, 2 minimised, 3 maximised),
// maximised position, minimised position, and the normal position's left, top, right, bottom.
struct WindowPlacement {
    int Flags = 0; // 1: the minimised position is to be used
    int ShowCmd = 1;
    int MaxX = -1, MaxY = -1;
    int MinX = -1, MinY = -1;
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// Nine decimal integers joined by ",", in the order of the record.
std::string FormatPlacement(const WindowPlacement& wp);
// Splits the text at ","; every field must be an integer and there must be exactly nine.
// A stored show state of 2 (minimised) becomes 1; Flags = 1 when the minimised x is not -1.
// Returns false (wp untouched) for anything else.
bool ParsePlacement(const std::string& sText, WindowPlacement& wp);

// The window's placement now.
WindowPlacement ReadPlacement(const QWidget* pForm);
// Applies a placement: the normal geometry (kept on a screen), then the show state.
// A window that is not yet visible stays hidden; it appears in that state when shown.
void ApplyPlacement(QWidget* pForm, const WindowPlacement& wp);

// top = (screen height - form height) / 2, left = (screen width - form width) / 2.
void CenterForm(QWidget* pForm);
// The placement text of the window, or "" when there is no window.
std::string GetFormPlacement(const QWidget* pForm);
// Applies a placement text; an empty text, a non-numeric field or not exactly nine fields
// leaves the window where it is.
void SetFormPlacement(QWidget* pForm, const std::string& sText);

} // namespace libForms
