#include "ui/frmLogComment.h"

#include "app/QtHelpers.h"
#include "support/libLog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace QtHelpers;

frmLogComment::frmLogComment(QWidget* parent) : QDialog(parent) {
    setObjectName("frmLogComment");
    setWindowTitle(tr("Add transaction log comment"));
    setWindowIcon(QIcon(":/icons/stowline.svg"));
    setModal(true);

    lblPrompt = new QLabel(tr("Add transaction log comment"), this);
    lblPrompt->setObjectName("lblPrompt");
    lblPrompt->setTextFormat(Qt::PlainText);
    txtComment = new QLineEdit(this);
    txtComment->setObjectName("txtComment");
    txtComment->setMinimumWidth(420);
    QHBoxLayout* buttons = OkCancelRow(this, tr("&Ok"), cmdOk, cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblPrompt);
    layout->addWidget(txtComment);
    layout->addLayout(buttons);

    connect(cmdOk, &QPushButton::clicked, this, &frmLogComment::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLogComment::cmdCancel_Click);
}

void frmLogComment::Prepare(const std::string& sCaption) {
    setWindowTitle(Q(sCaption));
    lblPrompt->setText(Q(sCaption));
    m_sEntered.clear();
    m_bCancelled = false;
    txtComment->clear();
    txtComment->setFocus();
}

void frmLogComment::cmdOk_Click() {
    m_sEntered = S(txtComment->text());
    hide();
    done(QDialog::Accepted);
}

void frmLogComment::cmdCancel_Click() {
    m_bCancelled = true;
    hide();
    done(QDialog::Rejected);
}

// Escape and the window's close button count as Cancel.
void frmLogComment::reject() {
    m_bCancelled = true;
    QDialog::reject();
}

bool frmLogComment::GetPromptedText(std::string& sText, const std::string& sCaption) {
    Prepare(sCaption);
    exec();
    if (m_bCancelled) {
        sText.clear();
        return false;
    }
    size_t first = m_sEntered.find_first_not_of(' ');
    size_t last = m_sEntered.find_last_not_of(' ');
    sText = first == std::string::npos ? std::string() : m_sEntered.substr(first, last - first + 1);
    return true;
}

void frmLogComment::GetComment() {
    Prepare(S(tr("Add transaction log comment")));

    exec();
    if (!m_bCancelled && !m_sEntered.empty()) libLog::LogEvent(m_sEntered);
}
