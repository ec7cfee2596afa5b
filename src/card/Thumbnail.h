#pragma once
// The one card on screen. Every producer of a card goes through open(), show() or dismiss().

#include "app/Shot.h"

#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <memory>

class PDFSession;
class QLabel;

class ThumbnailPanel : public QWidget {
    Q_OBJECT
public:
    ThumbnailPanel(const Shot& shot, std::shared_ptr<PDFSession> pdf);
    const Shot& shot() const { return current; }
    std::shared_ptr<PDFSession> pdf() const { return session; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    Shot current;
    std::shared_ptr<PDFSession> session;
    QLabel* picture = nullptr;
};

namespace Thumbnail {

// Closes the current card at once (no fade) and opens a card for the shot at the point.
void open(const Shot& shot, std::shared_ptr<PDFSession> pdf, QPoint at);
// Closes the current card and empties the slot.
void dismiss();
ThumbnailPanel* current();

} // namespace Thumbnail
