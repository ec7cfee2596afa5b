#pragma once
// A preview of the basket's files: a dark frameless window within 70 % of the screen, the
// picture fitted and decoded off the UI thread, "i of n" below, arrows to step, Space or Escape
// to close. A file that can't be read shows its name and size instead.

#include <QImage>
#include <QStringList>
#include <QWidget>

class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPanel(QWidget* parent = nullptr);

    // Shows these files from the first; when already open, the same window shows them instead.
    void showFiles(const QStringList& files);
    void step(int by);
    int index() const { return at; }
    QStringList files() const { return list; }
    QString caption() const;
    bool loading() const { return pending; }
    QImage picture() const { return image; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void load();
    void take(int generation, const QImage& decoded);

    QStringList list;
    int at = 0;
    QImage image;
    bool pending = false;
    int generation = 0;
};
