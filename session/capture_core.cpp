// One capture and what it tells on the way.
#include "session/capture_core.h"

#include "capture/capture_bridge.h"

namespace quillon {

namespace {

/// The run's host: turns its steps into states for the events.
class CStateReporter : public ICaptureHost {
public:
    CStateReporter(SessionState state, ICaptureEvents& events) : m_state(state), m_events(events) {}

    void TriggerPolled(int polls) override {
        const auto now = std::chrono::steady_clock::now();
        if (polls == 1) {
            m_waitStart = now;
        }
        const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - m_waitStart);
        if (polls == 1 || waited != m_state.waited) {
            m_state.phase = SessionState::Phase::WaitingForTrigger;
            m_state.waited = waited;
            m_events.StateChanged(m_state);
        }
    }
    void PacketRequested(int index) override {
        m_state.phase = SessionState::Phase::Downloading;
        m_state.packet = index + 1;
        m_events.StateChanged(m_state);
    }
    void ReportPacketIncident(const PacketIncident& incident) override {
        ++m_state.warnings;
        m_events.PacketIncident(incident);
        m_events.StateChanged(m_state);
    }
    void Redraw() override { m_events.Redraw(); }
    void ReportLinkLost() override { m_events.LinkLost(); }
    void ReportNotTakingCommands() override { m_events.NotTakingCommands(); }

    [[nodiscard]] SessionState State() const { return m_state; }

private:
    SessionState m_state;
    ICaptureEvents& m_events;
    std::chrono::steady_clock::time_point m_waitStart;
};

} // namespace

CCaptureCore::CCaptureCore(IAnalyzerHost& host) : m_link(m_port, host) {
    m_link.SetCancelFlag(&m_flags.m_bCancel);
}

int CCaptureCore::Start(const PortList& ports, const StartupHooks& hooks) {
    m_port.Close();
    return StartAnalyzer(ports, m_port, m_link, hooks);
}

bool CCaptureCore::SendSettings(const CaptureSettings& settings) {
    const auto word = SettingsWordFor(settings);
    if (!word) {
        return false;
    }
    m_link.SetFastReplies(settings.fast);
    return m_link.SendSettings(word->data()) || !m_port.IsWriteStalled();
}

CaptureOutcome CCaptureCore::Capture(const CaptureSettings& settings, SessionState state,
                                     ICaptureEvents& events) {
    m_flags.m_bTriggerMode = settings.triggerMode ? 1 : 0;
    state.phase = SessionState::Phase::Idle;
    state.packet = 0;
    state.waited = {};
    CStateReporter reporter(state, events);
    CaptureOutcome outcome;
    outcome.result = RunCapture(m_link, m_store, m_storeLock, m_flags, reporter);
    if (outcome.result.packetsAccepted > 0) {
        std::lock_guard lock(m_storeLock);
        outcome.data = CaptureFromRun(m_store, settings.rate, outcome.result, settings.trigPos);
    }
    if (outcome.result.packetsAccepted > 0) {
        outcome.capture = ToCapture(outcome.data);
    }
    outcome.state = reporter.State();
    outcome.state.phase = SessionState::Phase::Idle;
    return outcome;
}

SampleStore CCaptureCore::Store() const {
    std::lock_guard lock(m_storeLock);
    return m_store;
}

void CCaptureCore::ClearStore() {
    std::lock_guard lock(m_storeLock);
    m_store = SampleStore{};
}

} // namespace quillon
