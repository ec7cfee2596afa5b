// A plain Qt dialog for the screen set: a title, a form of labels and fields, a group of options
// and a row of buttons. --dark paints it dark; --truth prints what it shows, in reading order.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <cstdio>

namespace {

const char* const heading = "Export photos";
const char* const intro = "Choose where the exported copies go and how large they are.";
const std::pair<const char*, const char*> fields[] = {
    {"Folder:", "/home/mara/Pictures/Exports"},
    {"File name:", "holiday-{number}"},
    {"Format:", "JPEG, quality 85"},
    {"Longest side:", "2048 pixels"},
};
const char* const group = "Options";
const char* const options[] = {"Keep the original date", "Remove location data", "Open the folder afterwards"};
const char* const buttons[] = {"Help", "Cancel", "Export"};

} // namespace

int main(int argc, char** argv) {
    bool dark = false, truth = false;
    for (int i = 1; i < argc; ++i) {
        dark |= QByteArray(argv[i]) == "--dark";
        truth |= QByteArray(argv[i]) == "--truth";
    }
    if (truth) {
        std::printf("%s\n\n%s\n\n", heading, intro);
        for (const auto& [label, value] : fields)
            std::printf("%s %s\n", label, value);
        std::printf("\n%s\n", group);
        for (const char* option : options)
            std::printf("%s\n", option);
        std::printf("\n%s %s %s\n", buttons[0], buttons[1], buttons[2]);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (dark) {
        QPalette p;
        p.setColor(QPalette::Window, QColor(0x2b, 0x2d, 0x31));
        p.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
        p.setColor(QPalette::Base, QColor(0x1e, 0x1f, 0x22));
        p.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
        p.setColor(QPalette::Button, QColor(0x3a, 0x3d, 0x42));
        p.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
        QApplication::setPalette(p);
    }
    QDialog dialog;
    dialog.setWindowTitle(QString::fromUtf8(heading));
    auto* layout = new QVBoxLayout(&dialog);
    auto* title = new QLabel(QString::fromUtf8(heading));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);
    layout->addWidget(new QLabel(QString::fromUtf8(intro)));
    auto* form = new QFormLayout;
    for (const auto& [label, value] : fields) {
        auto* edit = new QLineEdit(QString::fromUtf8(value));
        edit->setMinimumWidth(280);
        form->addRow(QString::fromUtf8(label), edit);
    }
    layout->addLayout(form);
    auto* box = new QGroupBox(QString::fromUtf8(group));
    auto* boxLayout = new QVBoxLayout(box);
    for (const char* option : options)
        boxLayout->addWidget(new QCheckBox(QString::fromUtf8(option)));
    layout->addWidget(box);
    // Laid out by hand: a button box orders its buttons by the desktop's habit.
    auto* row = new QHBoxLayout;
    row->addWidget(new QPushButton(QString::fromUtf8(buttons[0])));
    row->addStretch();
    row->addWidget(new QPushButton(QString::fromUtf8(buttons[1])));
    row->addWidget(new QPushButton(QString::fromUtf8(buttons[2])));
    layout->addLayout(row);
    dialog.show();
    return app.exec();
}
