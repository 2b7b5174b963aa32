#pragma once
// The progress meter of vykget: one line, redrawn at most ten times a second,
// with the bytes so far, the total and percent when the length is known, the
// average rate and the time left; a final line at the end.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class TProgressMeter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Writer = std::function<void(const std::string&)>;

    explicit TProgressMeter(Writer write, Clock clock = std::chrono::steady_clock::now);

    // A new response: its body has total bytes, or -1 when the length is not known.
    void Start(std::int64_t total);
    // Bytes of the body so far.
    void Update(std::int64_t done);
    // Draws the final line of the body under way, if one was started.
    void Finish();
    // Blanks a line under way, so that other text can be written on a clean
    // line; the next update draws it again.
    void Clear();

private:
    static std::string Line(std::int64_t done, std::int64_t total, double seconds, bool final);
    void Draw(bool final);

    Writer write_;
    Clock clock_;
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point drawn_{};
    std::int64_t total_ = -1;
    std::int64_t done_ = 0;
    std::size_t width_ = 0;
    bool active_ = false;
    bool shown_ = false;
};
