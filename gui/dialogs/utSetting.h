#pragma once

#include "store/RecordSet.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace vantero {

class TMainWindowCalls;

// The settings dialog: the auto-update interval. The own shop's fields have a window of their own
// (TFmOwnShop): this one keeps its fixed size.
class TFmSetting final : public QDialog {
    Q_OBJECT
public:
    explicit TFmSetting(TMainWindowCalls* main);

    QLineEdit* edtUpdateTimeOut = nullptr;
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
};

} // namespace vantero
