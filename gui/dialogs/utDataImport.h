#pragma once

#include "store/DataImport.h"

#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;

namespace vantero {

// The import dialog: picks another database file and copies what this database lacks.
class TFmDataImport final : public QDialog {
    Q_OBJECT
public:
    explicit TFmDataImport(TConnection target, QWidget* parent = nullptr);

    QLineEdit* DBFileEdit() const { return edtDBFile; }

    // Tests answer the open-file dialog instead of a user: the hook returns the chosen path, or
    // an empty text for a cancelled dialog. An empty hook restores the real dialog.
    using TOpenFileHook = std::function<QString(QWidget* owner)>;
    static void SetOpenFileHook(TOpenFileHook hook);

public slots:
    void btnBrowseClick();
    void btnImportClick();
    void btnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    bool ConnectSource(const QString& path);
    int ImportItems();
    int ImportRivals();
    int ImportRivalItems();

    TDataImport m_import;
    QLineEdit* edtDBFile = nullptr;
    QPushButton* btnBrowse = nullptr;
    QPushButton* btnImport = nullptr;
    QPushButton* btnClose = nullptr;
};

} // namespace vantero
