#pragma once
// The first-run tour.

namespace Onboarding {

// Shows the tour unless "onboardingSeen" is set, at its permissions page when
// "onboardingAtPermissions" is set.
void showIfFirstRun();
void show(bool resumeAtPermissions);

} // namespace Onboarding
