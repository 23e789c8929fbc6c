#pragma once

#include "history/AlertRules.h"

#include <QTextStream>

namespace vantero::cli {

// One alert as one line of compact JSON, keyed like the columns of `alerts --json`.
void WriteAlertJsonLine(QTextStream& out, const TAlert& alert);

} // namespace vantero::cli
