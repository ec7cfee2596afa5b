#include "onboarding/Onboarding.h"

#include "platform/Defaults.h"

namespace Onboarding {

void showIfFirstRun() {
    if (Defaults::standard().boolValue(QStringLiteral("onboardingSeen")))
        return;
    show(Defaults::standard().boolValue(QStringLiteral("onboardingAtPermissions")));
}

// The tour's window comes with its own work; until then there is nothing to show.
void show(bool resumeAtPermissions) { Q_UNUSED(resumeAtPermissions); }

} // namespace Onboarding
