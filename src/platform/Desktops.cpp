#include "platform/Desktops.h"

Desktops::Desktops(QObject* parent) : QObject(parent) {}

Desktops::~Desktops() = default;
