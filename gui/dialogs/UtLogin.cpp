#include "dialogs/UtLogin.h"

#include "reader/BrowserEngine.h"
#include "widgets/UiWebFailure.h"
#include "widgets/UiWindowSize.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace vantero {

namespace {

QUrl& LoginAddress() {
    static QUrl address(QStringLiteral("https://login.taobao.com/"));
    return address;
}

} // namespace

QUrl TFmLogin::DefaultAddress() {
    return LoginAddress();
}

void TFmLogin::SetDefaultAddress(const QUrl& address) {
    LoginAddress() = address;
}

TFmLogin::TFmLogin(const QString& folder, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FmLogin"));
    setWindowTitle(LoginTexts::Caption);
    setAccessibleName(windowTitle());
    setAttribute(Qt::WA_QuitOnClose, false);

    lbHint = new QLabel(LoginTexts::Hint, this);
    lbHint->setObjectName(QStringLiteral("lbHint"));
    lbHint->setWordWrap(true);
    lbHint->setAccessibleName(lbHint->text());
    lbHint->setContentsMargins(8, 6, 8, 6);

    wb = new QWebEngineView(this);
    wb->setObjectName(QStringLiteral("wb"));
    wb->setAccessibleName(LoginTexts::Address);
    // The page belongs to the view, so it goes before the profile the engine keeps.
    wb->setPage(new QWebEnginePage(TBrowserEngine::Profile(folder), wb));
    ShowChineseErrorPages(wb);
    connect(wb->page(), &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        // The Chinese page shown in place of a failed one leaves the failure in the status.
        if (info.url().scheme() == QLatin1String("data"))
            return;
        switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            ShowStatus(LoginTexts::Loading.arg(info.url().toString()));
            break;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            ShowStatus(LoginTexts::Loaded.arg(info.url().toString()));
            break;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            ShowStatus(LoginTexts::Failed.arg(WebLoadFailureText(info)));
            break;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            break;
        }
    });

    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    lbStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnClose = new QPushButton(LoginTexts::Close, this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAccessibleName(btnClose->text());
    connect(btnClose, &QPushButton::clicked, this, &TFmLogin::btnCloseClick);
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(8, 4, 8, 6);
    bottom->addWidget(lbStatus, 1);
    bottom->addWidget(btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lbHint);
    layout->addWidget(wb, 1);
    layout->addLayout(bottom);
    ShowStatus(QString());
    FitOnScreen(this, QSize(900, 680));
}

TFmLogin::~TFmLogin() = default;

void TFmLogin::ShowLogin(const QUrl& address) {
    wb->load(address);
    show();
    raise();
    activateWindow();
}

void TFmLogin::btnCloseClick() {
    close();
}

void TFmLogin::ShowStatus(const QString& text) {
    lbStatus->setText(text);
    lbStatus->setAccessibleName(text.isEmpty() ? LoginTexts::Caption : text);
}

} // namespace vantero
