#pragma once
// Small pieces the Qt layers share: text between the core's local 8-bit std::string and
// QString, the buttons every dialog builds alike, and the message-box names.

#include "support/UserInteraction.h"

#include <QString>

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

class QCoreApplication;
class QHBoxLayout;
class QPushButton;
class QWidget;

namespace QtHelpers {

// The message-box names every window uses, brought in with the rest of these helpers.
using UserInteraction::Answer;
using UserInteraction::Buttons;
using UserInteraction::Icon;
using UserInteraction::MsgBox;

// A core application for a process that made none (the command line, the headless agent), for
// what needs Qt's event loop (the keyring, the system bus); nothing when one exists. The process's
// locale stays what it was (Qt would set the user's), so numbers and dates written before and after
// read the same.
std::unique_ptr<QCoreApplication> MakeCoreApplication();

// Core text (local 8-bit bytes, the whole string) for a widget, as is.
QString Q(std::string_view sText);
// A widget's text as core text (local 8-bit bytes).
std::string S(const QString& sText);

// A small "?" button that opens a help card; an empty tool tip means "Help".
QPushButton* CueCardButton(QWidget* pParent, const QString& sName, const QString& sToolTip = QString(),
                           int iWidth = 26);

// Creates the OK button (the default one, object name "cmdOk") and the "&Cancel" button
// (object name "cmdCancel") of a dialog, and a row that holds them at its right end after a
// stretch of the given factor.
QHBoxLayout* OkCancelRow(QWidget* pDialog, const QString& sOkCaption, QPushButton*& cmdOk, QPushButton*& cmdCancel,
                         int iStretch = 0);

} // namespace QtHelpers
