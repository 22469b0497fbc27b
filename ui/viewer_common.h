// What the viewer's own sources (viewer_wnd.cpp, viewer_files.cpp, viewer_rows.cpp,
// viewer_hunt.cpp) share: texts, settings keys and small helpers. Not for use outside the
// viewer.
#pragma once

#include "capture/units.h"

#include <QRegularExpression>
#include <QSettings>
#include <QString>

namespace quillon::viewer {

inline constexpr const char* kLoadingTitle = "読み込み中";
inline constexpr const char* kNothingText = "表示するデータがありません。 \r\n";
inline constexpr const char* kViewNotKeptText = "表示の設定を保存できませんでした: %1";
inline constexpr const char* kColourText = "色の変更(&L)...";
inline constexpr const char* kOpenText = "開く(&O)...";
inline constexpr const char* kSaveAsText = "名前を付けて保存(&A)...";

// Settings kept per user.
inline constexpr const char* kSettingsOrg = "Quillon";
inline constexpr const char* kSettingsApp = "quillon";
inline constexpr const char* kDirKey = "viewer/dir";

inline QSettings UserSettings() {
    return QSettings(QString::fromLatin1(kSettingsOrg), QString::fromLatin1(kSettingsApp));
}

inline QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

inline QString TimeText(double seconds) {
    return QString::fromStdString(FormatDuration(seconds));
}

/// The command without its letter and dots: "開く(&O)..." -> "開く".
inline QString WithoutAccelerator(QString text) {
    static const QRegularExpression kLetter(QStringLiteral("\\(&[^)]\\)"));
    text.remove(kLetter);
    text.remove(QStringLiteral("..."));
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text.trimmed();
}

} // namespace quillon::viewer
