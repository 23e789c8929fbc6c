#include "dialogs/UtItemURL.h"

#include "catalogue/ItemCommands.h"
#include "common/TextHelpers.h"
#include "dialogs/MainWindowCalls.h"
#include "reader/UtReadItemThr.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiWidgets.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vantero {

namespace {

const QString kReadingStatus = QStringLiteral("正在读取宝贝，请稍候...");
const QString kChooseRival = QStringLiteral("请先点击您要设置的同行．");
const QString kNameInUse = QStringLiteral("现在使用的名称：%1");
enum { kNumberColumn, kAccountColumn, kAddressColumn };

} // namespace

TFmItemURL::TFmItemURL(TMainWindowCalls* main)
    : QDialog(main->DialogParent()), m_main(main), qry(main->MainData().con) {
    setObjectName(QStringLiteral("FmItemURL"));
    setWindowTitle(QStringLiteral("宝贝设置"));
    setAccessibleName(windowTitle());
    // No close box: a running reading must report back to an open dialog.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(702, 380);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 0);

    auto* nameLine = new QHBoxLayout;
    auto* nameLabel = new QLabel(QStringLiteral("宝贝名称"), this);
    edtItemName = new QLineEdit(this);
    edtItemName->setObjectName(QStringLiteral("edtItemName"));
    edtItemName->setAccessibleName(nameLabel->text());
    nameLabel->setBuddy(edtItemName);
    btnSaveItemName = new QPushButton(QStringLiteral("确认更改名称"), this);
    btnSaveItemName->setObjectName(QStringLiteral("btnSaveItemName"));
    btnSaveItemName->setAccessibleName(btnSaveItemName->text());
    // Enter in the name box must not replace a custom name with the title the box starts with.
    btnSaveItemName->setAutoDefault(false);
    nameLine->addWidget(nameLabel);
    nameLine->addWidget(edtItemName, 1);
    nameLine->addWidget(btnSaveItemName);
    layout->addLayout(nameLine);

    auto* urlLine = new QHBoxLayout;
    auto* urlLabel = new QLabel(QStringLiteral("宝贝地址"), this);
    lblItemURL = new QLabel(this);
    lblItemURL->setObjectName(QStringLiteral("lblItemURL"));
    lblItemURL->setAccessibleDescription(urlLabel->text());
    lblItemURL->setTextFormat(Qt::RichText);
    lblItemURL->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    lblItemURL->setCursor(Qt::PointingHandCursor);
    urlLine->addWidget(urlLabel);
    urlLine->addWidget(lblItemURL, 1);
    layout->addLayout(urlLine);

    lv = NewRowList(this, QStringLiteral("lv"), QStringLiteral("同行宝贝地址列表"));
    lv->setUniformRowHeights(true);
    lv->setAllColumnsShowFocus(true);
    lv->setHeaderLabels({QStringLiteral("序号"), QStringLiteral("对手店主"), QStringLiteral("宝贝地址")});
    lv->setColumnWidth(kNumberColumn, 50);
    lv->setColumnWidth(kAccountColumn, 150);
    lv->header()->setStretchLastSection(true);
    ShowGridLines(lv);
    layout->addWidget(lv, 1);

    auto* addressLine = new QHBoxLayout;
    auto* addressLabel = new QLabel(QStringLiteral("请输入同行的宝贝地址"), this);
    edtURL = new QLineEdit(this);
    edtURL->setObjectName(QStringLiteral("edtURL"));
    edtURL->setAccessibleName(addressLabel->text());
    addressLabel->setBuddy(edtURL);
    addressLine->addWidget(addressLabel);
    addressLine->addWidget(edtURL, 1);
    layout->addLayout(addressLine);

    auto* buttons = new QHBoxLayout;
    auto addButton = [this, buttons](const QString& name, const QString& caption) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(name);
        button->setAccessibleName(caption);
        button->setAutoDefault(false);
        buttons->addWidget(button);
        return button;
    };
    btnSet = addButton(QStringLiteral("btnSet"), QStringLiteral("设置"));
    btnDel = addButton(QStringLiteral("btnDel"), QStringLiteral("删除"));
    btn1 = addButton(QStringLiteral("btn1"), QStringLiteral("访问该同行店铺"));
    buttons->addStretch(1);
    btnClose = addButton(QStringLiteral("btnClose"), QStringLiteral("关闭"));
    layout->addLayout(buttons);

    stat = new QStatusBar(this);
    stat->setObjectName(QStringLiteral("stat"));
    stat->setSizeGripEnabled(false);
    statPanel = new QLabel(stat);
    statPanel->setObjectName(QStringLiteral("statPanel0"));
    // Without a fixed accessible name the label exposes its shown text.
    statPanel->setAccessibleDescription(QStringLiteral("状态栏"));
    stat->addWidget(statPanel, 1);
    layout->addWidget(stat);

    connect(lv, &QTreeWidget::itemClicked, this, &TFmItemURL::lvClick);
    connect(lblItemURL, &QLabel::linkActivated, this, [this] { OpenAddress(ItemURL); });
    connect(btnSaveItemName, &QPushButton::clicked, this, &TFmItemURL::btnSaveItemNameClick);
    connect(edtItemName, &QLineEdit::returnPressed, this, [this] {
        if (edtItemName->text() != ItemName)
            btnSaveItemNameClick();
    });
    connect(btnSet, &QPushButton::clicked, this, &TFmItemURL::btnSetClick);
    connect(edtURL, &QLineEdit::returnPressed, this, [this] {
        if (btnSet->isEnabled())
            btnSet->click();
    });
    connect(btnDel, &QPushButton::clicked, this, &TFmItemURL::btnDelClick);
    connect(btn1, &QPushButton::clicked, this, &TFmItemURL::btn1Click);
    connect(btnClose, &QPushButton::clicked, this, &TFmItemURL::btnCloseClick);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFmItemURL::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFmItemURL::FormShow() {
    edtItemName->setText(ItemName);
    ShowNameInUse();
    lblItemURL->setText(QStringLiteral("<a href=\"#\">%1</a>").arg(ItemURL.toHtmlEscaped()));
    lblItemURL->setAccessibleName(ItemURL); // the address itself, not the link's markup
    lv->clear();
    RunReported(this, [this] {
        OpenMappings(qry, ItemID);
        for (const QStringList& texts : MappingRows(qry, m_main->MainData().RivalAccounts)) {
            auto* row = new QTreeWidgetItem(lv, texts);
            row->setTextAlignment(kNumberColumn, Qt::AlignRight | Qt::AlignVCenter);
        }
    });
    btnSet->setEnabled(true);
    btnClose->setEnabled(true);
}

