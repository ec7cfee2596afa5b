// Annotation drawing: flattening a 4K picture with 200 shapes of every kind, and the repaint of one
// drag frame while a shape moves (a 1080p picture at 1:1, a 4K one fitted to 1100 pixels), each
// beside a plain QPainter baseline that draws the same picture and paths without halos, blends,
// blur or text layout. A summary of medians and ratios follows the table.

#include "editors/AnnotateCanvas.h"
#include "editors/AnnotationGeometry.h"
#include "ui/UI.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

using namespace Annotation;

namespace {

std::map<std::string, std::vector<double>> frameTimes;

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QImage screenshot(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(238, 240, 244));
    QPainter p(&image);
    p.setFont(UI::font(h / 50.0));
    p.setPen(QColor(40, 40, 50));
    for (int y = h / 30; y < h; y += h / 30)
        p.drawText(20, y,
                   QStringLiteral("Meeting notes: the review moves to Thursday; numbers attached below, "
                                  "reply before Friday with questions on the quarterly figures."));
    return image;
}

// 200 shapes over the picture: 10 blurs, 20 texts, 20 highlights and 150 of the other kinds.
std::vector<Shape> scene(int w, int h) {
    std::mt19937 random(7);
    auto x = [&] { return std::uniform_real_distribution<double>(0, w * 0.9)(random); };
    auto y = [&] { return std::uniform_real_distribution<double>(0, h * 0.9)(random); };
    const double u = strokeUnit(h);
    QImage sig(160, 60, QImage::Format_ARGB32_Premultiplied);
    sig.fill(Qt::transparent);
    {
        QPainter p(&sig);
        p.setPen(QPen(Qt::black, 3));
        p.drawLine(5, 50, 155, 10);
    }
    std::vector<Shape> shapes;
    const auto colour = [&](int i) { return palette()[size_t(i % 12)]; };
    for (int i = 0; i < 200; ++i) {
        const double x0 = x(), y0 = y();
        const double bw = w * 0.05 + x() * 0.1, bh = h * 0.05 + y() * 0.1;
        Shape s{Arrow{}, colour(i), u * (1 + i % 3), i % 4 == 0, {}};
        if (i < 10) {
            s.kind = Blur{QRectF(x0, y0, bw, bh)};
        } else if (i < 30) {
            s.kind = Text{QStringLiteral("Note %1\nsee here").arg(i), {x0, y0}};
        } else if (i < 50) {
            s.kind = Highlight{{{x0, y0}, {x0 + bw / 2, y0 + 4}, {x0 + bw, y0}}};
        } else {
            switch (i % 8) {
            case 0:
                s.kind = Arrow{{x0, y0}, {x0 + bw, y0 + bh}};
                break;
            case 1:
                s.kind = Line{{x0, y0}, {x0 + bw, y0 - bh}};
                break;
            case 2:
                s.kind = Box{QRectF(x0, y0, bw, bh)};
                break;
            case 3:
                s.kind = Ellipse{QRectF(x0, y0, bw, bh)};
                break;
            case 4: {
                QList<QPointF> pts;
                for (int k = 0; k < 60; ++k)
                    pts.push_back({x0 + k * bw / 60, y0 + std::sin(k / 5.0) * bh / 3});
                s.kind = Pen{pts};
                break;
            }
            case 5:
                s.kind = Marker{{QRectF(x0, y0, bw, h / 50.0), QRectF(x0, y0 - h / 30.0, bw / 2, h / 50.0)}};
                break;
            case 6:
                s.kind = Number{i, {x0, y0}};
                break;
            default:
                s.kind = Signature{QRectF(x0, y0, 160, 60)};
                s.image = sig;
                break;
            }
        }
        shapes.push_back(s);
    }
    return shapes;
}

QPainterPath plainPath(const Shape& shape, double H) {
    QPainterPath path;
    const auto f = [H](QPointF p) { return QPointF(p.x(), H - p.y()); };
    const QRectF b = AnnotationGeometry::bounds(shape.kind, shape.width);
    if (auto* a = std::get_if<Arrow>(&shape.kind)) {
        path.moveTo(f(a->tail));
        path.lineTo(f(a->head));
    } else if (auto* l = std::get_if<Line>(&shape.kind)) {
        path.moveTo(f(l->start));
        path.lineTo(f(l->end));
    } else if (auto* p = std::get_if<Pen>(&shape.kind)) {
        path.moveTo(f(p->points.first()));
        for (const QPointF& q : p->points)
            path.lineTo(f(q));
    } else if (auto* h = std::get_if<Highlight>(&shape.kind)) {
        path.moveTo(f(h->points.first()));
        for (const QPointF& q : h->points)
            path.lineTo(f(q));
    } else if (std::holds_alternative<Ellipse>(shape.kind) || std::holds_alternative<Number>(shape.kind)) {
        path.addEllipse(QRectF(b.x(), H - b.y() - b.height(), b.width(), b.height()));
    } else {
        path.addRect(QRectF(b.x(), H - b.y() - b.height(), b.width(), b.height()));
    }
    return path;
}

struct Drag {
    QImage picture;
    std::unique_ptr<AnnotateCanvas> canvas;
    QImage target;
    int moving;
    QPointF at;
};

