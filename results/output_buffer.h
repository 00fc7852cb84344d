// Output text gathered in memory and written to its file in large pieces, instead of one
// write call per line.
#pragma once

#include <cstdio>
#include <string>

namespace trelvo {

struct OutputBuffer {
    static constexpr size_t WRITE_SIZE = 64 * 1024;

    explicit OutputBuffer(std::FILE* file) : out(file) {}
    ~OutputBuffer() { write(); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    void write() {
        std::fwrite(text.data(), 1, text.size(), out);
        text.clear();
    }
    void write_when_full() {
        if (text.size() >= WRITE_SIZE) write();
    }

    std::FILE* out;
    std::string text;  // not yet written
};

}  // namespace trelvo
