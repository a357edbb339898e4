#pragma once

#include <QObject>
#include <QString>
#include <optional>

class AppSettings;

// The "Backend address" field of the Accounts tab: a backend the user runs in place of the
// product's own. An address is kept only when it is one; an empty one returns to the product's.
class BackendAddressModel : public QObject {
    Q_OBJECT

public:
    explicit BackendAddressModel(AppSettings &settings, QObject *parent = nullptr);

    // The kept address; empty for the product's own backend.
    QString address() const;
    // Keeps `typed` when it is a backend address (or empty) and returns true; otherwise keeps
    // nothing and error() says why.
    bool setAddress(const QString &typed);
    const std::optional<QString> &error() const { return m_error; }
    // $ZELVANE_BACKEND_ORIGIN is set, so the field does not apply to this run.
    static bool setByEnvironment();

Q_SIGNALS:
    void changed();

private:
    AppSettings &m_settings;
    std::optional<QString> m_error;
};
