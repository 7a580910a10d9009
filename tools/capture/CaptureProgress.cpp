#include "CaptureProgress.h"

#include <algorithm>

namespace zyr {

std::size_t formatCaptureProgress(char* out, std::size_t size, std::size_t done, std::size_t total, double elapsed) {
    if (size == 0) return 0;
    constexpr int kBarWidth = 20;
    char bar[kBarWidth + 1];
    const std::size_t filled = total == 0 ? kBarWidth : std::min<std::size_t>(kBarWidth, done * kBarWidth / total);
    for (int i = 0; i < kBarWidth; ++i) bar[i] = static_cast<std::size_t>(i) < filled ? '#' : '-';
    bar[kBarWidth] = '\0';

    // Until a frame is done and time has passed there is no rate to speak of.
    const bool measured = done > 0 && elapsed > 0.0;
    const double rate = measured ? static_cast<double>(done) / elapsed : 0.0;
    char rateText[24] = "   -- fps";
    char leftText[32] = "--:-- left";
    if (measured) {
        std::snprintf(rateText, sizeof rateText, "%6.1f fps", rate);
        const auto left = static_cast<long long>(static_cast<double>(total - std::min(done, total)) / rate + 0.5);
        if (left >= 3600)
            std::snprintf(leftText, sizeof leftText, "%lld:%02lld:%02lld left", left / 3600, left / 60 % 60, left % 60);
        else
            std::snprintf(leftText, sizeof leftText, "%lld:%02lld left", left / 60, left % 60);
    }
    // done is padded to total's width, so the line keeps its length as it counts.
    int digits = 1;
    for (std::size_t rest = total; rest >= 10; rest /= 10) ++digits;
    const int written =
        std::snprintf(out, size, "[%s] %*zu/%zu frames  %s  %s", bar, digits, done, total, rateText, leftText);
    return written < 0 ? 0 : std::min(static_cast<std::size_t>(written), size - 1);
}

CaptureProgress::CaptureProgress(std::FILE* out, std::size_t total, bool inPlace)
    : out_(out), total_(total), inPlace_(inPlace), start_(Clock::now()), lastDrawn_(start_) {}

void CaptureProgress::update(std::size_t done) {
    done_ = done;
    const auto interval = inPlace_ ? std::chrono::milliseconds(100) : std::chrono::milliseconds(5000);
    if (drawn_ && Clock::now() - lastDrawn_ < interval) return;
    draw();
}

void CaptureProgress::finish() {
    draw();
    if (inPlace_) std::fputc('\n', out_);
}

void CaptureProgress::draw() {
    lastDrawn_ = Clock::now();
    drawn_ = true;
    char line[160];
    const double elapsed = std::chrono::duration<double>(lastDrawn_ - start_).count();
    const std::size_t length = formatCaptureProgress(line, sizeof line, done_, total_, elapsed);
    // The trailing blanks wipe what a longer earlier line left on the terminal.
    if (inPlace_) std::fprintf(out_, "\r%.*s   ", static_cast<int>(length), line);
    else std::fprintf(out_, "%.*s\n", static_cast<int>(length), line);
    std::fflush(out_);
}

}  // namespace zyr
