#include "dialogs/UtManual.h"

#include "widgets/UiWindowSize.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#ifndef VANTERO_MANUAL_FROM_BINDIR
#define VANTERO_MANUAL_FROM_BINDIR "../share/doc/vantero/manual"
#endif
#ifndef VANTERO_MANUAL_IN_SOURCE
#define VANTERO_MANUAL_IN_SOURCE ""
#endif

namespace vantero {

QString ManualIndexFile() {
    const QString index = QStringLiteral("index.html");
    const QDir installed(QCoreApplication::applicationDirPath() + u'/' + QString::fromUtf8(VANTERO_MANUAL_FROM_BINDIR));
    if (QFileInfo::exists(installed.filePath(index)))
        return QDir::cleanPath(installed.absoluteFilePath(index));
    const QString source = QString::fromUtf8(VANTERO_MANUAL_IN_SOURCE);
    if (!source.isEmpty() && QFileInfo::exists(QDir(source).filePath(index)))
        return QDir::cleanPath(QDir(source).absoluteFilePath(index));
    return {};
}

TFmManual::TFmManual(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FmManual"));
    setWindowTitle(ManualTexts::Caption);
    setAccessibleName(ManualTexts::Caption);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    FitOnScreen(this, QSize(1060, 760));

    auto* layout = new QVBoxLayout(this);
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("tbManual"));
    m_browser->setAccessibleName(ManualTexts::Caption);
    // Only the manual's own files: an address on the internet is neither fetched nor handed on.
    m_browser->setOpenExternalLinks(false);
    m_browser->setOpenLinks(false);
    connect(m_browser, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        const QUrl target = m_browser->source().resolved(link);
        if (target.isLocalFile() && QFileInfo::exists(target.toLocalFile()))
            m_browser->setSource(target);
        else if (link.scheme().isEmpty() && link.path().isEmpty() && link.hasFragment())
            m_browser->scrollToAnchor(link.fragment());
    });
    layout->addWidget(m_browser, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnClose = new QPushButton(ManualTexts::Close, this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAccessibleName(ManualTexts::Close);
    btnClose->setAutoDefault(false);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);

    const QString index = ManualIndexFile();
    if (index.isEmpty()) {
        const QString expected = QDir::cleanPath(QCoreApplication::applicationDirPath() + u'/' +
                                                 QString::fromUtf8(VANTERO_MANUAL_FROM_BINDIR));
        m_browser->setPlainText(ManualTexts::Missing.arg(expected));
    } else {
        m_browser->setSource(QUrl::fromLocalFile(index));
    }
}

} // namespace vantero
