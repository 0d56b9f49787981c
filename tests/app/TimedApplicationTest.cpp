// The benchmarks' event-timing application object: what it records of an
// event whose handler deletes its own receiver, as a single-shot timer does.
#include "TimedApplication.h"
#include "WineEnvironment.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QEvent>

#include <chrono>
#include <string>
#include <thread>

namespace {

class DeletesItselfOnUserEvent final : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        // Never zero time, so that this event is the longest yet.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        delete this;
        return true;
    }
};

TimedApplication& App() {
    return *static_cast<TimedApplication*>(QCoreApplication::instance());
}

} // namespace

TEST(TimedApplication, NamesTheLongestEventByItsReceiverAsItWasBeforeDispatch) {
    auto* gone = new DeletesItselfOnUserEvent;
    gone->setObjectName(QStringLiteral("gone"));
    App().Begin(nullptr);
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(gone, &event);
    App().End();
    EXPECT_EQ(App().longestEventName, std::to_string(int(QEvent::User)) + " to QObject gone");
    EXPECT_GE(App().longestEvent, std::chrono::milliseconds(1));
}

int main(int argc, char** argv) {
    kobito::test::RestoreQtEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
