#pragma once

#include <QCoroTask>
#include <QString>
#include <chrono>

class SingleInstance;

// Starting a newly installed version while this one is still running.
namespace Relaunch {
// A started Zelvane creates the file this variable names once it is up, which tells the
// version that started it that it may end.
inline constexpr char startedFileVariable[] = "ZELVANE_STARTED_FILE";

// Hands the bus name over (when `instance` is given), starts `executable` detached and waits
// until it reports that it has started. False when it exits or stays silent for `timeout`;
// the name is then taken back.
QCoro::Task<bool> startAndConfirm(QString executable, SingleInstance *instance,
                                  std::chrono::milliseconds timeout);

// Called by a starting Zelvane: reports to the version that started it, if any.
void reportStarted();
} // namespace Relaunch
