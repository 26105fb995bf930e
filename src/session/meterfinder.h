#pragma once
// Finding the meter when Connect gets no answer: Connect's read at every
// address Connect offers, at every baud rate and framing of the port panel,
// the settings in effect first. A trusted answer names its slave, so one
// that comes late is credited to the slave it names, never to the address
// being tried; a find is believed only after one more read confirms it.
// Driven through callbacks, so the session runs it on its line and the
// tests on a script.
#include "commport.h"
#include "modbusline.h"

#include <QByteArray>
#include <QList>
#include <functional>
#include <optional>

namespace movra {

// One try: the port at `settings`, Connect's read sent to `address`.
struct FindTry {
    LineSettings settings;
    int address = 0;
    bool sameSettings(const FindTry &other) const { return settings == other.settings; }
    bool operator==(const FindTry &) const = default;
};

struct FindPlan {
    FindTry inEffect;     // the operator's settings (address unused): put back unless found
    int firstAddress = 0; // the addresses Connect offers
    int lastAddress = 0;
    QList<FindTry> tries;
};

// Every address at the settings in effect first, then the other settings
// of the lists, the common ones first: 9600 and 19200 before the other
// rates, N,8,1 before E,8,1 before O,8,1 (at 9600 and 19200 every framing
// before the slower rates). Settings in effect that the lists lack are
// tried all the same.
// `framings`: their parity, data and stop bits; the baud rate is each of `bauds`.
FindPlan findPlan(const QList<int> &bauds, const QList<LineSettings> &framings, const LineSettings &inEffect,
                  int firstAddress, int lastAddress);

// A meter's usual time from the end of a request to its answer.
inline constexpr double MeterTurnaround = 0.1;

// One try's answer wait: the request and an answer of `answerBytes` (CRC
// included) on the wire at these settings, plus MeterTurnaround.
double tryWait(const LineSettings &settings, int answerBytes);

// Slaves in firstAddress..lastAddress whose trusted answer to `read` (its
// slave byte aside) lies in `bytes`, each once, in the order they came.
QList<int> answeringSlaves(const QueryFrame &read, const QByteArray &bytes, int firstAddress, int lastAddress);

struct FindProgress {
    int index = 0; // 1 for the first try
    int total = 0;
    FindTry at;
};

struct FindHooks {
    // Reopens the port at these settings; false: the port refused or was lost.
    std::function<bool(const LineSettings &settings)> useSettings;
    // One request on the line; empty when the line could not take it.
    std::function<std::optional<LineOutcome>(const LineRequest &)> transact;
    // Before each try.
    std::function<void(const FindProgress &)> progress;
    // Asked before each try and each confirming read.
    std::function<bool()> stopRequested;
};

struct FindResult {
    enum Kind { Found, NothingFound, Stopped, PortLost };
    Kind kind = NothingFound;
    FindTry at;                           // Found: the settings and the slave
    std::optional<LineOutcome> confirmed; // Found: the confirming read
};

// Runs the plan with Connect's read (only its slave byte changes), each try
// a RequestKind::Probe with tryWait's answer wait. A trusted answer from a
// slave of the plan's range, in the try's wait or late before the next
// send, is confirmed by a RequestKind::Click read to that slave: at the
// try's settings, then at the previous try's when they differ (a late
// answer to the last try before a change). Unconfirmed, the search goes on.
// Found leaves the port at the find; NothingFound and Stopped put the
// settings in effect back; PortLost leaves the port as it is.
FindResult findMeter(const FindPlan &plan, const LineRequest &connectRead, const FindHooks &hooks);

} // namespace movra
