#include "app/QtHelpers.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPushButton>

namespace QtHelpers {

QString Q(std::string_view sText) { return QString::fromLocal8Bit(sText.data(), static_cast<qsizetype>(sText.size())); }

std::string S(const QString& sText) {
    const QByteArray bytes = sText.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QPushButton* CueCardButton(QWidget* pParent, const QString& sName, const QString& sToolTip, int iWidth) {
    auto* p = new QPushButton("?", pParent);
    p->setObjectName(sName);
    p->setFixedWidth(iWidth);
    p->setToolTip(sToolTip.isEmpty() ? QCoreApplication::translate("QtHelpers", "Help") : sToolTip);
    return p;
}

QHBoxLayout* OkCancelRow(QWidget* pDialog, const QString& sOkCaption, QPushButton*& cmdOk, QPushButton*& cmdCancel,
                         int iStretch) {
    cmdOk = new QPushButton(sOkCaption, pDialog);
    cmdOk->setObjectName("cmdOk");
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QCoreApplication::translate("QtHelpers", "&Cancel"), pDialog);

    cmdCancel->setObjectName("cmdCancel");
    auto* pRow = new QHBoxLayout;
    pRow->addStretch(iStretch);
    pRow->addWidget(cmdOk);
    pRow->addWidget(cmdCancel);
    return pRow;
}

} // namespace QtHelpers
