#pragma once

// The marketplace's host names live in common/, where the reader sees them too.
#include "common/MarketHosts.h"
