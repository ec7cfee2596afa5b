#include "onboarding/Onboarding.h"

#include "library/LibraryPanel.h"
#include "platform/Defaults.h"
#include "ui/Brand.h"
#include "ui/UI.h"

#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace Onboarding {

void showIfFirstRun() {
    if (Defaults::standard().boolValue(QStringLiteral("onboardingSeen")))
        return;
    show(Defaults::standard().boolValue(QStringLiteral("onboardingAtPermissions")));
}

// A plain greeting until the tour's pages and scenes arrive.
void show(bool resumeAtPermissions) {
    Q_UNUSED(resumeAtPermissions);
    static QPointer<QWidget> window;
    if (window)
        window->close();
    LibraryPanel::shared().hide();
    auto* made = new QWidget(nullptr, Qt::Window);
    made->setAttribute(Qt::WA_DeleteOnClose);
    made->setWindowTitle(QStringLiteral("Pictolarium Tour"));
    auto* layout = new QVBoxLayout(made);
    auto* label = new QLabel(QStringLiteral("Welcome to Pictolarium"), made);
    label->setFont(UI::font(20, QFont::DemiBold));
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    QPalette pal = made->palette();
    pal.setColor(QPalette::Window, Brand::background());
    pal.setColor(QPalette::WindowText, Brand::text());
    made->setPalette(pal);
    made->setAutoFillBackground(true);
    made->resize(520, 360);
    made->show();
    made->raise();
    made->activateWindow();
    window = made;
}

} // namespace Onboarding
