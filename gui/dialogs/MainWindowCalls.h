#pragma once

#include "catalogue/MainData.h"

#include <QString>

class QWidget;

namespace vantero {

// What the dialogs may ask of the main window. They read its data and announce their changes
// through these calls; they never reach into the window itself, so a dialog can be opened and
// tested against anything that answers them.
class TMainWindowCalls {
public:
    virtual ~TMainWindowCalls() = default;

    // The window dialogs are parented to.
    virtual QWidget* DialogParent() = 0;
    // The connection, the own account and the rival shops as the window has them loaded.
    virtual const TMainData& MainData() const = 0;

    // Own items were added or re-read: the grid's rows are to be loaded again.
    virtual void ItemRowsChanged() = 0;
    // Rival shops were added or deleted: the whole grid is to be rebuilt.
    virtual void RivalsChanged() = 0;
    // The user named an own item: the grid shows it at once and the name is stored.
    virtual void RenameItem(const QString& itemId, const QString& name) = 0;
    // The settings were saved: the timer's interval and the own account in use.
    virtual void SettingsSaved(qint64 minutes, const QString& ownAccount) = 0;
    // The user saved another own account: the readings and the own band's caption use it.
    virtual void OwnAccountSaved(const QString& ownAccount) = 0;

protected:
    TMainWindowCalls() = default;
    TMainWindowCalls(const TMainWindowCalls&) = default;
    TMainWindowCalls& operator=(const TMainWindowCalls&) = default;
};

} // namespace vantero
