#pragma once
// Where the register scan stands: the entry line the next tick reads, the
// end of a pass, and the readings counted towards the periodic reconnect.
#include <cstdint>
#include <optional>

namespace movra {

struct ScanCursor {
    static constexpr std::int32_t FirstEntryLine = 2;
    static constexpr int ReadingsPerReconnect = 3600;

    double lastLine = 0;    // line of the file's last entry, N + 1 (a fraction stays)
    std::int32_t line = 0;  // entry line the next reading reads
    int readings = 0;       // since the start or the last reconnect

    void start(double lastEntryLine)
    {
        lastLine = lastEntryLine;
        line = FirstEntryLine;
        readings = 0;
    }
    void stop() { readings = 0; }
    // The line this tick reads; empty at the end of a pass (also when line 1
    // held a fraction), which starts the next pass with a tick that reads nothing.
    std::optional<std::int32_t> next()
    {
        if (line >= lastLine + 1) {
            line = FirstEntryLine;
            return std::nullopt;
        }
        return line;
    }
    void readingDone()
    {
        ++line;
        ++readings;
    }
    // The entry could not be read: the file went away or got shorter.
    void entryMissing() { line = FirstEntryLine; }
    bool reconnectDue() const { return readings == ReadingsPerReconnect; }
    void reconnected() { readings = 0; }
};

} // namespace movra
