#include "records/measured_unit.h"

#include <algorithm>

#include "korvane_version.h"
#include "measure/text/number_text.h"
#include "platform/process.h"
#include "records/sha256.h"
#include "records/unit_names.h"

namespace {

std::string joined(const std::vector<std::pair<std::string, std::string>>& problems) {
    std::string text;
    for (const auto& problem : problems) {
        text += (text.empty() ? "" : "; ") + problem.first + ": " + problem.second;
    }
    return text;
}

// "response min" as "response-min".
std::string codeOf(std::string text) {
    std::replace(text.begin(), text.end(), ' ', '-');
    return text;
}

void judgeIrChannel(const IrChannelReport& c, bool judging, ChannelRecord* channel) {
    if (!c.problems.empty()) {
        channel->verdict = "not-trusted";
        channel->reason = joined(c.problems);
        channel->reasonCode = "not-trusted:" + c.problems.front().first;
    } else if (!judging) {
        channel->verdict = "measured";
    } else if (c.verdict.pass) {
        channel->verdict = "pass";
    } else {
        channel->verdict = "fail";
        channel->reason =
            !c.analysed                     ? "nothing was recorded"
            : !c.verdict.unmeasured.empty() ? c.verdict.unmeasured
            : !c.verdict.polarityFault.empty()
                ? c.verdict.polarityFault
                : c.verdict.worstLimit + " at " + fixedText(c.verdict.worstFrequency, 1) + " Hz";
        channel->reasonCode = !c.analysed                        ? "nothing-recorded"
                              : !c.verdict.unmeasured.empty()    ? "unmeasured"
                              : !c.verdict.polarityFault.empty() ? "polarity"
                                                                 : codeOf(c.verdict.worstLimit);
    }
    if (judging && c.analysed && c.verdict.unmeasured.empty()) {
        channel->worstMarginDb = c.verdict.worstMarginDb;
        channel->worstFrequency = c.verdict.worstFrequency;
    }
}

} // namespace

bool startUnitRecord(const UnitIdentity& unit, UnitRecord* record, std::string* error) {
    record->id = newRecordId();
    record->measuredAt = utcNowText();
    record->station = !unit.station.empty()                               ? unit.station
                      : !hostName().empty() && !unitNameFault(hostName()) ? hostName()
                                                                          : "unnamed";
    record->serial = unit.serial;
    record->version = KORVANE_VERSION;
    record->command = unit.command;
    record->playedFile = utf8Escaped(unit.playedPath);
    if (!sha256File(unit.playedPath, &record->playedSha256, error)) {
        return false;
    }
    record->limitsFile = utf8Escaped(unit.limitsPath);
    return unit.limitsPath.empty() || sha256File(unit.limitsPath, &record->limitsSha256, error);
}

void addIrChannels(const std::vector<IrChannelReport>& reports, bool judging, UnitRecord* record) {
    for (const IrChannelReport& c : reports) {
        if (!c.analysed && !c.judged && c.problems.empty()) {
            continue; // a recorded channel that nothing was played to
        }
        ChannelRecord channel;
        channel.channel = int(c.recorded);
        judgeIrChannel(c, judging, &channel);
        if (c.analysed) {
            channel.referenceDb = c.reference.magnitudeDb;
            channel.delayFrames = double(c.ir.delay);
            channel.driftPpm = c.ir.drift.measured ? c.ir.drift.ppm : NAN;
            channel.highestThdPercent = c.worstThd;
            channel.polarity = polarityName(c.ir.polarity);
            for (const ResponsePoint& p : c.ir.points) {
                channel.curve.push_back(
                    {p.frequency, p.magnitudeDb, p.phaseDeg, p.thdPercent, p.noiseDb, p.rbPeakDb});
            }
        }
        record->channels.push_back(std::move(channel));
    }
    record->verdict = unitVerdict(record->channels);
}

void addCheckChannels(const std::vector<ChannelCheck>& checks, uint32_t playedRate,
                      uint32_t recordedRate, bool exact, UnitRecord* record) {
    for (const ChannelCheck& check : checks) {
        ChannelRecord channel;
        channel.channel = int(check.recorded);
        std::string trust;
        for (TrustProblem problem : kTrustProblems) {
            if (check.problems & problem) {
                trust += (trust.empty() ? "" : "; ") + std::string(trustProblemName(problem));
            }
        }
        // With --exact a copy that is not exact fails, trusted or not, as the exit code says.
        const bool sameRate = playedRate == recordedRate;
        if (exact && !(check.exact && sameRate)) {
            channel.verdict = "fail";
            channel.reason = !sameRate ? "recorded at " + std::to_string(recordedRate) +
                                             " Hz, played at " + std::to_string(playedRate) + " Hz"
                                       : "differs from the played file at frame " +
                                             std::to_string(check.mismatchFrame);
            channel.reason += trust.empty() ? "" : "; not trusted: " + trust;
            channel.reasonCode = sameRate ? "exact" : "rate";
        } else if (!trust.empty()) {
            channel.verdict = "not-trusted";
            channel.reason = trust;
            channel.reasonCode = "not-trusted:" + trust.substr(0, trust.find(';'));
        } else {
            channel.verdict = exact ? "pass" : "measured";
        }
        channel.delayFrames = check.played != 0 ? double(check.delay) : NAN;
        record->channels.push_back(std::move(channel));
    }
    record->verdict = unitVerdict(record->channels);
}

namespace {

bool anyChannel(const UnitRecord& record, const char* verdict) {
    for (const ChannelRecord& c : record.channels) {
        if (c.verdict == verdict) {
            return true;
        }
    }
    return false;
}

} // namespace

ToolExit checkExit(const UnitRecord& record) {
    return anyChannel(record, "fail")          ? kToolMismatch
           : anyChannel(record, "not-trusted") ? kToolUntrusted
                                               : kToolOk;
}

ToolExit irExit(const UnitRecord& record, bool judging) {
    if (judging) {
        return record.verdict == "pass" ? kToolOk : kToolLimitsFailed;
    }
    return anyChannel(record, "not-trusted") ? kToolUntrusted : kToolOk;
}

std::string unitVerdict(const std::vector<ChannelRecord>& channels) {
    std::string verdict = channels.empty() ? "not-trusted" : "measured";
    for (const char* worse : {"pass", "fail", "not-trusted"}) {
        for (const ChannelRecord& c : channels) {
            if (c.verdict == worse) {
                verdict = worse;
            }
        }
    }
    return verdict;
}
