#include "dialogs/utDataImport.h"

#include "common/TextHelpers.h"
#include "widgets/UiMessageBoxes.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

namespace vantero {

namespace {

TFmDataImport::TOpenFileHook& OpenFileHook() {
    static TFmDataImport::TOpenFileHook hook;
    return hook;
}

QPushButton* MakeButton(QWidget* owner, const QString& name, const QString& caption) {
    auto* button = new QPushButton(caption, owner);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    return button;
}

} // namespace

void TFmDataImport::SetOpenFileHook(TOpenFileHook hook) {
    OpenFileHook() = std::move(hook);
}

TFmDataImport::TFmDataImport(TConnection target, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_import(std::move(target)) {
    setObjectName(QStringLiteral("FmDataImport"));
    setWindowTitle(QStringLiteral("数据导入..."));
    setAccessibleName(windowTitle());

    auto* label = new QLabel(QStringLiteral("数据库文件"), this);
    label->setObjectName(QStringLiteral("lbl1"));
    label->setAccessibleName(label->text());
    edtDBFile = new QLineEdit(this);
    edtDBFile->setObjectName(QStringLiteral("edtDBFile"));
    edtDBFile->setAccessibleName(label->text());
    label->setBuddy(edtDBFile);
    btnBrowse = MakeButton(this, QStringLiteral("btnBrowse"), QStringLiteral("浏览..."));
    btnImport = MakeButton(this, QStringLiteral("btnImport"), QStringLiteral("导入"));
    btnClose = MakeButton(this, QStringLiteral("btnClose"), QStringLiteral("关闭"));
    connect(btnBrowse, &QPushButton::clicked, this, &TFmDataImport::btnBrowseClick);
    connect(btnImport, &QPushButton::clicked, this, &TFmDataImport::btnImportClick);
    connect(btnClose, &QPushButton::clicked, this, &TFmDataImport::btnCloseClick);
    // Enter in the file box imports, the obvious action once a file is named.
    connect(edtDBFile, &QLineEdit::returnPressed, this, [this] {
        if (btnImport->isEnabled())
            btnImport->click();
    });

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(label);
    fileRow->addWidget(edtDBFile, 1);
    fileRow->addWidget(btnBrowse);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(btnImport);
    buttonRow->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addLayout(fileRow);
    layout->addStretch(1);
    layout->addLayout(buttonRow);
    setFixedSize(500, 134);
}

void TFmDataImport::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormShow();
}

void TFmDataImport::FormShow() {
    edtDBFile->clear();
}

void TFmDataImport::btnBrowseClick() {
    // The program's own files end in .mdb; other copies may be named .db. "所有文件" keeps any
    // name choosable.
    const QString path = OpenFileHook()
                             ? OpenFileHook()(this)
                             : QFileDialog::getOpenFileName(this, QString(), QString(),
                                                            QStringLiteral("数据库文件 (*.mdb *.db);;所有文件 (*)"));
    if (!path.isEmpty())
        edtDBFile->setText(QDir::toNativeSeparators(path));
}

void TFmDataImport::btnCloseClick() {
    reject();
}

bool TFmDataImport::ConnectSource(const QString& path) {
    QString message;
    if (m_import.ConnectSource(path, &message))
        return true;
    ShowPlainBox(this, message);
    return false;
}

int TFmDataImport::ImportItems() {
    return m_import.ImportItems();
}

int TFmDataImport::ImportRivals() {
    return m_import.ImportRivals();
}

int TFmDataImport::ImportRivalItems() {
    return m_import.ImportRivalItems();
}

void TFmDataImport::btnImportClick() {
    const QString path = TrimBlanks(edtDBFile->text());
    if (path.isEmpty()) {
        ShowPlainBox(this, ImportTexts::NoFile);
        return;
    }
    if (!ConnectSource(path))
        return;
    int items = 0;
    int rivals = 0;
    int mappings = 0;
    const bool done = RunReported(this, [&] {
        items = ImportItems();
        rivals = ImportRivals();
        mappings = ImportRivalItems();
    });
    if (!done)
        return;
    ShowPlainBox(this,
                 ImportTexts::Done + QStringLiteral("\r\n") + ImportTexts::Added.arg(items).arg(rivals).arg(mappings));
    accept();
}

} // namespace vantero