void TFmItemURL::lvClick() {
    const QList<QTreeWidgetItem*> selected = lv->selectedItems();
    if (selected.isEmpty())
        return;
    const QString address = TrimBlanks(selected.first()->text(kAddressColumn));
    // Measured as in the program's double-byte code page, so "未设置" (6 bytes) empties the box.
    qsizetype bytes = 0;
    for (QChar c : address)
        bytes += c.unicode() < 0x80 ? 1 : 2;
    edtURL->setText(bytes > 8 ? address : QString());
}

void TFmItemURL::btnSetClick() {
    QTreeWidgetItem* current = lv->currentItem();
    if (!current) {
        ShowPlainBox(this, kChooseRival);
        return;
    }
    const QString address = TrimBlanks(edtURL->text());
    if (address.isEmpty())
        return;
    const int row = lv->indexOfTopLevelItem(current);
    const QString account = TrimBlanks(m_main->MainData().RivalAccounts.value(row));

    auto* reader = new TReadItem(m_main->MainData().con);
    reader->URL = address;
    reader->TargetWnd = Handle();
    reader->LocalItemID = ItemID;
    reader->ExpectedSeller = account;
    reader->FreeWhenDone = true;
    reader->ResultMsg = WM_READITEM_RESULT;
    reader->Token = qintptr(++m_tokens);
    m_readingToken = reader->Token;
    m_readingRow = row;
    m_readingURL = address;
    reader->start(); // releases itself; not touched after this
    SetReading(true);
}

