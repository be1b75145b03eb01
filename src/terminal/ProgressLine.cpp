#include "terminal/ProgressLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace veltra::terminal {
namespace {

constexpr int kBarWidth = 20;

std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Rate(double bytesPerSecond) {
    if (bytesPerSecond < 1000.0) return Format("%.0f B/s", bytesPerSecond);
    return Format("%.1f kB/s", bytesPerSecond / 1000.0);
}

// m:ss, or h:mm:ss from an hour up.
std::string Clock(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    const long long h = whole / 3600;
    const long long m = whole / 60 % 60;
    const long long s = whole % 60;
    char text[32];
    if (h > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
    }
    return text;
}

// "[####----] nn%  done of total UNIT", with done and total made safe.
std::string Bar(std::int64_t& done, std::int64_t& total, const std::string& unit) {
    total = std::max<std::int64_t>(total, 1);
    done = std::clamp<std::int64_t>(done, 0, total);
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    const int filled = static_cast<int>(fraction * kBarWidth);
    const int percent = static_cast<int>(fraction * 100.0);

    // Appended piece by piece: GCC 12 at -O3 takes a chain of string
    // concatenations here for overlapping copies (-Wrestrict).
    std::string line;
    line.reserve(96);
    line += '[';
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    char counts[64];
    std::snprintf(counts, sizeof counts, "] %3d%%  %lld of %lld ", percent, static_cast<long long>(done),
                  static_cast<long long>(total));
    line += counts;
    line += unit;
    return line;
}

}  // namespace

std::string RecordsLine(std::int64_t done, std::int64_t total, const std::string& what, double secondsLeft) {
    std::string line = Bar(done, total, "records " + what);
    line += "  ";
    line += secondsLeft >= 0.0 ? Clock(secondsLeft) : std::string("--:--");
    line += " left";
    return line;
}

std::string ProgressLine(std::int64_t done, std::int64_t total, std::chrono::duration<double> elapsed) {
    std::string line = Bar(done, total, "Bytes");
    const double seconds = elapsed.count();
    if (done > 0 && seconds > 0.0) {
        const double rate = static_cast<double>(done) / seconds;
        line += "  ";
        line += Rate(rate);
        line += "  ";
        line += Clock(static_cast<double>(total - done) / rate);
        line += " left";
    } else {
        line += "  -- B/s  --:-- left";
    }
    return line;
}

}  // namespace veltra::terminal
