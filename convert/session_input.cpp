#include "convert/session_input.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace morvane {
namespace {

// The number of line ends in [p, end), sixteen bytes at a time.
int64_t CountLineEnds(const char* p, const char* end) {
    using Bytes = unsigned char __attribute__((vector_size(16)));
    const Bytes newlines = {'\n', '\n', '\n', '\n', '\n', '\n', '\n', '\n',
                            '\n', '\n', '\n', '\n', '\n', '\n', '\n', '\n'};
    int64_t count = 0;
    while (end - p >= 16) {
        // Each lane counts up by one per line end (a match is 0xFF, and
        // subtracting it adds one modulo 256), for at most 255 rounds before
        // it is added up.
        Bytes lanes = {};
        for (int round = 0; round < 255 && end - p >= 16; ++round, p += 16) {
            Bytes v;
            std::memcpy(&v, p, 16);
            lanes -= (Bytes)(v == newlines);
        }
        for (int i = 0; i < 16; ++i) count += lanes[i];
    }
    for (; p < end; ++p) count += *p == '\n';
    return count;
}

}  // namespace

InputWindow::~InputWindow() {
    if (fd_ >= 0) ::close(fd_);
}

bool InputWindow::Open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
}

bool InputWindow::More() {
    if (eof_) return false;
    // The buffer only grows, so that its bytes are set once, not for
    // every piece read.
    if (bytes_.size() - end_ < kInputPiece)
        bytes_.resize(std::max(bytes_.size() * 2, end_ + kInputPiece));
    // Up to four pieces where the buffer has room for them: fewer calls
    // once it has grown, while the window grows by a piece at a time.
    const size_t count = std::min(bytes_.size() - end_, 4 * kInputPiece);
    ssize_t n;
    do {
        n = ::read(fd_, bytes_.data() + end_, count);
    } while (n < 0 && errno == EINTR);
    end_ += static_cast<size_t>(std::max<ssize_t>(n, 0));
    if (n <= 0) {
        eof_ = true;
        failed_ = n < 0;
    }
    return n > 0;
}

void InputWindow::Fill(size_t index, size_t count) {
    while (end_ - std::min(end_, index) < count && More()) {
    }
}

size_t InputWindow::Find(std::string_view text, size_t from, size_t limit) {
    const size_t first = from;
    const size_t key = text.size() > 2 && text.substr(0, 2) == "</" ? 2 : 0;
    for (;;) {
        for (size_t at = from + key; at < end_;) {
            const void* hit = std::memchr(bytes_.data() + at, text[key], end_ - at);
            if (hit == nullptr) break;
            at = static_cast<size_t>(static_cast<const char*>(hit) - bytes_.data());
            if (at - key + text.size() <= end_ &&
                std::memcmp(bytes_.data() + at - key, text.data(), text.size()) == 0)
                return at - key;
            ++at;
        }
        from = end_ >= text.size() ? std::max(from, end_ - text.size() + 1) : from;
        if (end_ - first > limit || !More()) return std::string::npos;
    }
}

void InputWindow::TakeFront(size_t index, std::string& front) {
    CountTo(index);
    const size_t rest = end_ - index;
    if (front.size() < rest + kInputPiece)
        front.resize(std::max(bytes_.size(), rest + kInputPiece));
    std::memcpy(front.data(), bytes_.data() + index, rest);
    front.swap(bytes_);
    end_ = rest;
    counted_ -= index;
    base_ += static_cast<int64_t>(index);
}

void InputWindow::DropFront(size_t index) {
    CountTo(index);
    std::memmove(bytes_.data(), bytes_.data() + index, end_ - index);
    end_ -= index;
    counted_ -= index;
    base_ += static_cast<int64_t>(index);
}

void InputWindow::Place(size_t index, int& line, int& column) {
    CountTo(index);
    line = line_;
    column = static_cast<int>(base_ + static_cast<int64_t>(counted_) - lineStart_) + 1;
}

void InputWindow::Skip(size_t from, size_t to, int64_t lineEnds) {
    CountTo(from);
    if (to <= counted_) return;
    if (lineEnds > 0) {
        line_ += static_cast<int>(lineEnds);
        const void* last = memrchr(bytes_.data() + counted_, '\n', to - counted_);
        lineStart_ = base_ + (static_cast<const char*>(last) + 1 - bytes_.data());
    }
    counted_ = to;
}

void InputWindow::CountTo(size_t index) {
    if (index <= counted_) return;
    const char* p = bytes_.data() + counted_;
    const char* end = bytes_.data() + index;
    // The few bytes between two records, most often.
    if (end - p <= 16) {
        for (; p < end; ++p) {
            if (*p != '\n') continue;
            ++line_;
            lineStart_ = base_ + (p + 1 - bytes_.data());
        }
        counted_ = index;
        return;
    }
    if (int64_t lines = CountLineEnds(p, end); lines > 0) {
        line_ += static_cast<int>(lines);
        const void* last = memrchr(p, '\n', static_cast<size_t>(end - p));
        lineStart_ = base_ + (static_cast<const char*>(last) + 1 - bytes_.data());
    }
    counted_ = index;
}

size_t SkipToTag(InputWindow& in, size_t index, const std::function<size_t(size_t)>& drop) {
    for (;;) {
        int c = in.At(index);
        size_t run = 0;
        while (IsBlank(c)) {
            ++index;
            if (drop && ++run >= kSkipPiece) {
                index -= drop(index);
                run = 0;
            }
            c = in.At(index);
        }
        int next = c == '<' ? in.At(index + 1) : -1;
        if (next != '?' && next != '!') return index;
        bool comment = next == '!' && in.At(index + 2) == '-' && in.At(index + 3) == '-';
        const std::string_view close = next == '?' ? "?>" : comment ? "-->" : ">";
        size_t from = index + 2;
        size_t end;
        for (;;) {
            end = in.Find(close, from, drop ? kSkipPiece : std::string::npos);
            if (end != std::string::npos || in.AtEnd() || !drop) break;
            // The last bytes may begin the closing text: they stay.
            const size_t keep = in.bytes().size() - close.size();
            from = keep - drop(keep);
        }
        if (end == std::string::npos) return in.bytes().size();
        index = end + close.size();
    }
}

std::string TagName(InputWindow& in, size_t index) {
    std::string name;
    for (size_t i = index + 1; name.size() <= kMaxTagName; ++i) {
        int c = in.At(i);
        if (c < 0 || IsBlank(c) || c == '>' || c == '/') return name;
        name += static_cast<char>(c);
    }
    return name;
}

}  // namespace morvane
