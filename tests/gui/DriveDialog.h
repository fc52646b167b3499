#pragma once
// Drives the next modal dialog of type D as it is shown: fn works its controls, and a dialog
// that fn leaves open is cancelled, so the command under test always returns.

#include "common/ModalScript.h"

#include <QListWidget>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The texts of a list's lines, top to bottom.
inline std::vector<std::string> Lines(const QListWidget& list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list.count(); ++i)
        lines.push_back(list.item(i)->text().toStdString());
    return lines;
}

template <class D> ModalScript& DriveDialog(ModalScript& script, std::function<void(D&)> fn) {
    return script.Then([fn](QWidget* w) {
        auto* pDialog = qobject_cast<D*>(w);
        if (!pDialog) {
            ADD_FAILURE() << "unexpected modal window " << w->objectName().toStdString();
            w->close();
            return;
        }
        fn(*pDialog);
        if (pDialog->isVisible()) static_cast<QDialog*>(pDialog)->reject();
    });
}
