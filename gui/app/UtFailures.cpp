#include "app/UtFailures.h"

#include "app/UtMain.h"
#include "catalogue/ItemCommands.h"
#include "common/TextHelpers.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiWidgets.h"
#include "widgets/UiWindowSize.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vantero {

TFmFailures::TFmFailures(TFmMain* main) : QDialog(main), m_main(main) {
    setObjectName(QStringLiteral("FmFailures"));
    setWindowTitle(FailureTexts::Caption);
    setAccessibleName(FailureTexts::Caption);
    FitOnScreen(this, QSize(1120, 420));
    auto* layout = new QVBoxLayout(this);
    lbCount = new QLabel(this);
    lbCount->setObjectName(QStringLiteral("lbCount"));
    layout->addWidget(lbCount);
    lvFailures = NewRowList(this, QStringLiteral("lvFailures"), FailureTexts::Caption);
    lvFailures->setColumnCount(7);
    lvFailures->setHeaderLabels({QStringLiteral("序号"), QStringLiteral("宝贝名称"), QStringLiteral("店主"),
                                 QStringLiteral("最后成功读取"), QStringLiteral("连续失败次数"),
                                 QStringLiteral("失败原因"), QStringLiteral("最后读取时间")});
    const int widths[] = {50, 260, 100, 150, 90, 330};
    for (int i = 0; i < 6; ++i)
        lvFailures->setColumnWidth(i, widths[i]);
    lvFailures->header()->setStretchLastSection(true);
    layout->addWidget(lvFailures, 1);
    auto* buttons = new QHBoxLayout;
    auto addButton = [this, buttons](const QString& name, const QString& caption) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(name);
        button->setAccessibleName(caption);
        buttons->addWidget(button);
        return button;
    };
    btnRead = addButton(QStringLiteral("btnRead"), QStringLiteral("重新读取"));
    btnOpen = addButton(QStringLiteral("btnOpen"), QStringLiteral("打开页面"));
    btnReadAll = addButton(QStringLiteral("btnReadAll"), QStringLiteral("全部重新读取"));
    buttons->addStretch(1);
    QPushButton* btnClose = addButton(QStringLiteral("btnClose"), QStringLiteral("关闭"));
    layout->addLayout(buttons);
    connect(btnRead, &QPushButton::clicked, this, &TFmFailures::btnReadClick);
    connect(btnOpen, &QPushButton::clicked, this, &TFmFailures::btnOpenClick);
    connect(btnReadAll, &QPushButton::clicked, this, &TFmFailures::btnReadAllClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(lvFailures, &QTreeWidget::itemDoubleClicked, this, &TFmFailures::btnReadClick);
    Reload();
}

void TFmFailures::Reload() {
    RunReported(this, [this] { m_pages = LoadFailedPages(m_main->Data().con); });
    lvFailures->clear();
    int number = 0;
    for (const TFailedPage& page : std::as_const(m_pages)) {
        const TPageStatus& s = page.Status;
        auto* line = new QTreeWidgetItem(
            lvFailures, {QString::number(++number), page.ItemName, page.Shop,
                         s.LastSuccess.isValid() ? FormatDateTime(s.LastSuccess) : OutcomeTexts::NeverSucceeded,
                         QString::number(s.FailedInRow), s.Reason(), FormatDateTime(s.LastAttempt)});
        line->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        line->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
        line->setToolTip(1, page.ReadAddress);
        // On a narrow window the reason lies beyond the edge; pointing at the row shows it.
        for (int column : {0, 2, 3, 4, 5, 6})
            line->setToolTip(column, s.Reason());
    }
    const QString count = m_pages.isEmpty() ? FailureTexts::None : FailureTexts::Count.arg(m_pages.size());
    lbCount->setText(count);
    lbCount->setAccessibleName(count);
    btnRead->setEnabled(!m_pages.isEmpty());
    btnOpen->setEnabled(!m_pages.isEmpty());
    btnReadAll->setEnabled(!m_pages.isEmpty());
    if (!m_pages.isEmpty())
        lvFailures->setCurrentItem(lvFailures->topLevelItem(0));
}

int TFmFailures::SelectedPage() const {
    const QList<QTreeWidgetItem*> selected = lvFailures->selectedItems();
    return selected.isEmpty() ? -1 : lvFailures->indexOfTopLevelItem(selected.first());
}

int TFmFailures::ReadPage(const TFailedPage& page) {
    const bool own = TrimBlanks(page.Status.RivalWW).isEmpty();
    const QString account = own ? m_main->Data().OwnAccount : TrimBlanks(page.Status.RivalWW);
    // Read as the updater reads it: the own item's stored address, the mapping's address.
    const QString address = own ? page.ReadAddress : TrimBlanks(page.ReadAddress);
    return m_main->ReadPageWaiting(address, own ? QString() : page.Status.LocalItemID, account,
                                   page.Status.LocalItemID);
}

void TFmFailures::btnReadClick() {
    const int at = SelectedPage();
    if (at < 0 || at >= m_pages.size()) {
        ShowInfoBox(this, FailureTexts::SelectFirst);
        return;
    }
    const int code = ReadPage(m_pages[at]);
    if (code < 0)
        return;
    const QString message = ReadResultMessage(code);
    if (!message.isEmpty())
        ShowInfoBox(this, message);
    Reload();
}

void TFmFailures::btnReadAllClick() {
    const QList<TFailedPage> pages = m_pages;
    for (const TFailedPage& page : pages) {
        if (ReadPage(page) < 0)
            break; // "取消" ends the round; the cancelled reading still stores its result
    }
    Reload();
}

void TFmFailures::btnOpenClick() {
    const int at = SelectedPage();
    if (at < 0 || at >= m_pages.size()) {
        ShowInfoBox(this, FailureTexts::SelectFirst);
        return;
    }
    const QString address = TrimBlanks(m_pages[at].ReadAddress);
    if (address.isEmpty())
        ShowInfoBox(this, FailureTexts::NoAddress);
    else
        OpenAddress(address);
}

} // namespace vantero
