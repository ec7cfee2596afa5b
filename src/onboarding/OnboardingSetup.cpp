// The setup page: four checks of this desktop in a two-by-two grid, polled once a second.

#include "onboarding/CheckRow.h"
#include "onboarding/Onboarding.h"

#include <QGridLayout>

#include <cstdio>

void Onboarding::buildPermissionButtons() {
    delete permBox->layout();
    qDeleteAll(permBox->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
    rows.clear();
    auto* grid = new QGridLayout(permBox);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(8);
    const struct {
        const char* title;
        const char* detail;
        const char* symbol;
    } table[] = {
        {"Screen capture", "Windows and slices", "record.circle"},
        {"Hot keys", "Tap and hold", "keyboard"},
        {"Tray icon", "For the menu", "menubar.rectangle"},
        {"Compositor", "Shadows and fades", "square.stack.3d.up"},
    };
    int i = 0;
    for (const auto& entry : table) {
        auto* row = new CheckRow(QString::fromUtf8(entry.title), QString::fromUtf8(entry.detail),
                                 QString::fromLatin1(entry.symbol), permBox);
        grid->addWidget(row, i / 2, i % 2);
        rows.append(row);
        ++i;
    }
    // A hot key another program holds can be changed right here.
    connect(rows.at(1), &QAbstractButton::clicked, this, [this] {
        const QStringList refused = probe.refused();
        if (refused.isEmpty() || !services.changeShortcut)
            return;
        services.changeShortcut(refused.first());
        refreshPermissions();
        activateWindow();
        raise();
    });
    refreshPermissions();
    permTimer.start();
}

void Onboarding::refreshPermissions() {
    if (rows.size() != 4)
        return;
    const CapabilityProbe::Result results[] = {probe.screenCapture(), probe.hotKeys(), probe.trayIcon(),
                                               probe.compositor()};
    int passing = 0;
    QStringList said;
    for (int i = 0; i < 4; ++i) {
        said << results[i].pill;
        const bool canChange = i == 1 && !results[i].ok && bool(services.changeShortcut);
        rows.at(i)->setResult(results[i].ok, results[i].pill, canChange);
        passing += results[i].ok;
    }
    // End-to-end tests read the checks from standard error, once per change.
    static const bool tracing = qEnvironmentVariableIsSet("PICTOLARIUM_TRACE");
    const QString line = QStringLiteral("setup: ") + said.join(QStringLiteral(" | "));
    if (tracing && line != lastTraced)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    lastTraced = line;
    // Something the user just fixed elsewhere: bring the page back to the front.
    if (grantedCount >= 0 && passing > grantedCount) {
        activateWindow();
        raise();
    }
    grantedCount = passing;
}
