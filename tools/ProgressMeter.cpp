#include "tools/ProgressMeter.h"

#include <cmath>
#include <cstdio>

namespace {

std::string Bytes(double n) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    int unit = 0;
    while (n >= 1024 && unit < 6) {
        n /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", n, units[unit]);
    return text;
}

std::string Duration(double seconds) {
    // An announced length far beyond what arrives gives times past any clock.
    if (!(seconds < 1e8)) return "--:--";
    const auto s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

} // namespace

TProgressMeter::TProgressMeter(Writer write, Clock clock)
    : write_(std::move(write)), clock_(std::move(clock)) {}

void TProgressMeter::Start(std::int64_t total) {
    // A body that was shown gets its final line; one never shown (a short
    // redirect body) gives way silently.
    if (active_ && shown_) Draw(true);
    shown_ = false;
    total_ = total;
    done_ = 0;
    started_ = clock_();
    drawn_ = started_; // a body over within 100 ms is never drawn before its end
    active_ = true;
}

void TProgressMeter::Update(std::int64_t done) {
    if (!active_) Start(-1);
    done_ = done;
    const auto now = clock_();
    if (now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    shown_ = true;
    Draw(false);
}

void TProgressMeter::Finish() {
    if (active_) Draw(true);
    active_ = false;
}

void TProgressMeter::Clear() {
    if (width_ == 0) return;
    write_("\r" + std::string(width_, ' ') + "\r");
    width_ = 0;
}

void TProgressMeter::Draw(bool final) {
    const double seconds = std::chrono::duration<double>(clock_() - started_).count();
    std::string line = Line(done_, total_, seconds, final);
    // Spaces over what a longer line before left on the screen.
    const std::size_t width = line.size();
    if (width < width_) line.append(width_ - width, ' ');
    width_ = final ? 0 : width;
    write_("\r" + line + (final ? "\n" : ""));
    if (final) active_ = false;
}

std::string TProgressMeter::Line(std::int64_t done, std::int64_t total, double seconds,
                                 bool final) {
    std::string line = Bytes(static_cast<double>(done));
    if (total >= 0) {
        // Whole percents, cut rather than rounded: 100% only when all is there.
        const double percent =
            total == 0 ? 100.0
                       : std::floor(100.0 * static_cast<double>(done) / static_cast<double>(total));
        char text[16];
        std::snprintf(text, sizeof text, " %3.0f%%", percent);
        line += " of " + Bytes(static_cast<double>(total)) + text;
    }
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    if (seconds > 0) line += "  " + Bytes(rate) + "/s";
    if (final)
        line += "  in " + Duration(seconds);
    else if (total >= 0 && rate > 0 && done < total)
        line += "  " + Duration(static_cast<double>(total - done) / rate) + " left";
    return line;
}
