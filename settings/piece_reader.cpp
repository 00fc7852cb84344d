#include "settings/piece_reader.h"

#include <unistd.h>

#include "base/interrupted_calls.h"

namespace trelvo {

int PieceReader::peek_raw() {
    if (position_ == length_) {
        if (finished_) return -1;
        const ssize_t got = retry_interrupted([&] { return ::read(fd_, buffer_, sizeof buffer_); });
        if (got <= 0) {
            finished_ = true;
            return -1;
        }
        position_ = 0;
        length_ = static_cast<std::size_t>(got);
    }
    return static_cast<unsigned char>(buffer_[position_]);
}

int PieceReader::next() {
    const int c = peek_raw();
    if (c < 0) return c;
    ++position_;
    if (c == '\r' && peek_raw() == '\n') {
        ++position_;
        return '\n';
    }
    return c;
}

bool PieceReader::read_piece(std::string& piece, std::size_t limit) {
    piece.clear();
    while (piece.size() < limit) {
        const int c = next();
        if (c < 0) break;
        piece.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return !piece.empty();
}

}  // namespace trelvo
