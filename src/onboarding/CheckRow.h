#pragma once
// One row of the tour's setup page: a symbol tile, a title with a line of detail, and a pill that
// says whether the check passes. The row is one click target when it has something to offer.

#include "onboarding/StatusPill.h"

#include <QAbstractButton>

class CheckRow : public QAbstractButton {
    Q_OBJECT
public:
    CheckRow(const QString& title, const QString& detail, const QString& symbol, QWidget* parent = nullptr);

    const QString title;
    const QString detail;
    StatusPill* pill;

    // Shows the result; actionable rows take clicks and show a hand.
    void setResult(bool ok, const QString& pillText, bool actionable);
    bool actionable() const { return canAct; }

    QSize sizeHint() const override { return {268, 58}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString symbol;
    bool canAct = false;
};
