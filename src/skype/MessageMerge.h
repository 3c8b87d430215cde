#pragma once

#include "messages/History.h"

#include <vector>

// One chat's messages as several histories hold it, each message once. A message of a later history
// is the copy of one of the earlier histories' when both have the same sender (the handle, where the
// history gives one, else the name shown) and the same body as a transcript shows it, byte for byte,
// and their times are at most kSameMessageWithin apart: computers' clocks differ. Copies are matched
// one to one, in order of time, each with the earliest copy within reach not yet matched, so that two
// identical messages a sender wrote seconds apart stay two, whatever the clocks' difference within
// reach. A message without a time is never a copy.
namespace MessageMerge {

constexpr qint64 kSameMessageWithin = 180;

// `parts`: the chat's messages in each history that holds it, in the order the histories were given,
// each newest first. Each message keeps the time of the first history that holds it, and they come
// newest first by those times; of equal times, the first history's order comes first, then the next's.
std::vector<HistoryMessage> merge(const std::vector<std::vector<HistoryMessage>>& parts);

} // namespace MessageMerge
