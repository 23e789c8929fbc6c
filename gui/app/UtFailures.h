#pragma once

#include "store/PageOutcomes.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vantero {

class TFmMain;

// Texts of the failure list.
namespace FailureTexts {
inline const QString Caption = QStringLiteral("读取失败的宝贝");
inline const QString Count = QStringLiteral("共 %1 个页面最后一次读取失败");
inline const QString None = QStringLiteral("所有页面最后一次读取都已成功");
inline const QString SelectFirst = QStringLiteral("请先选择需要处理的宝贝");
inline const QString NoAddress = QStringLiteral("该页面没有地址");
} // namespace FailureTexts

// "读取失败的宝贝": every page of the catalogue whose last attempt failed, with its item, shop,
// last success, failures in a row and reason. Pages are re-read one at a time with the main
// window's single reading (its wait dialog); the list then shows what still fails.
class TFmFailures final : public QDialog {
    Q_OBJECT
public:
    explicit TFmFailures(TFmMain* main);

    void Reload();
    const QList<TFailedPage>& Pages() const { return m_pages; }
    QTreeWidget* List() const { return lvFailures; }

public slots:
    void btnReadClick();    // "重新读取": the selected page
    void btnReadAllClick(); // "全部重新读取": every listed page; "取消" in a wait ends the round
    void btnOpenClick();    // "打开页面"

private:
    int SelectedPage() const;
    // Reads one page; -1 when its wait was cancelled.
    int ReadPage(const TFailedPage& page);

    TFmMain* m_main;
    QList<TFailedPage> m_pages;
    QTreeWidget* lvFailures = nullptr;
    QLabel* lbCount = nullptr;
    QPushButton* btnRead = nullptr;
    QPushButton* btnReadAll = nullptr;
    QPushButton* btnOpen = nullptr;
};

} // namespace vantero
