// record_logger log DB SPOOL PREFIX COUNT POINTS [--days N] [--channels N]
//                    [--pause-after K FIFO]
//   COUNT records of 2 channels (or N) of POINTS points; unit i fails when i % 10 == 0, is not
//   trusted when i % 10 == 5, passes otherwise; station "station-(i % 3 + 1)". --days puts
//   unit i on day 2026-11-(1 + (i / 7) % N) instead of now; --pause-after waits, after K records,
//   for one byte from FIFO. Prints "logged L spooled S".
// record_logger count DB
//   Prints "units U serials S channels C points P orphans O pass A fail B not-trusted N".
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "records/record_log.h"

namespace {

UnitRecord madeUpUnit(const std::string& prefix, int i, int points, int days, int channels) {
    UnitRecord r;
    r.id = newRecordId();
    char day[32];
    std::snprintf(day, sizeof day, "2026-11-%02d %02d:%02d:00", 1 + (i / 7) % (days > 0 ? days : 1),
                  (i / 60) % 24, i % 60);
    r.measuredAt = days > 0 ? std::string(day) : utcNowText();
    r.station = "station-" + std::to_string(i % 3 + 1);
    r.serial = prefix + "-" + std::to_string(i);
    r.version = "test";
    r.command = "ir";
    r.playedFile = "sweep.wav";
    r.playedSha256 = std::string(64, 'a');
    r.sampleRate = 48000;
    const bool fails = i % 10 == 0;
    const bool untrusted = i % 10 == 5;
    for (int ch = 1; ch <= channels; ++ch) {
        ChannelRecord c;
        c.channel = ch;
        c.verdict = untrusted ? "not-trusted" : fails && ch == channels ? "fail" : "pass";
        c.reason = c.verdict == "fail" ? "response min at 120.0 Hz"
                   : untrusted         ? "no-clear-response: made up"
                                       : "";
        c.reasonCode = c.verdict == "fail" ? (i % 3 == 0 ? "thd" : "response-min")
                       : untrusted         ? "not-trusted:no-clear-response"
                                           : "";
        c.worstMarginDb = untrusted ? NAN : c.verdict == "fail" ? -1.5 - i % 7 : 0.5 + i % 5;
        c.worstFrequency = 120 + 10 * (i % 50);
        c.referenceDb = -6;
        c.delayFrames = 100 + ch;
        c.driftPpm = 0.5;
        c.highestThdPercent = 0.01 * (1 + i % 9);
        for (int p = 0; p < points; ++p) {
            const double f = 20 * std::pow(1000.0, double(p) / std::max(points - 1, 1));
            const double dip =
                c.verdict == "fail" ? -8 * std::exp(-std::pow(std::log(f / 120), 2)) : 0;
            c.curve.push_back({f, -6 + 0.3 * std::sin(i + f / 700) + dip, -f / 100, 0.01, -90});
        }
        r.channels.push_back(c);
    }
    r.verdict = untrusted ? "not-trusted" : fails ? "fail" : "pass";
    return r;
}

int logUnits(int argc, char** argv) {
    const int count = std::atoi(argv[5]);
    const int points = std::atoi(argv[6]);
    int days = 0;
    int channels = 2;
    int pauseAfter = -1;
    const char* fifo = nullptr;
    for (int a = 7; a + 1 < argc; ++a) {
        if (std::strcmp(argv[a], "--days") == 0) {
            days = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--channels") == 0) {
            channels = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--pause-after") == 0 && a + 2 < argc) {
            pauseAfter = std::atoi(argv[++a]);
            fifo = argv[++a];
        }
    }
    int logged = 0;
    int spooled = 0;
    for (int i = 0; i < count; ++i) {
        if (i == pauseAfter) {
            FILE* wait = std::fopen(fifo, "rb");
            if (wait != nullptr) {
                std::setvbuf(wait, nullptr, _IONBF, 0);
            }
            if (wait == nullptr || std::fgetc(wait) == EOF) {
                std::fprintf(stderr, "record_logger: %s gave no byte\n", fifo);
                return 1;
            }
            std::fclose(wait);
        }
        const LogOutcome outcome =
            logUnitRecord(argv[2], argv[3], madeUpUnit(argv[4], i, points, days, channels));
        ++(outcome.logged ? logged : spooled);
        if (!outcome.logged && !outcome.spoolFile.empty()) {
            std::fprintf(stderr, "record_logger: spooled: %s\n", outcome.error.c_str());
        }
        if (!outcome.logged && outcome.spoolFile.empty()) {
            std::fprintf(stderr, "record_logger: lost: %s\n", outcome.error.c_str());
            return 1;
        }
    }
    std::printf("logged %d spooled %d\n", logged, spooled);
    return 0;
}

int countUnits(const char* target) {
    std::string error;
    auto db = openSqlDatabase(target, kRecordBusyMs, &error);
    std::vector<SqlRow> rows;
    if (db == nullptr ||
        !db->run("SELECT (SELECT count(*) FROM units), (SELECT count(DISTINCT serial) FROM units), "
                 "(SELECT count(*) FROM channels), (SELECT count(*) FROM curve_points), "
                 "(SELECT count(*) FROM curve_points p WHERE NOT EXISTS (SELECT 1 FROM channels c "
                 "WHERE c.unit_id = p.unit_id AND c.channel = p.channel)) + (SELECT count(*) FROM "
                 "channels c WHERE NOT EXISTS (SELECT 1 FROM units u WHERE u.id = c.unit_id)), "
                 "(SELECT count(*) FROM units WHERE verdict = 'pass'), "
                 "(SELECT count(*) FROM units WHERE verdict = 'fail'), "
                 "(SELECT count(*) FROM units WHERE verdict = 'not-trusted')",
                 {}, &rows, &error)) {
        std::fprintf(stderr, "record_logger: %s\n", error.c_str());
        return 1;
    }
    const std::vector<std::string>& n = rows[0].text;
    std::printf("units %s serials %s channels %s points %s orphans %s pass %s fail %s "
                "not-trusted %s\n",
                n[0].c_str(), n[1].c_str(), n[2].c_str(), n[3].c_str(), n[4].c_str(), n[5].c_str(),
                n[6].c_str(), n[7].c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 7 && std::strcmp(argv[1], "log") == 0) {
        return logUnits(argc, argv);
    }
    if (argc == 3 && std::strcmp(argv[1], "count") == 0) {
        return countUnits(argv[2]);
    }
    std::fprintf(stderr, "usage: record_logger log DB SPOOL PREFIX COUNT POINTS [--days N] "
                         "[--pause-after K FIFO] | record_logger count DB\n");
    return 1;
}
