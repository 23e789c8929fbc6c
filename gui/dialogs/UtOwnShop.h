#pragma once

#include "catalogue/Settings.h"
#include "store/RecordSet.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace vantero {

class TMainWindowCalls;

// The user's own shop: the account ("我的旺旺") and the shop's name ("我的店铺名称"), by which own
// pages that name only their shop are recognised.
class TFmOwnShop final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFmOwnShop)
public:
    explicit TFmOwnShop(TMainWindowCalls* main);

    QLineEdit* edtWW = nullptr;
    QLineEdit* edtShopName = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;

public slots:
    void btnSaveClick();
    void btnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void LoadOwnShop();

    TMainWindowCalls* m_main;
    TRecordSet qry;
    TOwnShopValues m_shown; // what the boxes showed when the window opened
};

} // namespace vantero
