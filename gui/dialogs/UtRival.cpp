#include "dialogs/UtRival.h"

#include "catalogue/ShopClient.h"
#include "catalogue/ShopPage.h"
#include "common/TextHelpers.h"
#include "dialogs/MainWindowCalls.h"
#include "store/DatabaseError.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiWidgets.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vantero {

namespace {

// Texts of the window.
const QString kCaption = QStringLiteral("添加对手店铺");
const QString kAddressLabel = QStringLiteral("请输入对手店铺地址");
const QString kListName = QStringLiteral("对手店铺");
const QString kAdd = QStringLiteral("添加对手");
const QString kDelete = QStringLiteral("删除所选对手");
const QString kClose = QStringLiteral("关闭");
const QString kView = QStringLiteral("查看店铺");

struct TListColumn {
    QString title;
    QString field;
    int width;
};
const TListColumn kColumns[] = {
    {QStringLiteral("店主"), QStringLiteral("RivalWW"), 120},
    {QStringLiteral("店铺等级"), QStringLiteral("ShopClass"), 80},
    {QStringLiteral("店铺名称"), QStringLiteral("ShopName"), 200},
    {QStringLiteral("店铺地址"), QStringLiteral("ShopURL"), 260},
};

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TFmRival::TFmRival(TMainWindowCalls* main, QWidget* parent)
    : QDialog(parent ? parent : main->DialogParent()), m_main(main), qry(main->MainData().con),
      http(std::make_unique<TShopClient>()) {
    setObjectName(QStringLiteral("FmRival"));
    setWindowTitle(kCaption);
    setAccessibleName(kCaption);

    dbg = NewRowList(this, QStringLiteral("dbg"), kListName);
    dbg->setColumnCount(int(std::size(kColumns)));
    QStringList titles;
    for (const TListColumn& column : kColumns)
        titles << column.title;
    dbg->setHeaderLabels(titles);
    for (int i = 0; i < int(std::size(kColumns)); ++i)
        dbg->setColumnWidth(i, kColumns[i].width);
    // The list follows the record set: its current row is the one deleted or viewed.
    connect(dbg, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!m_filling && item)
            qry.MoveTo(dbg->indexOfTopLevelItem(item));
    });

    auto* label = new QLabel(kAddressLabel, this);
    label->setAccessibleName(kAddressLabel);
    edtShopURL = new QLineEdit(this);
    edtShopURL->setObjectName(QStringLiteral("edtShopURL"));
    edtShopURL->setAccessibleName(kAddressLabel);
    label->setBuddy(edtShopURL);

    btnAdd = MakeButton(this, QStringLiteral("btnAdd"), kAdd);
    btnDel = MakeButton(this, QStringLiteral("btnDel"), kDelete);
    btn1 = MakeButton(this, QStringLiteral("btn1"), kView);
    btnClose = MakeButton(this, QStringLiteral("btnClose"), kClose);
    connect(btnAdd, &QPushButton::clicked, this, &TFmRival::btnAddClick);
    connect(edtShopURL, &QLineEdit::returnPressed, this, [this] {
        if (btnAdd->isEnabled())
            btnAdd->click();
    });
    connect(btnDel, &QPushButton::clicked, this, &TFmRival::btnDelClick);
    connect(btn1, &QPushButton::clicked, this, &TFmRival::btn1Click);
    connect(btnClose, &QPushButton::clicked, this, &TFmRival::btnCloseClick);

    stat = new QStatusBar(this);
    stat->setObjectName(QStringLiteral("stat"));
    stat->setSizeGripEnabled(false);
    m_count = new QLabel(stat);
    m_count->setObjectName(QStringLiteral("statPanel0"));
    stat->addWidget(m_count, 1);

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(label);
    addressRow->addWidget(edtShopURL, 1);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(btnAdd);
    buttonRow->addWidget(btnDel);
    buttonRow->addWidget(btn1);
    buttonRow->addStretch(1);
    buttonRow->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(dbg, 1);
    auto* panel = new QVBoxLayout;
    panel->setContentsMargins(8, 4, 8, 0);
    panel->addLayout(addressRow);
    panel->addLayout(buttonRow);
    layout->addLayout(panel);
    layout->addWidget(stat);

    setFixedSize(701, 363);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TFmRival::~TFmRival() = default;

