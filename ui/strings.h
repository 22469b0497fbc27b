// The program's own texts: captions, menu items and messages.
#pragma once

namespace quillon {

inline constexpr const char* kMainCaption = "QuillonLa16 (16ﾋﾞｯﾄのﾛｼﾞｯｸｱﾅﾗｲｻﾞ)";
inline constexpr const char* kAboutCaption = "バージョン情報 Quillon";
inline constexpr const char* kAboutMenuText = "バージョン情報 Quillon(&A)..."; // string 101
inline constexpr const char* kRegistryKey =
    "アプリケーション ウィザードで生成されたローカル アプリケーション";
inline constexpr const char* kAppVersion = "1.0.0.1";
inline constexpr const char* kUiFontFamily = "MS UI Gothic";
inline constexpr int kUiFontPoints = 9;

inline constexpr const char* kNotFoundText =
    "USBロジアナが見つかりません。 \r\n"
    "以下を試してください。 \r\n"
    "\r\n"
    "(1)USBロジアナの接続を確認する。  \r\n"
    "(2)ﾋｭｰｽﾞが切れていないか確認。 \r\n"
    "(3)他のUSB機器をはずす。 \r\n"
    "(4)ｱﾌﾟﾘｹｰｼｮﾝを終了してUSBを一度抜き差しして再ｽﾀｰﾄする。 \r\n"
    "(5)ｱﾌﾟﾘｹｰｼｮﾝを二重起動していないか確認する。 \r\n";

// Told once when the analyzer's line goes dead during a download (cable pulled).
inline constexpr const char* kLinkLostText = "USBロジアナとの接続が切れました。 \r\n"
                                             "ｹｰﾌﾞﾙを確認し、ｱﾌﾟﾘｹｰｼｮﾝを再ｽﾀｰﾄしてください。 \r\n";

// Told once when the analyzer takes no bytes: the settings (or a command of the run) did not
// go out whole.
inline constexpr const char* kNotTakingCommandsText = "USBロジアナがコマンドを受け付けません。 \r\n"
                                                      "ｹｰﾌﾞﾙを確認してください。 \r\n";

// Told once when a packet reply came later than the run waited for it: from then on no reply
// can be matched with its request, and the packets from %1 on count as not received.
inline constexpr const char* kOutOfStepText =
    "USBロジアナの応答が待ち時間より遅れて届きました。 \r\n"
    "パケット %1 以降はどの要求への応答か確かめられないため、 \r\n"
    "届かなかったものとして扱います。 \r\n";

// Capturing choices, in the main window's context menu and the viewer's capture tool bar.
inline constexpr const char* kRepeatMenuText = "連続取り込み(&R)";
inline constexpr const char* kFastMenuText = "高速ダウンロード(&F)";

inline constexpr const char* kFoundPortText = "found a port";
inline constexpr const char* kNoPortText = "no port";

} // namespace quillon
