#include "BackendAddressModel.h"

#include "core/AppConfig.h"
#include "core/AppSettings.h"

BackendAddressModel::BackendAddressModel(AppSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings) {
    connect(&m_settings, &AppSettings::changed, this, [this](AppSettings::Key key) {
        if (key == AppSettings::Key::BackendOrigin)
            Q_EMIT changed();
    });
}

QString BackendAddressModel::address() const {
    return m_settings.value(AppSettings::Key::BackendOrigin).toString();
}

bool BackendAddressModel::setAddress(const QString &typed) {
    const std::optional<QString> origin =
        typed.trimmed().isEmpty() ? QString() : AppConfig::backendOriginFrom(typed);
    if (!origin) {
        m_error = tr("Enter an address starting with https:// (http:// only for this computer), "
                     "without a path.");
        Q_EMIT changed();
        return false;
    }
    const bool hadError = m_error.has_value();
    m_error.reset();
    if (origin->isEmpty())
        m_settings.remove(AppSettings::Key::BackendOrigin);
    else
        m_settings.setValue(AppSettings::Key::BackendOrigin, *origin);
    if (hadError)
        Q_EMIT changed();
    return true;
}

bool BackendAddressModel::setByEnvironment() {
    return !qEnvironmentVariableIsEmpty("ZELVANE_BACKEND_ORIGIN");
}
