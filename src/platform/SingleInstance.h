#pragma once

#include <QCoroTask>
#include <QObject>
#include <QString>

class ApplicationAdaptor;

// One Zelvane per session: the first process owns the well-known bus name
// app.zelvane.Zelvane and answers org.freedesktop.Application.Activate on it; a later one
// asks the owner to activate and leaves.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static inline const QString serviceName = QStringLiteral("app.zelvane.Zelvane");
    static inline const QString objectPath = QStringLiteral("/app/zelvane/Zelvane");

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process now owns the name, or when there is no session bus to share.
    QCoro::Task<bool> claim();
    // Gives the name up, so a newly started version can take it.
    QCoro::Task<> release();
    // Asks the owner of the name to activate; false when nobody answered.
    QCoro::Task<bool> activateRunning();

Q_SIGNALS:
    // Another start asked this one to show itself.
    void activated();

private:
    friend class ApplicationAdaptor;
    bool m_registered = false;
};
