// The state line's words.
#include "session/session_state.h"

#include "device/protocol.h"

namespace quillon {

namespace {
struct StateWords {
    const char* capture;     // "capture %k"
    const char* of;          // " of %n"
    const char* waiting;     // before the seconds
    const char* seconds;     // after them
    const char* downloading; // before n
    const char* packetsOf;   // between n and 64
    const char* warnings;    // after the count
    const char* found;       // before k
    const char* foundAfter;  // after k
};
constexpr StateWords kEnglish{"capture ",
                              " of ",
                              "waiting for the trigger (",
                              " s)",
                              "downloading ",
                              " of ",
                              " packet warning(s)",
                              "found in capture ",
                              ""};
constexpr StateWords kJapanese{"取り込み ",        "/", "トリガ待ち (",      " 秒)",
                               "ダウンロード中 ",  "/", " 件のパケット警告", "取り込み ",
                               " で見つかりました"};
} // namespace

std::string StateText(const SessionState& state, StateLanguage language) {
    const StateWords& w = language == StateLanguage::English ? kEnglish : kJapanese;
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (!part.empty()) {
            text += (text.empty() ? "" : "; ") + part;
        }
    };
    if (state.foundIn > 0) {
        add(w.found + std::to_string(state.foundIn) + w.foundAfter);
    }
    std::string doing;
    if (state.phase == SessionState::Phase::WaitingForTrigger) {
        doing = w.waiting + std::to_string(state.waited.count()) + w.seconds;
    } else if (state.phase == SessionState::Phase::Downloading) {
        doing = w.downloading + std::to_string(state.packet) + w.packetsOf +
                std::to_string(kPacketsPerDownload);
    }
    if (state.capture > 0 && state.phase != SessionState::Phase::Idle) {
        std::string which = w.capture + std::to_string(state.capture);
        if (state.captures > 0) {
            which += w.of + std::to_string(state.captures);
        }
        doing = which + ": " + doing;
    }
    add(doing);
    if (state.warnings > 0) {
        add(std::to_string(state.warnings) + w.warnings);
    }
    return text;
}

} // namespace quillon
