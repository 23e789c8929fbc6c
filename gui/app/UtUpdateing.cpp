#include "app/UtUpdateing.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace vantero {

TFmUpdateing::TFmUpdateing(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FmUpdateing"));
    setWindowTitle(QStringLiteral("正在读取..."));
    setAccessibleName(windowTitle());
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(389, 138);

    lbTip = new QLabel(QStringLiteral("正在读取，请稍候..."), this);
    lbTip->setObjectName(QStringLiteral("lbTip"));
    lbTip->setAlignment(Qt::AlignCenter);
    lbTip->setWordWrap(true);
    lbTip->setGeometry(16, 24, 357, 40);

    btn1 = new QPushButton(QStringLiteral("取消"), this);
    btn1->setObjectName(QStringLiteral("btn1"));
    btn1->setAccessibleName(btn1->text());
    btn1->setGeometry(157, 88, 75, 25);
    connect(btn1, &QPushButton::clicked, this, &TFmUpdateing::btn1Click);

    btnStopAll = new QPushButton(QStringLiteral("全部停止"), this);
    btnStopAll->setObjectName(QStringLiteral("btnStopAll"));
    btnStopAll->setAccessibleName(btnStopAll->text());
    btnStopAll->setAutoDefault(false);
    btnStopAll->setGeometry(202, 88, 75, 25);
    btnStopAll->hide();
    connect(btnStopAll, &QPushButton::clicked, this, &TFmUpdateing::btnStopAllClick);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFmUpdateing::OfferStopAll(bool offer) {
    // Side by side within the dialog's width, "取消" first.
    btn1->move(offer ? 112 : 157, 88);
    btnStopAll->setVisible(offer);
}

void TFmUpdateing::btn1Click() {
    reject();
}

void TFmUpdateing::btnStopAllClick() {
    done(StopAll);
}

} // namespace vantero
