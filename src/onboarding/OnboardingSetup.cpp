// The setup page: four checks of this desktop in a two-by-two grid, polled once a second.

#include "onboarding/CheckRow.h"
#include "onboarding/Onboarding.h"

#include <QFontMetricsF>
#include <QGridLayout>
#include <QLabel>

#include <cstdio>

QStringList Onboarding::checkNames() {
    return {QStringLiteral("capture"), QStringLiteral("hot keys"), QStringLiteral("tray icon"),
            QStringLiteral("compositor")};
}

QString Onboarding::notReadyTitle(const QStringList& failing, const QFont& font) {
    if (failing.isEmpty())
        return QStringLiteral("Ready to capture");
    const QString prefix = QStringLiteral("Not ready: ");
    QString all = failing.last();
    if (failing.size() > 1)
        all =
            QStringList(failing.mid(0, failing.size() - 1)).join(QStringLiteral(", ")) + QStringLiteral(" and ") + all;
    // The title has one line the width of the text column.
    if (failing.size() == 1 || QFontMetricsF(font).horizontalAdvance(prefix + all) <= 544)
        return prefix + all;
    return prefix + failing.first() + QStringLiteral(" and %1 more").arg(failing.size() - 1);
}

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
    static const QStringList names = checkNames();
    QStringList said, failing;
    for (int i = 0; i < 4; ++i) {
        said << results[i].pill;
        const bool canChange = i == 1 && !results[i].ok && bool(services.changeShortcut);
        rows.at(i)->setResult(results[i].ok, results[i].pill, canChange);
        if (!results[i].ok)
            failing << names.at(i);
    }
    setupTitle = notReadyTitle(failing, title->font());
    if (onPermissions())
        title->setText(setupTitle);
    // End-to-end tests read the checks from standard error, once per change.
    static const bool tracing = qEnvironmentVariableIsSet("PICTOLARIUM_TRACE");
    const QString line =
        QStringLiteral("setup: ") + said.join(QStringLiteral(" | ")) + QStringLiteral(" | ") + setupTitle;
    if (tracing && line != lastTraced)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    // A check that passes by itself (a compositor started, a key let go) changes only its row, and the panel
    // stays where it is: the user may be typing elsewhere, and the panel comes forward only when acted on.
    lastTraced = line;
}
