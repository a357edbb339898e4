#pragma once

#include <QCoroTask>
#include <QString>

// Whether a host name resolves, looked up on a thread of its own that ends with the look-up
// and is never waited for: unlike Qt's look-up pool, nothing stays behind waiting for the next
// one. An address literal resolves at once.
namespace HostLookup {
QCoro::Task<bool> resolves(QString host);
}
