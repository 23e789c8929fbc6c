#include "dialogs/UtAbout.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace vantero {

TFmAbout::TFmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FmAbout"));
    setWindowTitle(QStringLiteral("关于软件"));
    setAccessibleName(windowTitle());

    lb1 = new QLabel(QStringLiteral("Corvessa--Tessaly"), this);
    lb1->setObjectName(QStringLiteral("lb1"));
    lb1->setAccessibleName(lb1->text());
    QFont heading = lb1->font();
    heading.setBold(true);
    heading.setPointSize(20);
    lb1->setFont(heading);

    mmo1 = new QPlainTextEdit(this);
    mmo1->setObjectName(QStringLiteral("mmo1"));
    mmo1->setReadOnly(true);
    mmo1->setPlainText(QStringLiteral("网店商品价格搜集\n让您快速知道您的各位同行各种商品都卖什么价格"));
    mmo1->setAccessibleName(QStringLiteral("网店商品价格搜集"));
    mmo1->setFrameShape(QFrame::NoFrame);
    QFont body = mmo1->font();
    body.setPointSize(14);
    mmo1->setFont(body);
    // Drawn on the dialog's own background, like a caption rather than an edit box.
    QPalette palette = mmo1->palette();
    palette.setColor(QPalette::Base, this->palette().color(QPalette::Window));
    mmo1->setPalette(palette);

    // Added after the listed text: which version this is.
    auto* version = new QLabel(QStringLiteral("版本 %1").arg(QLatin1String(VANTERO_VERSION)), this);
    version->setObjectName(QStringLiteral("lbVersion"));
    version->setAccessibleName(version->text());

    btn1 = new QPushButton(QStringLiteral("确定"), this);
    btn1->setObjectName(QStringLiteral("btn1"));
    btn1->setAccessibleName(btn1->text());
    btn1->setDefault(true);
    connect(btn1, &QPushButton::clicked, this, &TFmAbout::btn1Click);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(version);
    buttonRow->addStretch(1);
    buttonRow->addWidget(btn1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lb1);
    layout->addWidget(mmo1, 1);
    layout->addLayout(buttonRow);
    setFixedSize(526, 291);
}

void TFmAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFmAbout::btn1Click() {
    accept();
}

} // namespace vantero
