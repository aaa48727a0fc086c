// Case folding for the names the tool compares without regard to case (its
// option words, a settings file's sections and keys): ASCII's letters only,
// whatever the locale, which the C library's tolower would follow.
#pragma once

namespace ft232h {

// A capital ASCII letter in lower case; every other byte as it is.
constexpr char FoldAsciiCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace ft232h
