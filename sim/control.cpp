#include "control.h"

#include <algorithm>
#include <sstream>

namespace sim {

namespace {

std::optional<unsigned long> parseNumber(const std::string &text, unsigned long max)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    unsigned long value = std::stoul(text);
    if (value > max)
        return std::nullopt;
    return value;
}

std::string fault(Unit &unit, const std::vector<std::string> &words)
{
    Faults &faults = unit.faults();
    const std::string kind = words.size() > 1 ? words[1] : "";
    if (words.size() == 2) {
        if (kind == "none") {
            faults = Faults{};
            return "ok";
        }
        if (kind == "silent") {
            faults.silent = true;
            return "ok";
        }
        if (kind == "ffonly") {
            faults.ffOnly = true;
            return "ok";
        }
        if (kind == "uonly") {
            faults.uOnly = true;
            return "ok";
        }
    }
    if (kind == "shift-once") {
        std::optional<unsigned long> junk =
            words.size() == 4 ? parseNumber(words[2], 511) : std::nullopt;
        std::optional<unsigned long> gap =
            words.size() == 4 ? parseNumber(words[3], 600000) : std::nullopt;
        if (!junk || *junk < 1 || !gap)
            return "error usage: fault shift-once <1..511> <0..600000>";
        faults.shiftOnce = Split{*junk, Nanos(*gap) * Millisecond};
        return "ok";
    }
    if (kind == "split" || kind == "split-once") {
        std::optional<unsigned long> head =
            words.size() == 4 ? parseNumber(words[2], 65535) : std::nullopt;
        std::optional<unsigned long> gap =
            words.size() == 4 ? parseNumber(words[3], 600000) : std::nullopt;
        if (!head || *head < 1 || !gap)
            return "error usage: fault " + kind + " <1..65535> <0..600000>";
        const Split split{*head, Nanos(*gap) * Millisecond};
        (kind == "split" ? faults.split : faults.splitOnce) = split;
        return "ok";
    }
    struct Limit {
        const char *name;
        unsigned long min;
        unsigned long max;
    };
    static const Limit limits[] = {
        {"late", 0, 600000},        {"short", 0, 65535}, {"garbage", 0, 65535},
        {"garbage-once", 1, 65535}, {"tail", 0, 65535},  {"tail-once", 0, 65535},
        {"stop-after", 0, 65535},   {"corrupt", 1, 412}, {"misstore", 1, 412},
        {"hangup-after", 1, 65535},
    };
    for (const Limit &limit : limits) {
        if (kind != limit.name)
            continue;
        std::optional<unsigned long> value =
            words.size() == 3 ? parseNumber(words[2], limit.max) : std::nullopt;
        if (!value || *value < limit.min)
            return "error usage: fault " + kind + " <" + std::to_string(limit.min) + ".." +
                   std::to_string(limit.max) + ">";
        if (kind == "late")
            faults.late = Nanos(*value) * Millisecond;
        else if (kind == "short")
            faults.shortTo = *value;
        else if (kind == "garbage")
            faults.garbage = *value;
        else if (kind == "garbage-once")
            faults.garbageOnce = *value;
        else if (kind == "tail")
            faults.tail = *value;
        else if (kind == "tail-once")
            faults.tailOnce = *value;
        else if (kind == "stop-after")
            faults.stopAfter = int(*value);
        else if (kind == "corrupt")
            faults.corrupt = *value;
        else if (kind == "misstore")
            faults.misstore = *value;
        else
            faults.hangupAfter = int(*value);
        return "ok";
    }
    return "error usage: fault none | silent | late MS | short N | garbage N | garbage-once N | "
           "split N MS | split-once N MS | shift-once N MS | tail N | tail-once N | ffonly | uonly "
           "| stop-after K | "
           "corrupt K | misstore K | hangup-after K";
}

std::string measure(Unit &unit, const std::vector<std::string> &words)
{
    if (words.size() == 2 && words[1] == "auto") {
        unit.setFixedMeasurement(std::nullopt);
        return "ok";
    }
    if (words.size() != 7)
        return "error usage: measure A B C D E F | measure auto";
    Measurement values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::optional<unsigned long> value = parseNumber(words[i + 1], 65535);
        if (!value)
            return "error not a value from 0 to 65535: " + words[i + 1];
        values[i] = std::uint16_t(*value);
    }
    unit.setFixedMeasurement(values);
    return "ok";
}

} // namespace

std::vector<std::string> controlWords(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::optional<std::string> unitControl(Unit &unit, const std::vector<std::string> &words)
{
    if (words.empty())
        return std::nullopt;
    const std::string &verb = words[0];
    const std::size_t args = words.size() - 1;
    if (verb == "fault")
        return fault(unit, words);
    if (verb == "measure")
        return measure(unit, words);
    if (verb == "get" && args == 1 && words[1] == "block")
        return "ok " + toHex(unit.block());
    if (verb == "set" && args == 2 && words[1] == "block") {
        std::optional<Block> block = blockFromHex(words[2]);
        if (!block)
            return "error a block is 1024 hex digits";
        unit.setBlock(*block);
        return "ok";
    }
    return std::nullopt;
}

std::string statsAnswer(const Unit &unit, std::uint64_t received, std::uint64_t sent,
                        std::size_t queued)
{
    return "ok rx=" + std::to_string(received) + " tx=" + std::to_string(sent) +
           " writes=" + std::to_string(unit.writes()) +
           " uploads=" + std::to_string(unit.uploads()) + " queued=" + std::to_string(queued) +
           " held=" + std::to_string(unit.held());
}

std::string unknownCommand(const std::vector<std::string> &words)
{
    std::string line;
    for (const std::string &word : words)
        line += (line.empty() ? "" : " ") + word;
    return "error unknown command: " + line;
}

} // namespace sim
