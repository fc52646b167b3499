#pragma once
// The about box: program and zip engine versions, the maker's links and a few buttons.

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPushButton;

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    // Where the links lead.
    static constexpr const char* HomePageUrl = "https://stowline.org/";
    static constexpr const char* SupportMailUrl = "mailto:support@stowline.org";
    static constexpr const char* SourceDownloadUrl = "https://stowline.org/download/stowline-source.tar.gz";
    static constexpr const char* LicenseUrl = "https://stowline.org/license.html";

    // "Stowline <major>.<minor> (Bld <patch>)".
    static std::string TitleText();
    // "ZIP dll version: " + the zip engine's version text, printable characters only.
    static std::string ZipVersionText();

    QLabel* lblTitle = nullptr;
    QLabel* lblFor = nullptr;
    QLabel* lblZipVer = nullptr;
    std::vector<QLabel*> lblPenalty;
    QLabel* lblMailTo = nullptr;
    QLabel* lblWebsite = nullptr;
    QPushButton* cmdErrorLog = nullptr;
    QPushButton* cmdTechSupport = nullptr;
    QPushButton* cmdThankYou = nullptr;
    QPushButton* cmdClose = nullptr;

    void cmdErrorLog_Click();
    void cmdTechSupport_Click();
    void cmdThankYou_Click();
    void cmdClose_Click();
    void lblMailTo_Click();
    void lblWebsite_Click();

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void Form_Load();
};
