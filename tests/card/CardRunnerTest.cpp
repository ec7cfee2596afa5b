#include "card/CardRunner.h"

#include "imaging/UserError.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

namespace {

struct Toasted {
    QString text;
    QPoint at;
    double seconds;
};

// Work and completions wait in queues until the test lets them run.
struct Harness {
    Harness() {
        CardRunner::Hooks hooks;
        hooks.anchor = [this] { return anchor; };
        hooks.hold = [this](bool on) { events.push_back(on ? QStringLiteral("hold") : QStringLiteral("release")); };
        hooks.apply = [this](const Shot& shot) {
            applied.push_back(shot);
            events.push_back(QStringLiteral("apply"));
        };
        hooks.toast = [this](const QString& text, QPoint at, double seconds) {
            toasts.push_back({text, at, seconds});
            events.push_back(QStringLiteral("toast"));
        };
        hooks.background = [this](std::function<void()> block) { background.push_back(std::move(block)); };
        hooks.mainThread = [this](std::function<void()> block) { main.push_back(std::move(block)); };
        runner = std::make_unique<CardRunner>(std::move(hooks));
    }

    void drain() {
        while (!background.empty() || !main.empty()) {
            for (auto* queue : {&background, &main})
                while (!queue->empty()) {
                    auto block = std::move(queue->front());
                    queue->pop_front();
                    block();
                }
        }
    }

    QPoint anchor{300, 200};
    std::deque<std::function<void()>> background, main;
    std::vector<Shot> applied;
    std::vector<Toasted> toasts;
    QStringList events;
    std::unique_ptr<CardRunner> runner;
};

Shot shotAt(const char* path) {
    return Shot{QUrl::fromLocalFile(QString::fromLatin1(path)), QImage(4, 4, QImage::Format_RGB32), {}, {}};
}

} // namespace

TEST(CardRunner, ShowsProgressThenTheResultOrTheError) {
    struct Case {
        const char* name;
        std::function<std::pair<Shot, QString>()> work;
        QString finalToast;
        double finalSeconds;
        bool applies;
    };
    const Case cases[] = {
        {"success applies the new picture and shows its message",
         [] { return std::pair<Shot, QString>(shotAt("/tmp/new.jpg"), QStringLiteral("12 KB \u2192 4 KB")); },
         QStringLiteral("12 KB \u2192 4 KB"), 1.6, true},
        {"a user error shows its own text for longer",
         []() -> std::pair<Shot, QString> { throw ConvertError(QStringLiteral("Couldn't write a.jpg")); },
         QStringLiteral("Couldn't write a.jpg"), 3.0, false},
        {"any other failure shows its description",
         []() -> std::pair<Shot, QString> { throw std::runtime_error("disk full"); }, QStringLiteral("disk full"), 3.0,
         false},
    };
    for (const Case& c : cases) {
        Harness h;
        int thens = 0;
        ASSERT_TRUE(h.runner->run(QStringLiteral("Compressing"), c.work, [&] { ++thens; })) << c.name;
        // Before the work: the card is held and the label shows with an ellipsis for up to a minute.
        ASSERT_EQ(h.toasts.size(), 1u) << c.name;
        EXPECT_EQ(h.toasts[0].text, QStringLiteral("Compressing\u2026")) << c.name;
        EXPECT_EQ(h.toasts[0].at, QPoint(300, 200)) << c.name;
        EXPECT_EQ(h.toasts[0].seconds, 60.0) << c.name;
        EXPECT_TRUE(h.runner->busy()) << c.name;

        h.anchor = QPoint(310, 190); // the card moved meanwhile: the result follows it
        h.drain();
        EXPECT_FALSE(h.runner->busy()) << c.name;
        ASSERT_EQ(h.toasts.size(), 2u) << c.name;
        EXPECT_EQ(h.toasts[1].text, c.finalToast) << c.name;
        EXPECT_EQ(h.toasts[1].seconds, c.finalSeconds) << c.name;
        EXPECT_EQ(h.toasts[1].at, QPoint(310, 190)) << c.name;
        EXPECT_EQ(h.applied.size(), c.applies ? 1u : 0u) << c.name;
        EXPECT_EQ(thens, c.applies ? 1 : 0) << c.name;
        // The hold ends before the picture is applied, on success and on failure.
        const QStringList expected = c.applies ? QStringList{"hold", "toast", "release", "apply", "toast"}
                                               : QStringList{"hold", "toast", "release", "toast"};
        EXPECT_EQ(h.events, expected) << c.name;
    }
}

TEST(CardRunner, ASecondRequestWhileBusyIsDroppedSilently) {
    Harness h;
    int runs = 0;
    auto work = [&] {
        ++runs;
        return std::pair<Shot, QString>(shotAt("/tmp/a.png"), QStringLiteral("PNG"));
    };
    ASSERT_TRUE(h.runner->run(QStringLiteral("Converting"), work));
    EXPECT_FALSE(h.runner->run(QStringLiteral("Compressing"), work));
    EXPECT_EQ(h.toasts.size(), 1u);
    h.drain();
    EXPECT_EQ(runs, 1);
    // Once the first has finished a new request runs again.
    EXPECT_TRUE(h.runner->run(QStringLiteral("Compressing"), work));
    h.drain();
    EXPECT_EQ(runs, 2);
}

TEST(CardRunner, ACompletionStillArrivesAfterTheRunnerIsGone) {
    Harness h;
    ASSERT_TRUE(h.runner->run(QStringLiteral("Converting"),
                              [] { return std::pair<Shot, QString>(shotAt("/tmp/a.webp"), QStringLiteral("WebP")); }));
    h.runner.reset();
    h.drain();
    ASSERT_EQ(h.applied.size(), 1u);
    EXPECT_EQ(h.applied[0].fileURL.fileName(), QStringLiteral("a.webp"));
}
