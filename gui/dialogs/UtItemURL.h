#pragma once

#include "common/WindowMessages.h"
#include "store/RecordSet.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTreeWidget;

namespace vantero {

class TMainWindowCalls;

// "宝贝设置": maps one own item to the matching item of each rival shop, and renames it.
class TFmItemURL final : public QDialog {
    Q_OBJECT
    Q_PROPERTY(QString ItemID MEMBER ItemID)
    Q_PROPERTY(QString ItemName MEMBER ItemName)
    Q_PROPERTY(QString ItemURL MEMBER ItemURL)
public:
    explicit TFmItemURL(TMainWindowCalls* main);

    TWindowHandle Handle() const { return m_registration.handle(); }
    bool Reading() const { return m_readingRow >= 0; }

    QString ItemID;
    QString ItemName;
    QString ItemURL;

    QLineEdit* edtItemName = nullptr;
    QPushButton* btnSaveItemName = nullptr;
    QLabel* lblItemURL = nullptr;
    QTreeWidget* lv = nullptr;
    QLineEdit* edtURL = nullptr;
    QPushButton* btnSet = nullptr;
    QPushButton* btnDel = nullptr;
    QPushButton* btn1 = nullptr;
    QPushButton* btnClose = nullptr;
    QStatusBar* stat = nullptr;
    QLabel* statPanel = nullptr; // the status bar's one panel

public slots:
    void lvClick();
    void btnSetClick();
    void btnDelClick();
    void btn1Click();
    void btnSaveItemNameClick();
    void btnCloseClick();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void FormShow();
    void OnReadItemResult(qintptr wparam, qintptr lparam);
    void SetReading(bool reading);
    void ShowNameInUse();

    TWindowRegistration m_registration{this};
    TMainWindowCalls* m_main;
    TRecordSet qry;
    int m_readingRow = -1; // the list row whose rival is being read; -1 when idle
    QString m_readingURL;  // the address being read, shown in that row when it is stored
    qintptr m_readingToken = 0;
    quint64 m_tokens = 0;
};

} // namespace vantero
