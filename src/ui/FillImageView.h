#pragma once
// A rounded picture frame for thumbnails: the whole picture fitted inside, or the frame filled.

#include <QImage>
#include <QWidget>

class FillImageView : public QWidget {
    Q_OBJECT
public:
    enum class Scaling {
        fit,  // the whole picture, touching the frame in one direction and centred in the other
        fill, // the frame covered, the picture's overflow cut off equally on both sides
    };

    explicit FillImageView(const QRect& frame = {}, QWidget* parent = nullptr);

    QImage image() const { return picture; }
    void setImage(const QImage& image);
    double cornerRadius = 8; // takes effect at the next repaint
    Scaling scaling() const { return mode; }
    void setScaling(Scaling value);

    // Where the picture is drawn within bounds, in the view's coordinates; empty without one.
    static QRectF imageRect(const QSizeF& picture, const QRectF& bounds, Scaling scaling);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture;
    Scaling mode = Scaling::fit;
};
