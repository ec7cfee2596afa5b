#pragma once
// A capsule that says whether one setup check passes: green text on a faint tint when it does,
// the green button look when it does not.

#include <QWidget>

class StatusPill : public QWidget {
    Q_OBJECT
public:
    explicit StatusPill(QWidget* parent = nullptr);

    // The owner sets both and calls update().
    QString text;
    bool on = false;
    // A failing check that offers nothing to do looks like a note, not like a button.
    bool actionable = false;

protected:
    void paintEvent(QPaintEvent* event) override;
};
