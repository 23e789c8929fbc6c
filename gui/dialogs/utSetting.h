#pragma once

#include "store/RecordSet.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace vantero {

class TMainWindowCalls;

// The settings dialog: the auto-update interval and the user's own shop account.
class TFmSetting final : public QDialog {
    Q_OBJECT
public:
    explicit TFmSetting(TMainWindowCalls* main);

    QLineEdit* edtUpdateTimeOut = nullptr;
    QLineEdit* edtWW = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;

public slots:
    void btnSaveClick();
    void btnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void LoadSettings();

    TMainWindowCalls* m_main;
    TRecordSet qry;
    bool m_rowExists = false;
    QString m_shownAccount; // what the account box showed when the dialog opened
};

} // namespace vantero
