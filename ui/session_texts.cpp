// The session's texts and the fields' check.
#include "ui/session_texts.h"

#include "ui/strings.h"

namespace quillon {

namespace {
// Run's checks of the fields, and a line that takes no commands.
constexpr const char* kFieldLengthText = "%1 は半角 %2 文字で入力してください。 \r\n"
                                         "設定は送っていません。 \r\n";
constexpr const char* kControlCharacterText = "設定に送れない文字(制御文字)が含まれています。 \r\n"
                                              "設定は送っていません。 \r\n";

} // namespace

QString FieldLengthText(SettingsField field) {
    switch (field) {
    case SettingsField::TrigPos:
        return QString::fromUtf8(kFieldLengthText)
            .arg(QStringLiteral("trigpos(1:0)"))
            .arg(kTrigPosMaxLength);
    case SettingsField::TrigPattern:
        return QString::fromUtf8(kFieldLengthText)
            .arg(QString::fromUtf8("ﾄﾘｶﾞﾊﾟﾀｰﾝ(15:0)"))
            .arg(kTrigPatternMaxLength);
    case SettingsField::GenType:
        break;
    }
    return QString::fromUtf8(kFieldLengthText).arg(QStringLiteral("gentype")).arg(kGenTypeLength);
}

QString ControlCharacterText() {
    return QString::fromUtf8(kControlCharacterText);
}

QString SessionWarningText(const SessionWarning& warning) {
    switch (warning.kind) {
    case SessionWarning::Kind::LinkLost:
        return QString::fromUtf8(kLinkLostText);
    case SessionWarning::Kind::NotTakingCommands:
        return QString::fromUtf8(kNotTakingCommandsText);
    case SessionWarning::Kind::Condition:
        return QString::fromStdString(warning.text);
    case SessionWarning::Kind::Packet:
        break;
    }
    if (warning.incident.kind == PacketIncident::Kind::OutOfStep) {
        return QString::fromUtf8(kOutOfStepText).arg(warning.incident.firstVoided);
    }
    const std::string text = PacketWarningText(warning.incident.count);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString StateLineText(const SessionState& state) {
    return QString::fromStdString(StateText(state, StateLanguage::Japanese));
}

QString RescanText(int nCom) {
    if (nCom < 0) {
        return QString::fromUtf8(kNotFoundText).simplified();
    }
    return QStringLiteral("COM%1 で見つかりました").arg(nCom);
}

// Drops control characters from whatever reaches a field, typed or pasted, so that no
// carriage return can end the settings command early and start another; then refuses what
// is longer than the field's place in the word. (A length limit of the field itself would
// cut a paste before its control characters are gone.)
QValidator::State CNoControlValidator::validate(QString& input, int& pos) const {
    for (qsizetype i = input.size() - 1; i >= 0; --i) {
        if (input.at(i).category() == QChar::Other_Control) {
            input.remove(i, 1);
            if (i < pos) {
                --pos;
            }
        }
    }
    return input.size() > m_nMaxLength ? Invalid : Acceptable;
}

} // namespace quillon
