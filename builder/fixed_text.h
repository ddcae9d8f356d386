// FixedText: a text field of fixed width, as the editor's records keep them.
//
// The width counts the terminating zero, so a FixedText<50> holds at most
// 49 characters. A text that does not fit is refused whole: the field keeps
// its old contents and the caller reports the refusal. Nothing is ever cut.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace morvane {

template <size_t N>
class FixedText {
    static_assert(N > 1, "a field must hold at least one character");

  public:
    static constexpr size_t kWidth = N;
    static constexpr size_t kMaxLength = N - 1;

    FixedText() = default;
    // For literals known to fit (defaults such as "1").
    template <size_t M>
    constexpr explicit FixedText(const char (&text)[M]) {
        static_assert(M <= N, "literal longer than the field");
        for (size_t i = 0; i < M; ++i) text_[i] = text[i];
    }

    static bool Fits(std::string_view text) { return text.size() <= kMaxLength; }

    // Replaces the contents; false, with the field unchanged, when text is
    // longer than kMaxLength or holds a zero byte.
    bool Assign(std::string_view text) {
        if (!Fits(text) || text.find('\0') != std::string_view::npos) return false;
        std::memcpy(text_, text.data(), text.size());
        text_[text.size()] = '\0';
        return true;
    }

    const char* c_str() const { return text_; }
    std::string_view view() const { return text_; }
    std::string str() const { return text_; }
    bool empty() const { return text_[0] == '\0'; }

    bool operator==(std::string_view other) const { return view() == other; }

  private:
    char text_[N] = {};
};

}  // namespace morvane
