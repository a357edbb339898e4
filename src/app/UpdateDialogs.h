#pragma once

#include "Appcast.h"
#include "ui/UpdateDialog.h"

#include <QObject>
#include <QPointer>
#include <optional>

class Updater;

// Shows the updater's progress in its window and turns the window's buttons into updater
// actions.
class UpdateDialogs : public QObject {
    Q_OBJECT

public:
    explicit UpdateDialogs(Updater &updater, QObject *parent = nullptr);
    ~UpdateDialogs() override;

    UpdateDialog *dialog() const { return m_dialog; }

private:
    UpdateDialog &ensureDialog();

    Updater &m_updater;
    QPointer<UpdateDialog> m_dialog;
    std::optional<AppcastItem> m_offered;
};
