// The settings check and the word they make.
#include "session/capture_settings.h"

#include "search/condition.h"

#include <variant>

namespace quillon {

std::optional<SettingsProblem> ValidateSettings(const CaptureSettings& settings) {
    const auto problem = [](SettingsProblem::Kind kind, SettingsField field = {}) {
        SettingsProblem p;
        p.kind = kind;
        p.field = field;
        return p;
    };
    if (settings.rate != 1 && settings.rate != 10 && settings.rate != 100 &&
        settings.rate != 1000) {
        return problem(SettingsProblem::Kind::Rate);
    }
    if (const auto wrong =
            WrongLengthField(settings.trigPos, settings.trigPattern, settings.genType)) {
        return problem(SettingsProblem::Kind::Length, *wrong);
    }
    const std::pair<SettingsField, const std::string*> fields[] = {
        {SettingsField::TrigPos, &settings.trigPos},
        {SettingsField::TrigPattern, &settings.trigPattern},
        {SettingsField::GenType, &settings.genType}};
    for (const auto& [field, text] : fields) {
        if (HasControlCharacter(*text)) {
            return problem(SettingsProblem::Kind::ControlCharacter, field);
        }
    }
    if (settings.replyDelay.count() < 0 || settings.replyDelay.count() > kMaxReplyDelayMs) {
        return problem(SettingsProblem::Kind::ReplyDelay);
    }
    if (settings.count < 0 || settings.count > kMaxCaptureCount) {
        return problem(SettingsProblem::Kind::Count);
    }
    if (!settings.untilCondition.empty()) {
        const auto parsed = ParseCondition(settings.untilCondition);
        if (const auto* error = std::get_if<ConditionError>(&parsed)) {
            SettingsProblem p = problem(SettingsProblem::Kind::Condition);
            p.offset = error->offset;
            p.message = error->message;
            return p;
        }
    }
    return std::nullopt;
}

std::optional<std::array<char, kSettingsWordLength>>
SettingsWordFor(const CaptureSettings& settings) {
    if (ValidateSettings(settings)) {
        return std::nullopt;
    }
    return FrameSettingsWord(ComposeSettingsWord(settings.rate, settings.trigPos,
                                                 settings.trigPattern, settings.genType));
}

bool WantsAnotherCapture(const CaptureSettings& settings, int done) {
    const bool repeats = settings.repeat || !settings.untilCondition.empty();
    return repeats && (settings.count == 0 || done < settings.count);
}

} // namespace quillon
