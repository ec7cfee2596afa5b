#include "shortcuts/TapHold.h"

#include <QPointer>
#include <QStringList>
#include <gtest/gtest.h>

#include <map>

namespace {

// Delayed blocks that run only when the test moves time on.
class FakeClock {
public:
    TapHold::Schedule schedule() {
        return [this](int ms, const QObject* owner, std::function<void()> block) {
            pending.emplace(std::make_pair(now + ms, next++), Entry{QPointer<const QObject>(owner), std::move(block)});
        };
    }
    void advance(int ms) {
        const qint64 until = now + ms;
        while (!pending.empty() && pending.begin()->first.first <= until) {
            auto entry = pending.extract(pending.begin());
            now = entry.key().first;
            if (entry.mapped().owner)
                entry.mapped().block();
        }
        now = until;
    }
    qint64 now = 0;

private:
    struct Entry {
        QPointer<const QObject> owner;
        std::function<void()> block;
    };
    std::map<std::pair<qint64, int>, Entry> pending;
    int next = 0;
};

struct Machine {
    Machine()
        : tapHold(
              held, fired, clock.schedule(), [this](const QString& key) { log << key + QStringLiteral(" tap"); },
              [this](const QString& key) { log << key + QStringLiteral(" hold"); }) {}

    // "P" and "R" press and release the capture key, "p"/"r" the library key, "F" forgets the
    // capture key's registration, a number moves the clock on by that many milliseconds. "P@t" and
    // "R@t" carry the server's time t of the key event.
    void play(const QString& script) {
        for (QString step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const quint32 time = step.contains(QLatin1Char('@')) ? step.section(QLatin1Char('@'), 1).toUInt() : 0;
            step = step.section(QLatin1Char('@'), 0, 0);
            if (step == u"P")
                tapHold.keyPressed(QStringLiteral("capture"), time);
            else if (step == u"R")
                tapHold.keyReleased(QStringLiteral("capture"), time);
            else if (step == u"p")
                tapHold.keyPressed(QStringLiteral("library"));
            else if (step == u"r")
                tapHold.keyReleased(QStringLiteral("library"));
            else if (step == u"F")
                tapHold.forget(QStringLiteral("capture"));
            else
                clock.advance(step.toInt());
        }
    }

    QHash<QString, bool> held, fired;
    FakeClock clock;
    QStringList log;
    TapHold tapHold;
};

} // namespace

TEST(TapHold, RunsOneActionPerPressByItsLength) {
    const struct {
        const char* script;
        const char* expected;
    } cases[] = {
        {"P 100 R 1000", "capture tap"},
        {"P 279 R 1000", "capture tap"},
        {"P 280", "capture hold"},
        {"P 280 R 1000", "capture hold"},
        // auto-repeat: further presses while the key is down change nothing
        {"P 50 P 50 P 50 P 200 P 50 R 1000", "capture hold"},
        {"P 100 P 100 R 1000", "capture tap"},
        {"R 1000", ""},
        {"P 100 R R 1000", "capture tap"},
        // a second press soon after a tap is a press of its own: the first check must not turn it into a hold
        {"P 100 R 50 P 150 R 1000", "capture tap,capture tap"},
        {"P 100 R 50 P 300", "capture tap,capture hold"},
        // the keys are independent
        {"P 100 p 200 R 100 r", "capture hold,library hold"},
        {"P 100 p 50 R 50 r 1000", "capture tap,library tap"},
        // a registration dropped while the key is down: its release never comes
        {"P 100 F R 1000", ""},
        {"P 100 F 100 P 50 R 1000", "capture tap"},
        {"P 300 F P 100 R", "capture hold,capture tap"},
        // with the server's times, they decide: events read together after a busy spell
        {"P@1000 R@1400 1000", "capture hold"},
        {"P@1000 R@1040 1000", "capture tap"},
        {"P@1000 R@1279", "capture tap"},
        {"P@1000 R@1280", "capture hold"},
        // the server's clock wraps
        {"P@4294967200 R@104 1000", "capture tap"},
        {"P@4294967200 R@300 1000", "capture hold"},
        // a release without a press time counts by the clock here
        {"P R@5000 1000", "capture tap"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        Machine machine;
        machine.play(QString::fromLatin1(c.script));
        EXPECT_EQ(machine.log.join(QLatin1Char(',')).toStdString(), c.expected);
    }
}
