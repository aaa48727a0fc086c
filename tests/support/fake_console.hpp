// A Console that keeps what it is given, for tests to compare byte for byte.
#pragma once

#include <string>
#include <vector>

#include "app/console.hpp"

namespace ft232h::testing {

class FakeConsole final : public Console {
public:
    enum class Kind { kText, kArgument, kBeginNotice, kEndNotice };
    struct Event {
        Kind kind;
        std::string bytes;  // empty for the notice markers
    };

    void WriteText(std::string_view shiftJisText) override;
    void WriteArgument(std::string_view bytes) override;
    void BeginNotice() override;
    void EndNotice() override;

    // Every byte written, text and arguments alike, in order.
    std::string output;
    // The same, with the kind of each write and the notice markers.
    std::vector<Event> events;
};

}  // namespace ft232h::testing
