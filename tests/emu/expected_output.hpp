// What the tool must print, built from the same Shift_JIS text the user sees.
// The literals are UTF-8 here and Shift_JIS in the built test, exactly as in
// the tool; a row of the end-to-end table pins a line as raw bytes, so a
// build that lost the conversion cannot pass by comparing UTF-8 with UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ft232h::e2e {

inline std::string Line(std::string text) {
    return text + "\r\n";
}

// "%2d" of the device number.
inline std::string Padded(std::int32_t number) {
    std::string digits = std::to_string(number);
    return digits.size() < 2 ? std::string(2 - digits.size(), ' ') + digits : digits;
}

inline std::string Table(const std::vector<std::pair<std::int32_t, std::string>>& devices) {
    std::string text = Line("FT232H が " + std::to_string(devices.size()) + " 個見つかりました");
    text += Line("--------------------------");
    text += Line("[NO]       [SerialNumber]");
    for (const auto& [index, serial] : devices) {
        text += Line(Padded(index) + "          " + serial);
    }
    text += Line("--------------------------");
    return text;
}

inline std::string Usage() {
    return Line("オプション") + Line("-init [NO]  ...  [NO] の FT232H の EEProm を初期化する") +
           Line("-chk [NO]   ...  [NO] の FT232H が YM2610 用の設定になっているかチェックする") +
           Line("-set [NO]   ...  [NO] の FT232H を YM2610 用の設定にセットする") +
           Line("-erase [NO] ...  [NO] の FT232H の EEProm を消去する") +
           Line("-r [NO]     ...  [NO] の FT232H の eeprom をファイルに書き出す") +
           Line("                 書き出すファイル名 = ft232h_eeprom_no[NO].ini") +
           Line("-w [NO]     ...  [NO] の FT232H の eeprom をファイルから読んだ値で書き換える") +
           Line("                 読み出すファイル名 = ft232h_eeprom_to_write_no[NO].ini");
}

inline std::string No(std::int32_t index) {
    return "NO." + std::to_string(index);
}

inline std::string Replug(std::int32_t index) {
    return Line(No(index) + " の FT232H を一度抜き差しして下さい");
}

inline std::string NotFound(const std::string& typed) {
    return Line("NO." + typed + " の FT232H は存在しません");
}
inline std::string CheckPassed(std::int32_t i) {
    return Line(No(i) + " の FT232H は YM2610 用にセッティングされています");
}
inline std::string CheckFailed(std::int32_t i) {
    return Line(No(i) + " の FT232H は YM2610 用には使えません");
}
inline std::string SetDone(std::int32_t i) {
    return Line(No(i) + " の FT232H を YM2610 用にセットしました");
}
inline std::string SetFailed(std::int32_t i) {
    return Line(No(i) + " の FT232H の YM2610 用セッティングは失敗しました");
}
inline std::string EraseDone(std::int32_t i) {
    return Line(No(i) + " の FT232H の EEProm を消去しました");
}
inline std::string InitDone(std::int32_t i) {
    return Line(No(i) + " の FT232H の EEProm を初期化しました");
}
inline std::string InitFailed(std::int32_t i) {
    return Line(No(i) + " の FT232H の EEprom 初期化は失敗しました");
}
inline std::string ReadDone(std::int32_t i, const std::string& path) {
    return Line(No(i) + " の FT232H の eeprom を " + path + " に書き出しました");
}
inline std::string ReadFailed(std::int32_t i) {
    return Line(No(i) + " の FT232H の eeprom 読み出しが失敗しました");
}
inline std::string WriteDone(std::int32_t i, const std::string& path) {
    return Line(path + " の内容を " + No(i) + " の FT232H の eeprom に書き込みました");
}
inline std::string WriteFailed(std::int32_t i) {
    return Line(No(i) + " の FT232H の eeprom 書き込みが失敗しました");
}
inline std::string InvalidValue(const std::string& path, const std::string& key, const std::string& value) {
    return Line(path + " の " + key + "=" + value + " は不正な値です");
}

}  // namespace ft232h::e2e
