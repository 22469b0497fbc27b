// The texts of the capture session as the windows show them, and the check of the window's
// settings fields as they are typed. GUI thread.
#pragma once

#include "capture/settings_word.h"
#include "session/capture_session.h"

#include <QString>
#include <QValidator>

namespace quillon {

/// "trigpos(1:0) は半角 2 文字で入力してください。..." for a field of the wrong length.
QString FieldLengthText(SettingsField field);
/// The settings hold a control character: nothing was sent.
QString ControlCharacterText();
/// The box (or status line) text of a session warning.
QString SessionWarningText(const SessionWarning& warning);
/// The viewer's state line: "取り込み 2/5: トリガ待ち (3 秒); 1 件のパケット警告".
QString StateLineText(const SessionState& state);
/// After a re-scan: "COM3 で見つかりました", or the not-found text on one line.
QString RescanText(int nCom);

/// Drops control characters from what reaches a field and refuses more than maxLength
/// characters.
class CNoControlValidator : public QValidator {
public:
    CNoControlValidator(int maxLength, QObject* parent)
        : QValidator(parent), m_nMaxLength(maxLength) {}
    State validate(QString& input, int& pos) const override;

private:
    int m_nMaxLength;
};

} // namespace quillon
