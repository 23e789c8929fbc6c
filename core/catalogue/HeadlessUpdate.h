#pragma once

#include "reader/UtReadAllItemThr.h"

#include <functional>

namespace vantero {

class TMainData;

// Runs one whole update of data's grid without windows, on the calling thread (which owns data
// and serves the updater's hand-overs meanwhile); each status text goes to showText in order.
TReadAllItemThr::Tally RunHeadlessUpdate(TMainData& data, const std::function<void(const QString&)>& showText);

} // namespace vantero
