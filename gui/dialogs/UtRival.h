#pragma once

#include "store/RecordSet.h"

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTreeWidget;

namespace vantero {

class TMainWindowCalls;
class TShopClient;

// The rival shops dialog: lists the Rival table, adds a shop from its page address, deletes a shop
// with its item mappings and opens a shop's page. Brings the main window up to date after every
// change it makes.
class TFmRival final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFmRival)
public:
    explicit TFmRival(TMainWindowCalls* main, QWidget* parent = nullptr);
    ~TFmRival() override;

    TShopClient& Http() { return *http; }
    QString StatusText() const;

public slots:
    void btnAddClick();
    void btnDelClick();
    void btn1Click();
    void btnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    // The reading stage of adding: true when a row was stored.
    bool AddShop();
    // Refills the list from qry and selects qry's current row.
    void FillList();
    void UpdateCount();
    // Re-reads the table after a failed change, so the list shows what is stored.
    void ReloadAfterFailure();

    TMainWindowCalls* m_main;
    TRecordSet qry;
    std::unique_ptr<TShopClient> http;
    QTreeWidget* dbg = nullptr;
    QLineEdit* edtShopURL = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnDel = nullptr;
    QPushButton* btnClose = nullptr;
    QPushButton* btn1 = nullptr;
    QStatusBar* stat = nullptr;
    QLabel* m_count = nullptr;
    bool m_filling = false;
};

} // namespace vantero
