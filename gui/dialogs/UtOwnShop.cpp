#include "dialogs/UtOwnShop.h"

#include "dialogs/MainWindowCalls.h"
#include "widgets/UiMessageBoxes.h"

#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

namespace vantero {

TFmOwnShop::TFmOwnShop(TMainWindowCalls* main)
    : QDialog(main->DialogParent()), m_main(main), qry(main->MainData().con) {
    setObjectName(QStringLiteral("FmOwnShop"));
    setWindowTitle(OwnShopTexts::Caption);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* wwLabel = new QLabel(OwnShopTexts::OwnAccountLabel, this);
    edtWW = new QLineEdit(this);
    edtWW->setObjectName(QStringLiteral("edtWW"));
    edtWW->setAccessibleName(OwnShopTexts::OwnAccountLabel);
    wwLabel->setBuddy(edtWW);
    auto* shopLabel = new QLabel(OwnShopTexts::ShopNameLabel, this);
    edtShopName = new QLineEdit(this);
    edtShopName->setObjectName(QStringLiteral("edtShopName"));
    edtShopName->setAccessibleName(OwnShopTexts::ShopNameLabel);
    edtShopName->setAccessibleDescription(QStringLiteral("宝贝页面只写店铺名称、不写旺旺名时，用它认出您自己的宝贝"));
    shopLabel->setBuddy(edtShopName);

    btnSave = new QPushButton(SettingTexts::Save, this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setAccessibleName(SettingTexts::Save);
    btnSave->setDefault(true);
    btnClose = new QPushButton(SettingTexts::Cancel, this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAccessibleName(SettingTexts::Cancel);

    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->addRow(wwLabel, edtWW);
    fields->addRow(shopLabel, edtShopName);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addStretch();
    layout->addLayout(buttons);
    setMinimumWidth(320);
    adjustSize();
    setFixedSize(size());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connect(btnSave, &QPushButton::clicked, this, &TFmOwnShop::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &TFmOwnShop::btnCloseClick);
}

void TFmOwnShop::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunReported(this, [this] { LoadOwnShop(); });
}

void TFmOwnShop::LoadOwnShop() {
    m_shown = vantero::LoadOwnShop(qry, m_main->MainData().OwnAccount);
    edtWW->setText(m_shown.ownAccount);
    edtShopName->setText(m_shown.shopName);
}

void TFmOwnShop::btnSaveClick() {
    const TOwnShopChange change = OwnShopChanges(m_shown, edtWW->text(), edtShopName->text());
    if (!RunReported(this, [&] { StoreOwnShop(qry, change); }))
        return;
    if (change.ownAccount)
        m_main->OwnAccountSaved(*change.ownAccount);
    ShowPlainBox(this, SettingTexts::Saved);
    accept();
}

void TFmOwnShop::btnCloseClick() {
    reject();
}

} // namespace vantero
