#pragma once
// Plays a user's moves around one window of ours twice on a KeysStage: once with our window, once with plain
// windows of another program standing where ours stood and closing the same way, and tells in which terminal each
// line typed landed both times. Sequences are generated from a seed or given as fixed rows.

#include "KeysStage.h"

#include <QHash>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <random>

class QProcess;

// The card's pill: annotate, crop, resize, rotate and rename, then share.
inline const QStringList hiddenTools{"text", "pin", "translate", "redact", "cutout", "scroll", "compress", "library"};
constexpr int pillTools = 5;

inline const QString basketTitle = QStringLiteral("^Pictolarium Basket$");
// A combination another program holds in the rows that need one.
inline const char* const heldElsewhere = "super+shift+y";

// Over the tour, its Change button's dialog; over annotate, its signature pad; the alert that a combination
// saved in the shortcut dialog is another program's, once that dialog has gone; the basket by its key over that
// alert, from where the user was or after a click into terminal B.
enum class Opens {
    BasketKey,
    Preview,
    Menu,
    Tool,
    Backdrop,
    TourChange,
    Signature,
    Refused,
    TourBasket,
    RefusedBasket,
    RefusedAwayBasket
};

struct Kind {
    const char* name;
    // The windows it opens, in order; the last is the one the sequence is about, the others close after it.
    QStringList titles;
    Opens opens;
    QStringList menuKeys = {};
    int tool = -1;
    // It goes when the user turns to another program.
    bool closesOnLeave = false;
    // Its close button, from its client area; none when null.
    std::function<QPoint(const QRect&)> button = {};
    // The basket's key closes it.
    bool hotKey = false;
    // It records key combinations, Alt+Tab and Alt+F4 among them.
    bool recorder = false;
    // The window of ours that comes back, with the keyboard, when it closes.
    const char* reopens = nullptr;
    // Played in the fixed rows alone.
    bool fixedOnly = false;
};

struct Step {
    enum Act {
        Click,
        Task,
        AltTab,
        Type,
        Open,
        BackClick,
        BackTask,
        BackAltTab,
        Escape,
        Button,
        AltF4,
        HotKey,
        Rest,
        // The window manager's own ways away: the window in front minimised, the second desktop and the first.
        Minimize,
        OtherDesktop,
        HomeDesktop
    };
    Act act;
    int terminal = 0;

    bool leaves() const {
        return act == Click || act == Task || act == AltTab || act == Minimize || act == OtherDesktop ||
               act == HomeDesktop;
    }
    QString text() const;
};

using Steps = QList<Step>;

QString describe(const Steps& steps);
// Steps toward terminal `terminal` where they go to one.
Steps stepsTo(int terminal, std::initializer_list<Step::Act> acts);

// A user's moves around one window of ours, starting in terminal A. Ways that need a window manager are left out
// without one; typing comes only after the user turned to a terminal, so the plays differ only where the keyboard
// went, not in what our window makes of keys typed into it on purpose.
Steps generate(std::mt19937& rng, const Kind& k, bool manager);

// What the play with our window found, for the play with the stand-ins: where ours stood, where the pointer was
// left once they showed, and which steps could be taken at all.
struct Scene {
    QList<QRect> rects;
    QList<QStringList> properties;
    // The window of the chain each is transient for; -1 for none, -2 for the root window.
    QList<int> transient;
    // The window that came back as ours closed, by the step that closed it, where one did.
    QHash<qsizetype, QRect> reopened;
    QStringList reopenedProperties;
    QPoint pointer;
    QList<bool> taken;
    // The steps that closed ours by what was typed into it (Return on a dialog or an editor).
    QList<qsizetype> closedByTyping;
};

struct Outcome {
    // Per typed line, the terminal it landed in: "A", "B", "C", or "-" (the window in ours' place, or nowhere).
    QStringList lines;
    QStringList notes;
    bool opened = false;
    // The window the sequence is about still shows after the last step.
    bool left = false;
};

class Player {
public:
    // `kinds`: every window of ours a play may leave open, for the clean-up after each play.
    Player(KeysStage& s, const QList<Kind>& kinds);
    // Ours, or the stand-ins in its place as `scene` tells where ours stood (found by the play with ours).
    Outcome play(const Kind& k, const Steps& steps, bool ours, Scene& scene);

private:
    // The terminal ("A", "B" or "C") that logged the line typed as `token`; empty for none.
    QString landedIn(const QString& token) const;
    void reset();
    bool openOurs(const Kind& k, Scene& scene, QList<quint32>& windows);
    bool openStandIns(const Kind& k, const Scene& scene, QList<quint32>& windows, QList<QProcess*>& standIns);
    bool reopen(const Kind& k, bool ours, qsizetype step, Scene& scene, QList<quint32>& windows,
                QList<QProcess*>& standIns);
    QPoint pointer();
    // The window given the keyboard and Escape pressed; waits up to `goneMs` for it to go.
    void escape(quint32 window, const QString& title, int goneMs);
    void cleanUp(const Kind& k, const QList<QProcess*>& standIns);

    // How long a line typed is given to land before the next step, where no terminal logs it.
    static constexpr int typedMs = 600;

    KeysStage& stage;
    Desktop& desktop;
    QStringList titles;
    QString template_;
    int cards = 0;
    int shots = 0;
};

// A row: the sequence, what each play found, and whether they agree.
struct Row {
    QString text;
    bool pass;
};
Row compare(Player& player, const Kind& k, const Steps& steps);

// The generated sequences over `kinds` under the manager: the first `inCi` in CI, `all` with
// PICTOLARIUM_E2E_ALL_WAYS=1; `alsoInCi`, by their numbers, in CI too. The seed is fixed per manager unless
// PICTOLARIUM_KEYS_SEED=<n> (or "random") gives one; PICTOLARIUM_KEYS_ONLY=<number> plays one sequence alone.
void playGenerated(const QList<Kind>& kinds, Manager manager, int inCi, int all, const QList<int>& alsoInCi = {});
