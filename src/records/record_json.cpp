#include "record_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "sha256.h"

using nlohmann::json;

namespace {

json number(double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
}

double numberFrom(const json& object, const char* key) {
    const auto at = object.find(key);
    return at != object.end() && at->is_number() ? at->get<double>() : NAN;
}

std::string textFrom(const json& object, const char* key) {
    const auto at = object.find(key);
    return at != object.end() && at->is_string() ? at->get<std::string>() : std::string();
}

json channelJson(const ChannelRecord& c) {
    json curve = json::array();
    for (const CurvePoint& p : c.curve) {
        curve.push_back({number(p.frequency), number(p.magnitudeDb), number(p.phaseDeg),
                         number(p.thdPercent), number(p.noiseDb), number(p.rbPeakDb)});
    }
    return {{"channel", c.channel},
            {"verdict", c.verdict},
            {"reason", c.reason},
            {"reasonCode", c.reasonCode},
            {"worstMarginDb", number(c.worstMarginDb)},
            {"worstFrequency", number(c.worstFrequency)},
            {"referenceDb", number(c.referenceDb)},
            {"delayFrames", number(c.delayFrames)},
            {"driftPpm", number(c.driftPpm)},
            {"highestThdPercent", number(c.highestThdPercent)},
            {"polarity", c.polarity},
            {"curve", curve}};
}

bool channelFrom(const json& c, ChannelRecord* channel) {
    if (!c.is_object() || !c.contains("channel") || !c["channel"].is_number_integer()) {
        return false;
    }
    channel->channel = c["channel"].get<int>();
    channel->verdict = textFrom(c, "verdict");
    channel->reason = textFrom(c, "reason");
    channel->reasonCode = textFrom(c, "reasonCode");
    channel->worstMarginDb = numberFrom(c, "worstMarginDb");
    channel->worstFrequency = numberFrom(c, "worstFrequency");
    channel->referenceDb = numberFrom(c, "referenceDb");
    channel->delayFrames = numberFrom(c, "delayFrames");
    channel->driftPpm = numberFrom(c, "driftPpm");
    channel->highestThdPercent = numberFrom(c, "highestThdPercent");
    channel->polarity = textFrom(c, "polarity");
    const auto curve = c.find("curve");
    if (curve == c.end() || !curve->is_array()) {
        return false;
    }
    for (const json& p : *curve) {
        // Records spooled before the rub and buzz curve have five values a point.
        if (!p.is_array() || p.size() < 5 || p.size() > 6) {
            return false;
        }
        auto at = [&p](size_t i) {
            return i < p.size() && p[i].is_number() ? p[i].get<double>() : NAN;
        };
        channel->curve.push_back({at(0), at(1), at(2), at(3), at(4), at(5)});
    }
    return true;
}

// SHA-256 of the record's compact text without its digest: its members sorted, numbers as
// the library writes them, so that reading and writing again gives the same text.
std::string contentDigest(const json& record) {
    return sha256Hex(record.dump(-1, ' ', false, json::error_handler_t::replace));
}

} // namespace

std::string recordToJson(const UnitRecord& r) {
    json channels = json::array();
    for (const ChannelRecord& c : r.channels) {
        channels.push_back(channelJson(c));
    }
    json record = {{"id", r.id},
                   {"measuredAt", r.measuredAt},
                   {"station", r.station},
                   {"serial", r.serial},
                   {"version", r.version},
                   {"command", r.command},
                   {"playedFile", r.playedFile},
                   {"playedSha256", r.playedSha256},
                   {"sampleRate", number(r.sampleRate)},
                   {"sweepFromHz", number(r.sweepFromHz)},
                   {"sweepToHz", number(r.sweepToHz)},
                   {"sweepSeconds", number(r.sweepSeconds)},
                   {"limitsFile", r.limitsFile},
                   {"limitsSha256", r.limitsSha256},
                   {"verdict", r.verdict},
                   {"channels", channels}};
    // Text that is not UTF-8 never reaches here (names are checked or escaped); should any,
    // it is replaced rather than abort the program and lose the record.
    record["digest"] = contentDigest(record);
    return record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

bool recordFromJson(const std::string& text, UnitRecord* r, std::string* error) {
    json record = json::parse(text, nullptr, false);
    if (record.is_discarded() || !record.is_object() || textFrom(record, "id").empty() ||
        !record.contains("channels") || !record["channels"].is_array()) {
        *error = "not a korvane record";
        return false;
    }
    // Records spooled before digests were kept have none, and are taken as they are.
    const std::string digest = textFrom(record, "digest");
    record.erase("digest");
    if (!digest.empty() && digest != contentDigest(record)) {
        *error = "its content does not match its digest: it was changed after it was measured";
        return false;
    }
    r->id = textFrom(record, "id");
    r->measuredAt = textFrom(record, "measuredAt");
    r->station = textFrom(record, "station");
    r->serial = textFrom(record, "serial");
    r->version = textFrom(record, "version");
    r->command = textFrom(record, "command");
    r->playedFile = textFrom(record, "playedFile");
    r->playedSha256 = textFrom(record, "playedSha256");
    r->sampleRate = numberFrom(record, "sampleRate");
    r->sweepFromHz = numberFrom(record, "sweepFromHz");
    r->sweepToHz = numberFrom(record, "sweepToHz");
    r->sweepSeconds = numberFrom(record, "sweepSeconds");
    r->limitsFile = textFrom(record, "limitsFile");
    r->limitsSha256 = textFrom(record, "limitsSha256");
    r->verdict = textFrom(record, "verdict");
    for (const json& c : record["channels"]) {
        ChannelRecord channel;
        if (!channelFrom(c, &channel)) {
            *error = "a channel of the record is damaged";
            return false;
        }
        r->channels.push_back(std::move(channel));
    }
    return true;
}
