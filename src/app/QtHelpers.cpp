#include "app/QtHelpers.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPushButton>

#include <clocale>

namespace {
// What a core application is started with: it must outlive it.
int g_iArgc = 1;
char g_sArg0[] = "stowline";
char* g_argv[] = {g_sArg0, nullptr};
} // namespace

namespace QtHelpers {

std::unique_ptr<QCoreApplication> MakeCoreApplication() {
    if (QCoreApplication::instance() != nullptr) return nullptr;
    const char* pLocale = std::setlocale(LC_ALL, nullptr);
    const std::string sLocale = pLocale != nullptr ? pLocale : "C";
    auto pApp = std::make_unique<QCoreApplication>(g_iArgc, g_argv);
    std::setlocale(LC_ALL, sLocale.c_str());
    return pApp;
}

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
