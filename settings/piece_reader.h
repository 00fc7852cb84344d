// Line reading for the settings file: lines come in pieces of a bounded length, the way a
// fixed line buffer reads them, with CR LF folded into LF as a text-mode read does.
#pragma once

#include <cstddef>
#include <string>

namespace trelvo {

class PieceReader {
  public:
    // Reads from an open descriptor; the reader does not close it.
    explicit PieceReader(int fd) : fd_(fd) {}

    // The next piece: up to `limit` characters, ending early after a LF. A CR directly
    // before a LF is dropped; any other CR stays. False at the end of the input (or on a
    // read error), with `piece` empty.
    bool read_piece(std::string& piece, std::size_t limit);

    // True when no further character can be read.
    bool at_end() { return peek_raw() < 0; }

  private:
    int peek_raw();
    int next();

    int fd_;
    char buffer_[4096];
    std::size_t position_ = 0;
    std::size_t length_ = 0;
    bool finished_ = false;
};

}  // namespace trelvo
