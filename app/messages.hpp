// The tool's own text. Written in UTF-8 here; the build turns every literal
// into Shift_JIS (code page 932), the bytes the user sees. Each line carries
// its own CR LF.
#pragma once

namespace ft232h::messages {

inline constexpr const char* kLibraryNotLoaded = "FTDI D2XX のライブラリがロードできません\r\n";
inline constexpr const char* kDeviceListFailed = "FTDI のデバイスリスト取得に失敗しました\r\n";
inline constexpr const char* kNoFt232h = "FT232H が見つかりません\r\n";
inline constexpr const char* kDevicesFound = "FT232H が %d 個見つかりました\r\n";
inline constexpr const char* kTableRule = "--------------------------\r\n";
inline constexpr const char* kTableHeading = "[NO]       [SerialNumber]\r\n";
inline constexpr const char* kTableLine = "%2d          %hs\r\n";
inline constexpr const char* kBusyDevice =
    "NO.%d の FTDI デバイスは他のプログラムかドライバが使用中のため調べられません\r\n";
inline constexpr const char* kBusyDeviceLinuxHint =
    "カーネルの ftdi_sio ドライバが使用している場合があります。README の Linux の項を参照して下さい\r\n";

inline constexpr const char* kUsageOptions = "オプション\r\n";
inline constexpr const char* kUsageInit = "-init [NO]  ...  [NO] の FT232H の EEProm を初期化する\r\n";
inline constexpr const char* kUsageCheck =
    "-chk [NO]   ...  [NO] の FT232H が YM2610 用の設定になっているかチェックする\r\n";
inline constexpr const char* kUsageSet = "-set [NO]   ...  [NO] の FT232H を YM2610 用の設定にセットする\r\n";
inline constexpr const char* kUsageErase = "-erase [NO] ...  [NO] の FT232H の EEProm を消去する\r\n";
inline constexpr const char* kUsageRead = "-r [NO]     ...  [NO] の FT232H の eeprom をファイルに書き出す\r\n";
inline constexpr const char* kUsageReadFile = "                 書き出すファイル名 = %s[NO].ini\r\n";
inline constexpr const char* kUsageWrite =
    "-w [NO]     ...  [NO] の FT232H の eeprom をファイルから読んだ値で書き換える\r\n";
inline constexpr const char* kUsageWriteFile = "                 読み出すファイル名 = %s[NO].ini\r\n";

inline constexpr const char* kEmptyLine = "\r\n";
inline constexpr const char* kWrongOption = "オプションが間違っています\r\n";
inline constexpr const char* kNoSuchDevice = "NO.%s の FT232H は存在しません\r\n";
inline constexpr const char* kReplugNotice = "NO.%d の FT232H を一度抜き差しして下さい\r\n";

inline constexpr const char* kReadDone = "NO.%d の FT232H の eeprom を %s に書き出しました\r\n";
inline constexpr const char* kReadFailed = "NO.%d の FT232H の eeprom 読み出しが失敗しました\r\n";
inline constexpr const char* kWriteDone = "%s の内容を NO.%d の FT232H の eeprom に書き込みました\r\n";
inline constexpr const char* kWriteFailed = "NO.%d の FT232H の eeprom 書き込みが失敗しました\r\n";
inline constexpr const char* kSettingsFileMissing = "%s がありません\r\n";
inline constexpr const char* kSettingsFileUnreadable = "%s を読み込めません\r\n";
inline constexpr const char* kSettingsFileUnwritable = "%s に書き込めません\r\n";
inline constexpr const char* kInvalidValue = "%s の %s=%s は不正な値です\r\n";
inline constexpr const char* kStringsBeyondTheChip = "%s の %s は合わせて %d バイトに収まりません\r\n";
inline constexpr const char* kChipStringsBeyondTheChip =
    "NO.%d の FT232H の文字列は合わせて %d バイトに収まらないため書き戻せません\r\n";
inline constexpr const char* kCheckPassed = "NO.%d の FT232H は YM2610 用にセッティングされています\r\n";
inline constexpr const char* kCheckFailed = "NO.%d の FT232H は YM2610 用には使えません\r\n";
inline constexpr const char* kSetDone = "NO.%d の FT232H を YM2610 用にセットしました\r\n";
inline constexpr const char* kSetFailed = "NO.%d の FT232H の YM2610 用セッティングは失敗しました\r\n";
inline constexpr const char* kEraseDone = "NO.%d の FT232H の EEProm を消去しました\r\n";
inline constexpr const char* kEraseFailed = "NO.%d の FT232H の EEprom 消去は失敗しました\r\n";
inline constexpr const char* kInitDone = "NO.%d の FT232H の EEProm を初期化しました\r\n";
inline constexpr const char* kInitFailed = "NO.%d の FT232H の EEprom 初期化は失敗しました\r\n";

}  // namespace ft232h::messages
