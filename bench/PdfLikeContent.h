// What the benchmarks compress and store: bytes that look like the inside of a
// PDF, the same on every run.
#pragma once

#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace bench {

// Content streams of text operators with varying numbers, and now and then
// a binary stream of smooth, slightly noisy samples as an image would be.
inline std::vector<unsigned char> pdfLikeContent(std::size_t size) {
    std::mt19937 engine(2024);
    auto random = [&engine](unsigned range) { return static_cast<unsigned>(engine() % range); };
    std::string text;
    char line[160];
    while (text.size() < size) {
        if (random(10) < 8) {
            for (int i = 0; i < 40; ++i) {
                std::snprintf(line, sizeof line, "BT /F%u %u Tf %u %u Td (Hello, page %u line %u) Tj ET\n",
                              random(6) + 1, random(20) + 6, 72 + random(460), 712 - random(640), random(500),
                              random(60));
                text += line;
                if (random(4) == 0) {
                    std::snprintf(line, sizeof line, "%.2f %.2f %.2f rg %u %u %u %u re f\n",
                                  random(100) / 100.0, random(100) / 100.0, random(100) / 100.0, random(600),
                                  random(800), random(200), random(30));
                    text += line;
                }
            }
        } else {
            const int width = 64 + static_cast<int>(random(192));
            unsigned base = random(256);
            for (int i = 0; i < width * 24; ++i) {
                base = (base + random(5) - 2) & 0xFF;
                text += static_cast<char>(base ^ random(4));
            }
        }
    }
    return std::vector<unsigned char>(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

}  // namespace bench
