#include "dialogs/UtTeamDatabase.h"

#include "store/Connection.h"
#include "store/DatabaseError.h"
#include "store/ServerSession.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantero {

QString DatabasePanelText(const QString& target) {
    if (IsServerTarget(target))
        return TeamDatabaseTexts::ServerPanel.arg(ServerPlace(target));
    return TeamDatabaseTexts::FilePanel.arg(QDir::toNativeSeparators(target));
}

TFmTeamDatabase::TFmTeamDatabase(QWidget* parent, const QString& current, const QString& file)
    : QDialog(parent), m_file(file) {
    setObjectName(QStringLiteral("FmTeamDatabase"));
    setWindowTitle(TeamDatabaseTexts::Caption);
    setAccessibleName(windowTitle());
    setMinimumWidth(520);

    auto* layout = new QVBoxLayout(this);
    auto* currentLabel = new QLabel(TeamDatabaseTexts::Current.arg(DatabasePanelText(current)), this);
    currentLabel->setObjectName(QStringLiteral("lblCurrent"));
    currentLabel->setWordWrap(true);
    layout->addWidget(currentLabel);

    auto* targetLine = new QHBoxLayout;
    auto* targetLabel = new QLabel(TeamDatabaseTexts::TargetLabel, this);
    edtTarget = new QLineEdit(this);
    edtTarget->setObjectName(QStringLiteral("edtTarget"));
    edtTarget->setAccessibleName(QStringLiteral("连接字符串"));
    edtTarget->setPlaceholderText(TeamDatabaseTexts::TargetExample);
    if (IsServerTarget(current))
        edtTarget->setText(current);
    targetLabel->setBuddy(edtTarget);
    targetLine->addWidget(targetLabel);
    targetLine->addWidget(edtTarget, 1);
    layout->addLayout(targetLine);

    auto* hint = new QLabel(TeamDatabaseTexts::PasswordHint, this);
    hint->setObjectName(QStringLiteral("lblPasswordHint"));
    hint->setWordWrap(true);
    layout->addWidget(hint);

    lblResult = new QLabel(this);
    lblResult->setObjectName(QStringLiteral("lblResult"));
    lblResult->setWordWrap(true);
    lblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblResult->setAccessibleDescription(QStringLiteral("连接结果"));
    layout->addWidget(lblResult);

    auto* buttons = new QHBoxLayout;
    auto addButton = [this, buttons](const QString& name, const QString& text) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(name);
        button->setAccessibleName(text);
        buttons->addWidget(button);
        return button;
    };
    buttons->addStretch(1);
    btnConnect = addButton(QStringLiteral("btnConnect"), TeamDatabaseTexts::Connect);
    btnConnect->setDefault(true);
    btnUseFile = addButton(QStringLiteral("btnUseFile"), TeamDatabaseTexts::UseFile);
    btnUseFile->setAutoDefault(false);
    btnUseFile->setEnabled(IsServerTarget(current));
    btnUseFile->setToolTip(QDir::toNativeSeparators(file));
    btnCancel = addButton(QStringLiteral("btnCancel"), TeamDatabaseTexts::Cancel);
    btnCancel->setAutoDefault(false);
    layout->addLayout(buttons);

    connect(btnConnect, &QPushButton::clicked, this, &TFmTeamDatabase::btnConnectClick);
    connect(btnUseFile, &QPushButton::clicked, this, &TFmTeamDatabase::btnUseFileClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFmTeamDatabase::btnConnectClick() {
    const QString target = edtTarget->text().trimmed();
    if (target.isEmpty()) {
        lblResult->setText(TeamDatabaseTexts::Empty);
        return;
    }
    if (!IsServerTarget(target)) {
        lblResult->setText(TeamDatabaseTexts::NotServer);
        return;
    }
    if (Connecting())
        return;
    lblResult->setText(TeamDatabaseTexts::Connecting);
    ShowConnecting(true);
    const int attempt = ++m_attempts;
    m_break = std::make_shared<TServerBreak>();
    m_attempt = std::thread([this, attempt, target, cut = m_break] {
        QString problem;
        {
            const TServerBreak::TOnThisThread cutTogether(cut);
            try {
                // Connects and gives an empty database its tables; the message says what failed
                // and where.
                problem = PrepareDatabaseFile(target);
            } catch (const TDatabaseError& e) {
                problem = e.text();
            }
            TConnection::closeThreadConnections();
        }
        // The dialog joins this thread before it goes, so it is still there to be told.
        QMetaObject::invokeMethod(
            this, [this, attempt, target, problem] { Connected(attempt, target, problem); }, Qt::QueuedConnection);
    });
}

void TFmTeamDatabase::Connected(int attempt, const QString& target, const QString& problem) {
    if (attempt != m_attempts || !Connecting())
        return; // an attempt the user gave up
    m_attempt.join();
    ShowConnecting(false);
    if (!problem.isEmpty()) {
        lblResult->setText(problem);
        return;
    }
    m_chosen = target;
    accept();
}

void TFmTeamDatabase::ShowConnecting(bool connecting) {
    edtTarget->setReadOnly(connecting);
    btnConnect->setEnabled(!connecting);
    if (connecting)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void TFmTeamDatabase::EndAttempt() {
    if (!Connecting())
        return;
    ++m_attempts;
    m_break->Break();
    m_attempt.join();
    ShowConnecting(false);
}

void TFmTeamDatabase::btnUseFileClick() {
    EndAttempt();
    m_chosen = m_file;
    accept();
}

void TFmTeamDatabase::reject() {
    EndAttempt();
    QDialog::reject();
}

TFmTeamDatabase::~TFmTeamDatabase() {
    EndAttempt();
}

} // namespace vantero