QString TFmRival::StatusText() const {
    return m_count->text();
}

void TFmRival::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFmRival::FormShow() {
    edtShopURL->clear();
    RunReported(this, [this] { qry.Reopen(kSelectRivalShops); });
    FillList();
    UpdateCount();
}

void TFmRival::FillList() {
    m_filling = true;
    const int current = qry.RecNo();
    dbg->clear();
    QList<QTreeWidgetItem*> items;
    for (int row = 0; row < qry.RecordCount(); ++row) {
        qry.MoveTo(row);
        QStringList texts;
        for (const TListColumn& column : kColumns)
            texts << qry.AsString(column.field);
        items << new QTreeWidgetItem(texts);
    }
    dbg->addTopLevelItems(items);
    qry.MoveTo(current);
    if (current < items.size())
        dbg->setCurrentItem(items[current]);
    m_filling = false;
}

void TFmRival::UpdateCount() {
    m_count->setText(RivalCountText(qry.RecordCount()));
}

void TFmRival::ReloadAfterFailure() {
    RunReported(this, [this] { qry.Reopen(kSelectRivalShops); });
    FillList();
    UpdateCount();
}

bool TFmRival::AddShop() {
    TAddRivalResult result;
    bool refused = false;
    QString refusal;
    QWidget* focused = focusWidget();
    // The download waits on this thread: the window repaints meanwhile but takes no input.
    setEnabled(false);
    try {
        result = AddRival(*http, qry, edtShopURL->text());
    } catch (const TDatabaseError& e) {
        refused = true;
        refusal = e.text();
    } catch (const std::exception& e) {
        refused = true;
        refusal = QString::fromUtf8(e.what());
    }
    // Input held back during the download is delivered now, to a disabled window, and so dropped.
    QCoreApplication::processEvents();
    setEnabled(true);
    if (focused)
        focused->setFocus();

    if (refused) {
        ShowErrorBox(this, refusal);
        ReloadAfterFailure();
        return false;
    }
    switch (result.outcome) {
    case TAddRivalResult::Outcome::Stored:
        FillList();
        UpdateCount();
        return true;
    case TAddRivalResult::Outcome::DecodeFailed:
        ShowErrorBox(this, result.message);
        return false;
    default:
        ShowPlainBox(this, result.message);
        return false;
    }
}

void TFmRival::btnAddClick() {
    if (!AddShop())
        return;
    RunReported(this, [this] {
        m_main->RivalsChanged();
        ShowInfoBox(this, RivalTexts::Added);
    });
}

void TFmRival::btnDelClick() {
    if (qry.RecordCount() == 0) {
        ShowInfoBox(this, RivalTexts::NoRivals);
        return;
    }
    const QString name = TrimBlanks(qry.AsString(QStringLiteral("RivalWW")));
    if (!AskYesNo(this, RivalTexts::AskDelete.arg(name), false))
        return;
    if (!AskYesNo(this, RivalTexts::ConfirmDelete.arg(name), true))
        return;
    if (!RunReported(this, [this] {
            TRecordSet mappings(m_main->MainData().con);
            DeleteRival(mappings, qry);
        })) {
        ReloadAfterFailure();
        return;
    }
    FillList();
    UpdateCount();
    RunReported(this, [this] { m_main->RivalsChanged(); });
}

void TFmRival::btn1Click() {
    if (qry.RecordCount() == 0)
        return;
    OpenAddress(TrimBlanks(qry.AsString(QStringLiteral("ShopURL"))));
}

void TFmRival::btnCloseClick() {
    close();
}

} // namespace vantero
