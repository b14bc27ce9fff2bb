#pragma once

#include "unit.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The control words that concern the unit alone, whatever line it stands behind, so that
// every stand-in for the unit takes the same words and gives the same answers:
//   fault ..., measure A B C D E F | measure auto, get block, set block HEX
// What concerns the line (hangup, reopen, clear record, stats, quit) each stand-in handles on
// its own terms, with the answers below where they share one.

// A control line's words, split at white space.
std::vector<std::string> controlWords(const std::string &line);

// The answer ("ok ..." or "error <why>") to words for the unit; nothing when they are none of
// the unit's.
std::optional<std::string> unitControl(Unit &unit, const std::vector<std::string> &words);

// The answer to "stats": bytes received and sent on the line, bytes still queued to go out.
std::string statsAnswer(const Unit &unit, std::uint64_t received, std::uint64_t sent,
                        std::size_t queued);

// The answer to words that no part of the stand-in knows.
std::string unknownCommand(const std::vector<std::string> &words);

} // namespace sim
