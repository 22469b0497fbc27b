// Hand-offs from worker threads to the GUI thread through Qt's event queue, marked for
// ThreadSanitizer, which cannot see Qt's locks.
//
// This is the program's one way for a worker to hand something to the GUI thread: it posts a
// CWorkerEvent carrying the result (copied or shared, never a reference back into the worker)
// to a QObject of the GUI thread, whose event() runs it there. The receiver never reaches back
// into the worker, and the GUI thread never waits for a worker except to join one that has
// posted its last event. (The capture session, session/capture_session.h, and the decoders'
// runner, ui/decode_runner.h, hand over this way; neither uses queued signals across threads.)
#pragma once

#include <QCoreApplication>
#include <QEvent>

#include <functional>
#include <utility>

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateHappensBefore(const char* file, int line, const volatile void* addr);
extern "C" void AnnotateHappensAfter(const char* file, int line, const volatile void* addr);
/// Everything written before this is visible after the matching QUILLON_HANDOFF_RECEIVED.
#define QUILLON_HANDOFF_SENT(addr) AnnotateHappensBefore(__FILE__, __LINE__, addr)
#define QUILLON_HANDOFF_RECEIVED(addr) AnnotateHappensAfter(__FILE__, __LINE__, addr)
#else
#define QUILLON_HANDOFF_SENT(addr) static_cast<void>(addr)
#define QUILLON_HANDOFF_RECEIVED(addr) static_cast<void>(addr)
#endif

namespace quillon {

/// A piece of a worker's work for the GUI thread. Qt owns the event once posted and deletes it
/// unrun when the receiver has gone; what it captured is then released.
class CWorkerEvent : public QEvent {
public:
    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    explicit CWorkerEvent(std::function<void()> work)
        : QEvent(EventType()), m_work(std::move(work)) {}
    std::function<void()> m_work;

    /// Posts work to receiver's thread. Any thread, while receiver exists.
    static void Post(QObject* receiver, std::function<void()> work) {
        auto* event = new CWorkerEvent(std::move(work));
        QUILLON_HANDOFF_SENT(event);
        QCoreApplication::postEvent(receiver, event); // Qt takes ownership
    }
    /// For the receiver's event(): runs event when it is one; true then.
    static bool Run(QEvent* event) {
        QUILLON_HANDOFF_RECEIVED(event); // before even its type is read
        if (event->type() != EventType()) {
            return false;
        }
        static_cast<CWorkerEvent*>(event)->m_work();
        return true;
    }
};

} // namespace quillon
