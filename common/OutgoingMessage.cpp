#include "common/OutgoingMessage.h"

#include <utility>

namespace plx {

void OutgoingMessage::append(std::string_view text) {
    if (text.empty()) return;
    size_ += text.size();
    // Adjacent texts are one piece: fewer, larger writes.
    if (!pieces_.empty() && !pieces_.back().produce) {
        pieces_.back().text.append(text);
        return;
    }
    pieces_.push_back(Piece{std::string(text), 0, {}});
}

void OutgoingMessage::appendProduced(std::uint64_t size, Producer produce) {
    size_ += size;
    pieces_.push_back(Piece{{}, size, std::move(produce)});
}

void OutgoingMessage::prepend(std::string_view text) {
    if (text.empty()) return;
    size_ += text.size();
    if (!pieces_.empty() && !pieces_.front().produce) {
        pieces_.front().text.insert(0, text);
        return;
    }
    pieces_.insert(pieces_.begin(), Piece{std::string(text), 0, {}});
}

void OutgoingMessage::append(OutgoingMessage&& other) {
    for (Piece& piece : other.pieces_) {
        if (piece.produce)
            appendProduced(piece.size, std::move(piece.produce));
        else
            append(piece.text);
    }
    other.pieces_.clear();
    other.size_ = 0;
}

bool OutgoingMessage::writeTo(const ByteSink& sink) const {
    for (const Piece& piece : pieces_) {
        if (!piece.produce) {
            if (!sink(piece.text.data(), piece.text.size())) return false;
            continue;
        }
        std::uint64_t given = 0;
        bool tooMuch = false;
        ByteSink counted = [&](const void* data, std::size_t size) {
            if (size > piece.size - given) {
                tooMuch = true;
                return false;
            }
            given += size;
            return sink(data, size);
        };
        if (!piece.produce(counted) || tooMuch || given != piece.size) return false;
    }
    return true;
}

bool OutgoingMessage::toText(std::string& out) const {
    out.clear();
    out.reserve(static_cast<std::size_t>(size_));
    return writeTo([&out](const void* data, std::size_t size) {
        out.append(static_cast<const char*>(data), size);
        return true;
    });
}

} // namespace plx
