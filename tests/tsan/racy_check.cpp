// A deliberate race between a worker and the Qt event loop, for proving that the
// ThreadSanitizer suppressions still let real races in our code show. Not part of CI.
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int unguarded = 0; // written by both threads with nothing between them
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            ++unguarded;
            // Posting through Qt's queue, as the capture worker does, without an annotation.
            QMetaObject::invokeMethod(
                &app, [] {}, Qt::QueuedConnection);
            std::this_thread::yield();
        }
    });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &app, [&] { ++unguarded; });
    tick.start(1);
    QTimer::singleShot(200, &app, [&] {
        stop = true;
        app.quit();
    });
    app.exec();
    worker.join();
    std::printf("%d\n", unguarded > 0 ? 1 : 0);
    return 0;
}
