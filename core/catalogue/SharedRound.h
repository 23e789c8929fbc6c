#pragma once

#include "reader/UtReadAllItemThr.h"

#include <QString>

#include <functional>

namespace vantero {

class TMainData;

// One round over a team database shared by workers on any number of machines. The round's pages
// (each row's own page, then its mapped rivals' pages, in the grid's order, as the ordinary round
// reads them) are rows of RoundClaims; a worker takes the next page nobody holds, or whose
// holder's lease ran out, with SELECT ... FOR UPDATE SKIP LOCKED, reads it, and marks it done or
// failed. A worker reads one page after another and renews its lease while it reads, so a worker
// that dies loses only the page it held. The round ends for every worker when no page is left.

// How long a claim holds without renewal: 60 seconds, or VANTERO_ROUND_LEASE_SECONDS.
int SharedRoundLeaseSeconds();

// The open round of data's team database, or a new one with every page of data's grid when
// none is open (or the open one has no page left); its id. Throws TDatabaseError.
qint64 JoinSharedRound(TMainData& data);

// Joins the round and reads pages of it as worker until none is left, on a thread of its own
// while the calling thread serves events (a termination signal ends it after the page in
// progress is abandoned; the page goes back to the round). Each status text goes to showText.
// The tally counts this worker's readings. Throws TDatabaseError when the server fails.
TReadAllItemThr::Tally RunSharedRound(TMainData& data, const QString& worker,
                                      const std::function<void(const QString&)>& showText);

} // namespace vantero
