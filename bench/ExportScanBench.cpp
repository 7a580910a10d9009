// Times scanExports on a shader of typical shape and on 16 MiB inputs built to
// be as hard as possible for it. Prints figures only.

#include "ExportScan.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

struct Timing {
    double medianMs = 0;
    std::size_t records = 0;
};

Timing timeScan(const std::string& text, int runs) {
    std::vector<double> ms;
    std::size_t records = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const std::vector<ExportedUniform> found = scanExports(text);
        const auto stop = std::chrono::steady_clock::now();
        records = found.size();
        ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], records};
}

void report(const char* label, const std::string& text, int runs) {
    const Timing t = timeScan(text, runs);
    std::printf("%-52s %9.2f MiB %10.2f ms %9zu records (median of %d)\n", label,
                static_cast<double>(text.size()) / (1 << 20), t.medianMs, t.records, runs);
}

// About 1 KiB of ordinary shader code between annotations.
std::string typicalShader(std::size_t annotations, std::size_t bytes) {
    static const char* const kinds[] = {"rocket", "imgui", "internal"};
    static const char* const types[] = {"float", "vec2", "vec3", "vec4"};
    const std::size_t gap = bytes / annotations;
    std::string text = "#version 460 core\nlayout(location = 0) in vec2 vUv;\nout vec4 color;\n";
    for (std::size_t i = 0; i < annotations; ++i) {
        const std::string n = std::to_string(i);
        const std::size_t until = text.size() + gap;
        text += "#pragma EXPORT(" + std::string(kinds[i % 3]) + "=group" + n + ":value)\nuniform " +
                types[i % 4] + " value" + n + ";\n";
        const std::string filler = "// smooth minimum of two signed distances, k controls the blend\n"
                                   "float smin" + n + "(float a, float b, float k) { float h = max(k - abs(a - b), 0.0); "
                                   "return min(a, b) - h * h * 0.25 / k; }\n";
        while (text.size() + filler.size() <= until) text += filler;
        text.append(until - text.size(), ' ');
    }
    text += "void main() { color = vec4(vUv, 0.0, 1.0); }\n";
    return text;
}

std::string repeated(const std::string& unit, std::size_t bytes) {
    std::string text;
    text.reserve(bytes + unit.size());
    while (text.size() + unit.size() <= bytes) text += unit;
    return text;
}

}  // namespace

int main() {
    constexpr std::size_t mib = std::size_t{1} << 20;
    constexpr std::size_t big = 16 * mib;

    report("1 MiB shader, 1000 annotations", typicalShader(1000, mib), 21);

    std::mt19937 rng(1u);
    std::string noise(big, '\0');
    for (char& c : noise) c = static_cast<char>(rng() & 0xff);
    report("16 MiB random bytes", noise, 3);
    report("16 MiB spaces", std::string(big, ' '), 3);
    report("16 MiB line feeds between annotation and uniform",
           "#pragma EXPORT(rocket=a)" + std::string(big, '\n') + "uniform float x;", 3);
    report("16 MiB of \"#pragma\"", repeated("#pragma", big), 3);
    report("16 MiB of \"#pragma EXPORT(\" with kind runs", repeated("#pragma EXPORT(abcdefgh ", big), 3);
    report("16 MiB chain of annotations before one uniform",
           repeated("#pragma EXPORT(k=t)\n", big) + "uniform vec4 v;", 3);
    report("16 MiB of annotated uniforms", repeated("#pragma EXPORT(k=t) uniform float x;\n", big), 3);
    report("16 MiB typical shader, 16000 annotations", typicalShader(16000, big), 3);
    return 0;
}
