#pragma once

#include <QCoroTask>
#include <QString>

// Whether a host name resolves, looked up on the application's shared thread pool; an address
// literal resolves at once.
namespace HostLookup {
QCoro::Task<bool> resolves(QString host);
}