// A canvas of the picture at the view width, with shape `moving` picked up by its box's corner.
Drag startDrag(int w, int h, int viewWidth, bool top) {
    Drag d;
    d.picture = screenshot(w, h);
    d.canvas = std::make_unique<AnnotateCanvas>(d.picture);
    d.canvas->shapes = scene(w, h);
    d.moving = top ? 199 : 100;
    // Move a box so that the press lands on its outline.
    d.canvas->shapes[size_t(d.moving)] =
        Shape{Box{QRectF(w / 3.0, h / 3.0, w / 8.0, h / 8.0)}, palette()[0], strokeUnit(h), false, {}};
    const double s = double(viewWidth) / w;
    d.canvas->resize(viewWidth, int(std::lround(h * s)));
    d.canvas->setTool(Tool::Select);
    d.target = QImage(d.canvas->size(), QImage::Format_ARGB32_Premultiplied);
    d.at = d.canvas->toView(QPointF(w / 3.0, h / 3.0 + h / 16.0));
    QMouseEvent press(QEvent::MouseButtonPress, d.at, d.at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(d.canvas.get(), &press);
    d.canvas->render(&d.target); // the first frame fills the layer
    return d;
}

void dragFrames(benchmark::State& state, const std::string& name, int w, int h, int viewWidth, bool top) {
    Drag d = startDrag(w, h, viewWidth, top);
    std::vector<double>& times = frameTimes[name];
    int step = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const QPointF to = d.at + QPointF(step % 40, (step / 40) % 20);
        ++step;
        QMouseEvent move(QEvent::MouseMove, to, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(d.canvas.get(), &move);
        d.canvas->render(&d.target);
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
}

void baselineFrames(benchmark::State& state, const std::string& name, int w, int h, int viewWidth) {
    const QImage picture = screenshot(w, h);
    const auto shapes = scene(w, h);
    std::vector<QPainterPath> paths;
    for (const Shape& s : shapes)
        paths.push_back(plainPath(s, h));
    const double s = double(viewWidth) / w;
    QImage target(viewWidth, int(std::lround(h * s)), QImage::Format_ARGB32_Premultiplied);
    std::vector<double>& times = frameTimes[name];
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        QPainter p(&target);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.scale(s, s);
        p.drawImage(QRectF(0, 0, w, h), picture);
        for (size_t i = 0; i < paths.size(); ++i)
            p.strokePath(paths[i], QPen(shapes[i].color.qcolor(), shapes[i].width));
        p.end();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
}

void DragFrame1080_Top(benchmark::State& state) {
    dragFrames(state, "DragFrame1080_Top", 1920, 1080, 1920, true);
}
void DragFrame1080_Middle(benchmark::State& state) {
    dragFrames(state, "DragFrame1080_Middle", 1920, 1080, 1920, false);
}
void DragFrame1080_Baseline(benchmark::State& state) {
    baselineFrames(state, "DragFrame1080_Baseline", 1920, 1080, 1920);
}
void DragFrame4KFitted_Top(benchmark::State& state) {
    dragFrames(state, "DragFrame4KFitted_Top", 3840, 2160, 1100, true);
}
void DragFrame4KFitted_Middle(benchmark::State& state) {
    dragFrames(state, "DragFrame4KFitted_Middle", 3840, 2160, 1100, false);
}
void DragFrame4KFitted_Baseline(benchmark::State& state) {
    baselineFrames(state, "DragFrame4KFitted_Baseline", 3840, 2160, 1100);
}

void Render4K(benchmark::State& state) {
    AnnotateCanvas canvas(screenshot(3840, 2160));
    canvas.shapes = scene(3840, 2160);
    std::vector<double>& times = frameTimes["Render4K"];
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(canvas.render());
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
}

void Render4K_Baseline(benchmark::State& state) {
    baselineFrames(state, "Render4K_Baseline", 3840, 2160, 3840);
}

void summary() {
    std::printf("\n%-28s %10s   %-28s %10s   %s\n", "ours (median ms)", "", "baseline", "", "ratio");
    const std::pair<const char*, const char*> pairs[] = {
        {"DragFrame1080_Top", "DragFrame1080_Baseline"},
        {"DragFrame1080_Middle", "DragFrame1080_Baseline"},
        {"DragFrame4KFitted_Top", "DragFrame4KFitted_Baseline"},
        {"DragFrame4KFitted_Middle", "DragFrame4KFitted_Baseline"},
        {"Render4K", "Render4K_Baseline"},
    };
    for (const auto& [ours, base] : pairs) {
        const double a = median(frameTimes[ours]), b = median(frameTimes[base]);
        std::printf("%-28s %10.2f   %-28s %10.2f   %.2f\n", ours, a, base, b, b > 0 ? a / b : 0);
    }
    std::printf("Goals: drag frame at 1080p at most 16 ms and 2 x the baseline; Render4K at most 250 ms.\n");
}

} // namespace

BENCHMARK(DragFrame1080_Top)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DragFrame1080_Middle)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DragFrame1080_Baseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DragFrame4KFitted_Top)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DragFrame4KFitted_Middle)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DragFrame4KFitted_Baseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Render4K)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Render4K_Baseline)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UI::registerFonts();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    summary();
    return 0;
}
