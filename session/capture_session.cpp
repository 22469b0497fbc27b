// The session's run state on the GUI thread, and its worker's hand-overs.
#include "session/capture_session.h"

#include "search/matcher.h"
#include "session/thread_handoff.h"

#include <system_error>
#include <variant>

namespace quillon {

/// The worker's side: every call posts what it tells to the session's thread.
class CCaptureSession::CWorkerEvents : public ICaptureEvents {
public:
    CWorkerEvents(CCaptureSession& session, bool bRepeating)
        : m_session(session), m_bRepeating(bRepeating) {}
    void StateChanged(const SessionState& state) override {
        CWorkerEvent::Post(&m_session, [s = &m_session, state] { s->SetState(state); });
        m_nWarnings = state.warnings;
    }
    void PacketIncident(const quillon::PacketIncident& incident) override {
        SessionWarning warning;
        warning.incident = incident;
        warning.count = m_nWarnings + 1;
        warning.waits = !m_bRepeating; // a repetition is not halted by its warnings
        m_session.HandOverWarning(warning);
    }
    void Redraw() override {
        CWorkerEvent::Post(&m_session, [s = &m_session] { emit s->Redraw(); });
    }
    void LinkLost() override { Tell(SessionWarning::Kind::LinkLost); }
    void NotTakingCommands() override { Tell(SessionWarning::Kind::NotTakingCommands); }

private:
    void Tell(SessionWarning::Kind kind) {
        SessionWarning warning;
        warning.kind = kind;
        warning.waits = true;
        m_session.HandOverWarning(warning);
    }
    CCaptureSession& m_session;
    bool m_bRepeating;
    int m_nWarnings = 0;
};

CCaptureSession::CCaptureSession(QObject* parent) : QObject(parent), m_core(*this) {}

CCaptureSession::~CCaptureSession() {
    Cancel();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_core.Port().Close();
}

std::chrono::milliseconds CCaptureSession::ReplyDelay() {
    return m_pReplyHost != nullptr ? m_pReplyHost->ReplyDelay() : m_settings.replyDelay;
}

void CCaptureSession::ShowReply(const std::string& text) {
    if (m_pReplyHost != nullptr) {
        m_pReplyHost->ShowReply(text);
    }
}

bool CCaptureSession::event(QEvent* event) {
    return CWorkerEvent::Run(event) || QObject::event(event);
}

// ---- Start-up ---------------------------------------------------------------------------

int CCaptureSession::StartDevice() {
    m_nCom = m_core.Start(ReadPortList(), m_startup);
    return m_nCom;
}

bool CCaptureSession::Rescan() {
    if (IsCapturing()) {
        return false;
    }
    emit Rescanned(StartDevice());
    return true;
}

// ---- Runs ---------------------------------------------------------------------------------

std::optional<CaptureSettings> CCaptureSession::NextSettings() const {
    return m_settingsSource ? m_settingsSource() : std::optional<CaptureSettings>(m_settings);
}

CCaptureSession::StartResult CCaptureSession::Run() {
    if (IsCapturing()) {
        return StartResult::Busy;
    }
    std::optional<CaptureSettings> settings = NextSettings();
    if (!settings) {
        return StartResult::Invalid;
    }
    settings->repeat = m_bRepeat;
    settings->fast = IsFastDownload();
    settings->untilCondition.clear();
    return Start(*settings);
}

CCaptureSession::StartResult CCaptureSession::RunUntil(const std::string& condition) {
    if (IsCapturing()) {
        return StartResult::Busy;
    }
    std::optional<CaptureSettings> settings = NextSettings();
    if (!settings) {
        return StartResult::Invalid;
    }
    settings->repeat = true;
    settings->count = 0;
    settings->fast = IsFastDownload();
    settings->untilCondition = condition;
    return Start(*settings);
}

CCaptureSession::StartResult CCaptureSession::Start(const CaptureSettings& settings) {
    if (IsCapturing()) {
        return StartResult::Busy;
    }
    if (ValidateSettings(settings)) {
        return StartResult::Invalid;
    }
    if (!m_bRepeatNext) { // a new Run, not the next capture of a repetition
        m_bRepeating = settings.repeat || !settings.untilCondition.empty();
        m_bRepeatEnding = false;
        m_state = SessionState{};
        m_state.captures = m_bRepeating ? settings.count : 0;
    }
    m_settings = settings;
    if (m_bRepeating) {
        ++m_state.capture;
    }
    if (!m_bBusy) {
        m_bBusy = true;
        emit BusyChanged(true);
    }
    if (!m_core.SendSettings(settings)) {
        // The settings did not go out: a capture now would use the old ones.
        SessionWarning warning;
        warning.kind = SessionWarning::Kind::NotTakingCommands;
        emit Warning(warning);
        EndRun();
        return StartResult::NotTakingCommands;
    }
    m_core.Flags().m_bCancel = false;
    try {
        m_worker = std::thread(&CCaptureSession::RunWorker, this, settings, m_state);
    } catch (const std::system_error&) {
        EndRun(); // no worker: nothing else would end the run
        return StartResult::NoWorker;
    }
    return StartResult::Started;
}

void CCaptureSession::RunWorker(CaptureSettings settings, SessionState state) {
    CWorkerEvents events(*this, m_bRepeating);
    CaptureOutcome outcome = m_core.Capture(settings, state, events);
    // Its last step: the GUI thread joins it when this arrives.
    CWorkerEvent::Post(this, [this, outcome = std::move(outcome)] { OnCaptureDone(outcome); });
}

void CCaptureSession::OnCaptureDone(const CaptureOutcome& outcome) {
    if (m_worker.joinable()) {
        m_worker.join(); // its last step was to post this: it is ending now
    }
    m_lastResult = outcome.result;
    if (outcome.capture) {
        m_lastCapture = outcome.data;
        m_bHaveCapture = true;
    }
    SessionState state = outcome.state;
    state.phase = SessionState::Phase::Idle;
    const bool cancelled = m_core.Flags().m_bCancel.load();
    if (!cancelled && m_bRepeating && !m_settings.untilCondition.empty() && outcome.capture &&
        MatchesUntil(outcome.capture)) {
        state.foundIn = state.capture;
        m_bRepeatEnding = true; // found: this was the last capture
    }
    SetState(state);
    const bool bRepeatOn = !cancelled && RepeatGoesOn();
    if (!bRepeatOn) {
        EndRun();
    }
    // Whoever follows the captures sees each one before the next overwrites the memory.
    emit CaptureReady(outcome.capture);
    if (bRepeatOn && RepeatGoesOn()) { // a receiver may have ended it
        m_bRepeatNext = true;
        std::optional<CaptureSettings> next = NextSettings();
        if (next) {
            next->repeat = m_settings.repeat;
            next->count = m_settings.count;
            next->untilCondition = m_settings.untilCondition;
            next->fast = IsFastDownload();
        }
        const bool started = next && Start(*next) == StartResult::Started;
        m_bRepeatNext = false;
        if (!started && m_bBusy) {
            EndRun();
        }
    } else if (bRepeatOn) {
        EndRun();
    }
}

bool CCaptureSession::MatchesUntil(const CapturePtr& capture) {
    const auto found = FindMatches(m_settings.untilCondition, capture);
    if (const auto* error = std::get_if<ConditionError>(&found)) {
        SessionWarning warning;
        warning.kind = SessionWarning::Kind::Condition;
        warning.text = error->message;
        emit Warning(warning);
        m_bRepeatEnding = true; // it would not fit the next capture either
        return false;
    }
    return !std::get<std::vector<Match>>(found).empty();
}

bool CCaptureSession::RepeatGoesOn() const {
    // A repetition without a working analyzer would only repeat its warnings.
    const CSerialPort& port = m_core.Port();
    return m_bRepeating && !m_bRepeatEnding && WantsAnotherCapture(m_settings, m_state.capture) &&
           port.IsOpen() && !port.IsHungUp();
}

void CCaptureSession::EndRun() {
    if (m_bRepeatEnding) {
        m_core.Flags().m_bStopRequest = 0; // that Stop has ended the repetition
    }
    m_bRepeating = false;
    m_bRepeatEnding = false;
    if (m_bBusy) {
        m_bBusy = false;
        emit BusyChanged(false);
    }
}

void CCaptureSession::Stop() {
    m_core.Flags().m_bStopRequest = 1;
    if (m_bRepeating) {
        m_bRepeatEnding = true;
    }
}

void CCaptureSession::Cancel() {
    {
        std::lock_guard lock(m_gateMutex);
        m_core.Flags().m_bCancel = true;
    }
    m_gate.notify_all();
}

void CCaptureSession::SetRepeat(bool bRepeat) {
    if (bRepeat == m_bRepeat) {
        return;
    }
    m_bRepeat = bRepeat;
    if (!bRepeat && m_bRepeating) {
        m_bRepeatEnding = true; // after the capture under way
    }
    emit RepeatChanged(bRepeat);
}

void CCaptureSession::SetFastDownload(bool bFast) {
    if (bFast == IsFastDownload()) {
        return;
    }
    m_core.Link().SetFastReplies(bFast);
    m_settings.fast = bFast;
    emit FastDownloadChanged(bFast);
}

void CCaptureSession::SetState(const SessionState& state) {
    if (state == m_state) {
        return;
    }
    m_state = state;
    emit StateChanged(m_state);
}

// ---- Warnings --------------------------------------------------------------------------------

void CCaptureSession::HandOverWarning(const SessionWarning& warning) {
    if (m_core.Flags().m_bCancel) {
        return;
    }
    const std::uint64_t ticket = ++m_nWarningsPosted;
    CWorkerEvent::Post(this, [this, warning, ticket] {
        if (!m_core.Flags().m_bCancel) {
            emit Warning(warning);
        }
        AcknowledgeWarning(ticket);
    });
    if (!warning.waits) {
        return;
    }
    std::unique_lock lock(m_gateMutex);
    m_gate.wait(lock, [&] { return m_nWarningsSeen >= ticket || m_core.Flags().m_bCancel.load(); });
}

void CCaptureSession::AcknowledgeWarning(std::uint64_t ticket) {
    {
        std::lock_guard lock(m_gateMutex);
        m_nWarningsSeen = std::max(m_nWarningsSeen, ticket);
    }
    m_gate.notify_all();
}

} // namespace quillon
