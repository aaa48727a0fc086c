#include "tests/support/fake_console.hpp"

namespace ft232h::testing {

void FakeConsole::WriteText(std::string_view shiftJisText) {
    output.append(shiftJisText);
    events.push_back({Kind::kText, std::string(shiftJisText)});
}

void FakeConsole::WriteArgument(std::string_view bytes) {
    output.append(bytes);
    events.push_back({Kind::kArgument, std::string(bytes)});
}

void FakeConsole::BeginNotice() {
    events.push_back({Kind::kBeginNotice, {}});
}

void FakeConsole::EndNotice() {
    events.push_back({Kind::kEndNotice, {}});
}

}  // namespace ft232h::testing