void TFmItemURL::SetReading(bool reading) {
    for (QPushButton* button : {btnSet, btnDel, btnClose})
        button->setEnabled(!reading);
    statPanel->setText(reading ? kReadingStatus : QString());
}

void TFmItemURL::customEvent(QEvent* event) {
    if (event->type() != TWindowMessageEvent::eventType()) {
        QDialog::customEvent(event);
        return;
    }
    const auto* message = static_cast<TWindowMessageEvent*>(event);
    if (message->Msg == WM_READITEM_RESULT)
        OnReadItemResult(message->WParam, message->LParam);
}

void TFmItemURL::OnReadItemResult(qintptr wparam, qintptr lparam) {
    if (!Reading() || lparam != m_readingToken)
        return;
    const int row = m_readingRow;
    m_readingRow = -1;
    SetReading(false);
    const QString message = ReadResultMessage(int(wparam));
    if (!message.isEmpty()) {
        ShowErrorBox(this, message);
        return;
    }
    // The address that was read and stored (the box may have been edited meanwhile), in every
    // row of that rival: a rival listed twice shows the same mapping in both rows.
    const QString account = lv->topLevelItem(row)->text(kAccountColumn);
    for (int i = 0; i < lv->topLevelItemCount(); ++i) {
        QTreeWidgetItem* line = lv->topLevelItem(i);
        if (line->text(kAccountColumn).compare(account, Qt::CaseInsensitive) == 0)
            line->setText(kAddressColumn, m_readingURL);
    }
}

void TFmItemURL::btnDelClick() {
    const QList<QTreeWidgetItem*> selected = lv->selectedItems();
    if (selected.isEmpty())
        return;
    const QString account = TrimBlanks(selected.first()->text(kAccountColumn));
    if (!RunReported(this, [this, &account] { DeleteMapping(m_main->MainData().con, ItemID, account); }))
        return;
    edtURL->clear();
    for (int i = 0; i < lv->topLevelItemCount(); ++i) {
        QTreeWidgetItem* line = lv->topLevelItem(i);
        if (line->text(kAccountColumn).compare(account, Qt::CaseInsensitive) == 0)
            line->setText(kAddressColumn, ItemTexts::MappingNotSet);
    }
}

void TFmItemURL::btn1Click() {
    const QList<QTreeWidgetItem*> selected = lv->selectedItems();
    if (selected.isEmpty())
        return;
    const QString address =
        TrimBlanks(m_main->MainData().RivalShopURLs.value(lv->indexOfTopLevelItem(selected.first())));
    if (!address.isEmpty())
        OpenAddress(address);
}

void TFmItemURL::ShowNameInUse() {
    const TGridData& grid = m_main->MainData().grid;
    QString inUse = ItemName;
    for (int row = 0; row < grid.rowCount(); ++row) {
        const TItem& item = grid.item(row);
        if (item.ItemID == ItemID) {
            inUse = TGridData::DisplayName(item.CustomItemName, item.ItemName);
            break;
        }
    }
    edtItemName->setToolTip(kNameInUse.arg(inUse));
}

void TFmItemURL::btnSaveItemNameClick() {
    const QString name = TrimBlanks(edtItemName->text());
    if (RunReported(this, [this, &name] { m_main->RenameItem(ItemID, name); }))
        ShowNameInUse();
}

void TFmItemURL::btnCloseClick() {
    if (!Reading())
        QDialog::reject();
}

void TFmItemURL::reject() {
    // Escape and the window manager close only an idle dialog.
    if (!Reading())
        QDialog::reject();
}

void TFmItemURL::closeEvent(QCloseEvent* event) {
    if (Reading()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace vantero
