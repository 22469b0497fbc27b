// A deliberate race between a worker and the Qt event loop, for proving that the
// ThreadSanitizer suppressions still let real races in our code show. Not part of CI.
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

// A bounded number of posts, a millisecond apart: an unbounded loop floods the event queue
// faster than the loop drains it under ThreadSanitizer and grows without limit.
constexpr int kPosts = 200;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int unguarded = 0; // written by both threads with nothing between them
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kPosts; ++i) {
            ++unguarded;
            // Posting through Qt's queue, as the capture worker does, without an annotation.
            QMetaObject::invokeMethod(
                &app, [] {}, Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
    });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        ++unguarded;
        if (done) {
            app.quit();
        }
    });
    tick.start(1);
    app.exec();
    worker.join();
    std::printf("%d\n", unguarded > 0 ? 1 : 0);
    return 0;
}
