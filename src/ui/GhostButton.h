#pragma once
// The borderless symbol or text button of every bar: lit under the mouse, deeper while pressed,
// green when active, optionally a colour dot or one of two round glass looks.

#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QSizeF>

#include <functional>
#include <optional>

class GhostButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Glass { close, done };

    // symbol or text may be empty; size and symbolSize are unscaled and are multiplied by the
    // chrome factor once, here. A symbol the icon table lacks leaves the button without a picture.
    GhostButton(const QString& label, const QString& symbol, const QString& text, QSizeF size, double symbolSize,
                QWidget* parent = nullptr);

    // The button's name, shown by its owner as a hover label; never a tooltip.
    QString label;
    // Called with the new hover state on enter and exit.
    std::function<void(bool)> onHoverChange;

    bool active() const { return isActive; }
    void setActive(bool value);
    const std::optional<QColor>& tint() const { return dot; }
    void setTint(std::optional<QColor> value);
    const std::optional<Glass>& glass() const { return glassLook; }
    void setGlass(std::optional<Glass> value);
    bool hovering() const { return isHovering; }
    bool pressing() const { return isPressing; }

    // The colour of the symbol: the accent when active or a done button, else white.
    QColor contentTintColor() const { return contentTint; }
    void setContentTintColor(const QColor& colour);
    // The title's colour follows active alone.
    QColor titleColor() const;
    QString symbolName() const { return symbol; }
    bool hasSymbolImage() const { return hasPicture; }
    // Shows another symbol of the icon table at the same size (the fill button's two looks).
    void setSymbol(const QString& name);

    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void drawBackground(QPainter& painter) const;
    void drawGlass(QPainter& painter) const;
    void drawContent(QPainter& painter) const;
    void setPressing(bool value);

    QString symbol;
    double symbolPoints = 0;
    bool hasPicture = false;
    bool isActive = false;
    std::optional<QColor> dot;
    std::optional<Glass> glassLook;
    bool isHovering = false;
    bool isPressing = false;
    QColor contentTint = Qt::white;
};
